// The serial-port slots edited on a working copy: the ports the link finds, each slot's parameters, and OK.

#include "desktop/ComParaSettings.h"

#include <QComboBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>

#include "core/device/SettingsAdpater.h"
#include "core/device/PortDescription.h"
#include "core/device/SerialPort.h"
#include "ui_ComParaSettings.h"

namespace {

const QString addPort = QStringLiteral("Add Port");

} // namespace

ComParaSettings::ComParaSettings(QWidget* parent, SettingsAdpater* settings)
    : QDialog(parent), ui(std::make_unique<Ui::ComParaSettings>()), settings(settings)
{
    ui->setupUi(this);

    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &ComParaSettings::changesAccepted);
    connect(ui->cmbporttype, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ComParaSettings::changesIdx);
    connect(ui->cmbPort, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ComParaSettings::changeport);
}

ComParaSettings::~ComParaSettings() = default;

void ComParaSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Coming back from being minimised keeps the edits made so far.
    if (event->spontaneous())
        return;

    ready = false;
    if (!settings)
        return;

    ui->cmbPort->clear();
    ui->cmbRTS->clear();

    // The link's own enumeration, so the list shows what the link would open.
    const QList<PortDescription> found = SerialPort::listPorts();
    for (const PortDescription& d : found) {
        qDebug() << "Name        : " << d.portName;
        qDebug() << "Description : " << d.description;
        qDebug() << "Manufacturer: " << d.manufacturer;
        ui->cmbPort->addItem(d.portName);
    }

    ui->cmbRTS->addItems({QStringLiteral("NoFlowControl"), QStringLiteral("HardwareControl"),
                          QStringLiteral("SoftwareControl"), QStringLiteral("UnknownFlowControl")});
    ui->cmbPort->addItem(addPort);

    comList = settings->getComList();
    curIndex = 0;

    for (const Com_Info& info : qAsConst(comList)) {
        if (ui->cmbPort->findData(info.SerialPort, Qt::DisplayRole, Qt::MatchCaseSensitive) < 0)
            ui->cmbPort->addItem(info.SerialPort);
    }

    if (!comList.isEmpty()) {
        const Com_Info& first = comList.first();
        ui->cmbporttype->setCurrentIndex(first.type);
        showRecord(first);
    }

    ready = true;
}

void ComParaSettings::selectText(QComboBox* box, const QString& text)
{
    box->setCurrentIndex(box->findData(text, Qt::DisplayRole, Qt::MatchCaseSensitive));
}

void ComParaSettings::showRecord(const Com_Info& info)
{
    selectText(ui->cmbPort, info.SerialPort);
    selectText(ui->cmbBaud, info.Baud);
    selectText(ui->cmbDataBits, info.DataBits);
    selectText(ui->cmbStopBits, info.StopBits);
    selectText(ui->cmbParity, info.Parity);
    selectText(ui->cmbRTS, info.RTS);
    ui->sbtimeout->setValue(info.Timeout.toInt(nullptr, 10));
}

void ComParaSettings::fillRecord(Com_Info& info) const
{
    info.SerialPort = ui->cmbPort->currentText();
    info.Baud = ui->cmbBaud->currentText();
    info.DataBits = ui->cmbDataBits->currentText();
    info.StopBits = ui->cmbStopBits->currentText();
    info.Parity = ui->cmbParity->currentText();
    info.RTS = ui->cmbRTS->currentText();
    info.Timeout = ui->sbtimeout->cleanText();
}

void ComParaSettings::critical(const QString& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("com setting"), text, QMessageBox::Ok);
}

int ComParaSettings::findport(int idx, QString portname)
{
    if (portname == addPort)
        return 0;
    for (int i = 0; i < comList.size(); ++i) {
        if (i != idx && comList.at(i).SerialPort == portname)
            return 1;
    }
    return 0;
}

int ComParaSettings::PrechangesIdx(int id)
{
    if (id < 0)
        return 0;
    if (id < comList.size()) {
        Com_Info& info = comList[id];
        if (info.IsShared != id || ui->cmbPort->currentText() == addPort)
            return 0;
        info.type = id;
        fillRecord(info);
        return 1;
    }
    if (findport(id, ui->cmbPort->currentText()) == 1)
        return 0;
    if (ui->cmbPort->currentText() == addPort)
        return 1;
    Com_Info info;
    info.type = id;
    fillRecord(info);
    info.IsShared = id;
    comList.append(info);
    return 1;
}

void ComParaSettings::changeport()
{
    if (!ready)
        return;
    const int idx = ui->cmbporttype->currentIndex();
    const QString name = ui->cmbPort->currentText();
    if (findport(idx, name) == 1) {
        critical(QStringLiteral("串口已选用!"));
        const QString previous = (idx >= 0 && idx < comList.size()) ? comList.at(idx).SerialPort : addPort;
        // Putting the old name back is no new choice to check again.
        const QSignalBlocker blocker(ui->cmbPort);
        const int item = ui->cmbPort->findData(previous, Qt::DisplayRole, Qt::MatchCaseSensitive);
        if (item >= 0)
            ui->cmbPort->setCurrentIndex(item);
        else
            ui->cmbPort->setCurrentText(previous);
        return;
    }
    if (idx >= 0 && idx < comList.size()) {
        comList[idx].IsShared = idx;
        comList[idx].SerialPort = name;
    }
}

void ComParaSettings::changesIdx()
{
    if (!ready)
        return;
    const int n = ui->cmbporttype->currentIndex();
    if (n != curIndex) {
        if (!PrechangesIdx(curIndex)) {
            critical(QStringLiteral("串口号重复，不保存参数!"));
            // Only the slot number goes back; the fields keep what the
            // operator typed so far.
            const QSignalBlocker blocker(ui->cmbporttype);
            ui->cmbporttype->setCurrentIndex(curIndex);
            return;
        }
        curIndex = n;
    }
    if (n >= 0 && n < comList.size()) {
        showRecord(comList.at(n));
    } else if (!comList.isEmpty()) {
        selectText(ui->cmbPort, addPort);
        const Com_Info& first = comList.first();
        selectText(ui->cmbBaud, first.Baud);
        selectText(ui->cmbDataBits, first.DataBits);
        selectText(ui->cmbStopBits, first.StopBits);
        selectText(ui->cmbParity, first.Parity);
        selectText(ui->cmbRTS, first.RTS);
        ui->sbtimeout->setValue(first.Timeout.toInt(nullptr, 10));
    } else {
        selectText(ui->cmbPort, addPort);
    }
}

void ComParaSettings::changesAccepted()
{
    if (!settings)
        return;
    if (PrechangesIdx(curIndex)) {
        settings->setComList(comList);
        settings->writeSettings();
        emit Compara_changge();
    } else {
        critical(QStringLiteral("串口号不对，不保存参数!"));
    }
}
