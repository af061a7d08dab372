// Adding a person under an ID card nobody has, with the form's fields and the photo chosen.

#include "desktop/AddStaff.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QDir>
#include <QStandardPaths>

#include "core/DataBase.h"
#include "desktop/RegisterChoices.h"
#include "desktop/StaffForm.h"
#include "ui_AddStaff.h"

std::function<QString(QWidget*)> AddStaff::imageChooser = [](QWidget* parent) {
    // The pictures folder, never the program's own.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    return QFileDialog::getOpenFileName(parent, QStringLiteral("选择照片"), folder,
                                        QStringLiteral("图片 (*.png *.jpg *.jpeg *.bmp)"));
};

AddStaff::AddStaff(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AddStaff>())
    , database(database)
{
    ui->setupUi(this);
    connect(ui->btnAdd, &QPushButton::clicked, this, &AddStaff::Addstaff);
    connect(ui->btnQuit, &QPushButton::clicked, this, &AddStaff::Quit);
    connect(ui->photo, &QPushButton::clicked, this, &AddStaff::photo);

    database->createConnection(connName);
    db = database->getConnection(connName);
}

AddStaff::~AddStaff() = default;

void AddStaff::prepareAndShow()
{
    // Each opening starts empty: typing must not append to the last entry.
    for (QLineEdit* field : {ui->Id_card, ui->Name, ui->Teleno, ui->Adress})
        field->clear();
    photoPath.clear();
    if (RegisterChoices::departments(ui->Depart, database, connName, db))
        exec();
}

void AddStaff::Addstaff()
{
    // The ID card binds the device and the dose history: it must be given
    // and must be nobody else's.
    const QString card = ui->Id_card->text();
    if (card.trimmed().isEmpty()) {
        refuse(QStringLiteral("身份证号不能为空!"));
        return;
    }
    database->openConnection(connName);
    Staffdata existing;
    if (database->selectStaffByIdCard(existing, card, db)) {
        database->closeConnection(connName);
        refuse(QStringLiteral("身份证号已存在!"));
        return;
    }

    Staffdata person;
    StaffForm::read(*ui, ui->type_cmb, person);
    person.totalValue = 0.0;
    StaffForm::readPhoto(photoPath, photoFile, person.photo);
    const bool added = database->insertStaff(person, db);
    database->closeConnection(connName);
    if (!added) {
        refuse(QStringLiteral("添加人员失败，登记未改变。"));
        return;
    }

    // The photo was this person's; the next one starts without.
    photoPath.clear();
    close();
}

void AddStaff::Quit()
{
    close();
}

void AddStaff::photo()
{
    photoPath = StaffForm::choosePhoto(this);
}

void AddStaff::refuse(const QString& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("添加人员"), text, QMessageBox::Ok);
}
