// The device road from the serial line into the database: simulated
// dosimeters on pseudo-terminals, the serial link and the processing thread
// wired as the main window wires them, on a real database file.

#include <QSqlQuery>
#include <QtTest>

#include <memory>

#include "app/SettingsAdpater.h"
#include "device/SerialPort.h"
#include "processing/mydeal_thread.h"
#include "sim/SimPty.h"
#include "support/ScratchDatabase.h"

namespace {

struct Outcome
{
    int type;
    QString port;
    int devId;
    bool ok;
};

PortDescription describe(const QString& path)
{
    PortDescription d;
    d.portName = path;
    d.systemLocation = path;
    d.description = QStringLiteral("simulated dosimeter");
    return d;
}

} // namespace

class tst_linkstorage : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<SettingsAdpater> settings;
    std::unique_ptr<SerialPort> link;
    std::unique_ptr<mydeal_thread> worker;
    QList<SimPty*> devices;
    QList<Outcome> outcomes;

    SimPty* addDevice(int address)
    {
        auto* pty = new SimPty(address, this);
        devices.append(pty);
        return pty;
    }

    void useDevices()
    {
        QList<PortDescription> list;
        for (SimPty* pty : devices)
            list.append(describe(pty->slavePath()));
        SerialPort::setPortLister([list] { return list; });
    }

    double value(const QString& sql)
    {
        const QVariant v = ws->value(sql);
        return v.isValid() ? v.toDouble() : -1;
    }

    int rows(const QString& table, int slaveId)
    {
        return int(value(QString("select count(*) from %1 where slaveId = %2").arg(table).arg(slaveId)));
    }

    void synchronise(int expectedOutcomes)
    {
        outcomes.clear();
        link->dealsyndata(0, -1, -1);
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), expectedOutcomes, 15000);
    }

private slots:
    void init()
    {
        ws = std::make_unique<ScratchDatabase>();
        settings = std::make_unique<SettingsAdpater>(ws->path("zudovi.ini"), QSettings::IniFormat);
        link = std::make_unique<SerialPort>(nullptr, settings.get(), ws->store.get());
        link->setResponseTimeout(3000);
        worker = std::make_unique<mydeal_thread>(nullptr, ws->store.get(), settings.get());
        connect(link.get(), &SerialPort::MySave_data, worker.get(), &mydeal_thread::MY_receiveData);
        connect(worker.get(), &mydeal_thread::dataStored, link.get(), &SerialPort::dataStoreResult,
                Qt::DirectConnection);
        connect(link.get(), &SerialPort::data_Result, this, [this](int type, QString port, int devId, bool ok) {
            outcomes.append({type, port, devId, ok});
        });
    }

    void cleanup()
    {
        link.reset();
        worker.reset();
        qDeleteAll(devices);
        devices.clear();
        settings.reset();
        ws.reset();
        SerialPort::setPortLister({});
    }

    void oneReadingReachesTheTables()
    {
        SimPty* dev = addDevice(5);
        QVERIFY(dev->isValid());
        // 14 April 2016, hour 08, dose 0x1234 hundredths.
        QVERIFY(dev->device().addRawRecord(QByteArray::fromHex("16041408003412")));
        useDevices();
        synchronise(1);
        QCOMPARE(outcomes[0].type, 0);
        QCOMPARE(outcomes[0].devId, 5);
        QVERIFY(outcomes[0].ok);
        QCOMPARE(rows("Realdata", 5), 1);
        QCOMPARE(value("select probeValue from Realdata where slaveId = 5 and dataTime = '20160414080000'"), 46.6);
        QCOMPARE(value("select probeValue from Monthdata where slaveId = 5 and dataTime = '20160414'"), 46.6);
        QCOMPARE(value("select probeValue from Yeardata where slaveId = 5 and dataTime = '201604'"), 46.6);
    }

    void twoPortsInterleavedStoreUnderTheirOwnAddress()
    {
        SimPty* a = addDevice(7);
        SimPty* b = addDevice(300);
        const QDateTime start(QDate(2016, 4, 30), QTime(20, 0));
        for (int i = 0; i < 40; ++i) {
            a->device().addRecord(start.addSecs(3600 * i), 1.0);
            b->device().addRecord(start.addSecs(3600 * i), 2.5);
        }
        // Small pieces with pauses, so that both replies are on the line at once.
        for (SimPty* pty : {a, b}) {
            pty->setChunkSize(13);
            pty->setDelay(2);
        }
        useDevices();
        synchronise(2);
        for (const Outcome& o : outcomes)
            QVERIFY(o.ok);
        QCOMPARE(rows("Realdata", 7), 40);
        QCOMPARE(rows("Realdata", 300), 40);
        QCOMPARE(value("select sum(probeValue) from Realdata where slaveId = 300"), 100.0);
        // 20:00 of 30 April to 11:00 of 2 May: 4 hours in April, 36 in May.
        QCOMPARE(value("select probeValue from Yeardata where slaveId = 7 and dataTime = '201604'"), 4.0);
        QCOMPARE(value("select probeValue from Yeardata where slaveId = 7 and dataTime = '201605'"), 36.0);
        QCOMPARE(value("select probeValue from Monthdata where slaveId = 300 and dataTime = '20160501'"), 60.0);
    }

    void readingAgainStoresNothingTwice()
    {
        SimPty* dev = addDevice(9);
        dev->device().generate(QDate(2016, 1, 1), QDate(2016, 1, 3), SimDosimeter::DosePattern::Flat, 0.5);
        const int n = dev->device().recordCount();
        QVERIFY(n > 24);
        useDevices();
        synchronise(1);
        QVERIFY(outcomes[0].ok);
        const double total = value("select sum(probeValue) from Yeardata where slaveId = 9");
        QCOMPARE(rows("Realdata", 9), n);
        synchronise(1);
        QVERIFY(outcomes[0].ok);
        QCOMPARE(rows("Realdata", 9), n);
        QCOMPARE(value("select sum(probeValue) from Yeardata where slaveId = 9"), total);
        QCOMPARE(value("select sum(probeValue) from Monthdata where slaveId = 9"), total);
    }

    void storageFailureIsReportedAndLeavesNothing()
    {
        SimPty* dev = addDevice(11);
        const QDateTime start(QDate(2016, 6, 1), QTime(0, 0));
        for (int i = 0; i < 10; ++i)
            dev->device().addRecord(start.addSecs(3600 * i), 1.25);
        useDevices();
        // The sixth reading cannot be written.
        QSqlQuery q(ws->db);
        QVERIFY(q.exec("CREATE TRIGGER refuse BEFORE INSERT ON Realdata "
                       "WHEN cast(NEW.dataTime as text) = '20160601050000' "
                       "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        synchronise(1);
        QCOMPARE(outcomes[0].type, 0);
        QCOMPARE(outcomes[0].devId, 11);
        QVERIFY(!outcomes[0].ok);
        QCOMPARE(rows("Realdata", 11), 0);
        QCOMPARE(rows("Monthdata", 11), 0);
        QCOMPARE(rows("Yeardata", 11), 0);

        // Once the cause is gone the same readings are stored, once.
        QVERIFY(q.exec("DROP TRIGGER refuse"));
        synchronise(1);
        QVERIFY(outcomes[0].ok);
        QCOMPARE(rows("Realdata", 11), 10);
        QCOMPARE(value("select probeValue from Monthdata where slaveId = 11"), 12.5);
    }

    void invalidHoursAreSkippedOthersStored()
    {
        SimPty* dev = addDevice(12);
        QVERIFY(dev->device().addRawRecord(QByteArray::fromHex("16041408000001")));  // fine: 2.56
        QVERIFY(dev->device().addRawRecord(QByteArray::fromHex("16130108000100")));  // month 13
        QVERIFY(dev->device().addRawRecord(QByteArray::fromHex("16043108000100")));  // 31 April
        QVERIFY(dev->device().addRawRecord(QByteArray::fromHex("16041424000100")));  // hour 24
        QVERIFY(dev->device().addRawRecord(QByteArray::fromHex("1604140a000100")));  // not decimal
        QVERIFY(dev->device().addRawRecord(QByteArray::fromHex("16041409000002")));  // fine: 5.12
        useDevices();
        synchronise(1);
        QVERIFY(outcomes[0].ok);
        QCOMPARE(rows("Realdata", 12), 2);
        QCOMPARE(value("select probeValue from Monthdata where slaveId = 12"), 7.68);
        QCOMPARE(rows("Monthdata", 12), 1);
        QCOMPARE(rows("Yeardata", 12), 1);
    }
};

QTEST_GUILESS_MAIN(tst_linkstorage)
#include "tst_linkstorage.moc"
