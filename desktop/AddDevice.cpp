// Binding a dosimeter: a valid bus address nobody holds, for a person without one, written with its wear period.

#include "desktop/AddDevice.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>

#include "core/DataBase.h"
#include "core/wear/WearAttribution.h"
#include "desktop/RegisterChoices.h"
#include "ui_AddDevice.h"

AddDevice::AddDevice(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AddDevice>())
    , database(database)
{
    ui->setupUi(this);
    connect(ui->btnAdd, &QPushButton::clicked, this, &AddDevice::addDevice);
    connect(ui->btnQuit, &QPushButton::clicked, this, &AddDevice::Quit);

    database->createConnection(connName);
    db = database->getConnection(connName);
}

AddDevice::~AddDevice() = default;

bool AddDevice::parseAddress(const QString& text, int& address)
{
    bool number = false;
    const int value = text.trimmed().toInt(&number, 10);
    if (!number || value < 0 || value > 65535)
        return false;
    address = value;
    return true;
}

void AddDevice::prepareAndShow()
{
    // Each opening starts empty: typing must not append to the last entry.
    ui->device->clear();
    if (RegisterChoices::cards(ui->Name, database, connName, db))
        exec();
}

void AddDevice::addDevice()
{
    Devicedata device;
    device.ID_card = RegisterChoices::card(ui->Name);
    device.dataTime = QStringLiteral("00000000000000");
    // With nobody to bind to, the device would sit unseen in the register.
    if (device.ID_card.isEmpty()) {
        refuse(QStringLiteral("身份证号不能为空!"));
        return;
    }

    database->openConnection(connName);
    Devicedata bound;
    if (database->selectDeviceByIdCard(bound, device.ID_card, db)) {
        database->closeConnection(connName);
        refuse(QStringLiteral("设备已添加，请进入修改界面!"));
        reject();
        return;
    }
    // Readings are filed under the address, so it must be a real one and
    // nobody else's.
    if (!parseAddress(ui->device->text(), device.slaveId)) {
        database->closeConnection(connName);
        refuse(QStringLiteral("设备号无效!"));
        return;
    }
    if (database->selectDeviceBySlaveId(bound, device.slaveId, db)) {
        database->closeConnection(connName);
        refuse(QStringLiteral("设备ID已绑定!"));
        return;
    }
    // The binding and its wear period are written together or not at all.
    QString refusal;
    const bool added = database->addDeviceBinding(device, WearAttribution::nowKey(), &refusal, db);
    database->closeConnection(connName);
    if (!added) {
        refuse(refusal);
        return;
    }
    accept();
}

void AddDevice::Quit()
{
    close();
}

void AddDevice::refuse(const QString& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("添加设备"), text, QMessageBox::Ok);
}
