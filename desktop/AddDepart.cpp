// Adding a department, whose name must be given and must not be taken already.

#include "desktop/AddDepart.h"

#include <QMessageBox>
#include <QPushButton>

#include "core/DataBase.h"
#include "ui_AddDepart.h"

AddDepart::AddDepart(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AddDepart>())
    , database(database)
{
    ui->setupUi(this);
    connect(ui->btnAdd, &QPushButton::clicked, this, &AddDepart::addDepart);
    connect(ui->btnQuit, &QPushButton::clicked, this, &AddDepart::Quit);

    database->createConnection(connName);
    db = database->getConnection(connName);
}

AddDepart::~AddDepart() = default;

void AddDepart::addDepart()
{
    // Staff and the tree know a department only by its name: it must be
    // given and must be unique.
    const QString name = ui->depart->text();
    if (name.trimmed().isEmpty()) {
        QMessageBox::critical(nullptr, QStringLiteral("添加部门"), QStringLiteral("部门名称不能为空!"),
                              QMessageBox::Ok);
        return;
    }
    database->openConnection(connName);
    Departdata existing;
    if (database->selectDepartmentByName(existing, name, db)) {
        database->closeConnection(connName);
        QMessageBox::critical(nullptr, QStringLiteral("添加部门"), QStringLiteral("部门已存在!"),
                              QMessageBox::Ok);
        return;
    }

    Departdata department;
    department.department = name;
    department.dname = ui->depart_name->text();
    const bool added = database->insertDepartment(department, db);
    database->closeConnection(connName);
    if (!added) {
        QMessageBox::critical(this, QStringLiteral("添加部门"), QStringLiteral("添加部门失败，登记未改变。"));
        return;
    }
    reject();
}

void AddDepart::showEvent(QShowEvent* event)
{
    // Each opening starts empty: typing must not append to the last entry.
    ui->depart->clear();
    ui->depart_name->clear();
    ui->depart->setFocus();
    QDialog::showEvent(event);
}

void AddDepart::Quit()
{
    close();
}
