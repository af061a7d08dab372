// The serial link against simulated dosimeters on pseudo-terminals. No test
// touches the machine's own serial ports: every test replaces the port lister.

#include <memory>
#include <termios.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/SettingsAdpater.h"
#include "db/DataBase.h"
#include "device/SerialPort.h"
#include "sim/SimPty.h"

namespace {

// One reported outcome or message, in the order they came.
struct Event
{
    QString what; // "result", "save" or "progress"
    int type = 0;
    QString port;
    int devId = 0;
    bool ok = false;
    QString text;
    int received = 0;
    int total = 0;
};

// An outcome as one comparable text.
QString outcome(int type, const QString& port, int devId, bool ok)
{
    return QStringLiteral("type %1 port '%2' dev %3 ok %4").arg(type).arg(port).arg(devId).arg(ok);
}

class Recorder
{
public:
    explicit Recorder(SerialPort& link)
    {
        QObject::connect(&link, &SerialPort::data_Result, [this](int type, QString port, int devId, bool ok) {
            events.append({QStringLiteral("result"), type, port, devId, ok, {}, 0, 0});
        });
        QObject::connect(&link, &SerialPort::MySave_data,
                         [this](QString text) { events.append({QStringLiteral("save"), 0, {}, 0, false, text, 0, 0}); });
        QObject::connect(&link, &SerialPort::receiveProgress, [this](QString port, int received, int total) {
            events.append({QStringLiteral("progress"), 0, port, 0, false, {}, received, total});
        });
    }

    QList<Event> of(const QString& what) const
    {
        QList<Event> list;
        for (const Event& e : events) {
            if (e.what == what)
                list.append(e);
        }
        return list;
    }
    int count(const QString& what) const { return of(what).size(); }
    QStringList results() const
    {
        QStringList list;
        for (const Event& e : of(QStringLiteral("result")))
            list << outcome(e.type, e.port, e.devId, e.ok);
        return list;
    }
    QStringList saves() const
    {
        QStringList list;
        for (const Event& e : of(QStringLiteral("save")))
            list << e.text;
        return list;
    }

    QList<Event> events;
};

PortDescription describe(const QString& path)
{
    PortDescription d;
    d.portName = path;
    d.systemLocation = path;
    d.description = QStringLiteral("simulated dosimeter");
    d.manufacturer = QStringLiteral("test");
    return d;
}

QByteArray word(int v)
{
    return SimDosimeter::word(v);
}

QString hexOf(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

void addRecords(SimDosimeter& dev, int count)
{
    const QDateTime start(QDate(2016, 4, 14), QTime(0, 0));
    for (int i = 0; i < count; ++i)
        dev.addRecord(start.addSecs(3600 * i), 0.01 * (i + 1), quint8(i));
}

// Lets the event loop run for a while, so that anything wrongly sent or
// reported has the chance to show.
void settle(int ms = 200)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString oldCwd;
    std::unique_ptr<DataBase> database;
    std::unique_ptr<SettingsAdpater> settings;
    QList<PortDescription> listed;
    QList<std::shared_ptr<SimPty>> sims;

    std::shared_ptr<SimPty> addSim(int address, bool enumerate = true)
    {
        auto sim = std::make_shared<SimPty>(address);
        if (!sim->isValid())
            return nullptr;
        if (enumerate)
            listed.append(describe(sim->slavePath()));
        sims.append(sim);
        return sim;
    }

    std::unique_ptr<SerialPort> makeLink(int timeoutMs = 5000)
    {
        auto link = std::make_unique<SerialPort>(nullptr, settings.get(), database.get());
        link->setResponseTimeout(timeoutMs);
        return link;
    }

    // Reads once so that the link learns each device's address, then forgets
    // what was sent and reported so far.
    static bool readAll(SerialPort& link, Recorder& rec, int expectedResults)
    {
        link.dealsyndata(0, -1, -1);
        const bool done =
            QTest::qWaitFor([&] { return rec.count(QStringLiteral("result")) >= expectedResults; }, 5000);
        rec.events.clear();
        return done;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        oldCwd = QDir::currentPath();
        // The database and the settings are files relative to the working directory.
        QVERIFY(QDir::setCurrent(dir.path()));
        database = std::make_unique<DataBase>();
        settings = std::make_unique<SettingsAdpater>(dir.filePath(QStringLiteral("zudovi.ini")),
                                                     QSettings::IniFormat);
    }

    void init()
    {
        listed.clear();
        SerialPort::setPortLister([this] { return listed; });
        settings->setComList({});
    }

    void cleanup()
    {
        sims.clear();
        SerialPort::setPortLister({});
    }

    void cleanupTestCase()
    {
        settings.reset();
        database.reset();
        QDir::setCurrent(oldCwd);
    }

    // ---- Opening ports -------------------------------------------------

    void noPortsNoEntryAndReadFails()
    {
        auto link = makeLink();
        Recorder rec(*link);
        link->openPorts();
        QVERIFY(link->portStates().isEmpty());
        QVERIFY(link->portParameters().isEmpty());
        QVERIFY(rec.events.isEmpty());
        link->readrealdata();
        QCOMPARE(rec.events.size(), 1);
        QCOMPARE(rec.results(), QStringList{outcome(0, QString(), 0, false)});
    }

    void portThatCannotOpenKeepsEntryAndIsReported()
    {
        const QString missing = dir.filePath(QStringLiteral("no-such-tty"));
        QSerialPort probe(missing);
        QVERIFY(!probe.open(QIODevice::ReadWrite));
        const QString reason = probe.errorString();
        QVERIFY(!reason.isEmpty());

        listed.append(describe(missing));
        auto link = makeLink();
        QStringList order;
        connect(link.get(), &SerialPort::portOpenFailed, this, [&](QString port, QString why) {
            order << QStringLiteral("failed ") + port + QStringLiteral(": ") + why;
        });
        connect(link.get(), &SerialPort::data_Result, this,
                [&](int type, QString port, int devId, bool ok) { order << outcome(type, port, devId, ok); });
        link->readrealdata();
        QCOMPARE(link->portStates().size(), 1);
        QVERIFY(!link->portStates().at(0).opened);
        const QString failed = QStringLiteral("failed ") + missing + QStringLiteral(": ") + reason;
        QCOMPARE(order, QStringList({failed, outcome(0, QString(), 0, false)}));

        // Beside a port that opens, the failure is still told, the device read.
        auto sim = addSim(5);
        QVERIFY(sim);
        order.clear();
        link->readrealdata();
        QCOMPARE(order, QStringList{failed});
        QTRY_COMPARE(order.size(), 2);
        QCOMPARE(order.at(1), outcome(0, sim->slavePath(), 5, true));

        // Ports that open are not reported.
        listed.removeFirst();
        order.clear();
        link->readrealdata();
        QTRY_COMPARE(order.size(), 1);
        QVERIFY(order.at(0).startsWith(QStringLiteral("type")));
    }

    void twoPortsOpenedAt38400In8N1InEnumerationOrderAndRead()
    {
        auto a = addSim(1);
        auto b = addSim(2);
        QVERIFY(a && b);
        auto link = makeLink();
        link->openPorts();

        const auto& states = link->portStates();
        const auto& params = link->portParameters();
        QCOMPARE(states.size(), 2);
        QCOMPARE(params.size(), 2);
        const QList<std::shared_ptr<SimPty>> order{a, b};
        for (int i = 0; i < 2; ++i) {
            const QString path = order.at(i)->slavePath();
            QCOMPARE(states.at(i).comName, path);
            QVERIFY(states.at(i).opened);
            QCOMPARE(states.at(i).devId, -1);
            QCOMPARE(states.at(i).cmdState, 65535);
            const Com_Info& p = params.at(i);
            QCOMPARE(QStringList({QString::number(p.type), QString::number(p.IsShared), p.SerialPort, p.Baud,
                                  p.DataBits, p.StopBits, p.Parity, p.RTS}),
                     QStringList({QString::number(i), QString::number(i), path, "38400", "8", "1", "None",
                                  "NoFlowControl"}));
            // What the terminal itself was set to.
            termios tio{};
            QCOMPARE(::tcgetattr(order.at(i)->slaveDescriptor(), &tio), 0);
            QCOMPARE(cfgetospeed(&tio), speed_t(B38400));
            QCOMPARE(int(tio.c_cflag & CSIZE), int(CS8));
            QCOMPARE(int(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS)), 0);
            QCOMPARE(int(tio.c_iflag & (IXON | IXOFF)), 0);
        }

        // A read goes to every port and starts each port's timer.
        link->readrealdata();
        QTRY_COMPARE(a->received(), SerialPort::readRequest());
        QTRY_COMPARE(b->received(), SerialPort::readRequest());
        for (const ComPortState& s : link->portStates()) {
            QCOMPARE(s.cmdState, 0);
            // Answered already or still waiting: either way the timer was started.
            QVERIFY(s.timer->isActive() || s.devId >= 0);
        }
    }

    void conversionsAndRequestFrames()
    {
        // A representative of each table, its odd member and an unknown text.
        QCOMPARE(SerialPort::toDataBits(QStringLiteral("8")), QSerialPort::Data8);
        QCOMPARE(SerialPort::toDataBits(QStringLiteral("9")), QSerialPort::UnknownDataBits);
        QCOMPARE(SerialPort::toStopBits(QStringLiteral("1.5")), QSerialPort::OneAndHalfStop);
        QCOMPARE(SerialPort::toStopBits(QStringLiteral("3")), QSerialPort::UnknownStopBits);
        QCOMPARE(SerialPort::toParity(QStringLiteral("Odd")), QSerialPort::OddParity);
        QCOMPARE(SerialPort::toParity(QStringLiteral("none")), QSerialPort::UnknownParity);
        QCOMPARE(SerialPort::toFlowControl(QStringLiteral("SoftwareControl")), QSerialPort::SoftwareControl);
        QCOMPARE(SerialPort::toFlowControl(QStringLiteral("Disable")), QSerialPort::UnknownFlowControl);

        QCOMPARE(SerialPort::readRequest(), QByteArray::fromHex("ffff72656164"));
        QCOMPARE(SerialPort::clearRequest(0x1234), QByteArray::fromHex("3412636c656172"));
        QCOMPARE(SerialPort::setIdRequest(7, 0x0109), QByteArray::fromHex("07007365746964" "0901"));
    }

    void configuredPortsOpenedAfterEnumeratedOnes()
    {
        auto enumerated = addSim(1);
        auto configured = addSim(2, false);
        QVERIFY(enumerated && configured);
        const QString link1 = dir.filePath(QStringLiteral("dosimeter-link"));
        QVERIFY(configured->createSymlink(link1));
        const QString plainFile = dir.filePath(QStringLiteral("not-a-terminal"));
        {
            QFile f(plainFile);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }

        QList<Com_Info> coms;
        for (const QString& name : {QStringLiteral("COM1:"), link1, QStringLiteral("/nonexistent/ttyX"),
                                    enumerated->slavePath(), plainFile, configured->slavePath()}) {
            Com_Info c;
            c.SerialPort = name;
            c.Baud = QStringLiteral("9600");  // ignored: the link's parameters are fixed
            coms.append(c);
        }
        settings->setComList(coms);

        auto link = makeLink();
        Recorder rec(*link);
        link->readrealdata();
        const auto& states = link->portStates();
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.at(0).comName, enumerated->slavePath());
        QCOMPARE(states.at(1).comName, link1);
        QVERIFY(states.at(1).opened);
        QCOMPARE(link->portParameters().at(1).Baud, QStringLiteral("38400"));
        QCOMPARE(link->portParameters().at(1).type, 1);
        QCOMPARE(states.at(1).port->baudRate(), 38400);

        QTRY_COMPARE(rec.count(QStringLiteral("result")), 2);
        QCOMPARE(link->portStates().at(1).devId, 2);
        QVERIFY(rec.of(QStringLiteral("result")).at(1).ok);
        QCOMPARE(configured->received(), SerialPort::readRequest());
    }

    void discardedPortsAndTimersReleased()
    {
        addSim(1);
        auto link = makeLink();
        link->openPorts();
        QPointer<QSerialPort> oldPort = link->portStates().at(0).port;
        QPointer<QTimer> oldTimer = link->portStates().at(0).timer;
        link->openPorts();
        QVERIFY(!oldPort.isNull() ? !oldPort->isOpen() : true);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(oldPort.isNull());
        QVERIFY(oldTimer.isNull());
        QCOMPARE(link->children().size(), 2);  // only the current port and timer

        QPointer<QSerialPort> current = link->portStates().at(0).port;
        link.reset();
        QVERIFY(current.isNull());
    }

    // ---- Data replies --------------------------------------------------

    void elevenByteReply()
    {
        auto sim = addSim(5);
        sim->device().addRawRecord(QByteArray::fromHex("16041408003412"));
        QCOMPARE(sim->device().dataReply(), QByteArray::fromHex("0500010016041408003412"));
        auto link = makeLink();
        Recorder rec(*link);
        link->readrealdata();
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        QCOMPARE(rec.saves(), QStringList{QStringLiteral("0500010016041408003412")});
        QCOMPARE(rec.results(), QStringList{outcome(0, sim->slavePath(), 5, true)});
        // The message comes before the outcome.
        QCOMPARE(rec.events.last().what, QStringLiteral("result"));
        QCOMPARE(link->portStates().at(0).devId, 5);
        QVERIFY(!link->portStates().at(0).timer->isActive());
        QVERIFY(link->portStates().at(0).rxHex.isEmpty());
    }

    void replyInPiecesTakenOnlyWhenComplete()
    {
        auto sim = addSim(5);
        addRecords(sim->device(), 2);
        sim->setChunkSize(3);
        sim->setDelay(20);
        auto link = makeLink();
        Recorder rec(*link);
        bool completeWhenSaved = false;
        int longestPartial = 0;
        connect(link.get(), &SerialPort::MySave_data, this, [&] { completeWhenSaved = sim->idle(); });
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!link->portStates().isEmpty())
                longestPartial = qMax(longestPartial, int(link->portStates().at(0).rxHex.size()));
        });
        watch.start(5);
        link->readrealdata();
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        QCOMPARE(rec.saves(), QStringList{hexOf(sim->device().dataReply())});
        QCOMPARE(rec.saves().at(0).size(), 8 + 14 * 2);
        QVERIFY(completeWhenSaved);
        QVERIFY(longestPartial > 0); // it really came in pieces
        QCOMPARE(link->portStates().at(0).devId, 5);
    }

    void zeroRecordsSetsAddressWithoutMessage()
    {
        auto sim = addSim(0x0203);
        auto link = makeLink();
        Recorder rec(*link);
        link->readrealdata();
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        settle(100);
        QCOMPARE(rec.count(QStringLiteral("save")), 0);
        QCOMPARE(rec.results(), QStringList{outcome(0, sim->slavePath(), 0x0203, true)});
        QCOMPARE(link->portStates().at(0).devId, 0x0203);
    }

    void unsolicitedReplyTakenBytesAfterItDropped()
    {
        auto sim = addSim(5);
        addRecords(sim->device(), 1);
        auto link = makeLink();
        Recorder rec(*link);
        link->openPorts();
        // One write: reply and a second (N = 0) reply land in the same read.
        sim->send(sim->device().dataReply() + word(8) + word(0));
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        settle(150);
        QCOMPARE(rec.results(), QStringList{outcome(0, sim->slavePath(), 5, true)});
        QCOMPARE(rec.saves(), QStringList{hexOf(sim->device().dataReply())});
        QCOMPARE(link->portStates().at(0).devId, 5);
        QVERIFY(link->portStates().at(0).rxHex.isEmpty());
    }

    void ackTextAcrossByteBoundaryIsNotAnAck()
    {
        // A data reply whose hex text holds "clear ok" shifted by one digit.
        const QByteArray reply = QByteArray::fromHex("05000200" "16041408a636c6" "561722" "06f6b100");
        QVERIFY(reply.toHex().contains("636c656172206f6b"));
        auto sim = addSim(5);
        auto link = makeLink();
        Recorder rec(*link);
        link->openPorts();
        sim->send(reply);
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        QCOMPARE(rec.of(QStringLiteral("result")).at(0).type, 0);
        QCOMPARE(rec.saves(), QStringList{hexOf(reply)});
    }

    // ---- Clear and set address ------------------------------------------

    void clearAndSetAddress()
    {
        auto sim = addSim(7);
        addRecords(sim->device(), 3);
        auto link = makeLink();
        Recorder rec(*link);
        QVERIFY(readAll(*link, rec, 1));
        QCOMPARE(link->portStates().at(0).devId, 7);
        const QString path = sim->slavePath();
        // Sends request, waits for its outcome; what the device heard.
        auto request = [&](int type, int devId, int newId) {
            sim->clearReceived();
            rec.events.clear();
            link->dealsyndata(type, devId, newId);
            (void)QTest::qWaitFor([&] { return rec.count(QStringLiteral("result")) > 0; }, 5000); // the outcome is checked next
            return sim->received();
        };

        QCOMPARE(request(1, 7, -1), SerialPort::clearRequest(7));
        QCOMPARE(rec.results(), QStringList{outcome(1, path, 7, true)});
        QCOMPARE(sim->device().recordCount(), 0);
        QCOMPARE(link->portStates().at(0).cmdState, 1);
        QVERIFY(!link->portStates().at(0).timer->isActive());

        QCOMPARE(request(2, 7, 9), SerialPort::setIdRequest(7, 9));
        QCOMPARE(rec.results(), QStringList{outcome(2, path, 7, true)});
        QCOMPARE(link->portStates().at(0).devId, 9);
        QCOMPARE(link->portStates().at(0).cmdState, 2);
        QCOMPARE(sim->device().address(), 9);

        // The old address is gone; the new one reaches the device.
        sim->clearReceived();
        rec.events.clear();
        link->dealsyndata(1, 7, -1);
        settle(100);
        QVERIFY(sim->received().isEmpty());
        QVERIFY(rec.events.isEmpty());
        QCOMPARE(request(1, 9, -1), SerialPort::clearRequest(9));
        QCOMPARE(rec.results(), QStringList{outcome(1, path, 9, true)});
    }

    void outOfRangeRequestsSendNothing()
    {
        auto sim = addSim(5);
        auto link = makeLink();
        Recorder rec(*link);
        QVERIFY(readAll(*link, rec, 1));
        sim->clearReceived();

        link->dealsyndata(1, 70000, -1);
        link->dealsyndata(2, 5, -1);
        link->dealsyndata(2, 5, 65536);
        link->dealsyndata(1, -1, -1);
        link->dealsyndata(2, -1, 3);
        link->dealsyndata(5, 5, 6);
        link->dealsyndata(1, 6, -1); // in range, but no such device
        settle(200);
        QVERIFY(sim->received().isEmpty());
        QVERIFY(rec.events.isEmpty());
        QCOMPARE(link->portStates().at(0).cmdState, 0);
        QVERIFY(!link->portStates().at(0).timer->isActive());

        // The same port does take a valid request.
        link->dealsyndata(2, 5, 65535);
        QTRY_COMPARE(sim->received(), SerialPort::setIdRequest(5, 65535));
    }

    void bothAcknowledgementsInOneBufferMeanClear()
    {
        auto sim = addSim(7);
        auto link = makeLink();
        Recorder rec(*link);
        QVERIFY(readAll(*link, rec, 1));
        sim->send(word(7) + QByteArray("setid ok") + QByteArray("clear ok"));
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        QCOMPARE(rec.results(), QStringList{outcome(1, sim->slavePath(), 7, true)});
        QCOMPARE(link->portStates().at(0).devId, 7);
        QVERIFY(link->portStates().at(0).rxHex.isEmpty());
    }

    void acknowledgementInPieces()
    {
        auto sim = addSim(7);
        auto link = makeLink();
        Recorder rec(*link);
        QVERIFY(readAll(*link, rec, 1));
        sim->setChunkSize(3);
        sim->setDelay(30);
        link->dealsyndata(2, 7, 300);
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        // The pieces never pass for a data reply, not even in the progress.
        QCOMPARE(rec.events.size(), 1);
        QCOMPARE(rec.results(), QStringList{outcome(2, sim->slavePath(), 7, true)});
        QCOMPARE(link->portStates().at(0).devId, 300);
    }

    // ---- Timers, closing, several ports ----------------------------------

    void timeoutClosesPortAndLaterRequestsFailAtOnce()
    {
        auto sim = addSim(5);
        addRecords(sim->device(), 1);
        auto link = makeLink(300);
        Recorder rec(*link);
        QVERIFY(readAll(*link, rec, 1));

        sim->setSilent(true);
        QElapsedTimer t;
        t.start();
        link->dealsyndata(1, 5, -1);
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        QVERIFY(t.elapsed() >= 280);
        QCOMPARE(rec.results(), QStringList{outcome(1, sim->slavePath(), 5, false)});
        const ComPortState& s = link->portStates().at(0);
        QCOMPARE(s.opened, false);
        QVERIFY(!s.port->isOpen());
        QVERIFY(!s.timer->isActive());

        // What the device sends now is not read.
        rec.events.clear();
        sim->send(sim->device().dataReply());
        settle(300);
        QVERIFY(rec.events.isEmpty());
        QVERIFY(link->portStates().at(0).rxHex.isEmpty());

        // A request to the closed port cannot go out and fails at once.
        link->setResponseTimeout(10000);
        sim->clearReceived();
        link->dealsyndata(2, 5, 6);
        QCOMPARE(rec.results(), QStringList{outcome(2, sim->slavePath(), 5, false)});
        QVERIFY(!link->portStates().at(0).timer->isActive());
        settle(100);
        QVERIFY(sim->received().isEmpty());
    }

    void timeoutOfReadReportsNoAddress()
    {
        auto sim = addSim(5);
        sim->setSilent(true);
        auto link = makeLink(200);
        Recorder rec(*link);
        link->readrealdata();
        QVERIFY(rec.events.isEmpty());
        QTRY_COMPARE(rec.count(QStringLiteral("result")), 1);
        QCOMPARE(rec.results(), QStringList{outcome(0, sim->slavePath(), -1, false)});
    }

    void stopPortsForgetsAddresses()
    {
        auto a = addSim(5);
        auto b = addSim(6);
        auto link = makeLink();
        Recorder rec(*link);
        QVERIFY(readAll(*link, rec, 2));
        link->stopPorts();
        QCOMPARE(link->portStates().size(), 2);
        for (const ComPortState& s : link->portStates()) {
            QCOMPARE(s.devId, -1);
            QCOMPARE(s.opened, false);
            QCOMPARE(s.cmdState, 65535);
            QVERIFY(!s.port->isOpen());
            QVERIFY(!s.timer->isActive());
        }
        a->clearReceived();
        link->dealsyndata(1, 5, -1);
        link->dealsyndata(2, 6, 7);
        settle(150);
        QVERIFY(rec.events.isEmpty());
        QVERIFY(a->received().isEmpty());
        QCOMPARE(b->device().address(), 6);
    }

    void oneReadyReadTakesEveryOpenPortInOrder()
    {
        auto a = addSim(1);
        auto b = addSim(2);
        addRecords(a->device(), 2);
        addRecords(b->device(), 3);
        auto link = makeLink();
        Recorder rec(*link);
        link->openPorts();
        a->send(a->device().dataReply());
        b->send(b->device().dataReply());
        QTest::qSleep(50);

        // Port a's bytes wait in its buffer without a signal of their own...
        QSerialPort* pa = link->portStates().at(0).port;
        QSerialPort* pb = link->portStates().at(1).port;
        pa->blockSignals(true);
        QVERIFY(pa->waitForReadyRead(2000));
        pa->blockSignals(false);
        QVERIFY(pa->bytesAvailable() > 0);
        QVERIFY(rec.events.isEmpty());

        // ...and port b's signal takes both, a first.
        QVERIFY(pb->waitForReadyRead(2000));
        const QList<Event> results = rec.of(QStringLiteral("result"));
        QCOMPARE(results.size(), 2);
        QCOMPARE(results.at(0).port, a->slavePath());
        QCOMPARE(results.at(0).devId, 1);
        QCOMPARE(results.at(1).port, b->slavePath());
        QCOMPARE(results.at(1).devId, 2);
    }

    // ---- Behaviour beyond the plain receive path --------------------------

    void interleavedRepliesOnTwoPortsAssembledApart()
    {
        auto a = addSim(11);
        auto b = addSim(12);
        addRecords(a->device(), 30);
        addRecords(b->device(), 17);
        a->setChunkSize(5);
        b->setChunkSize(7);
        a->setDelay(15);
        b->setDelay(15);
        auto link = makeLink();
        Recorder rec(*link);
        link->readrealdata();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("result")), 2, 10000);
        settle(100);
        QStringList saves = rec.saves();
        saves.sort();
        QStringList sent{hexOf(a->device().dataReply()), hexOf(b->device().dataReply())};
        sent.sort();
        QCOMPARE(saves, sent);
        QStringList results = rec.results();
        results.sort();
        QCOMPARE(results, QStringList({outcome(0, a->slavePath(), 11, true), outcome(0, b->slavePath(), 12, true)}));
        QCOMPARE(link->portStates().at(0).devId, 11);
        QCOMPARE(link->portStates().at(1).devId, 12);
    }

    void slowReplyNeverSilentSucceeds()
    {
        auto sim = addSim(4);
        addRecords(sim->device(), 10); // 74 bytes
        sim->setChunkSize(8);
        sim->setDelay(100); // about 900 ms in all, never more than 100 ms silent
        auto link = makeLink(400);
        Recorder rec(*link);
        QElapsedTimer t;
        t.start();
        link->readrealdata();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("result")), 1, 5000);
        QVERIFY(t.elapsed() > 400);
        QCOMPARE(rec.results(), QStringList{outcome(0, sim->slavePath(), 4, true)});
        QCOMPARE(rec.count(QStringLiteral("save")), 1);
        QVERIFY(link->portStates().at(0).opened);
    }

    void storeFailureReportedAsFailure()
    {
        auto sim = addSim(5);
        addRecords(sim->device(), 2);
        auto link = makeLink();
        Recorder rec(*link);
        bool storeOk = false;
        connect(link.get(), &SerialPort::MySave_data, link.get(), [&] { link->dataStoreResult(storeOk); });
        auto readOnce = [&] {
            rec.events.clear();
            link->readrealdata();
            (void)QTest::qWaitFor([&] { return rec.count(QStringLiteral("result")) > 0; }, 5000); // the outcome is checked next
            return rec.results();
        };
        QCOMPARE(readOnce(), QStringList{outcome(0, sim->slavePath(), 5, false)});

        // A storage that succeeds reports success again.
        storeOk = true;
        QCOMPARE(readOnce(), QStringList{outcome(0, sim->slavePath(), 5, true)});

        // A stray failure outside a reply does not spoil the next one.
        link->dataStoreResult(false);
        QCOMPARE(readOnce(), QStringList{outcome(0, sim->slavePath(), 5, true)});
    }

    void progressReportedAndLimited()
    {
        auto sim = addSim(8);
        addRecords(sim->device(), 200); // 1404 bytes
        sim->setChunkSize(64);
        sim->setDelay(40); // about 0.9 s
        auto link = makeLink();
        Recorder rec(*link);
        QElapsedTimer t;
        t.start();
        link->readrealdata();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("result")), 1, 5000);
        const qint64 elapsed = t.elapsed();
        const QList<Event> progress = rec.of(QStringLiteral("progress"));
        QVERIFY(progress.size() >= 3);
        // At most one report per 200 ms, plus the final one.
        QVERIFY(progress.size() <= elapsed / SerialPort::kProgressIntervalMs + 2);
        int last = -1;
        for (const Event& p : progress) {
            QCOMPARE(p.port, sim->slavePath());
            QCOMPARE(p.total, 200);
            QVERIFY(p.received >= last && p.received <= 200);
            last = p.received;
        }
        QCOMPARE(last, 200);
        QVERIFY(progress.at(progress.size() - 2).received < 200);
        // The completion report comes before the message, the outcome last.
        QStringList order;
        for (const Event& e : rec.events.mid(rec.events.size() - 3))
            order << e.what;
        QCOMPARE(order, QStringList({"progress", "save", "result"}));
    }

    void garbageNeverGrowsBufferBeyondLargestReply()
    {
        auto sim = addSim(1);
        sim->setSilent(true);
        auto link = makeLink();
        Recorder rec(*link);
        link->openPorts();
        QCOMPARE(SerialPort::kMaxReplyHex, 2 * (4 + 7 * 65535));

        // A header announcing 65535 records, then endless filler.
        const QByteArray piece(64, char(0xee));
        link->receiveBytes(0, QByteArray::fromHex("ffffffff"));
        int maxSeen = 0;
        for (int i = 0; i < 10000; ++i) {
            link->receiveBytes(0, piece);
            maxSeen = qMax(maxSeen, int(link->portStates().at(0).rxHex.size()));
        }
        QVERIFY(maxSeen <= SerialPort::kMaxReplyHex);
        // The announced length was honoured exactly.
        QVERIFY(!rec.saves().isEmpty());
        QCOMPARE(rec.saves().at(0).size(), SerialPort::kMaxReplyHex);

        // One read larger than any reply leaves nothing larger behind.
        link->receiveBytes(0, QByteArray(3 * SerialPort::kMaxReplyHex, char(0x11)));
        QVERIFY(link->portStates().at(0).rxHex.size() <= SerialPort::kMaxReplyHex);
    }

    void reportReceiverMayReopenPorts()
    {
        auto a = addSim(1);
        auto b = addSim(2);
        addRecords(a->device(), 1);
        addRecords(b->device(), 1);
        auto link = makeLink();
        link->openPorts();
        // A receiver that restarts everything in the middle of a report.
        bool reopened = false;
        connect(link.get(), &SerialPort::data_Result, link.get(), [&] {
            if (!reopened) {
                reopened = true;
                link->openPorts();
            }
        });
        a->send(a->device().dataReply());
        b->send(b->device().dataReply());
        QTest::qSleep(30);
        QTRY_VERIFY(reopened);
        settle(100);
        QCOMPARE(link->portStates().size(), 2);
        QVERIFY(link->portStates().at(0).opened);
        QVERIFY(link->portStates().at(1).opened);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
