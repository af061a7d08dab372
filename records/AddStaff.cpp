#include "records/AddStaff.h"

#include <QDebug>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQueryModel>

#include "db/DataBase.h"
#include "ui_AddStaff.h"

std::function<QString(QWidget*)> AddStaff::imageChooser = [](QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, AddStaff::tr("Open Image"), QStringLiteral("."),
                                        AddStaff::tr("Image Files (*.png *.jpg *.bmp)"));
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
    ui->Depart->clear();
    const QString sql = QStringLiteral("select a.id , a.department            from Department a ");
    qDebug().noquote() << " sql : " << sql;
    database->openConnection(connName);
    std::unique_ptr<QSqlQueryModel> departs(database->getQueryModel(sql, db));
    while (departs->canFetchMore())
        departs->fetchMore();
    database->closeConnection(connName);

    const int rows = departs->rowCount();
    qDebug().noquote() << " row : " << rows;
    for (int r = 0; r < rows; ++r) {
        const QString name = departs->index(r, 1).data().toString();
        qDebug().noquote() << " departMent : " << name;
        ui->Depart->addItem(name);
    }
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
    person.id = database->countRows(database->staffTable, db) + 1;
    person.ID_card = card;
    person.name = ui->Name->text();
    person.gender = ui->Gender->currentText();
    person.ptype = ui->type_cmb->currentIndex();
    person.department = ui->Depart->currentText();
    person.teleNo = ui->Teleno->text();
    person.adress = ui->Adress->text();
    person.totalValue = 0.0;
    person.photo = readPhoto();
    database->insertStaff(person, db);
    database->closeConnection(connName);

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
    photoPath = imageChooser ? imageChooser(this) : QString();
}

void AddStaff::refuse(const QString& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("添加人员"), text, QMessageBox::Ok);
}

QByteArray AddStaff::readPhoto()
{
    if (photoPath.isEmpty())
        return {};
    photoFile.setFileName(photoPath);
    if (!photoFile.open(QIODevice::ReadOnly))
        return {};
    // Stored as the file's own bytes, never re-encoded.
    const QByteArray bytes = photoFile.readAll();
    photoFile.close();
    return bytes;
}
