// Wear periods: who wore which dosimeter when, and every figure attributed
// to its wearer, on a scratch database.

#include <QtTest>

#include <QSqlQuery>
#include <QTableWidget>

#include <memory>

#include "app/Clock.h"
#include "device/SynDevdata.h"
#include "dose/WearAttribution.h"
#include "support/ScratchDatabase.h"

namespace {

using Kind = WearAttribution::Kind;
using Sums = QMap<QString, double>;

const QString kA = QStringLiteral("A1");
const QString kB = QStringLiteral("B2");

QDateTime at(int day, int hour)
{
    return QDateTime(QDate(2024, 3, day), QTime(hour, 0));
}

QString key(const QDateTime& t)
{
    return WearAttribution::hourKey(t);
}

int keyLength(Kind kind)
{
    return kind == WearAttribution::Hours ? 14 : kind == WearAttribution::Days ? 8 : 6;
}

} // namespace

class TestWearing : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> ws;
    // Every reading stored: address -> time -> value.
    QMap<int, QMap<QDateTime, double>> stored;

    // Hourly readings from `from`, each distinct, with the day and month
    // totals the storage keeps.
    void addHours(int slaveId, const QDateTime& from, int hours)
    {
        QMap<QString, double> days, months;
        for (int h = 0; h < hours; ++h) {
            const QDateTime t = from.addSecs(3600LL * h);
            const double v = 1.0 + (h % 7) * 0.25;
            stored[slaveId][t] = v;
            ws->addDose(QStringLiteral("Realdata"), slaveId, key(t), v);
            days[key(t).left(8)] += v;
            months[key(t).left(6)] += v;
        }
        for (auto [table, sums] : {qMakePair(QStringLiteral("Monthdata"), &days), qMakePair(QStringLiteral("Yeardata"), &months)})
            for (auto it = sums->cbegin(); it != sums->cend(); ++it) {
                if (!ws->exec(QStringLiteral("update %1 set probeValue = probeValue + ? where slaveId = ? and dataTime = ?").arg(table),
                              {it.value(), slaveId, it.key()})
                    || ws->value(QStringLiteral("select changes()")).toInt() == 0)
                    ws->addDose(table, slaveId, it.key(), it.value());
            }
    }

    // The readings of an address in [from, to), summed by key of kind.
    Sums expected(int slaveId, const QDateTime& from, const QDateTime& to, Kind kind) const
    {
        Sums sums;
        const auto& readings = stored.value(slaveId);
        for (auto it = readings.cbegin(); it != readings.cend(); ++it)
            if (it.key() >= from && it.key() < to)
                sums[key(it.key()).left(keyLength(kind))] += it.value();
        return sums;
    }

    Sums figures(const QString& card, Kind kind, QList<int>* addresses = nullptr)
    {
        WearAttribution::Figures f;
        const QDateTime from = kind == WearAttribution::Hours ? at(10, 0) : kind == WearAttribution::Days ? at(1, 0) : QDateTime(QDate(2024, 1, 1), QTime(0, 0));
        const QDateTime to = kind == WearAttribution::Hours ? at(11, 0) : kind == WearAttribution::Days ? QDateTime(QDate(2024, 4, 1), QTime(0, 0)) : QDateTime(QDate(2025, 1, 1), QTime(0, 0));
        if (!WearAttribution::collect(ws->store.get(), ws->db, card, kind, from, to, f))
            qWarning("collect failed");
        if (addresses)
            *addresses = f.addresses;
        return f.values;
    }

    // The query dialog's rows of one person, summed by key.
    Sums queried(const QString& card, Kind kind, const QString& from, const QString& to)
    {
        WearAttribution::Criteria c;
        c.kind = kind;
        c.timed = true;
        c.from = from;
        c.to = to;
        c.byCard = true;
        c.card = card;
        c.overlapping = ws->store->hasOverlappingPeriods(ws->db);
        QVariantList values;
        QSqlQuery q(ws->db);
        if (!q.prepare(WearAttribution::queryStatement(c, &values)))
            return {{QStringLiteral("statement"), -1}};
        for (const QVariant& v : values)
            q.addBindValue(v);
        Sums sums;
        for (q.exec(); q.next();)
            sums[q.value(0).toString()] += q.value(4).toDouble();
        return sums;
    }

    int deviceId(int slaveId)
    {
        return ws->value(QStringLiteral("select id from Device where slaveId = ?"), {slaveId}).toInt();
    }

    static void compare(const Sums& actual, const Sums& wanted)
    {
        QCOMPARE(actual.keys(), wanted.keys());
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
            QVERIFY2(qFuzzyCompare(actual.value(it.key()), it.value()), qPrintable(it.key()));
    }

    // A wore 5 from the beginning and hands it to B at 10 March 14:00;
    // readings from 8 March 00:00 to 12 March 24:00 around it.
    void handOver()
    {
        ws->addPerson(kA, QStringLiteral("甲"));
        ws->addPerson(kB, QStringLiteral("乙"));
        ws->addDevice(5, kA);
        addHours(5, at(8, 0), 5 * 24);
        QString why;
        QVERIFY2(ws->store->removeDeviceBinding(deviceId(5), key(at(10, 14)), &why, ws->db), qPrintable(why));
        QVERIFY2(ws->store->addDeviceBinding(Devicedata{0, 5, kB, QString()}, key(at(10, 14)), &why, ws->db), qPrintable(why));
    }

private slots:
    void init()
    {
        stored.clear();
        ws = std::make_unique<ScratchDatabase>();
    }
    void cleanup() { ws.reset(); }

    void handOverSplitsEveryView_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::newRow("hours of the hand-over day") << int(WearAttribution::Hours) << "20240310000000" << "20240310230000";
        QTest::newRow("days of the month") << int(WearAttribution::Days) << "20240301" << "20240331";
        QTest::newRow("months of the year") << int(WearAttribution::Months) << "202401" << "202412";
    }

    void handOverSplitsEveryView()
    {
        QFETCH(int, kind);
        QFETCH(QString, from);
        QFETCH(QString, to);
        handOver();
        const Kind k = Kind(kind);
        const QDateTime lo = k == WearAttribution::Hours ? at(10, 0) : QDateTime(QDate(2024, 1, 1), QTime(0, 0));
        const QDateTime hi = k == WearAttribution::Hours ? at(11, 0) : QDateTime(QDate(2025, 1, 1), QTime(0, 0));
        // The hand-over hour is the new wearer's.
        const Sums forA = expected(5, lo, at(10, 14), k);
        const Sums forB = expected(5, at(10, 14), hi, k);
        QList<int> addresses;
        compare(figures(kA, k, &addresses), forA);
        QCOMPARE(addresses, QList<int>{5});
        compare(figures(kB, k), forB);
        compare(queried(kA, k, from, to), forA);
        compare(queried(kB, k, from, to), forB);
        QCOMPARE(WearAttribution::countUnattributed(ws->store.get(), ws->db, 5), 0);
    }

    void oldDatabaseGainsOpenPeriods()
    {
        ws->addPerson(kA, QStringLiteral("甲"));
        ws->addPerson(kB, QStringLiteral("乙"));
        ws->addDevice(5, kA);
        ws->addDevice(5, kB); // the same address bound twice: the lower id keeps it
        ws->addDevice(6, kB);
        QVERIFY(ws->exec(QStringLiteral("delete from Wearing")));
        addHours(5, at(10, 3), 40);
        QVERIFY(ws->store->createAddedTables());
        QVERIFY(ws->store->createAddedTables()); // a second start adds nothing
        QCOMPARE(ws->count(QStringLiteral("Wearing")), 2);
        QCOMPARE(ws->value(QStringLiteral("select count(*) from Wearing where startTime = '00000000000000' and endTime = ''")).toInt(), 2);
        QCOMPARE(ws->value(QStringLiteral("select ID_card from Wearing where slaveId = 5")).toString(), kA);
        for (Kind k : {WearAttribution::Hours, WearAttribution::Days, WearAttribution::Months})
            compare(figures(kA, k), expected(5, QDateTime(QDate(2024, 1, 1), QTime(0, 0)), k == WearAttribution::Hours ? at(11, 0) : at(31, 0), k));
        QVERIFY(figures(kB, WearAttribution::Hours).isEmpty());
    }

    void setAddressKeepsTheWearer()
    {
        ws->addPerson(kA, QStringLiteral("甲"));
        ws->addDevice(5, kA);
        addHours(5, at(10, 0), 9);
        SynDevdata dialog;
        dialog.setDataBase(ws->store.get());
        dialog.getsyninfo(0, QStringLiteral("/dev/pts/9"), 5, true);
        auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
        Clock::setNow(at(10, 9).addSecs(1500));
        dialog.My_devidclick(0, 1);
        table->item(0, 1)->setText(QStringLiteral("9"));
        dialog.getsyninfo(2, QStringLiteral("/dev/pts/9"), 5, true);
        Clock::reset();
        QCOMPARE(ws->value(QStringLiteral("select slaveId from Device where ID_card = ?"), {kA}).toInt(), 9);
        QCOMPARE(ws->value(QStringLiteral("select endTime from Wearing where slaveId = 5")).toString(), key(at(10, 9)));
        QCOMPARE(ws->value(QStringLiteral("select startTime from Wearing where slaveId = 9 and endTime = ''")).toString(), key(at(10, 9)));
        addHours(9, at(10, 9), 15);
        QList<int> addresses;
        Sums wanted = expected(5, at(10, 0), at(11, 0), WearAttribution::Hours);
        wanted.insert(expected(9, at(10, 0), at(11, 0), WearAttribution::Hours));
        compare(figures(kA, WearAttribution::Hours, &addresses), wanted);
        QCOMPARE(addresses, (QList<int>{5, 9}));
        QCOMPARE(WearAttribution::legend(addresses), QStringLiteral("5,9号设备"));
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
        const int periods = ws->count(QStringLiteral("Wearing"));
        QString why;
        QVERIFY(!ws->store->assignReadings(slaveId, card, from, to, &why, ws->db));
        QVERIFY2(why.contains(said), qPrintable(why));
        QCOMPARE(ws->count(QStringLiteral("Wearing")), periods);
        // A second binding of a worn address, or of a person already wearing.
        QVERIFY(!ws->store->addDeviceBinding(Devicedata{0, 5, QStringLiteral("X9"), QString()}, key(at(12, 0)), &why, ws->db));
        QVERIFY(!ws->store->changeDeviceAddress(deviceId(5), 70000, key(at(12, 0)), &why, ws->db));
        QCOMPARE(ws->count(QStringLiteral("Wearing")), periods);
        QCOMPARE(ws->value(QStringLiteral("select slaveId from Device")).toInt(), 5);
    }

    void unattributedReadingsAreCountedThenAssigned()
    {
        ws->addPerson(kA, QStringLiteral("甲"));
        ws->addPerson(kB, QStringLiteral("乙"));
        QString why;
        QVERIFY(ws->store->assignReadings(7, kB, key(at(10, 3)), key(at(10, 7)), &why, ws->db));
        addHours(7, at(10, 0), 12); // 3 before B, 4 of B's, 5 after
        // The address had a period, so a new binding starts at now.
        QVERIFY(ws->store->addDeviceBinding(Devicedata{0, 7, kA, QString()}, key(at(10, 12)), &why, ws->db));
        addHours(7, at(10, 12), 2);
        QCOMPARE(WearAttribution::countUnattributed(ws->store.get(), ws->db, 7), 8);
        QCOMPARE(figures(kA, WearAttribution::Hours).size(), 2);
        QVERIFY(!ws->store->assignReadings(7, kA, key(at(10, 6)), key(at(10, 12)), &why, ws->db));
        QVERIFY2(ws->store->assignReadings(7, kA, key(at(10, 7)), key(at(10, 12)), &why, ws->db), qPrintable(why));
        QCOMPARE(WearAttribution::countUnattributed(ws->store.get(), ws->db, 7), 3);
        compare(figures(kA, WearAttribution::Hours), expected(7, at(10, 7), at(11, 0), WearAttribution::Hours));
    }

    void deletingAPerson_data()
    {
        QTest::addColumn<bool>("keepHistory");
        QTest::newRow("是: history kept") << true;
        QTest::newRow("否: history deleted") << false;
    }

    void deletingAPerson()
    {
        QFETCH(bool, keepHistory);
        handOver();
        const Sums bBefore = figures(kB, WearAttribution::Months);
        const int aId = ws->value(QStringLiteral("select id from Staff where ID_card = ?"), {kA}).toInt();
        QVERIFY(keepHistory ? ws->store->deleteById(QStringLiteral("Staff"), aId, ws->db)
                            : ws->store->deleteStaffWithHistory(aId, ws->db));
        QCOMPARE(ws->value(QStringLiteral("select count(*) from Wearing where ID_card = ?"), {kA}).toInt(), keepHistory ? 1 : 0);
        QCOMPARE(ws->value(QStringLiteral("select count(*) from Realdata where dataTime < ?"), {key(at(10, 14))}).toInt(),
                 keepHistory ? 24 * 2 + 14 : 0);
        // The other wearer's readings and the totals they make stay whole.
        compare(figures(kB, WearAttribution::Months), bBefore);
        QCOMPARE(ws->value(QStringLiteral("select probeValue from Monthdata where dataTime = '20240310'")).toDouble(),
                 expected(5, at(10, keepHistory ? 0 : 14), at(11, 0), WearAttribution::Days).value("20240310"));
        QCOMPARE(ws->value(QStringLiteral("select probeValue from Yeardata where dataTime = '202403'")).toDouble(),
                 expected(5, keepHistory ? at(1, 0) : at(10, 14), at(31, 0), WearAttribution::Months).value("202403"));
        QCOMPARE(ws->count(QStringLiteral("Staff")), 1);
    }
};

QTEST_MAIN(TestWearing)
#include "tst_wearing.moc"
