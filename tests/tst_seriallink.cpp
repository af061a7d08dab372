// The serial link over simulated dosimeters on pseudo-terminals; the receive path also fed on absent ports "P", "Q".
#include <QtTest>

#include "core/device/SettingsAdpater.h"
#include "core/device/SerialPort.h"
#include "sim/SimPty.h"

class tst_seriallink : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    SettingsAdpater settings{dir.filePath("zudovi.ini"), QSettings::IniFormat};
    QList<PortDescription> listed;
    std::vector<std::unique_ptr<SimPty>> sims;
    std::unique_ptr<SerialPort> link;
    QStringList events;

    static QByteArray hex(const QString& text) { return QByteArray::fromHex(text.toLatin1()); }

    SimPty* addSim(int address)
    {
        sims.push_back(std::make_unique<SimPty>(address));
        listed.append({sims.back()->slavePath(), sims.back()->slavePath(), {}, {}});
        return sims.back().get();
    }

    // Every report lands in events; an outcome also shows the port's address at that moment.
    void makeLink(const QStringList& entries = {})
    {
        for (const QString& name : entries)
            listed.append({name, name, {}, {}});
        link = std::make_unique<SerialPort>(nullptr, &settings, nullptr);
        connect(link.get(), &SerialPort::data_Result, this, [this](int type, QString port, int dev, bool ok) {
            int now = -2;
            for (const ComPortState& s : link->portStates())
                now = s.comName == port ? s.devId : now;
            events << QString("result %1 %2 %3 %4 @%5").arg(type).arg(port).arg(dev).arg(ok).arg(now);
        });
        connect(link.get(), &SerialPort::MySave_data, this, [this](QString text) { events << "save " + text; });
        connect(link.get(), &SerialPort::receiveProgress, this,
                [this](QString p, int n, int of) { events << QString("progress %1 %2/%3").arg(p).arg(n).arg(of); });
        connect(link.get(), &SerialPort::portOpenFailed, this,
                [this](QString p, QString why) { events << "failed " + p + ": " + why; });
        link->openPorts();
    }

private slots:
    void initTestCase() { SerialPort::setPortLister([this] { return listed; }); }

    void init()
    {
        link.reset();
        sims.clear();
        listed.clear();
        events.clear();
        settings.setComList({});
    }

    void openingReadingAndRequests()
    {
        SimPty* a = addSim(1);
        SimPty* b = addSim(2);
        SimPty c(3); // not enumerated
        const QString symlink = dir.filePath("dosimeter-link");
        QVERIFY(a->isValid() && b->isValid() && c.createSymlink(symlink));
        // Configured ports: bare names are in /dev; missing, non-terminal, already known ones skip; parameters ignored.
        QList<Com_Info> coms;
        for (const QString& name : {QString("COM1:"), symlink, QString("/nonexistent/ttyX"), a->slavePath(),
                                    QCoreApplication::applicationFilePath(), c.slavePath(), QString("null")})
            coms << Com_Info{0, name};
        settings.setComList(coms);
        QSerialPort probe("null");
        QVERIFY(!probe.open(QIODevice::ReadWrite));
        makeLink();
        link->readrealdata();
        const auto states = [this] { // per entry: name, opened / port open / timer running, command, address, speed
            QStringList list;
            for (const ComPortState& s : link->portStates())
                list << QString("%1 %2%3%4 %5 %6 %7").arg(s.comName).arg(s.opened).arg(s.port->isOpen())
                            .arg(s.timer->isActive()).arg(s.cmdState).arg(s.devId).arg(s.port->baudRate());
            return list;
        };
        QCOMPARE(states(), QStringList({a->slavePath() + " 111 0 -1 38400", b->slavePath() + " 111 0 -1 38400",
                                        symlink + " 111 0 -1 38400", "null 000 65535 -1 38400"}));
        QTRY_COMPARE(QSet<QString>(events.begin(), events.end()),
                     QSet<QString>({"failed null: " + probe.errorString(), "result 0 " + a->slavePath() + " 1 1 @1",
                                    "result 0 " + b->slavePath() + " 2 1 @2", "result 0 " + symlink + " 3 1 @3"}));

        events.clear(); // one readyRead takes every port: a's bytes wait unannounced, b's signal takes both, a first
        a->send(hex("04000000"));
        b->send(hex("05000000"));
        QSignalBlocker blocker(link->portStates().at(0).port);
        QVERIFY(link->portStates().at(0).port->waitForReadyRead(2000));
        blocker.unblock();
        QVERIFY(link->portStates().at(1).port->waitForReadyRead(2000));
        QCOMPARE(events, QStringList({"result 0 " + a->slavePath() + " 4 1 @4",
                                      "result 0 " + b->slavePath() + " 5 1 @5"}));
        link->stopPorts(); // the addresses are forgotten
        QCOMPARE(states().join(' ').count(" 000 65535 -1 38400"), 4);
        link->openPorts(); // opened anew: the new ones open, the old ones (port and timer each) deleted
        QCOMPARE(states().join(' ').count(" 110 65535 -1 38400"), 3);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(link->children().size(), 8);
        QCOMPARE(QList<int>({SerialPort::toDataBits("8"), SerialPort::toStopBits("1.5"), SerialPort::toStopBits("3"),
                             SerialPort::toParity("Odd"), SerialPort::toFlowControl("SoftwareControl")}),
                 QList<int>({QSerialPort::Data8, QSerialPort::OneAndHalfStop, QSerialPort::UnknownStopBits,
                             QSerialPort::OddParity, QSerialPort::SoftwareControl}));

        a->clearReceived();
        link->dealsyndata(0, -1, -1); // a synchronisation reads every device; then requests, answered by a
        QTRY_COMPARE(events.size(), 6);
        // Out of range, unknown, no such device: nothing is sent (the device heard the read only) or reported.
        const ComPortState& s = link->portStates().at(0);
        for (const QList<int>& r : QList<QList<int>>{{1, 70000, -1}, {1, -1, -1}, {1, 6, -1}, {2, 1, -1},
                                                     {2, 1, 65536}, {2, -1, 3}, {5, 1, 6}})
            link->dealsyndata(r[0], r[1], r[2]);
        QTest::qWait(100);
        QVERIFY(events.size() == 6 && a->received() == hex("ffff") + "read" && !s.timer->isActive());
        const auto request = [&](int type, int oldId, int newId, const QByteArray& frame, const QString& outcome) {
            events.clear();
            a->clearReceived();
            link->dealsyndata(type, oldId, newId);
            QTRY_COMPARE(events, QStringList{QString("result %1 %2%3").arg(type).arg(a->slavePath(), outcome)});
            QCOMPARE(a->received(), frame);
            QVERIFY(s.cmdState == type && !s.timer->isActive());
        };
        request(1, 1, -1, hex("0100") + "clear", " 1 1 @1");
        request(2, 1, 0, hex("0100") + "setid" + hex("0000"), " 1 1 @0");
        request(2, 0, 65535, hex("0000") + "setid" + hex("ffff"), " 0 1 @65535");

        a->setSilent(true); // silent: bytes keep the timer going (it measures silence), then the port is closed
        link->setResponseTimeout(400);
        link->dealsyndata(1, 65535, -1);
        QTest::qSleep(100);
        const int left = s.timer->remainingTime();
        link->receiveBytes(0, hex("0500"));
        QVERIFY(s.timer->remainingTime() > left);
        QTRY_COMPARE(events.size(), 2);
        QVERIFY(!s.opened && !s.port->isOpen() && !s.timer->isActive() && s.rxHex.isEmpty());
        link->dealsyndata(2, 65535, 6); // cannot go out: fails at once, and the device hears nothing
        QCOMPARE(events.mid(1), QStringList({"result 1 " + a->slavePath() + " 65535 0 @65535",
                                            "result 2 " + a->slavePath() + " 65535 0 @65535"}));
        QTest::qWait(200);
        QVERIFY(events.size() == 3 && !s.timer->isActive() && a->received().endsWith(hex("ffff") + "clear"));
    }

    void receive_data()
    {
        QTest::addColumn<QStringList>("pieces"); // "P hex": bytes arriving on port P (or Q)
        QTest::addColumn<QStringList>("expected");
        const QString two = "05000200160414080034121604140900ff00";
        QTest::newRow("pieces on two ports, then the next reply")
            << QStringList{"P " + two.left(22), "Q 0600", "P " + two.mid(22, 8), "Q 0100160414", "P " + two.mid(30),
                           "Q 10001200", "P " + two.left(22), "P " + two.mid(22, 8), "P " + two.mid(30)}
            << QStringList{"progress P 1/2", "progress P 2/2", "save " + two, "result 0 P 5 1 @5", "progress Q 1/1",
                           "save 0600010016041410001200", "result 0 Q 6 1 @6", "progress P 1/2", "progress P 2/2",
                           "save " + two, "result 0 P 5 1 @5"};
        QTest::newRow("text across bytes is data") << QStringList{"P 0500020016041408a636c656172206f6b100"}
            << QStringList{"progress P 2/2", "save 0500020016041408a636c656172206f6b100", "result 0 P 5 1 @5"};
        // Acknowledgements name the old address, the port has the new one; both texts mean clear; a text may lead.
        QTest::newRow("acknowledgements") << QStringList{"P 09000000", "P 07007365", "P 746964206f", "P 6b",
            "P 08007365746964206f6b636c656172206f6b", "P 636c656172206f6b", "P 7365746964206f6b"}
            << QStringList{"result 0 P 9 1 @9", "result 2 P 9 1 @7", "result 1 P 7 1 @8", "result 1 P 8 1 @27747",
                           "result 2 P 27747 1 @25971"};
    }

    void receive()
    {
        QFETCH(QStringList, pieces);
        QFETCH(QStringList, expected);
        makeLink({"P", "Q"});
        link->receiveBytes(2, "x"); // no such entry
        for (const QString& piece : pieces)
            link->receiveBytes(piece.startsWith('Q'), hex(piece.mid(2)));
        QCOMPARE(events, expected);
        QVERIFY(link->portStates().at(0).rxHex.isEmpty() && link->portStates().at(1).rxHex.isEmpty());
    }

    void progressBufferBoundAndPortsDroppedMidReply()
    {
        makeLink({"P"});
        link->readrealdata(); // no port opens: the read fails
        QVERIFY(events.size() == 2 && events[0].startsWith("failed P: ") && events[1] == "result 0  0 0 @-2");
        QByteArray reply = hex("0800c800");
        for (int i = 0; i < 200; ++i)
            reply += SimDosimeter::makeRecord(2016, 4, 14, i % 24, i);
        QElapsedTimer t;
        t.start();
        for (int pos = 0; pos < reply.size(); pos += 64) {
            link->receiveBytes(0, reply.mid(pos, 64));
            QTest::qSleep(40);
        }
        const QStringList progress = events.filter("progress");
        QVERIFY(progress.size() >= 3 && progress.size() <= t.elapsed() / 200 + 2);
        QVERIFY(!progress[progress.size() - 2].contains("200/"));
        QCOMPARE(events.mid(events.size() - 3),
                 QStringList({"progress P 200/200", "save " + reply.toHex(), "result 0 P 8 1 @8"}));
        // A header announcing 65535 records, then endless filler: taken at exactly the announced length.
        link->receiveBytes(0, hex("ffffffff"));
        for (int i = 0; i < 10; ++i)
            link->receiveBytes(0, QByteArray(65536, char(0xee)));
        QCOMPARE(events.filter("save").size(), 2);
        QCOMPARE(events.filter("save").last().size(), 5 + SerialPort::kMaxReplyHex);
        link->receiveBytes(0, QByteArray(3 * SerialPort::kMaxReplyHex, char(0x11)));
        QVERIFY(link->portStates().at(0).rxHex.size() <= SerialPort::kMaxReplyHex);
        listed.clear(); // a receiver of the progress drops every port mid-reply
        connect(link.get(), &SerialPort::receiveProgress, this, [this] { link->openPorts(); });
        link->receiveBytes(0, hex("0500020016041408003412"));
        QVERIFY(link->portStates().isEmpty());
        QCOMPARE(events.last(), "progress P 1/2");
    }
};

QTEST_GUILESS_MAIN(tst_seriallink)
#include "tst_seriallink.moc"
