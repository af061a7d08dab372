// The departments listed and filtered by name, their add and modify dialogs opened, and one deleted.

#include "desktop/DepartInfo.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "core/DataBase.h"
#include "core/register/DepartmentRegister.h"
#include "desktop/AddDepart.h"
#include "desktop/ModDepart.h"
#include "ui_DepartInfo.h"

DepartInfo::DepartInfo(QWidget* parent, SettingsAdpater* settings, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DepartInfo>())
    , settings(settings)
    , database(database)
{
    ui->setupUi(this);
    addDepartDialog = new AddDepart(this, database);
    modDepartDialog = new ModDepart(this, database);

    connect(ui->btnSearch, &QPushButton::clicked, this, &DepartInfo::Search);
    connect(ui->btnAdd, &QPushButton::clicked, this, &DepartInfo::addDepart);
    connect(ui->btnModify, &QPushButton::clicked, this, &DepartInfo::ModifyDepart);
    connect(ui->btnDel, &QPushButton::clicked, this, &DepartInfo::Dell);
    connect(ui->btnQuit, &QPushButton::clicked, this, &DepartInfo::Quit);
    connect(ui->tableView, &QAbstractItemView::clicked, this, &DepartInfo::view);

    database->createConnection(connName);
    db = database->getConnection(connName);
    list.attach(ui->tableView, database, connName, db);
}

DepartInfo::~DepartInfo() = default;

void DepartInfo::ModifyDepart()
{
    const int id = selectedDepartment();
    if (id == 0)
        list.askForSelection();
    else
        modDepartDialog->loadAndShow(id);
    Search();
}

void DepartInfo::addDepart()
{
    addDepartDialog->exec();
    Search();
}

void DepartInfo::Search()
{
    QVariantList values;
    const QString sql = DepartmentRegister::listStatement(ui->le_dep->text(), &values);

    const QStringList headers = {QStringLiteral("Id号"), QStringLiteral("部门号"), QStringLiteral("部门主管")};
    list.load(sql, values, headers);
}

void DepartInfo::Quit()
{
    close();
}

void DepartInfo::Dell()
{
    const int id = selectedDepartment();
    if (id == 0) {
        list.askForSelection();
    } else {
        database->openConnection(connName);
        const bool removed = database->deleteById(database->departmentTable, id, db);
        database->closeConnection(connName);
        if (!removed)
            QMessageBox::critical(this, QStringLiteral("删除部门"), QStringLiteral("删除部门失败，登记未改变。"));
        // Ids are handed out again; the selection must not outlive its row.
        list.clearSelection();
    }
    Search();
}

void DepartInfo::view(const QModelIndex& index)
{
    list.select(index);
}

int DepartInfo::selectedDepartment()
{
    return list.selected([this](int id, QSqlDatabase& conn) {
        Departdata department;
        return database->selectDepartmentById(department, id, conn);
    });
}
