// Moving a dosimeter to a free bus address: the old address's wear period closes this hour, the new one opens.

#include "desktop/ModDevice.h"

#include <QMessageBox>
#include <QPushButton>

#include "core/DataBase.h"
#include "core/wear/WearAttribution.h"
#include "desktop/AddDevice.h"
#include "ui_ModDevice.h"

ModDevice::ModDevice(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ModDevice>())
    , database(database)
{
    ui->setupUi(this);
    connect(ui->btnMod, &QPushButton::clicked, this, &ModDevice::modDevice);
    connect(ui->btnQuit, &QPushButton::clicked, this, &ModDevice::Quit);

    database->createConnection(connName);
    db = database->getConnection(connName);
}

ModDevice::~ModDevice() = default;

void ModDevice::loadAndShow(int id)
{
    ui->Name->clear();
    database->openConnection(connName);
    Devicedata loaded;
    const bool found = database->selectDeviceById(loaded, id, db);
    database->closeConnection(connName);
    if (!found) {
        // Deleted meanwhile: nothing to edit, and no other row to touch.
        current = Devicedata();
        return;
    }
    current = loaded;
    // The binding to the person is not changed here.
    ui->Name->addItem(current.ID_card);
    ui->device->setText(QString::number(current.slaveId));
    exec();
}

void ModDevice::modDevice()
{
    Devicedata changed = current;
    changed.ID_card = ui->Name->currentText();
    if (!AddDevice::parseAddress(ui->device->text(), changed.slaveId)) {
        refuse(QStringLiteral("设备号无效!"));
        return;
    }
    database->openConnection(connName);
    // Keeping its own address is no clash; any other holder is.
    Devicedata holder;
    if (changed.slaveId != current.slaveId
        && database->selectDeviceBySlaveId(holder, changed.slaveId, db)) {
        database->closeConnection(connName);
        refuse(QStringLiteral("设备ID已绑定!"));
        return;
    }
    // The old address's period closes this hour, the new one opens.
    QString refusal;
    const bool moved = changed.slaveId == current.slaveId
        || database->changeDeviceAddress(current.id, changed.slaveId, WearAttribution::nowKey(), &refusal, db);
    database->closeConnection(connName);
    if (!moved) {
        refuse(refusal);
        return;
    }
    close();
}

void ModDevice::Quit()
{
    close();
}

void ModDevice::refuse(const QString& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("修改设备"), text, QMessageBox::Ok);
}
