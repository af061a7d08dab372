// The simulated dosimeter: its answers to the three requests, its records
// and its pseudo-terminal. The link's tests rely on all of this.

#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "sim/SimDosimeter.h"
#include "sim/SimPty.h"

namespace {

// Everything readable on the program's side of the terminal within ms.
QByteArray readSlave(int fd, int ms)
{
    QByteArray all;
    QElapsedTimer t;
    t.start();
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            all.append(buf, int(n));
    }
    ::fcntl(fd, F_SETFL, flags);
    return all;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void recordLayout()
    {
        QCOMPARE(SimDosimeter::makeRecord(2016, 4, 14, 8, 0x1234), QByteArray::fromHex("16041408003412"));
        QCOMPARE(SimDosimeter::makeRecord(QDateTime(QDate(2023, 12, 31), QTime(23, 0)), 46.6, 7),
                 QByteArray::fromHex("23123123073412"));
        // Doses beyond the 16-bit field are held at its top.
        QCOMPARE(SimDosimeter::makeRecord(2020, 1, 1, 0, 1 << 20).right(2), QByteArray::fromHex("ffff"));
    }

    void readAnswersWithAllRecords()
    {
        SimDosimeter dev(5);
        dev.addRawRecord(QByteArray::fromHex("16041408003412"));
        QCOMPARE(dev.feed(QByteArray::fromHex("ffff72656164")), QByteArray::fromHex("0500010016041408003412"));
        // Its own address works as well; another does not.
        QCOMPARE(dev.feed(QByteArray::fromHex("0500") + "read"), dev.dataReply());
        QVERIFY(dev.feed(QByteArray::fromHex("0600") + "read").isEmpty());
        QCOMPARE(SimDosimeter(9).feed(QByteArray::fromHex("ffff") + "read"), QByteArray::fromHex("09000000"));
    }

    void requestsInPiecesAndAfterNoise()
    {
        SimDosimeter dev(0x0102);
        QVERIFY(dev.feed(QByteArray::fromHex("ff")).isEmpty());
        QVERIFY(dev.feed(QByteArray::fromHex("ff72")).isEmpty());
        QCOMPARE(dev.feed("ead"), QByteArray::fromHex("02010000"));
        QCOMPARE(dev.feed(QByteArray("noise") + QByteArray::fromHex("ffff") + "read"), QByteArray::fromHex("02010000"));
        // Two requests in one piece get two answers.
        QCOMPARE(dev.feed(QByteArray::fromHex("ffff") + "read" + QByteArray::fromHex("ffff") + "read"),
                 QByteArray::fromHex("0201000002010000"));
        // Noise alone is not hoarded.
        dev.feed(QByteArray(10000, 'x'));
        QVERIFY(dev.pendingInput() <= 6);
    }

    void clearEmptiesOwnMemoryOnly()
    {
        SimDosimeter dev(7);
        dev.generate(QDate(2020, 1, 1), QDate(2020, 1, 1), SimDosimeter::DosePattern::Flat, 1.0);
        QCOMPARE(dev.recordCount(), 24);
        QVERIFY(dev.feed(QByteArray::fromHex("0800") + "clear").isEmpty());
        QCOMPARE(dev.recordCount(), 24);
        QCOMPARE(dev.feed(QByteArray::fromHex("0700") + "clear"), QByteArray::fromHex("0700") + "clear ok");
        QCOMPARE(dev.recordCount(), 0);
    }

    void setIdTakesNewAddress()
    {
        SimDosimeter dev(7);
        QVERIFY(dev.feed(QByteArray::fromHex("0700") + "setid" + QByteArray::fromHex("09")).isEmpty());
        QCOMPARE(dev.feed(QByteArray::fromHex("00")), QByteArray::fromHex("0900") + "setid ok");
        QCOMPARE(dev.address(), 9);
        QVERIFY(dev.feed(QByteArray::fromHex("0700") + "setid" + QByteArray::fromHex("0a00")).isEmpty());
        QCOMPARE(dev.address(), 9);
        QCOMPARE(dev.feed(QByteArray::fromHex("0900") + "clear"), QByteArray::fromHex("0900") + "clear ok");
    }

    void loadRecordsFromFile()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("records.txt"));
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# device 5\n2016-04-14 08 46.6\n\n2016-04-14 09 0.25\n");
        f.close();
        SimDosimeter dev(5);
        QVERIFY(dev.loadRecords(name));
        QCOMPARE(dev.recordCount(), 2);
        QCOMPARE(dev.records().at(0), QByteArray::fromHex("16041408003412"));
        QCOMPARE(dev.records().at(1), QByteArray::fromHex("16041409001900"));

        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("2016-04-14 25 1.0\n");
        f.close();
        QString error;
        SimDosimeter bad(5);
        QVERIFY(!bad.loadRecords(name, &error));
        QVERIFY(error.contains(QLatin1String(":1:")));
        QVERIFY(!bad.loadRecords(dir.filePath(QStringLiteral("missing.txt")), &error));
    }

    void generateIsHourlyAndBounded()
    {
        SimDosimeter dev(1);
        QCOMPARE(dev.generate(QDate(2020, 2, 28), QDate(2020, 3, 1), SimDosimeter::DosePattern::Daily, 2.0), 72);
        QCOMPARE(dev.records().at(0), SimDosimeter::makeRecord(2020, 2, 28, 0, 20));
        QCOMPARE(dev.records().at(8), SimDosimeter::makeRecord(2020, 2, 28, 8, 200));
        QCOMPARE(dev.records().at(71), SimDosimeter::makeRecord(2020, 3, 1, 23, 20));
        SimDosimeter full(1);
        QCOMPARE(full.generate(QDate(2010, 1, 1), QDate(2020, 1, 1), SimDosimeter::DosePattern::Ramp, 1.0),
                 SimDosimeter::kMaxRecords);
        QCOMPARE(full.dataReply().size(), 4 + 7 * 65535);
        QCOMPARE(full.dataReply().mid(2, 2), QByteArray::fromHex("ffff"));
        SimDosimeter::DosePattern p;
        QVERIFY(SimDosimeter::parsePattern(QStringLiteral("flat"), &p));
        QVERIFY(!SimDosimeter::parsePattern(QStringLiteral("sine"), &p));
    }

    void ptyAnswersRequestsOnTheSlave()
    {
        SimPty sim(5);
        QVERIFY(sim.isValid());
        QVERIFY(sim.slavePath().startsWith(QLatin1String("/dev/")));
        sim.device().addRawRecord(QByteArray::fromHex("16041408003412"));
        const int fd = sim.slaveDescriptor();
        QCOMPARE(::write(fd, "\xff\xffread", 6), ssize_t(6));
        QCOMPARE(readSlave(fd, 200), QByteArray::fromHex("0500010016041408003412"));
        QCOMPARE(sim.received(), QByteArray::fromHex("ffff72656164"));
    }

    void ptyPacesPieces()
    {
        SimPty sim(5);
        sim.setChunkSize(4);
        sim.setDelay(60);
        const QByteArray bytes = QByteArray::fromHex("0102030405060708090a");  // three pieces
        QElapsedTimer t;
        t.start();
        sim.send(bytes);
        QVERIFY(!sim.idle());
        QCOMPARE(readSlave(sim.slaveDescriptor(), 50), bytes.left(4));
        QTRY_VERIFY(sim.idle());
        QVERIFY(t.elapsed() >= 110);
        QCOMPARE(readSlave(sim.slaveDescriptor(), 20), bytes.mid(4));
    }

    void ptySilentHearsButNeverAnswers()
    {
        SimPty sim(5);
        sim.setSilent(true);
        QCOMPARE(::write(sim.slaveDescriptor(), "\xff\xffread", 6), ssize_t(6));
        QVERIFY(readSlave(sim.slaveDescriptor(), 150).isEmpty());
        QCOMPARE(sim.received().size(), 6);
    }

    void ptyLargeReplyGetsThrough()
    {
        // Far more than the terminal buffers at once.
        SimPty sim(1);
        sim.device().generate(QDate(2015, 1, 1), QDate(2016, 12, 31), SimDosimeter::DosePattern::Ramp, 5.0);
        const QByteArray expected = sim.device().dataReply();
        sim.send(expected);
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < expected.size() && t.elapsed() < 10000)
            got += readSlave(sim.slaveDescriptor(), 20);
        QCOMPARE(got.size(), expected.size());
        QVERIFY(got == expected);
    }

    void symlinkFollowsTheSimulator()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("dosimeter"));
        {
            SimPty sim(1);
            QVERIFY(sim.createSymlink(link));
            QCOMPARE(QFileInfo(link).symLinkTarget(), sim.slavePath());
        }
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
