#include "records/DeviceInfo.h"

#include <QDebug>
#include <QPushButton>
#include <QStringList>

#include "db/DataBase.h"
#include "records/AddDevice.h"
#include "records/ModDevice.h"
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

    connect(ui->btnSearch, &QPushButton::clicked, this, &DeviceInfo::Search);
    connect(ui->btnAdd, &QPushButton::clicked, this, &DeviceInfo::addDevice);
    connect(ui->btnModify, &QPushButton::clicked, this, &DeviceInfo::ModifyDevice);
    connect(ui->btnDel, &QPushButton::clicked, this, &DeviceInfo::Dell);
    connect(ui->btnQuit, &QPushButton::clicked, this, &DeviceInfo::Quit);
    connect(ui->tableView, &QAbstractItemView::clicked, this, &DeviceInfo::view);

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
    QString sql = QStringLiteral("select a.id ,a.slaveId, a.ID_card,b.name            from Device a,Staff b  "
                                 "where a.ID_card = b.ID_card ");
    QVariantList values;
    const QString text = ui->le_dev->text();
    if (!text.isEmpty()) {
        sql += QStringLiteral(" and slaveId = ?;");
        bool number = false;
        const int address = text.trimmed().toInt(&number, 10);
        // Text that is no whole number is bound as null, which equals no
        // address: an empty list from a sound statement.
        values << (number ? QVariant(address) : QVariant());
    }
    qDebug().noquote() << " sql : " << sql;

    const QStringList headers = {QStringLiteral("Id号"), QStringLiteral("设备号"), QStringLiteral("身份证号"),
                                 QStringLiteral("姓名")};
    list.load(sql, values, headers);
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
        // Only the binding goes; the readings stay under their address.
        database->openConnection(connName);
        database->deleteById(database->deviceTable, id, db);
        database->closeConnection(connName);
        // Ids are handed out again; the selection must not outlive its row.
        list.clearSelection();
    }
    Search();
}

void DeviceInfo::view(const QModelIndex& index)
{
    list.select(index);
}

int DeviceInfo::selectedDevice()
{
    return list.selected([this](int id, QSqlDatabase& conn) {
        Devicedata device;
        return database->selectDeviceById(device, id, conn);
    });
}
