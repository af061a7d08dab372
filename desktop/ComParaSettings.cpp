// The serial-port dialog: the ports in use numbered as the link numbers them, the fixed line, and the named ports.

#include "desktop/ComParaSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>

#include "core/device/PortDescription.h"
#include "core/device/SerialPort.h"
#include "core/device/SettingsAdpater.h"
#include "ui_ComParaSettings.h"

namespace {

const QString kNew = QStringLiteral("新增");
const QString kMissing = QStringLiteral("（未找到）");

void showFixed(QComboBox* box, const QString& text)
{
    const QSignalBlocker blocker(box);
    int i = box->findText(text);
    if (i < 0) {
        box->addItem(text);
        i = box->count() - 1;
    }
    box->setCurrentIndex(i);
    box->setEnabled(false);
}

} // namespace

ComParaSettings::ComParaSettings(QWidget* parent, SettingsAdpater* settings)
    : QDialog(parent), ui(std::make_unique<Ui::ComParaSettings>()), settings(settings)
{
    ui->setupUi(this);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setText(QStringLiteral("保存"));
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &ComParaSettings::save);
    connect(ui->cmbporttype, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        keepTyped();
        showSlot(index);
    });
    // The line every port is opened with: shown, not chosen.
    const Com_Info line = SerialPort::lineSettings(QString());
    showFixed(ui->cmbBaud, line.Baud);
    showFixed(ui->cmbDataBits, line.DataBits);
    showFixed(ui->cmbStopBits, line.StopBits);
    showFixed(ui->cmbParity, line.Parity);
    showFixed(ui->cmbRTS, QStringLiteral("无"));
    ui->sbtimeout->setRange(0, 3600);
    ui->sbtimeout->setSuffix(QStringLiteral(" 秒"));
    ui->sbtimeout->setValue(SerialPort::kDefaultResponseTimeout / 1000);
    ui->sbtimeout->setEnabled(false);
}

ComParaSettings::~ComParaSettings() = default;

void ComParaSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Coming back from being minimised keeps the edits made so far.
    if (!event->spontaneous())
        load();
}

void ComParaSettings::load()
{
    slotList.clear();
    current = -1;
    const QList<Com_Info> stored = settings ? settings->getComList() : QList<Com_Info>();
    QStringList named;
    for (const Com_Info& info : stored) {
        const QString name = info.SerialPort.trimmed();
        if (!name.isEmpty() && !named.contains(name))
            named << name;
    }
    for (const PortDescription& d : SerialPort::portsInUse(stored))
        slotList.append({d.portName, true, named.contains(d.portName)});
    for (const QString& name : qAsConst(named)) {
        bool inUse = false;
        for (const Slot& s : qAsConst(slotList))
            inUse = inUse || s.name == name;
        if (!inUse)
            slotList.append({name, false, true});
    }
    slotList.append({QString(), false, true});

    const QSignalBlocker blocker(ui->cmbporttype);
    ui->cmbporttype->clear();
    int number = 0;
    for (const Slot& s : qAsConst(slotList)) {
        if (s.found)
            ui->cmbporttype->addItem(QString::number(++number));
        else
            ui->cmbporttype->addItem(s.name.isEmpty() ? kNew : kMissing);
    }
    ui->cmbporttype->setCurrentIndex(0);
    showSlot(0);
}

void ComParaSettings::keepTyped()
{
    if (current >= 0 && current < slotList.size() && slotList.at(current).named)
        slotList[current].name = ui->cmbPort->currentText().trimmed();
}

void ComParaSettings::showSlot(int index)
{
    current = index;
    if (index < 0 || index >= slotList.size())
        return;
    const Slot& s = slotList.at(index);
    const QSignalBlocker blocker(ui->cmbPort);
    ui->cmbPort->clear();
    if (!s.named) {
        ui->cmbPort->addItem(s.name);
    } else {
        // A name to type, or one the system lists that the link does not
        // open yet.
        for (const PortDescription& d : SerialPort::listPorts())
            ui->cmbPort->addItem(d.portName);
        ui->cmbPort->setEditText(s.name);
    }
    ui->cmbPort->setEnabled(s.named);
    ui->cmbPort->setToolTip(s.named ? QStringLiteral("串口设备，如 /dev/ttyUSB0 或 /dev/pts/3；清空则删除")
                                    : QStringLiteral("系统找到的串口"));
}

QStringList ComParaSettings::namedPorts() const
{
    QStringList names;
    for (int i = 0; i < slotList.size(); ++i) {
        const Slot& s = slotList.at(i);
        const QString name = i == current && s.named ? ui->cmbPort->currentText().trimmed() : s.name;
        if (s.named && !name.isEmpty())
            names << name;
    }
    return names;
}

void ComParaSettings::save()
{
    keepTyped();
    QStringList seen;
    for (const Slot& s : qAsConst(slotList)) {
        if (s.name.isEmpty())
            continue;
        if (seen.contains(s.name)) {
            QMessageBox::warning(this, windowTitle(),
                                 QStringLiteral("串口 %1 出现了两次，未保存。请删除其中一个。").arg(s.name));
            return;
        }
        seen << s.name;
    }
    if (settings) {
        QList<Com_Info> list;
        for (const QString& name : namedPorts()) {
            Com_Info info = SerialPort::lineSettings(name);
            info.type = list.size();
            info.IsShared = list.size();
            list.append(info);
        }
        settings->setComList(list);
        settings->writeSettings();
        settings->sync();
        if (settings->status() != QSettings::NoError) {
            QMessageBox::critical(this, windowTitle(),
                                  QStringLiteral("无法写入设置文件 %1，未保存。").arg(settings->fileName()));
            return;
        }
        emit Compara_changge();
    }
    accept();
}
