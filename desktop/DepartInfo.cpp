// The departments listed and filtered by name, their add and modify dialogs opened, and one deleted.

#include "desktop/DepartInfo.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "core/DataBase.h"
#include "core/register/DepartmentRegister.h"
#include "core/register/StaffRegister.h"
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
        // Staff name their department by its text: a department with staff
        // would leave them in a department that no longer exists.
        database->openConnection(connName);
        Departdata department;
        QList<Staffdata> staff;
        const bool read = database->selectDepartmentById(department, id, db)
            && StaffRegister(*database).selectByDepartment(staff, department.department, db);
        database->closeConnection(connName);
        const QString title = QStringLiteral("删除部门");
        if (!read) {
            QMessageBox::critical(this, title, QStringLiteral("无法读取部门的人员，未删除。"));
        } else if (!staff.isEmpty()) {
            QMessageBox::warning(this, title,
                                 QStringLiteral("部门“%1”还有 %2 名人员，不能删除。\n请先把他们调到其他部门或删除。")
                                     .arg(department.department)
                                     .arg(staff.size()));
        } else if (QMessageBox::question(this, title, QStringLiteral("确定删除部门“%1”吗？").arg(department.department))
                   == QMessageBox::Yes) {
            database->openConnection(connName);
            const bool removed = database->deleteById(database->departmentTable, id, db);
            database->closeConnection(connName);
            if (!removed)
                QMessageBox::critical(this, title, QStringLiteral("删除部门失败，登记未改变。"));
        }
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
