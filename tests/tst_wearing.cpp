// Wear periods: who wore which dosimeter when, and every figure attributed to its wearer, on a scratch database.

#include <QtTest>

#include <QSqlQuery>
#include <QTableWidget>

#include "core/time/Clock.h"
#include "desktop/SynDevdata.h"
#include "core/wear/WearAttribution.h"
#include "support/ScratchDatabase.h"

using W = WearAttribution;
using Sums = QMap<QString, double>;

static const QString kA = "A1", kB = "B2";
static const int kKeyLength[] = {14, 8, 6}; // by W::Kind
static const char* const kPeriods = "select slaveId||ID_card||' '||startTime||'-'||endTime from Wearing order by id";

static QDateTime at(int d, int h, int m = 3, int y = 2024) { return {QDate(y, m, d), QTime(h, 0)}; }
static QString key(const QDateTime& t) { return W::hourKey(t); }
static const QDateTime kFrom = at(1, 0, 1), kTo = at(1, 0, 1, 2025); // the figures' window unless a test says otherwise

class TestWearing : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> ws;
    int idA = 0;
    QMap<int, QMap<QDateTime, double>> stored; // address -> time -> reading
    W::Figures last; // of figures()

    // Distinct hourly readings of an address from `from`, and their day and month totals (once per address).
    void addHours(int slaveId, const QDateTime& from, int hours)
    {
        for (int h = 0; h < hours; ++h) {
            const QDateTime t = from.addSecs(3600LL * h);
            stored[slaveId][t] = 1.0 + (h % 7) * 0.25;
            ws->addDose("Realdata", slaveId, key(t), stored[slaveId][t]);
        }
        for (auto [table, n] : {qMakePair(QString("Monthdata"), 8), qMakePair(QString("Yeardata"), 6)})
            ws->exec(QString("insert into %1(slaveId,dataTime,probeValue) select slaveId, substr(dataTime, 1, %2), sum("
                             "probeValue) from Realdata where slaveId = ? group by 1, 2").arg(table).arg(n), {slaveId});
    }

    // The readings of an address in [from, to), summed by key of kind.
    Sums expected(int slaveId, W::Kind kind, const QDateTime& from = kFrom, const QDateTime& to = kTo)
    {
        Sums sums;
        for (auto it = stored[slaveId].lowerBound(from); it != stored[slaveId].end() && it.key() < to; ++it)
            sums[key(it.key()).left(kKeyLength[kind])] += it.value();
        return sums;
    }

    Sums figures(const QString& card, W::Kind kind, const QDateTime& from = kFrom, const QDateTime& to = kTo)
    {
        return W::collect(ws->store.get(), ws->db, card, kind, from, to, last) ? last.values
                                                                               : Sums{{"collect failed", 0}};
    }

    // The query dialog's rows of one person in [lo, hi), summed by key.
    Sums queried(const QString& card, W::Kind kind, const QDateTime& lo, const QDateTime& hi)
    {
        const int n = kKeyLength[kind];
        const W::Criteria c{kind, true, key(lo).left(n), key(hi.addSecs(-3600)).left(n), false, {}, true, card,
                            ws->store->hasOverlappingPeriods(ws->db)};
        QVariantList values;
        QSqlQuery q(ws->db);
        q.prepare(W::queryStatement(c, &values));
        for (const QVariant& v : values)
            q.addBindValue(v);
        Sums sums;
        for (q.exec(); q.next();)
            sums[q.value(0).toString()] += q.value(4).toDouble();
        return sums;
    }

    int deviceId(int slaveId) { return ws->value("select id from Device where slaveId = ?", {slaveId}).toInt(); }

    // A wore 5 from the beginning and hands it to B at 10 March 14:00; readings from 8 to 12 March around it.
    void handOver()
    {
        ws->addDevice(5, kA);
        addHours(5, at(8, 0), 5 * 24);
        QVERIFY(ws->store->removeDeviceBinding(deviceId(5), key(at(10, 14)), nullptr, ws->db));
        QVERIFY(ws->store->addDeviceBinding(Devicedata{0, 5, kB, QString()}, key(at(10, 14)), nullptr, ws->db));
    }

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    void init()
    {
        stored.clear();
        ws = std::make_unique<ScratchDatabase>();
        idA = ws->addPerson(kA, "甲");
        ws->addPerson(kB, "乙");
    }
    void cleanup() { ws.reset(); }

    void handOverThenDeletingTheFirstWearer_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QDateTime>("lo");
        QTest::addColumn<QDateTime>("hi");
        QTest::addColumn<bool>("keepHistory");
        QTest::newRow("hours of the day; 否: history deleted") << int(W::Hours) << at(10, 0) << at(11, 0) << false;
        QTest::newRow("days of the month; 是: history kept") << int(W::Days) << at(1, 0) << at(1, 0, 4) << true;
        QTest::newRow("months of the year; 否: history deleted") << int(W::Months) << kFrom << kTo << false;
    }

    void handOverThenDeletingTheFirstWearer()
    {
        QFETCH(int, kind);
        QFETCH(QDateTime, lo);
        QFETCH(QDateTime, hi);
        QFETCH(bool, keepHistory);
        handOver();
        const W::Kind k = W::Kind(kind);
        QCOMPARE(figures(kA, k, lo, hi), expected(5, k, lo, at(10, 14))); // the hand-over hour is the new wearer's
        QCOMPARE(W::legend(last.addresses), QString("5号设备"));
        QCOMPARE(figures(kB, k, lo, hi), expected(5, k, at(10, 14), hi));
        QCOMPARE(queried(kA, k, lo, hi), expected(5, k, lo, at(10, 14)));
        QCOMPARE(queried(kB, k, lo, hi), expected(5, k, at(10, 14), hi));
        QCOMPARE(W::countUnattributed(ws->store.get(), ws->db, 5), 0);
        QVERIFY(keepHistory ? ws->store->deleteById("Staff", idA, ws->db)
                            : ws->store->deleteStaffWithHistory(idA, ws->db));
        QCOMPARE(ws->count("Staff"), 1);
        QCOMPARE(ws->list(kPeriods).contains(kA), keepHistory);
        QCOMPARE(ws->value("select count(*) from Realdata where dataTime < ?", {key(at(10, 14))}).toInt(),
                 keepHistory ? 24 * 2 + 14 : 0);
        QCOMPARE(figures(kB, k, lo, hi), expected(5, k, at(10, 14), hi));
        // The first day and month totals are what stays of their readings.
        for (auto [name, total] : {qMakePair(QString("Monthdata"), W::Days), qMakePair(QString("Yeardata"), W::Months)})
            QCOMPARE(ws->value("select probeValue from " + name + " order by dataTime").toDouble(),
                     expected(5, total, keepHistory ? kFrom : at(10, 14)).first());
    }

    void oldDatabaseGainsOpenPeriodsThatFollowTheAddress()
    {
        ws->addDevice(5, kA);
        ws->addDevice(5, kB); // the same address bound twice: the lower id keeps it
        ws->addDevice(6, kB);
        QVERIFY(ws->exec("delete from Wearing"));
        addHours(5, at(10, 3), 40);
        QVERIFY(ws->store->createAddedTables() && ws->store->createAddedTables()); // a second start adds nothing
        QCOMPARE(ws->list(kPeriods), QString("5A1 00000000000000-,6B2 00000000000000-"));
        for (W::Kind k : {W::Hours, W::Days, W::Months})
            QCOMPARE(figures(kA, k), expected(5, k));
        // The synchronisation dialog gives the dosimeter address 9 at 09:25: A's period follows at 09:00.
        SynDevdata dialog;
        dialog.setDataBase(ws->store.get());
        dialog.getsyninfo(0, "/dev/pts/9", 5, true);
        Clock::setNow(at(10, 9).addSecs(1500));
        dialog.My_devidclick(0, 1);
        dialog.findChild<QTableWidget*>("tableWidget")->item(0, 1)->setText("9");
        dialog.getsyninfo(2, "/dev/pts/9", 5, true);
        Clock::reset();
        QCOMPARE(ws->value("select slaveId from Device where ID_card = ?", {kA}).toInt(), 9);
        QCOMPARE(ws->list(kPeriods),
                 QString("5A1 00000000000000-20240310090000,6B2 00000000000000-,9A1 20240310090000-"));
        addHours(9, at(10, 9), 15);
        Sums wanted = expected(5, W::Hours, kFrom, at(10, 9));
        wanted.insert(expected(9, W::Hours));
        QCOMPARE(figures(kA, W::Hours), wanted);
        QCOMPARE(W::legend(last.addresses), QString("5,9号设备"));
    }

    void badChangesAreRefused_data()
    {
        QTest::addColumn<int>("slaveId");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("said");
        QTest::newRow("overlaps the address") << 5 << kB << "20240309000000" << "20240310150000" << "5号设备";
        QTest::newRow("overlaps the person") << 7 << kA << "20240310130000" << "20240310140000" << "5号设备";
        QTest::newRow("end before start") << 7 << kB << "20240310140000" << "20240310130000" << "结束时间";
        QTest::newRow("empty range") << 7 << kB << "20240310140000" << "20240310140000" << "结束时间";
        QTest::newRow("not a whole hour") << 7 << kB << "20240310133000" << "20240310140000" << "整点";
        QTest::newRow("unknown ID card") << 7 << "X9" << "20240301000000" << "20240302000000" << "X9";
        QTest::newRow("address too large") << 65536 << kB << "20240301000000" << "20240302000000" << "设备号";
        QTest::newRow("address negative") << -1 << kB << "20240301000000" << "20240302000000" << "设备号";
    }

    void badChangesAreRefused()
    {
        QFETCH(int, slaveId);
        QFETCH(QString, card);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, said);
        handOver();
        const QString before = ws->list(kPeriods);
        QString why;
        QVERIFY(!ws->store->assignReadings(slaveId, card, from, to, &why, ws->db));
        QVERIFY2(why.contains(said), qPrintable(why));
        // Binding a bound address, or moving a binding out of range, is refused too; no period changes.
        QVERIFY(!ws->store->addDeviceBinding(Devicedata{0, 5, "X9", QString()}, key(at(12, 0)), &why, ws->db));
        QVERIFY(!ws->store->changeDeviceAddress(deviceId(5), 70000, key(at(12, 0)), &why, ws->db));
        QCOMPARE(ws->list(kPeriods), before);
    }

    void unattributedReadingsAreCountedThenAssigned()
    {
        QString why;
        QVERIFY(ws->store->assignReadings(7, kB, key(at(10, 3)), key(at(10, 7)), &why, ws->db));
        QVERIFY(ws->store->addDeviceBinding(Devicedata{0, 7, kA, QString()}, key(at(10, 12)), &why, ws->db));
        addHours(7, at(10, 0), 14); // 3 before B, 4 of B's, 5 after, 2 of A's (from now: the address had a period)
        QCOMPARE(W::countUnattributed(ws->store.get(), ws->db, 7), 8);
        QVERIFY(!ws->store->assignReadings(7, kA, key(at(10, 6)), key(at(10, 12)), &why, ws->db));
        QVERIFY2(ws->store->assignReadings(7, kA, key(at(10, 7)), key(at(10, 12)), &why, ws->db), qPrintable(why));
        QCOMPARE(W::countUnattributed(ws->store.get(), ws->db, 7), 3);
        QCOMPARE(figures(kA, W::Hours), expected(7, W::Hours, at(10, 7)));
    }
};

QTEST_MAIN(TestWearing)
#include "tst_wearing.moc"
