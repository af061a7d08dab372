#pragma once

// The dialog that enters a new department.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class DataBase;
class QShowEvent;

namespace Ui {
class AddDepart;
}

// "添加部门信息": enters a department, its name and its head.
class AddDepart : public QDialog
{
    Q_OBJECT

public:
    AddDepart(QWidget* parent, DataBase* database);
    ~AddDepart() override;

public slots:
    void addDepart();
    void Quit();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::AddDepart> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("AddDepart");
    QSqlDatabase db;
};
