// Changing a department: a new name must be free, and its staff follow it in the same transaction.

#include "desktop/ModDepart.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>

#include "core/DataBase.h"
#include "ui_ModDepart.h"

ModDepart::ModDepart(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ModDepart>())
    , database(database)
{
    ui->setupUi(this);
    connect(ui->btnMod, &QPushButton::clicked, this, &ModDepart::ModDepartMent);
    connect(ui->btnQuit, &QPushButton::clicked, this, &ModDepart::Quit);

    database->createConnection(connName);
    db = database->getConnection(connName);
}

ModDepart::~ModDepart() = default;

void ModDepart::loadAndShow(int id)
{
    database->openConnection(connName);
    Departdata loaded;
    const bool found = database->selectDepartmentById(loaded, id, db);
    database->closeConnection(connName);
    if (!found) {
        // Deleted meanwhile: nothing to edit, and no other row to touch.
        current = Departdata();
        return;
    }
    current = loaded;
    ui->depart->setText(current.department);
    ui->depart_name->setText(current.dname);
    qDebug() << "id" << current.id;
    qDebug() << "Depart.Department" << current.department;
    exec();
}

void ModDepart::ModDepartMent()
{
    Departdata changed;
    changed.id = current.id;
    changed.department = ui->depart->text();
    changed.dname = ui->depart_name->text();

    if (changed.department.trimmed().isEmpty()) {
        refuse(QStringLiteral("部门名称不能为空!"));
        return;
    }
    database->openConnection(connName);
    if (changed.department != current.department) {
        Departdata other;
        if (database->selectDepartmentByName(other, changed.department, db)) {
            database->closeConnection(connName);
            refuse(QStringLiteral("部门已存在!"));
            return;
        }
    }
    // Its staff follow a rename in the same transaction.
    database->updateDepartmentAndStaff(changed, db);
    database->closeConnection(connName);
    close();
}

void ModDepart::Quit()
{
    close();
}

void ModDepart::refuse(const QString& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("修改部门"), text, QMessageBox::Ok);
}
