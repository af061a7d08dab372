#pragma once

// The dialog that edits the dose policy.

#include <QDialog>

#include <memory>

class DataBase;
class QShowEvent;

namespace Ui {
class DosePolicyDialog;
}

// "剂量限值设置": one spin box per policy row, named after the row. OK
// checks the values, writes them all in one transaction and tells the
// window to judge the doses again.
class DosePolicyDialog : public QDialog
{
    Q_OBJECT

public:
    DosePolicyDialog(QWidget* parent, DataBase* database);
    ~DosePolicyDialog() override;

public slots:
    void accept() override;

signals:
    void policyChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::DosePolicyDialog> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("policy.db");
};
