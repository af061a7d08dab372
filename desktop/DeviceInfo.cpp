// The bound dosimeters listed by bus address, a device's wear periods shown, and the dialogs that change them.

#include "desktop/DeviceInfo.h"

#include <QDebug>
#include <QDateTime>
#include <QHeaderView>
#include <QMessageBox>
#include <QTableWidgetItem>
#include <QPushButton>
#include <QStringList>

#include "core/DataBase.h"
#include "core/register/DeviceRegister.h"
#include "core/time/TimeKey.h"
#include "core/wear/WearAttribution.h"
#include "desktop/AddDevice.h"
#include "desktop/AssignReadings.h"
#include "desktop/ModDevice.h"
#include "ui_DeviceInfo.h"

DeviceInfo::DeviceInfo(QWidget* parent, SettingsAdpater* settings, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DeviceInfo>())
    , settings(settings)
    , database(database)
{
    ui->setupUi(this);
    addDeviceDialog = new AddDevice(this, database);
    modDeviceDialog = new ModDevice(this, database);
    assignDialog = new AssignReadings(this, database);

    connect(ui->btnSearch, &QPushButton::clicked, this, &DeviceInfo::Search);
    connect(ui->btnAdd, &QPushButton::clicked, this, &DeviceInfo::addDevice);
    connect(ui->btnModify, &QPushButton::clicked, this, &DeviceInfo::ModifyDevice);
    connect(ui->btnDel, &QPushButton::clicked, this, &DeviceInfo::Dell);
    connect(ui->btnQuit, &QPushButton::clicked, this, &DeviceInfo::Quit);
    connect(ui->tableView, &QAbstractItemView::clicked, this, &DeviceInfo::view);
    connect(ui->btnAssign, &QPushButton::clicked, this, &DeviceInfo::assignReadings);
    ui->tw_periods->horizontalHeader()->setStretchLastSection(true);

    database->createConnection(connName);
    db = database->getConnection(connName);
    list.attach(ui->tableView, database, connName, db);
}

DeviceInfo::~DeviceInfo() = default;

void DeviceInfo::ModifyDevice()
{
    const int id = selectedDevice();
    if (id == 0)
        list.askForSelection();
    else
        modDeviceDialog->loadAndShow(id);
    Search();
}

void DeviceInfo::addDevice()
{
    addDeviceDialog->prepareAndShow();
    Search();
}

void DeviceInfo::Search()
{
    QVariantList values;
    const QString sql = DeviceRegister::listStatement(ui->le_dev->text(), &values);

    const QStringList headers = {QStringLiteral("Id号"), QStringLiteral("设备号"), QStringLiteral("身份证号"),
                                 QStringLiteral("姓名")};
    list.load(sql, values, headers);
    showPeriods();
}

void DeviceInfo::Quit()
{
    close();
}

void DeviceInfo::Dell()
{
    const int id = selectedDevice();
    if (id == 0) {
        list.askForSelection();
    } else {
        // Only the binding goes, its wear period closing this hour; the
        // readings stay with whoever wore the dosimeter.
        database->openConnection(connName);
        QString refusal;
        const bool removed = database->removeDeviceBinding(id, WearAttribution::nowKey(), &refusal, db);
        database->closeConnection(connName);
        if (!removed)
            QMessageBox::critical(this, QStringLiteral("删除设备"), refusal, QMessageBox::Ok);
        // Ids are handed out again; the selection must not outlive its row.
        list.clearSelection();
    }
    Search();
}

void DeviceInfo::view(const QModelIndex& index)
{
    list.select(index);
    showPeriods();
}

namespace {

} // namespace

void DeviceInfo::showPeriods()
{
    ui->tw_periods->setRowCount(0);
    ui->lb_unattributed->setText(QStringLiteral("佩戴记录"));
    const int id = selectedDevice();
    if (id == 0)
        return;
    database->openConnection(connName);
    Devicedata device;
    QList<Wearingdata> periods;
    int unattributed = 0;
    if (database->selectDeviceById(device, id, db)) {
        database->selectWearingBySlaveId(periods, device.slaveId, db);
        unattributed = WearAttribution::countUnattributed(database, db, device.slaveId);
    }
    QStringList wearers;
    for (const Wearingdata& w : qAsConst(periods)) {
        Staffdata person;
        wearers << (database->selectStaffByIdCard(person, w.ID_card, db) ? person.name + QStringLiteral(" (")
                                                                                 + w.ID_card + QStringLiteral(")")
                                                                           : w.ID_card);
    }
    database->closeConnection(connName);

    ui->lb_unattributed->setText(unattributed < 0 ? QStringLiteral("%1号设备的佩戴记录，无人佩戴的读数：读取失败")
                                                        .arg(device.slaveId)
                                                  : QStringLiteral("%1号设备的佩戴记录，无人佩戴的读数：%2 条")
                                                        .arg(device.slaveId)
                                                        .arg(unattributed));
    ui->tw_periods->setRowCount(periods.size());
    for (int r = 0; r < periods.size(); ++r) {
        ui->tw_periods->setItem(r, 0, new QTableWidgetItem(wearers.at(r)));
        ui->tw_periods->setItem(r, 1, new QTableWidgetItem(TimeKey::shown(periods[r].startTime, QString())));
        ui->tw_periods->setItem(r, 2, new QTableWidgetItem(TimeKey::shown(periods[r].endTime, QStringLiteral("至今"))));
    }
}

void DeviceInfo::assignReadings()
{
    const int id = selectedDevice();
    if (id == 0) {
        list.askForSelection();
        return;
    }
    database->openConnection(connName);
    Devicedata device;
    const bool found = database->selectDeviceById(device, id, db);
    database->closeConnection(connName);
    if (!found)
        return;
    assignDialog->prepareAndShow(device.slaveId);
    showPeriods();
}

int DeviceInfo::selectedDevice()
{
    return list.selected([this](int id, QSqlDatabase& conn) {
        Devicedata device;
        return database->selectDeviceById(device, id, conn);
    });
}
