#include "processing/mydeal_thread.h"
#include "QsLog/QsLog.h"
#include "support/ScratchDatabase.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QtTest>

#include <memory>
#include <utility>

namespace {

// Keeps the lines the logger hands over; lines may come from any thread.
class CapturingDestination : public QsLogging::Destination
{
public:
    void write(const QString& message, QsLogging::Level) override
    {
        QMutexLocker locker(&mutex);
        lines.append(message);
    }
    bool isValid() const override { return true; }

    QStringList taken()
    {
        QMutexLocker locker(&mutex);
        return std::exchange(lines, {});
    }

private:
    QMutex mutex;
    QStringList lines;
};

QString hexWordText(int value)
{
    return QString::asprintf("%02x%02x", value & 0xff, (value >> 8) & 0xff);
}

// One 7-byte record: BCD year (within the century), month, day, hour, a spare
// byte and the dose in hundredths of a μSv.
QString record(int yy, int mm, int dd, int hh, int hundredths)
{
    return QString::asprintf("%02d%02d%02d%02d00", yy, mm, dd, hh) + hexWordText(hundredths);
}

QString reply(int address, const QStringList& records)
{
    return hexWordText(address) + hexWordText(records.size()) + records.join(QString());
}

} // namespace

class tst_processing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storesReadingsAndTotals_data();
    void storesReadingsAndTotals();
    void repeatedReplyChangesNothing();
    void sameHourTwiceStoresFirst();
    void doseIsSixteenBitHundredths();
    void emptyReplyIsOk();
    void failureRollsBackWholeReply_data();
    void failureRollsBackWholeReply();
    void failedCommitRollsBack();
    void failedLookupStoresNothing();
    void invalidHoursSkipped();
    void malformedReplyRefused_data();
    void malformedReplyRefused();
    void devicesDaysAndMonthsKeyed();
    void startLineLogged();
    void constructorWiresWorkerBeforeReturning();
    void destructionStopsThread();
    void testcaldataRecomputesTotals();

private:
    void exec(const QString& sql) { QVERIFY2(ws->exec(sql), qPrintable(sql)); }
    // Every row of the three dose tables, ids included.
    QStringList snapshot();
    // dataTime -> probeValue of one device in one table.
    QMap<QString, double> values(const QString& table, int slaveId);
    bool send(const QString& message);

    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<mydeal_thread> thread;
    std::shared_ptr<CapturingDestination> logLines = std::make_shared<CapturingDestination>();
};

void tst_processing::initTestCase()
{
    QsLogging::Logger::instance().addDestination(logLines);
}

void tst_processing::init()
{
    ws = std::make_unique<ScratchDatabase>();
    thread = std::make_unique<mydeal_thread>(nullptr, ws->store.get(), nullptr);
}

void tst_processing::cleanup()
{
    thread.reset();
    ws.reset();
}

QStringList tst_processing::snapshot()
{
    QStringList rows;
    for (const char* table : {"Realdata", "Monthdata", "Yeardata"}) {
        QSqlQuery q(ws->db);
        if (!q.exec(QStringLiteral("select id, slaveId, dataTime, probeValue from %1 order by id")
                        .arg(QLatin1String(table)))) {
            rows << QStringLiteral("%1 missing").arg(QLatin1String(table));
            continue;
        }
        while (q.next())
            rows << QStringLiteral("%1|%2|%3|%4|%5")
                        .arg(QLatin1String(table), q.value(0).toString(), q.value(1).toString(),
                             q.value(2).toString(), QString::number(q.value(3).toDouble(), 'g', 17));
    }
    return rows;
}

QMap<QString, double> tst_processing::values(const QString& table, int slaveId)
{
    QMap<QString, double> result;
    QSqlQuery q(ws->db);
    q.prepare(QStringLiteral("select dataTime, probeValue from %1 where slaveId = ?").arg(table));
    q.addBindValue(slaveId);
    if (!q.exec())
        return result;
    while (q.next()) {
        const QString key = q.value(0).toString();
        // A key twice would be a duplicated reading or total: make it visible.
        result.insert(result.contains(key) ? key + QLatin1String("#dup") : key,
                      q.value(1).toDouble());
    }
    return result;
}

// Hands a message over as the serial link does and returns the outcome.
bool tst_processing::send(const QString& message)
{
    QSignalSpy spy(thread.get(), &mydeal_thread::dataStored);
    thread->MY_receiveData(message);
    if (spy.count() != 1) {
        qWarning("dataStored emitted %d times", spy.count());
        return false;
    }
    return spy.at(0).at(0).toBool();
}

// ---- Storing readings and totals -------------------------------------------

void tst_processing::storesReadingsAndTotals_data()
{
    QTest::addColumn<bool>("totalsBefore");
    QTest::newRow("fresh totals") << false;
    QTest::newRow("existing totals") << true;
}

void tst_processing::storesReadingsAndTotals()
{
    QFETCH(bool, totalsBefore);
    if (totalsBefore) {
        exec("insert into Realdata(slaveId,dataTime,probeValue) values(5,'20160414070000',10.5)");
        exec("insert into Monthdata(slaveId,dataTime,probeValue) values(5,'20160414',10.5)");
        exec("insert into Yeardata(slaveId,dataTime,probeValue) values(5,'201604',100.25)");
    }
    // Another device's totals of the same keys must stay as they are.
    exec("insert into Monthdata(slaveId,dataTime,probeValue) values(6,'20160414',7)");
    exec("insert into Yeardata(slaveId,dataTime,probeValue) values(6,'201604',70)");

    QThread* storingThread = nullptr;
    connect(thread.get(), &mydeal_thread::dataStored, this,
            [&storingThread] { storingThread = QThread::currentThread(); }, Qt::DirectConnection);

    QVERIFY(send(reply(5, {record(16, 4, 14, 8, 150), record(16, 4, 14, 9, 275)})));
    // Stored synchronously, in the thread that handed the reply over.
    QCOMPARE(storingThread, QThread::currentThread());

    QMap<QString, double> real{{"20160414080000", 1.5}, {"20160414090000", 2.75}};
    if (totalsBefore)
        real.insert("20160414070000", 10.5);
    QCOMPARE(values("Realdata", 5), real);
    const double day = totalsBefore ? 10.5 + 1.5 + 2.75 : 1.5 + 2.75;
    const double month = totalsBefore ? 100.25 + 1.5 + 2.75 : 1.5 + 2.75;
    QCOMPARE(values("Monthdata", 5), (QMap<QString, double>{{"20160414", day}}));
    QCOMPARE(values("Yeardata", 5), (QMap<QString, double>{{"201604", month}}));
    QCOMPARE(values("Monthdata", 6), (QMap<QString, double>{{"20160414", 7}}));
    QCOMPARE(values("Yeardata", 6), (QMap<QString, double>{{"201604", 70}}));
}

void tst_processing::repeatedReplyChangesNothing()
{
    const QString message = reply(5, {record(16, 4, 14, 8, 150), record(16, 4, 14, 9, 275)});
    QVERIFY(send(message));
    const QStringList before = snapshot();
    QCOMPARE(before.size(), 4);
    QVERIFY(send(message));
    QCOMPARE(snapshot(), before);

    // A later reply repeating one hour adds only the new one.
    QVERIFY(send(reply(5, {record(16, 4, 14, 9, 275), record(16, 4, 14, 10, 100)})));
    QCOMPARE(values("Realdata", 5).size(), 3);
    QCOMPARE(values("Monthdata", 5).value("20160414"), 1.5 + 2.75 + 1.0);
    QCOMPARE(values("Yeardata", 5).value("201604"), 1.5 + 2.75 + 1.0);
}

void tst_processing::sameHourTwiceStoresFirst()
{
    QVERIFY(send(reply(5, {record(16, 4, 14, 8, 100), record(16, 4, 14, 8, 200)})));
    QCOMPARE(values("Realdata", 5), (QMap<QString, double>{{"20160414080000", 1.0}}));
    QCOMPARE(values("Monthdata", 5), (QMap<QString, double>{{"20160414", 1.0}}));
    QCOMPARE(values("Yeardata", 5), (QMap<QString, double>{{"201604", 1.0}}));
}

void tst_processing::doseIsSixteenBitHundredths()
{
    // Bytes 34 12: the low byte comes first, 0x1234 = 4660 hundredths.
    QVERIFY(send(QStringLiteral("0500010016041408ff3412")));
    QCOMPARE(values("Realdata", 5), (QMap<QString, double>{{"20160414080000", 46.6}}));
    QVERIFY(send(reply(5, {record(16, 4, 14, 9, 0xffff)})));
    QCOMPARE(values("Realdata", 5).value("20160414090000"), 655.35);
}

void tst_processing::emptyReplyIsOk()
{
    exec("insert into Realdata(slaveId,dataTime,probeValue) values(5,'20160414070000',1)");
    const QStringList before = snapshot();
    QVERIFY(send(QStringLiteral("05000000")));
    QCOMPARE(snapshot(), before);
}

// ---- Atomicity ---------------------------------------------------------------

void tst_processing::failureRollsBackWholeReply_data()
{
    QTest::addColumn<QString>("sabotage");
    QTest::newRow("reading insert") << QStringLiteral(
        "create trigger t before insert on Realdata when cast(NEW.dataTime as text) = '20160414090000' "
        "begin select raise(abort,'x'); end");
    QTest::newRow("day total insert") << QStringLiteral(
        "create trigger t before insert on Monthdata when cast(NEW.dataTime as text) = '20160415' "
        "begin select raise(abort,'x'); end");
    QTest::newRow("day total update") << QStringLiteral(
        "create trigger t before update on Monthdata begin select raise(abort,'x'); end");
    QTest::newRow("month total update") << QStringLiteral(
        "create trigger t before update on Yeardata begin select raise(abort,'x'); end");
    QTest::newRow("month total insert") << QStringLiteral(
        "create trigger t before insert on Yeardata begin select raise(abort,'x'); end");
    QTest::newRow("totals select") << QStringLiteral("drop table Monthdata");
    QTest::newRow("readings select") << QStringLiteral("drop table Realdata");
}

void tst_processing::failureRollsBackWholeReply()
{
    QFETCH(QString, sabotage);
    exec("insert into Realdata(slaveId,dataTime,probeValue) values(5,'20160414070000',10)");
    exec("insert into Monthdata(slaveId,dataTime,probeValue) values(5,'20160414',10)");
    exec("insert into Yeardata(slaveId,dataTime,probeValue) values(5,'201603',3)");
    // Every kind of statement runs: existing and new day and month totals.
    const QString message = reply(5, {record(16, 4, 14, 8, 100), record(16, 4, 14, 9, 200),
                                      record(16, 4, 15, 1, 300), record(16, 3, 31, 23, 400)});
    exec(sabotage);
    const QStringList before = snapshot();

    QVERIFY(!send(message));
    QCOMPARE(snapshot(), before);

    if (sabotage.startsWith(QLatin1String("drop")))
        return;
    // Nothing of the failed reply lingers: once storing works again the
    // whole reply is stored, and counted once.
    exec("drop trigger t");
    QVERIFY(send(message));
    QCOMPARE(values("Realdata", 5).size(), 5);
    QCOMPARE(values("Monthdata", 5),
             (QMap<QString, double>{{"20160414", 13.0}, {"20160415", 3.0}, {"20160331", 4.0}}));
    QCOMPARE(values("Yeardata", 5), (QMap<QString, double>{{"201603", 7.0}, {"201604", 6.0}}));
}

void tst_processing::failedCommitRollsBack()
{
    // A reader holding the file keeps the commit from taking its write lock.
    const QString readerName = QStringLiteral("tst_processing_reader");
    {
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), readerName);
        reader.setDatabaseName(ws->path(QStringLiteral("database.db")));
        reader.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        QVERIFY(reader.open());
        QVERIFY(reader.transaction());
        QSqlQuery hold(reader);
        QVERIFY(hold.exec("select count(*) from Realdata"));
        QVERIFY(hold.next());

        QVERIFY(!send(reply(5, {record(16, 4, 14, 8, 100)})));
        hold.finish();
        reader.rollback();
        reader.close();
    }
    QSqlDatabase::removeDatabase(readerName);

    QCOMPARE(snapshot(), QStringList());
    // The connection is usable again afterwards.
    QVERIFY(send(reply(5, {record(16, 4, 14, 8, 100)})));
    QCOMPARE(values("Monthdata", 5), (QMap<QString, double>{{"20160414", 1.0}}));
}

void tst_processing::failedLookupStoresNothing()
{
    QVERIFY(send(reply(5, {record(16, 4, 14, 8, 100)})));
    // Readings whose lookup fails while inserts still work: a lookup failure
    // must not pass for "not stored yet".
    exec("alter table Realdata rename to Realdata_t");
    exec("create view Realdata as select id, slaveId, dataTime, probeValue from Realdata_t "
         "where abs(-9223372036854775807 - 1) >= 0");
    exec("create trigger ri instead of insert on Realdata begin insert into "
         "Realdata_t(slaveId,dataTime,probeValue) values(NEW.slaveId,NEW.dataTime,NEW.probeValue); end");
    const QStringList before = snapshot();

    QVERIFY(!send(reply(5, {record(16, 4, 14, 8, 100), record(16, 4, 14, 9, 200)})));
    QCOMPARE(snapshot(), before);
    QCOMPARE(values("Realdata_t", 5), (QMap<QString, double>{{"20160414080000", 1.0}}));
    QCOMPARE(values("Monthdata", 5), (QMap<QString, double>{{"20160414", 1.0}}));
}

// ---- Validation --------------------------------------------------------------

void tst_processing::invalidHoursSkipped()
{
    const QStringList records{
        record(16, 4, 14, 8, 100),
        record(16, 13, 1, 8, 1000),  // month 13
        record(16, 0, 1, 8, 1000),   // month 0
        record(16, 4, 0, 8, 1000),   // day 0
        record(16, 4, 31, 8, 1000),  // 31 April
        record(15, 2, 29, 8, 1000),  // 29 February of a common year
        record(16, 4, 14, 24, 1000), // hour 24
        QStringLiteral("160a140800") + hexWordText(1000), // month byte 0x0a is no BCD
        QStringLiteral("16041f0800") + hexWordText(1000), // day byte 0x1f is no BCD
        record(16, 2, 29, 10, 200),  // 2016 is a leap year
        record(16, 4, 14, 9, 300),
    };
    QVERIFY(send(reply(5, records)));
    QCOMPARE(values("Realdata", 5),
             (QMap<QString, double>{
                 {"20160414080000", 1.0}, {"20160229100000", 2.0}, {"20160414090000", 3.0}}));
    QCOMPARE(values("Monthdata", 5),
             (QMap<QString, double>{{"20160414", 4.0}, {"20160229", 2.0}}));
    QCOMPARE(values("Yeardata", 5), (QMap<QString, double>{{"201604", 4.0}, {"201602", 2.0}}));
}

void tst_processing::malformedReplyRefused_data()
{
    const QString two = reply(5, {record(16, 4, 14, 8, 100), record(16, 4, 14, 9, 200)});
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QString();
    QTest::newRow("header cut") << QStringLiteral("050002");
    QTest::newRow("one record of two") << two.left(8 + 14);
    QTest::newRow("last character missing") << two.chopped(1);
    QTest::newRow("one character extra") << two + QLatin1Char('0');
    QTest::newRow("record more than announced") << two + record(16, 4, 14, 10, 300);
    QTest::newRow("upper-case hex") << two.toUpper();
    QTest::newRow("not hex") << QString(two).replace(10, 1, QLatin1Char('x'));
}

void tst_processing::malformedReplyRefused()
{
    QFETCH(QString, message);
    exec("insert into Yeardata(slaveId,dataTime,probeValue) values(5,'201604',1)");
    const QStringList before = snapshot();
    QVERIFY(!send(message));
    QCOMPARE(snapshot(), before);
}

// ---- Keys --------------------------------------------------------------------

void tst_processing::devicesDaysAndMonthsKeyed()
{
    QVERIFY(send(reply(5, {record(16, 4, 30, 23, 100), record(16, 5, 1, 0, 200),
                           record(16, 5, 1, 1, 400), record(17, 1, 1, 0, 800)})));
    // An address above 255 checks the high byte of the address field.
    QVERIFY(send(reply(0x1234, {record(16, 4, 30, 23, 1600), record(16, 4, 30, 22, 3200)})));

    QCOMPARE(values("Realdata", 5),
             (QMap<QString, double>{{"20160430230000", 1.0},
                                    {"20160501000000", 2.0},
                                    {"20160501010000", 4.0},
                                    {"20170101000000", 8.0}}));
    QCOMPARE(values("Monthdata", 5),
             (QMap<QString, double>{{"20160430", 1.0}, {"20160501", 6.0}, {"20170101", 8.0}}));
    QCOMPARE(values("Yeardata", 5),
             (QMap<QString, double>{{"201604", 1.0}, {"201605", 6.0}, {"201701", 8.0}}));

    QCOMPARE(values("Realdata", 0x1234),
             (QMap<QString, double>{{"20160430230000", 16.0}, {"20160430220000", 32.0}}));
    QCOMPARE(values("Monthdata", 0x1234), (QMap<QString, double>{{"20160430", 48.0}}));
    QCOMPARE(values("Yeardata", 0x1234), (QMap<QString, double>{{"201604", 48.0}}));
    QCOMPARE(ws->count("Realdata"), 6);
    QCOMPARE(ws->count("Monthdata"), 4);
    QCOMPARE(ws->count("Yeardata"), 4);
}

// ---- Thread ------------------------------------------------------------------

void tst_processing::startLineLogged()
{
    logLines->taken();
    thread.reset();
    thread = std::make_unique<mydeal_thread>(nullptr, ws->store.get(), nullptr);
    const QStringList lines = logLines->taken();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(QLatin1String("INFO")), qPrintable(lines.first()));
    QVERIFY2(lines.first().contains(QLatin1String("mydeal_thread CUR ID = ")),
             qPrintable(lines.first()));
    // Written by the processing thread itself, not by the constructing one.
    QString mainId;
    QDebug(&mainId) << QThread::currentThreadId();
    QVERIFY2(!lines.first().contains(mainId.trimmed()), qPrintable(lines.first()));
}

void tst_processing::constructorWiresWorkerBeforeReturning()
{
    for (int i = 0; i < 20; ++i) {
        thread = std::make_unique<mydeal_thread>(nullptr, ws->store.get(), nullptr);
        QVERIFY(thread->isRunning());
        QVERIFY(send(reply(5, {record(16, 4, 14, i, 100)})));
    }
    QCOMPARE(values("Realdata", 5).size(), 20);
    QCOMPARE(values("Monthdata", 5).value("20160414"), 20.0);
}

void tst_processing::destructionStopsThread()
{
    bool finished = false;
    connect(thread.get(), &QThread::finished, this, [&finished] { finished = true; },
            Qt::DirectConnection);
    QVERIFY(thread->isRunning());
    QElapsedTimer timer;
    timer.start();
    thread.reset();
    QVERIFY(finished);
    QVERIFY(timer.elapsed() < 5000);

    // Owned by a parent, as in the main window, it is stopped the same way.
    QObject parent;
    auto* child = new mydeal_thread(&parent, ws->store.get(), nullptr);
    QVERIFY(child->isRunning());
}

void tst_processing::testcaldataRecomputesTotals()
{
    QVERIFY(send(reply(20, {record(16, 4, 14, 0, 100), record(16, 4, 14, 23, 250),
                            record(16, 4, 13, 23, 400), record(16, 4, 15, 0, 800)})));
    QVERIFY(send(reply(21, {record(16, 4, 14, 5, 1600)})));
    // Totals gone wrong behind the program's back.
    exec("update Monthdata set probeValue = 999 where slaveId = 20 and dataTime = '20160414'");
    exec("update Yeardata set probeValue = 999 where slaveId = 20 and dataTime = '201604'");
    const QMap<QString, double> other = values("Monthdata", 21);

    thread->MY_testcalData();
    QCOMPARE(values("Monthdata", 20),
             (QMap<QString, double>{{"20160413", 4.0}, {"20160414", 3.5}, {"20160415", 8.0}}));
    QCOMPARE(values("Yeardata", 20), (QMap<QString, double>{{"201604", 15.5}}));
    const QStringList once = snapshot();
    thread->MY_testcalData();
    QCOMPARE(snapshot(), once);
    QCOMPARE(values("Monthdata", 21), other);

    // Missing totals are created.
    exec("delete from Monthdata");
    exec("delete from Yeardata");
    thread->MY_testcalData();
    QCOMPARE(values("Monthdata", 20), (QMap<QString, double>{{"20160414", 3.5}}));
    QCOMPARE(values("Yeardata", 20), (QMap<QString, double>{{"201604", 15.5}}));
    QCOMPARE(ws->count("Monthdata"), 1);
}

QTEST_GUILESS_MAIN(tst_processing)

#include "tst_processing.moc"
