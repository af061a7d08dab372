#pragma once

// The dialog that shows the audit trail.

#include <QDialog>

#include <memory>

class DataBase;
class QShowEvent;
class QStandardItemModel;

namespace Ui {
class AuditView;
}

// "操作日志": the audit trail, newest first, by time range, action and text.
// It only reads: nobody changes the trail.
class AuditView : public QDialog
{
    Q_OBJECT

public:
    AuditView(QWidget* parent, DataBase* database);
    ~AuditView() override;


public slots:
    void reload();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::AuditView> ui;
    DataBase* database = nullptr;
    QStandardItemModel* model = nullptr;
    const QString connName = QStringLiteral("audit.db");
};
