#include "records/DeviceInfo.h"

#include <QDebug>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQueryModel>
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
}

DeviceInfo::~DeviceInfo() = default;

void DeviceInfo::ModifyDevice()
{
    const int id = selectedDevice();
    if (id == 0)
        askForSelection();
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

    database->openConnection(connName);
    QSqlQueryModel* fresh = database->getQueryModel(sql, values, db);
    fresh->setParent(this);
    // Rows not read before the connection closes would never be shown.
    while (fresh->canFetchMore())
        fresh->fetchMore();
    database->closeConnection(connName);

    const QStringList headers = {QStringLiteral("Id号"), QStringLiteral("设备号"), QStringLiteral("身份证号"),
                                 QStringLiteral("姓名")};
    for (int c = 0; c < headers.size(); ++c)
        fresh->setHeaderData(c, Qt::Horizontal, headers.at(c), Qt::EditRole);
    ui->tableView->setModel(fresh);
    delete model;
    model = fresh;
    rowCount = model->rowCount();
    ui->tableView->resizeColumnsToContents();
    ui->tableView->setColumnHidden(0, true);
    ui->tableView->horizontalHeader()->setHighlightSections(false);
}

void DeviceInfo::Quit()
{
    close();
}

void DeviceInfo::Dell()
{
    const int id = selectedDevice();
    if (id == 0) {
        askForSelection();
    } else {
        // Only the binding goes; the readings stay under their address.
        database->openConnection(connName);
        database->deleteById(database->deviceTable, id, db);
        database->closeConnection(connName);
        // Ids are handed out again; the selection must not outlive its row.
        selectedId.clear();
    }
    Search();
}

void DeviceInfo::view(const QModelIndex& index)
{
    const QAbstractItemModel* m = index.model();
    if (!m)
        return;
    selectedId = m->index(index.row(), 0).data().toString();
    qDebug().noquote() << "data[0] :" << selectedId;
}

int DeviceInfo::selectedDevice()
{
    const int id = selectedId.toInt();
    if (id == 0)
        return 0;
    // The clicked row may have been deleted since; it then selects nothing.
    Devicedata device;
    database->openConnection(connName);
    const bool exists = database->selectDeviceById(device, id, db);
    database->closeConnection(connName);
    return exists ? id : 0;
}

void DeviceInfo::askForSelection()
{
    QMessageBox::information(this, QStringLiteral("Done"), QStringLiteral("%1 请选择一条数据").arg(QString()),
                             QMessageBox::Ok);
}
