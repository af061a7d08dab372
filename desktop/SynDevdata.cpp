// The synchronisation requests sent and each device's outcome and progress shown; a cleared memory is recorded
// in the audit trail and a new address followed in the register.

#include "desktop/SynDevdata.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStringList>
#include <QTableWidget>
#include <QTableWidgetItem>

#include <QMessageBox>

#include "core/DataBase.h"
#include "core/wear/WearAttribution.h"
#include "ui_SynDevdata.h"

namespace {

const int kAddressColumn = 1;
const int kStatusColumn = 2;

} // namespace

SynDevdata::SynDevdata(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::SynDevdata>())
{
    ui->setupUi(this);

    connect(ui->btnQuit, &QPushButton::clicked, this, &SynDevdata::close);
    connect(ui->btnclear, &QPushButton::clicked, this, &SynDevdata::My_cleardata);
    connect(ui->btnresyn, &QPushButton::clicked, this, &SynDevdata::My_syndata);
    connect(ui->tableWidget, &QTableWidget::cellDoubleClicked, this, &SynDevdata::My_devidclick);
    connect(ui->tableWidget, &QTableWidget::cellChanged, this, &SynDevdata::My_devidchange);
}

SynDevdata::~SynDevdata() = default;

void SynDevdata::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The window coming back from being minimised is no new opening: a
    // synchronisation then would cut off a transfer in progress.
    if (event->spontaneous())
        return;
    editing = false;
    startSync(QStringLiteral("正在同步设备，收集数据中。。。。"));
}

void SynDevdata::My_syndata()
{
    startSync(QStringLiteral("同步数据!"));
}

void SynDevdata::startSync(const QString& label)
{
    ui->label_info->setText(label);
    ui->tableWidget->setRowCount(0);
    ui->btnresyn->setEnabled(false);
    rows.clear();
    openFailures.clear();
    failedPorts.clear();
    silentPorts.clear();
    emit Syndevid_signal(0, -1, -1);
}

void SynDevdata::My_cleardata()
{
    const QList<QTableWidgetItem*> selected = ui->tableWidget->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = selected.first()->row();
    // A port with nothing connected has no memory to clear.
    if (row < 0 || row >= rows.size() || rows.at(row).devId == -1)
        return;
    emit Syndevid_signal(1, rows.at(row).devId, -1);
    ui->label_info->setText(QStringLiteral("正在清除数据。。。"));
}

void SynDevdata::My_devidclick(int row, int column)
{
    Q_UNUSED(row);
    editing = (column == kAddressColumn);
}

void SynDevdata::My_devidchange(int row, int column)
{
    if (!editing || column != kAddressColumn || writingCells)
        return;
    if (row < 0 || row >= rows.size())
        return;
    const int oldId = rows.at(row).devId;
    if (oldId == -1) {
        editing = false;
        return;
    }
    QTableWidgetItem* cell = ui->tableWidget->item(row, column);
    bool ok = false;
    const int newId = cell ? cell->text().toInt(&ok, 10) : 0;
    // Text that is no bus address, or the same address, goes nowhere: the
    // link would drop it silently and the cell would show an address the
    // device does not have.
    if (!ok || newId < 0 || newId > 65535 || newId == oldId) {
        editing = false;
        setCell(row, kAddressColumn, QString::number(oldId));
        return;
    }
    emit Syndevid_signal(2, oldId, newId);
    ui->label_info->setText(QStringLiteral("正在修改设备地址。。。"));
    editing = false;
}

void SynDevdata::getsyninfo(int type, QString comname, int devid, bool result)
{
    const QString portText = QStringLiteral("串口 ") + comname;
    switch (type) {
    case 0:
        if (result) {
            rows.append(DevRow {devid, comname});
            heldAtRead[comname] = arriving.take(comname);
            const int row = ui->tableWidget->rowCount();
            ui->tableWidget->insertRow(row);
            setCell(row, 0, comname);
            setCell(row, kAddressColumn, QString::number(devid));
            setCell(row, kStatusColumn, QStringLiteral("同步成功"));
            ui->label_info->setText(headline());
        } else if (devid == 0 && comname.isEmpty()) {
            // The link's "no port could be opened"; a device at address 0
            // that failed still names its port.
            ui->label_info->setText(noDeviceText());
        } else if (devid == -1 && !arriving.contains(comname)) {
            // Nothing ever answered on the port: no dosimeter is connected
            // there, which is no failed synchronisation.
            rows.append(DevRow {-1, comname});
            const int row = ui->tableWidget->rowCount();
            ui->tableWidget->insertRow(row);
            setCell(row, 0, comname);
            setCell(row, kAddressColumn, QStringLiteral("—"));
            setCell(row, kStatusColumn, QStringLiteral("未连接设备"));
            silentPorts << comname;
            ui->label_info->setText(headline());
        } else {
            failedPorts << comname + QStringLiteral("（同步失败）");
            ui->label_info->setText(headline());
        }
        ui->tableWidget->resizeColumnToContents(0);
        if (!ui->btnresyn->isEnabled())
            ui->btnresyn->setEnabled(true);
        break;
    case 1: {
        const int row = findRowByDevId(devid);
        if (row == -1)
            return;
        const QString text = portText + QStringLiteral("，设备 ") + QString::number(devid);
        if (result) {
            recordClear(comname, devid);
            ui->label_info->setText(text + QStringLiteral("数据清除成功!"));
            setCell(row, kStatusColumn, QStringLiteral("清除成功"));
        } else {
            ui->label_info->setText(text + QStringLiteral("数据清除失败!"));
            setCell(row, kStatusColumn, QStringLiteral("清除失败"));
        }
        break;
    }
    case 2: {
        const int row = findRowByDevId(devid);
        if (row == -1)
            return;
        const QString text = portText + QStringLiteral("，设备 ") + QString::number(devid);
        if (result) {
            const QTableWidgetItem* cell = ui->tableWidget->item(row, kAddressColumn);
            const int oldId = rows.at(row).devId;
            rows[row].devId = cell ? cell->text().toInt(nullptr, 10) : rows.at(row).devId;
            followAddress(oldId, rows.at(row).devId);
            ui->label_info->setText(text + QStringLiteral("地址成功修改为") + QString::number(rows.at(row).devId)
                                    + QStringLiteral("!"));
            setCell(row, kStatusColumn, QStringLiteral("修改成功"));
        } else {
            ui->label_info->setText(text + QStringLiteral("地址修改失败!"));
            setCell(row, kStatusColumn, QStringLiteral("修改失败"));
            setCell(row, kAddressColumn, QString::number(rows.at(row).devId));
        }
        editing = false;
        break;
    }
    case 3:
        // The device answered, but its readings could not be stored: none
        // of them is kept, the device still holds them, and it is not
        // offered for clearing.
        failedPorts << comname + QStringLiteral("（设备 %1 存储失败，数据仍在设备中，请检查数据库后重新同步）").arg(devid);
        ui->label_info->setText(headline());
        if (!ui->btnresyn->isEnabled())
            ui->btnresyn->setEnabled(true);
        break;
    default:
        break;
    }
}

void SynDevdata::setDataBase(DataBase* store)
{
    database = store;
    if (database)
        database->createConnection(connName);
}

void SynDevdata::followAddress(int oldId, int newId)
{
    if (!database || oldId == newId)
        return;
    database->openConnection(connName);
    QString refusal;
    const bool ok = database->followAddressChange(oldId, newId, WearAttribution::nowKey(), &refusal,
                                                  database->getConnection(connName));
    database->closeConnection(connName);
    // The dosimeter has its new address either way; the operator must know
    // that the register did not follow.
    if (!ok)
        QMessageBox::critical(this, QStringLiteral("修改设备地址"),
                              QStringLiteral("设备已改为地址 %1，但设备信息未能更新：%2").arg(newId).arg(refusal));
}

void SynDevdata::recordClear(const QString& comName, int devId)
{
    if (!database)
        return;
    database->openConnection(connName);
    const bool ok = database->recordAudit(
        QStringLiteral("clear"), QString(), QString::number(devId),
        QStringLiteral("port: %1; records: %2").arg(comName).arg(heldAtRead.value(comName)),
        database->getConnection(connName));
    database->closeConnection(connName);
    if (!ok)
        QMessageBox::warning(this, QStringLiteral("清除设备数据"), QStringLiteral("设备数据已清除，但操作日志未能保存!"));
}

void SynDevdata::showProgress(QString comName, int received, int total)
{
    arriving[comName] = total;
    ui->label_info->setText(QStringLiteral("串口 ") + comName + QStringLiteral(" 正在接收数据 ")
                            + QString::number(received) + QStringLiteral("/") + QString::number(total));
}

void SynDevdata::noteOpenFailure(QString comName, QString reason)
{
    openFailures.append({comName, reason});
}

QString SynDevdata::headline() const
{
    int read = 0;
    for (const DevRow& row : rows)
        read += row.devId == -1 ? 0 : 1;
    QString text = QStringLiteral("%1 台剂量计同步成功").arg(read);
    if (!failedPorts.isEmpty())
        text += QStringLiteral("；失败：串口 ") + failedPorts.join(QStringLiteral("、"));
    if (!silentPorts.isEmpty())
        text += QStringLiteral("；未连接设备：串口 ") + silentPorts.join(QStringLiteral("、"));
    return text + QStringLiteral("。");
}

QString SynDevdata::noDeviceText() const
{
    QString text = QStringLiteral("没有设备连接到电脑上！");
    // One line per reason, so that a row of ports refused for the same
    // cause (typically a missing permission) stays short.
    QStringList reasons;
    QList<QStringList> portsByReason;
    for (const auto& failure : openFailures) {
        int i = reasons.indexOf(failure.second);
        if (i < 0) {
            reasons.append(failure.second);
            portsByReason.append(QStringList());
            i = reasons.size() - 1;
        }
        portsByReason[i].append(failure.first);
    }
    for (int i = 0; i < reasons.size(); ++i)
        text += QStringLiteral("\n串口 ") + portsByReason.at(i).join(QStringLiteral(", ")) + QStringLiteral(" 无法打开：")
                + reasons.at(i);
    return text;
}

void SynDevdata::setCell(int row, int column, const QString& text)
{
    const bool outer = writingCells;
    writingCells = true;
    ui->tableWidget->setItem(row, column, new QTableWidgetItem(text));
    writingCells = outer;
}

int SynDevdata::findRowByDevId(int devId) const
{
    for (int i = 0; i < rows.size(); ++i) {
        if (rows.at(i).devId == devId)
            return i;
    }
    return -1;
}
