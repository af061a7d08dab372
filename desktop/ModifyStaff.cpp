// Changing a person: a new ID card must be free, and the person's dosimeter and wear periods follow it.

#include "desktop/ModifyStaff.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSqlQueryModel>

#include "core/DataBase.h"
#include "desktop/RegisterChoices.h"
#include "desktop/StaffForm.h"
#include "ui_ModifyStaff.h"

ModifyStaff::ModifyStaff(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ModifyStaff>())
    , database(database)
{
    ui->setupUi(this);
    connect(ui->btnMod, &QPushButton::clicked, this, &ModifyStaff::Modifystaff);
    connect(ui->btnQuit, &QPushButton::clicked, this, &ModifyStaff::Quit);
    connect(ui->photo, &QPushButton::clicked, this, &ModifyStaff::photo);

    database->createConnection(connName);
    db = database->getConnection(connName);
}

ModifyStaff::~ModifyStaff() = default;

void ModifyStaff::loadAndShow(int id)
{
    current = Staffdata();
    if (!RegisterChoices::departments(ui->Depart, database, connName, db))
        return;
    current.id = id;
    database->openConnection(connName);
    const bool found = database->selectStaffById(current, id, db);
    database->closeConnection(connName);
    photoPath.clear();
    if (!found) {
        // Deleted meanwhile: there is nobody to edit and nothing to save.
        current = Staffdata();
        return;
    }

    ui->Id_card->setText(current.ID_card);
    ui->Name->setText(current.name);
    const int depart = ui->Depart->findText(current.department);
    if (depart >= 0)
        ui->Depart->setCurrentIndex(depart);
    const int gender = ui->Gender->findText(current.gender);
    if (gender >= 0)
        ui->Gender->setCurrentIndex(gender);
    ui->cbm_type->setCurrentIndex(current.ptype);
    ui->Teleno->setText(current.teleNo);
    ui->Adress->setText(current.adress);
    exec();
}

void ModifyStaff::Modifystaff()
{
    Staffdata changed;
    changed.id = current.id;
    StaffForm::read(*ui, ui->cbm_type, changed);
    changed.totalValue = current.totalValue;
    changed.photo = current.photo;
    // A new photo replaces the stored one; none chosen keeps it.
    StaffForm::readPhoto(photoPath, photoFile, changed.photo);

    if (changed.ID_card.trimmed().isEmpty()) {
        refuse(QStringLiteral("身份证号不能为空!"));
        return;
    }
    database->openConnection(connName);
    if (changed.ID_card != current.ID_card) {
        Staffdata other;
        if (database->selectStaffByIdCard(other, changed.ID_card, db)) {
            database->closeConnection(connName);
            refuse(QStringLiteral("身份证号已存在!"));
            return;
        }
        // The person's device follows the new card; a device still bound to
        // that card (left by a deleted person) would make it two.
        Devicedata own;
        Devicedata waiting;
        if (database->selectDeviceByIdCard(own, current.ID_card, db)
            && database->selectDeviceByIdCard(waiting, changed.ID_card, db)) {
            database->closeConnection(connName);
            refuse(QStringLiteral("身份证号已绑定其他设备!"));
            return;
        }
    }
    const bool saved = database->updateStaffAndDevice(changed, db);
    database->closeConnection(connName);
    if (!saved) {
        // Gone meanwhile, or wear periods under the new card would overlap
        // the person's own.
        refuse(QStringLiteral("人员信息未能保存：该人员已不存在，或新身份证号的佩戴记录与其重叠!"));
        return;
    }
    close();
}

void ModifyStaff::Quit()
{
    close();
}

void ModifyStaff::photo()
{
    photoPath = StaffForm::choosePhoto(this);
}

void ModifyStaff::refuse(const QString& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("修改人员"), text, QMessageBox::Ok);
}
