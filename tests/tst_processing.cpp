// Storing data replies (the processing thread's worker), and the serial link reporting what the storage made of one.
#include <QtTest>

#include "core/device/SerialPort.h"
#include "core/readings/mydeal_thread.h"
#include "support/ScratchDatabase.h"

static QString word(int v) { return QString::asprintf("%02x%02x", v & 0xff, (v >> 8) & 0xff); }

// One record: the hour as BCD yyMMddhh (written as the decimal number), a spare byte, the dose in hundredths of a μSv.
static QString rec(int hour, int dose) { return QString::number(hour).rightJustified(8, '0') + "00" + word(dose); }

static QString reply(int address, const QStringList& r) { return word(address) + word(r.size()) + r.join(QString()); }

// A stored hour, existing and new day and month totals: every statement of a reply runs.
const QString full = reply(5, {rec(16033122, 50), rec(16041408, 100), rec(16041409, 200),
                               rec(16041501, 300), rec(16033123, 400)});

class tst_processing : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<mydeal_thread> thread;

    void exec(const QString& sql) { QVERIFY2(ws->exec(sql), qPrintable(sql)); }

    // A dose table as "slaveId dataTime value" in key order; a key stored twice shows twice.
    QString rows(const QString& table)
    {
        return ws->list("select slaveId, dataTime, probeValue from " + table + " order by slaveId, dataTime, id");
    }

    QString snapshot() { return rows("Realdata") + '|' + rows("Monthdata") + '|' + rows("Yeardata"); }

    // Hands a message over as the link does: 1 stored, 0 refused, -1 not reported exactly once.
    int send(const QString& message)
    {
        QSignalSpy spy(thread.get(), &mydeal_thread::dataStored);
        thread->MY_receiveData(message);
        if (!spy.wait(30000)) // reported through this thread's event loop
            return -1;
        QCoreApplication::processEvents(); // a second report would be queued by now
        return spy.count() == 1 ? int(spy.at(0).at(0).toBool()) : -1;
    }

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    void init()
    {
        thread.reset();
        ws.reset(); // its connections go before the next one's are made
        ws = std::make_unique<ScratchDatabase>();
        thread = std::make_unique<mydeal_thread>(nullptr, ws->store.get(), nullptr);
    }

    void storesReadingsAndTotals()
    {
        exec("insert into Realdata(slaveId,dataTime,probeValue) values(4660,'20160414070000',10.5)");
        exec("insert into Monthdata(slaveId,dataTime,probeValue) values(4660,'20160414',10.5),(6,'20160414',7)");
        exec("insert into Yeardata(slaveId,dataTime,probeValue) values(4660,'201604',100.25),(6,'201604',70)");
        // Out of order, an hour twice (the first counts), across months and years, the dose's low byte first,
        // and hours that are none: month 13, 29 February 2015, hour 24, nibbles that are no decimal digit.
        const QString message = reply(0x1234, {rec(16041409, 275), rec(16041408, 150), rec(16041408, 200),
            rec(16043023, 2748), rec(16050100, 0xffff), rec(17010100, 0x1234), rec(16022910, 200), rec(10100, 300),
            rec(16130108, 1), rec(15022908, 1), rec(16041424, 1), "1604140a00" + word(1), "1604a10800" + word(1)});
        QCOMPARE(send(message), 1);
        QCOMPARE(rows("Realdata"), "4660 20000101000000 3,4660 20160229100000 2,4660 20160414070000 10.5,"
                                   "4660 20160414080000 1.5,4660 20160414090000 2.75,4660 20160430230000 27.48,"
                                   "4660 20160501000000 655.35,4660 20170101000000 46.6");
        QCOMPARE(rows("Monthdata"), "6 20160414 7,4660 20000101 3,4660 20160229 2,4660 20160414 14.75,"
                                    "4660 20160430 27.48,4660 20160501 655.35,4660 20170101 46.6");
        QCOMPARE(rows("Yeardata"), "6 201604 70,4660 200001 3,4660 201602 2,4660 201604 131.98,"
                                   "4660 201605 655.35,4660 201701 46.6");

        // Again, with nothing new in it, no records, or no valid hour: accepted, nothing changes.
        const QString before = snapshot();
        QCOMPARE(send(message), 1);
        QCOMPARE(send(word(0x1234) + word(0)), 1);
        QCOMPARE(send(reply(0x1234, {rec(16130108, 1)})), 1);
        QCOMPARE(snapshot(), before);
    }

    void failureStoresNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("message");
        QTest::newRow("reading insert") << "insert" << "Realdata" << "cast(NEW.dataTime as text) = '20160414090000'" << full;
        QTest::newRow("day total insert") << "insert" << "Monthdata" << "cast(NEW.dataTime as text) = '20160415'" << full;
        QTest::newRow("day total update") << "update" << "Monthdata" << "" << full;
        QTest::newRow("month total insert") << "insert" << "Yeardata" << "" << full;
        QTest::newRow("month total update") << "update" << "Yeardata" << "" << full;
        QTest::newRow("commit") << "commit" << "Realdata" << "" << full;
        QTest::newRow("totals lookup") << "drop" << "Monthdata" << "" << full;
        // The lookup fails while inserting would work: that must not pass for "not stored yet".
        QTest::newRow("readings lookup") << "lookup" << "Realdata" << "" << full;
        QTest::newRow("record more than announced") << "" << "" << "" << full + rec(16041410, 300);
        QTest::newRow("upper-case hex") << "" << "" << "" << full.toUpper();
        QTest::newRow("not hex") << "" << "" << "" << QString(full).replace(10, 1, QLatin1Char('x'));
    }

    void failureStoresNothing()
    {
        QFETCH(QString, how);
        QFETCH(QString, table);
        QFETCH(QString, when);
        QFETCH(QString, message);
        QCOMPARE(send(reply(5, {rec(16033122, 1000)})), 1);
        QVERIFY(how.isEmpty() || ws->sabotage(how, table, when));
        const QString before = snapshot();
        QCOMPARE(send(message), 0);
        QCOMPARE(snapshot(), before);
        if (how != "insert" && how != "update" && how != "commit")
            return; // broken for good
        QVERIFY(ws->repair(how, table));
        // Nothing of the failed reply lingers: it is stored whole, and only inserted readings count.
        QCOMPARE(send(message), 1);
        QCOMPARE(rows("Monthdata"), "5 20160331 14,5 20160414 3,5 20160415 3");
        QCOMPARE(rows("Yeardata"), "5 201603 14,5 201604 6");
    }

    void testcaldataRecomputesTotals()
    {
        QCOMPARE(send(reply(20, {rec(16041400, 100), rec(16041423, 250), rec(16041323, 400), rec(16041500, 800)})), 1);
        QCOMPARE(send(reply(21, {rec(16041405, 1600)})), 1);
        // Totals gone wrong behind the program's back; run twice, they are set, not added to.
        exec("update Monthdata set probeValue = 999 where slaveId = 20 and dataTime = '20160414'");
        exec("update Yeardata set probeValue = 999");
        thread->MY_testcalData();
        thread->MY_testcalData();
        QVERIFY(thread->store(word(20) + word(0))); // queued behind them: they are done
        QCOMPARE(rows("Monthdata"), "20 20160413 4,20 20160414 3.5,20 20160415 8,21 20160414 16");
        QCOMPARE(rows("Yeardata"), "20 201604 15.5,21 201604 999");
        // Missing totals are created; the next reply counts only its own readings.
        exec("delete from Monthdata");
        exec("delete from Yeardata");
        thread->MY_testcalData();
        QVERIFY(thread->store(word(20) + word(0)));
        QCOMPARE(rows("Yeardata"), "20 201604 15.5");
        QCOMPARE(send(reply(20, {rec(16041401, 50)})), 1);
        QCOMPARE(rows("Monthdata"), "20 20160414 4");
    }

    void workerWiredWhenConstructed()
    {
        for (int i = 0; i < 20; ++i) {
            thread = std::make_unique<mydeal_thread>(nullptr, ws->store.get(), nullptr);
            QVERIFY(thread->isRunning());
            QCOMPARE(send(reply(5, {rec(16041400 + i, 100)})), 1);
        }
        QCOMPARE(rows("Monthdata"), "5 20160414 20");
    }

    // Wired as the main window wires them: a reply the storage refuses is a failed read.
    void linkReportsStorageOutcome()
    {
        SerialPort::setPortLister([] { return QList<PortDescription>{{"P", "P", {}, {}}}; }); // no such port
        SerialPort link(nullptr, nullptr, ws->store.get());
        link.openPorts();
        link.setAwaitStorage(true);
        connect(&link, &SerialPort::MySave_data, thread.get(), &mydeal_thread::MY_receiveData);
        connect(thread.get(), &mydeal_thread::dataStored, &link, &SerialPort::dataStoreResult);
        QSignalSpy spy(&link, &SerialPort::data_Result);
        const QByteArray bytes = QByteArray::fromHex(reply(11, {rec(16060100, 125), rec(16060101, 125)}).toUtf8());
        QVERIFY(ws->sabotage("insert", "Yeardata"));
        link.receiveBytes(0, bytes);
        QVERIFY(spy.isEmpty()); // not before the storage has answered
        QVERIFY(spy.wait(30000));
        QVERIFY(ws->repair("insert", "Yeardata"));
        link.receiveBytes(0, bytes);
        QVERIFY(spy.wait(30000));
        link.dataStoreResult(false); // outside a reply: spoils nothing
        link.receiveBytes(0, bytes);
        QVERIFY(spy.wait(30000));
        const QVariantList stored{0, "P", 11, true};
        QCOMPARE(QList<QVariantList>(spy), (QList<QVariantList>{{3, "P", 11, false}, stored, stored}));
        QCOMPARE(rows("Monthdata"), "11 20160601 2.5");
    }
};

QTEST_GUILESS_MAIN(tst_processing)
#include "tst_processing.moc"
