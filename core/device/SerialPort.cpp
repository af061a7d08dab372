// The serial link at work: opening the ports, sending the read, clear and address requests,
// and assembling and parsing the replies.

#include "core/device/SerialPort.h"

#include <sys/stat.h>

#include <QDebug>
#include <QFileInfo>
#include <QMutexLocker>
#include <QPair>
#include <QSet>
#include <QTimer>

#include "core/device/SettingsAdpater.h"
#include "core/store/Store.h"
#include "core/device/HexByte.h"

QRecursiveMutex SerialPort::replyMutex;

namespace {

SerialPort::PortLister& portLister()
{
    static SerialPort::PortLister lister;
    return lister;
}

const QByteArray clearOkHex = QByteArrayLiteral("636c656172206f6b");  // "clear ok"
const QByteArray setidOkHex = QByteArrayLiteral("7365746964206f6b");  // "setid ok"

// First occurrence of needle at or after from that starts on a byte boundary:
// a match straddling two bytes is not the text the device sent.
int indexOfAligned(const QByteArray& hay, const QByteArray& needle, int from)
{
    int pos = hay.indexOf(needle, from);
    while (pos >= 0 && (pos & 1))
        pos = hay.indexOf(needle, pos + 1);
    return pos;
}

void appendWord(QByteArray& frame, int value)
{
    frame.append(char(value & 0xff));
    frame.append(char((value >> 8) & 0xff));
}

bool inAddressRange(int value)
{
    return value >= 0 && value <= 65535;
}

QString canonicalLocation(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace

SerialPort::SerialPort(QObject* parent, SettingsAdpater* settings, Store* database)
    : QObject(parent), settings(settings), database(database)
{
    if (database) {
        database->createConnection(connName);
        db = database->getConnection(connName);
    }
}

SerialPort::~SerialPort()
{
    releasePorts();
}

void SerialPort::setPortLister(PortLister lister)
{
    portLister() = std::move(lister);
}

QList<PortDescription> SerialPort::listPorts()
{
    if (portLister())
        return portLister()();
    QList<PortDescription> list;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos)
        list.append(PortDescription::fromInfo(info));
    return list;
}

void SerialPort::setResponseTimeout(int ms)
{
    timeoutMs = ms > 0 ? ms : kDefaultResponseTimeout;
}

// Ports named in the settings that exist here but were not enumerated:
// pseudo-terminals and the links a serial-over-network bridge makes.
QList<PortDescription> SerialPort::configuredPorts(const QList<PortDescription>& enumerated,
                                                   const QList<Com_Info>& list)
{
    QList<PortDescription> result;

    QSet<QString> known;
    for (const PortDescription& d : enumerated) {
        const QString location = d.systemLocation.isEmpty() ? d.portName : d.systemLocation;
        known.insert(canonicalLocation(location));
    }

    for (const Com_Info& info : list) {
        const QString name = info.SerialPort.trimmed();
        if (name.isEmpty())
            continue;
        // A bare name means a device under /dev, as the serial port classes read it.
        const QString path = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
        const QFileInfo fi(path);
        if (!fi.exists())
            continue;
        const QString canonical = fi.canonicalFilePath();
        struct stat st {};
        // Only terminals: a stray file name in the settings must not be opened.
        if (canonical.isEmpty() || ::stat(QFile::encodeName(canonical).constData(), &st) != 0
            || !S_ISCHR(st.st_mode))
            continue;
        if (known.contains(canonical))
            continue;
        known.insert(canonical);
        PortDescription d;
        d.portName = name;
        d.systemLocation = path;
        result.append(d);
    }
    return result;
}

QList<PortDescription> SerialPort::portsInUse(const QList<Com_Info>& stored)
{
    QList<PortDescription> found = listPorts();
    found.append(configuredPorts(found, stored));
    return found;
}

Com_Info SerialPort::lineSettings(const QString& portName)
{
    Com_Info info;
    info.SerialPort = portName;
    info.Baud = QStringLiteral("38400");
    info.DataBits = QStringLiteral("8");
    info.StopBits = QStringLiteral("1");
    info.Parity = QStringLiteral("None");
    info.RTS = QStringLiteral("NoFlowControl");
    info.Timeout = QStringLiteral("0");
    return info;
}

void SerialPort::releasePorts()
{
    ++generation;
    for (ComPortState& state : ports) {
        // The old objects may be the sender of the signal being handled
        // right now: cut them off at once, delete them when control is back
        // in the event loop (they are children, so never leaked).
        if (state.port) {
            state.port->disconnect(this);
            if (state.port->isOpen())
                state.port->close();
            state.port->deleteLater();
        }
        if (state.timer) {
            state.timer->disconnect(this);
            state.timer->stop();
            state.timer->deleteLater();
        }
    }
    ports.clear();
}

void SerialPort::openPorts()
{
    stopPorts();

    releasePorts();
    portParams.clear();

    const QList<PortDescription> found = portsInUse(settings ? settings->getComList() : QList<Com_Info>());

    for (int p = 0; p < found.size(); ++p) {
        const PortDescription& d = found.at(p);
        qDebug() << "Name        : " << d.portName;
        qDebug() << "Description : " << d.description;
        qDebug() << "Manufacturer: " << d.manufacturer;

        Com_Info info = lineSettings(d.portName);
        info.type = p;
        info.IsShared = p;
        portParams.append(info);
    }

    for (const Com_Info& info : qAsConst(portParams)) {
        auto* port = new QSerialPort(info.SerialPort, this);
        port->setBaudRate(info.Baud.toInt(nullptr, 10), QSerialPort::AllDirections);
        port->setStopBits(toStopBits(info.StopBits));
        port->setDataBits(toDataBits(info.DataBits));
        port->setParity(toParity(info.Parity));
        port->setFlowControl(toFlowControl(info.RTS));
        port->open(QIODevice::ReadWrite);
        connect(port, &QSerialPort::readyRead, this, &SerialPort::readMyCom);

        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &SerialPort::MyCom_timeout);
        timer->stop();

        ComPortState state;
        state.port = port;
        state.timer = timer;
        state.comName = info.SerialPort;
        state.devId = -1;
        state.opened = port->isOpen();
        state.cmdState = 65535;
        ports.append(state);
    }
}

void SerialPort::stopPorts()
{
    for (ComPortState& state : ports) {
        state.opened = false;
        if (state.port->isOpen())
            state.port->close();
        state.devId = -1;
        state.timer->stop();
        state.cmdState = 65535;
    }
}

void SerialPort::readMyCom()
{
    const quint64 current = generation;
    for (int i = 0; i < ports.size(); ++i) {
        if (!ports.at(i).opened)
            continue;
        const QByteArray bytes = ports.at(i).port->readAll();
        if (bytes.isEmpty())
            continue;
        receiveBytes(i, bytes);
        // A receiver of the reports may have rebuilt the ports.
        if (generation != current)
            return;
    }
}

void SerialPort::receiveBytes(int index, const QByteArray& bytes)
{
    if (index < 0 || index >= ports.size() || bytes.isEmpty())
        return;
    ComPortState& state = ports[index];

    // The timer measures silence: a device still sending is still answering.
    if (state.timer->isActive())
        state.timer->start();

    state.rxHex.append(bytes.toHex());
    // The whole buffer is shown while it is short; a long reply would make
    // this line quadratic in its size, so only its end is shown then.
    if (state.rxHex.size() <= 256)
        qDebug() << "rcv data :" << state.rxHex;
    else
        qDebug().nospace() << "rcv data : ..." << state.rxHex.right(128) << " (" << state.rxHex.size()
                           << " chars)";

    recognise(index);
}

void SerialPort::takeBuffer(ComPortState& state)
{
    state.rxHex.clear();
    state.pendingCount = -1;
    state.scanFrom = 0;
    state.progressClock.invalidate();
    if (state.timer->isActive())
        state.timer->stop();
}

void SerialPort::recognise(int index)
{
    ComPortState& state = ports[index];

    // Only the part not yet searched (plus room for a text cut in two).
    const int from = qMax(0, (state.scanFrom - clearOkHex.size() + 2) & ~1);
    int kind = 0;
    if (indexOfAligned(state.rxHex, clearOkHex, from) >= 0)
        kind = 1;
    else if (indexOfAligned(state.rxHex, setidOkHex, from) >= 0)
        kind = 2;
    state.scanFrom = state.rxHex.size();

    if (kind != 0) {
        if (state.rxHex.size() > 9) {
            const QString text = QString::fromLatin1(state.rxHex.left(10));
            takeBuffer(state);
            parseReply(kind, index, text);
        }
        return;
    }

    if (state.rxHex.size() > 7) {
        if (state.pendingCount == -1) {
            state.pendingCount = hexWord(QString::fromLatin1(state.rxHex.left(8)), 4);
            state.rxHex.reserve(state.pendingCount * 14 + 8);
        }
        const int count = state.pendingCount;
        const int needed = count * 14 + 8;
        if (state.rxHex.size() >= needed) {
            const QString text = QString::fromLatin1(state.rxHex.constData(), needed);
            const QString comName = state.comName;
            takeBuffer(state);
            const quint64 current = generation;
            if (count > 0)
                emit receiveProgress(comName, count, count);
            if (generation != current)
                return;
            parseReply(0, index, text);
            return;
        }
        // Reported from the first whole record on: an acknowledgement in
        // pieces looks like a data header for a while and must not show up.
        const int received = (state.rxHex.size() - 8) / 14;
        if (received > 0
            && (!state.progressClock.isValid() || state.progressClock.elapsed() >= kProgressIntervalMs)) {
            state.progressClock.start();
            const quint64 current = generation;
            emit receiveProgress(state.comName, received, count);
            if (generation != current)
                return;
        }
    }

    // The count above already fixes every reply's length, so a buffer this
    // long means the recognition went wrong: drop it rather than let any
    // stream of bytes grow it further.
    ComPortState& current = ports[index];
    if (current.rxHex.size() > kMaxReplyHex) {
        qDebug() << "rcv data : dropped" << current.rxHex.size() << "chars";
        takeBuffer(current);
    }
}

void SerialPort::parseReply(int kind, int index, const QString& text)
{
    QMutexLocker locker(&replyMutex);
    if (index < 0 || index >= ports.size())
        return;
    ComPortState& state = ports[index];
    const QString comName = state.comName;

    if (kind == 1 || kind == 2) {
        const int oldDevId = state.devId;
        // The new address is in place before anyone hears of the outcome,
        // so a request sent from the report already reaches the device.
        state.devId = hexWord(text, 0);
        emit data_Result(kind, comName, oldDevId, true);
    } else if (kind == 0) {
        const int address = hexWord(text, 0);
        state.devId = address;
        const int count = hexWord(text, 4);
        if (count > 0 && awaitStorage) {
            // The device's memory may be cleared only once its readings are
            // stored: the outcome is reported when the storage answers.
            awaited.append({comName, address});
            emit MySave_data(text);
            return;
        }
        if (count > 0)
            emit MySave_data(text);
        emit data_Result(0, comName, address, true);
    }
}

void SerialPort::dataStoreResult(bool ok)
{
    // An answer nobody waits for spoils nothing.
    if (awaited.isEmpty())
        return;
    const AwaitedReply reply = awaited.takeFirst();
    emit data_Result(ok ? 0 : 3, reply.comName, reply.address, ok);
}

int SerialPort::findPortByDevId(int address) const
{
    for (int i = 0; i < ports.size(); ++i) {
        if (ports.at(i).devId == address)
            return i;
    }
    return -1;
}

bool SerialPort::anyPortOpen() const
{
    for (const ComPortState& state : ports) {
        if (state.opened)
            return true;
    }
    return false;
}

void SerialPort::startResponseTimer(ComPortState& state)
{
    if (!state.timer->isActive()) {
        state.timer->setInterval(timeoutMs);
        state.timer->start();
    }
}

void SerialPort::MyCom_timeout()
{
    auto* timer = qobject_cast<QTimer*>(sender());
    for (int i = 0; i < ports.size(); ++i) {
        ComPortState& state = ports[i];
        if (state.timer != timer)
            continue;
        state.opened = false;
        if (state.port->isOpen())
            state.port->close();
        state.timer->stop();
        state.rxHex.clear();
        state.pendingCount = -1;
        state.scanFrom = 0;
        state.progressClock.invalidate();
        emit data_Result(state.cmdState, state.comName, state.devId, false);
        return;
    }
}

void SerialPort::SerCompara_changge()
{
    // The link keeps its fixed line parameters; the stored list is looked
    // at again when the ports are next opened.
    if (settings)
        settings->getComList();
}

void SerialPort::readrealdata()
{
    openPorts();
    QList<QPair<QString, QString>> failures;
    for (ComPortState& state : ports) {
        if (!state.opened) {
            state.port->open(QIODevice::ReadWrite);
            if (!state.port->isOpen()) {
                failures.append({state.comName, state.port->errorString()});
                continue;
            }
        }
        state.opened = true;
        state.port->write(readRequest());
        startResponseTimer(state);
        state.cmdState = 0;
    }
    // Reported after the loop: a receiver may rebuild the port entries.
    for (const auto& failure : qAsConst(failures))
        emit portOpenFailed(failure.first, failure.second);
    if (ports.isEmpty() || !anyPortOpen())
        emit data_Result(0, QString(), 0, false);
}

// Sends a clear or set-address request. A port that cannot take it (closed
// by an earlier timeout) is reported failed now rather than left to its timer.
bool SerialPort::sendRequest(int index, const QByteArray& frame, int command)
{
    ComPortState& state = ports[index];
    const qint64 written = state.port->isOpen() ? state.port->write(frame) : -1;
    if (written != frame.size()) {
        emit data_Result(command, state.comName, state.devId, false);
        return false;
    }
    startResponseTimer(state);
    state.cmdState = command;
    return true;
}

void SerialPort::dealsyndata(int type, int oldid, int newid)
{
    switch (type) {
    case 0:
        for (ComPortState& state : ports)
            state.devId = -1;
        readrealdata();
        break;
    case 1: {
        if (!inAddressRange(oldid))
            return;
        const int index = findPortByDevId(oldid);
        if (index < 0)
            return;
        sendRequest(index, clearRequest(oldid), 1);
        break;
    }
    case 2: {
        if (!inAddressRange(oldid) || !inAddressRange(newid))
            return;
        const int index = findPortByDevId(oldid);
        if (index < 0)
            return;
        sendRequest(index, setIdRequest(oldid, newid), 2);
        break;
    }
    default:
        break;
    }
}

QSerialPort::DataBits SerialPort::toDataBits(const QString& text)
{
    switch (text.toInt(nullptr, 10)) {
    case 5:
        return QSerialPort::Data5;
    case 6:
        return QSerialPort::Data6;
    case 7:
        return QSerialPort::Data7;
    case 8:
        return QSerialPort::Data8;
    default:
        return QSerialPort::UnknownDataBits;
    }
}

QSerialPort::StopBits SerialPort::toStopBits(const QString& text)
{
    const float value = text.toFloat();
    if (value == 1.0f)
        return QSerialPort::OneStop;
    if (value == 1.5f)
        return QSerialPort::OneAndHalfStop;
    if (value == 2.0f)
        return QSerialPort::TwoStop;
    return QSerialPort::UnknownStopBits;
}

QSerialPort::Parity SerialPort::toParity(const QString& text)
{
    if (text == QLatin1String("None"))
        return QSerialPort::NoParity;
    if (text == QLatin1String("Even"))
        return QSerialPort::EvenParity;
    if (text == QLatin1String("Odd"))
        return QSerialPort::OddParity;
    return QSerialPort::UnknownParity;
}

QSerialPort::FlowControl SerialPort::toFlowControl(const QString& text)
{
    if (text == QLatin1String("NoFlowControl"))
        return QSerialPort::NoFlowControl;
    if (text == QLatin1String("HardwareControl"))
        return QSerialPort::HardwareControl;
    if (text == QLatin1String("SoftwareControl"))
        return QSerialPort::SoftwareControl;
    return QSerialPort::UnknownFlowControl;
}

QByteArray SerialPort::readRequest()
{
    return QByteArrayLiteral("\xff\xff") + QByteArrayLiteral("read");
}

QByteArray SerialPort::clearRequest(int address)
{
    QByteArray frame;
    appendWord(frame, address);
    frame.append("clear");
    return frame;
}

QByteArray SerialPort::setIdRequest(int oldAddress, int newAddress)
{
    QByteArray frame;
    appendWord(frame, oldAddress);
    frame.append("setid");
    appendWord(frame, newAddress);
    return frame;
}
