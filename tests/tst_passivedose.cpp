// The passive dose of record (dose_of_record_passive = 1): dosectl status, the level and the personal record take the
// months the passive results cover, whole or in part; an approved adjustment wins; 0 leaves every figure as it was.

#include <QtTest>

#include "core/dose/AdjustmentStore.h"
#include "core/dose/DoseOfRecord.h"
#include "core/dose/DoseStatus.h"
#include "core/export/ReportDocument.h"
#include "core/report/PersonRecord.h"
#include "core/time/Clock.h"
#include "support/PassiveSeed.h"
#include "support/ScratchDatabase.h"

namespace {

QString statusLine(const QString& date)
{
    QString out, err;
    if (ctl({"status", "--date", date}, &out, &err) != 0)
        return QStringLiteral("failed: ") + err;
    return out.section('\n', 1, 1);
}

// The months of 2026 as "month:dose:source" (— where not monitored).
QString monthsOf(const PersonRecord& r)
{
    QStringList shown;
    for (int m = 1; m <= 8; ++m)
        shown << QStringLiteral("%1:%2:%3")
                     .arg(m)
                     .arg(r.monitored(2026, m) ? QString::number(r.month(2026, m), 'f', 2) : QStringLiteral("—"))
                     .arg(r.mark(2026, m).isEmpty() ? r.source(2026, m) : r.mark(2026, m));
    return shown.join(' ');
}

} // namespace

class TestPassiveDose : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }
    void init() { Clock::setNow(QDateTime(QDate(2026, 8, 15), QTime(10, 30))); }
    void cleanup() { Clock::reset(); }

    void monthsOfRecord()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        // Gross hours; the background of 0.23 an hour comes off each month's part.
        addHours(s, 1,
                 {{"2026011012", 40.23},
                  {"2026020512", 10.23}, {"2026022012", 30.23},
                  {"2026031012", 50.23},
                  {"2026041012", 60.23},
                  {"2026051012", 20.23},
                  {"2026062012", 20}, {"2026071012", 40}, {"2026072012", 10.23}});
        QVERIFY(s.exec("update DosePolicy set value = 0 where name = 'adjustment_needs_approval'"));
        AdjustmentStore::Filing f{"c1", "202604", "replace", "stated", 7, "剂量计损坏, 按调查结论给定"};
        QString why;
        QVERIFY2(AdjustmentStore(*s.store).file(f, "alice@station1", &why, s.db) > 0, qPrintable(why));
        const QString electronic = statusLine("2026-08-15");
        QCOMPARE(electronic, QStringLiteral("c1,甲,放射科,职业,49.77,226.54,226.54,226.54,normal,202604"));

        QVERIFY(addPassiveResult(s, "c1", "20260101", "20260131", "", 1300) > 0);   // whole January
        QVERIFY(addPassiveResult(s, "c1", "20260201", "20260214", "", 100) > 0);    // half of February
        QVERIFY(addPassiveResult(s, "c1", "20260301", "20260331", "M", kNoHp10) > 0);
        QVERIFY(addPassiveResult(s, "c1", "20260401", "20260430", "", 500) > 0);    // the adjustment wins
        QVERIFY(addPassiveResult(s, "c1", "20260501", "20260531", "not_returned", kNoHp10) > 0);
        // 90 over June 15 to July 14, by the gross electronic dose of each
        // part: 20 of 60 in June, 40 of 60 in July.
        QVERIFY(addPassiveResult(s, "c1", "20260615", "20260714", "", 90) > 0);
        const int replaced = addPassiveResult(s, "c1", "20260801", "20260810", "", 5000);
        QVERIFY(addPassiveResult(s, "c1", "20260801", "20260810", "unused", kNoHp10, {replaced}) > 0);

        // 0, the default: nothing moves.
        QCOMPARE(statusLine("2026-08-15"), electronic);
        PersonRecord record;
        QVERIFY2(PersonRecord::load(*s.store, s.db, "c1", 2026, 2026, record, &why), qPrintable(why));
        QCOMPARE(monthsOf(record), QStringLiteral("1:40.00: 2:40.00: 3:50.00: 4:7.00:更正 5:20.00: 6:19.77: 7:49.77: 8:—:"));

        QVERIFY(s.exec("update DosePolicy set value = 1 where name = 'dose_of_record_passive'"));
        // February: 100 + the 30 of its other days; July: 60 + the 10 after the 14th.
        QCOMPARE(statusLine("2026-08-15"), QStringLiteral("c1,甲,放射科,职业,70.00,1557.00,1557.00,1557.00,normal,202604"));
        // The first quarter's 1430 is past the investigation level of 1250.
        QCOMPARE(statusLine("2026-03-31"), QStringLiteral("c1,甲,放射科,职业,1430.00,1430.00,1430.00,1430.00,investigate,"));
        QVERIFY2(PersonRecord::load(*s.store, s.db, "c1", 2026, 2026, record, &why), qPrintable(why));
        QCOMPARE(monthsOf(record), QStringLiteral("1:1300.00:个人剂量计 2:130.00:部分个人剂量计 3:0.00:个人剂量计 4:7.00:更正 "
                                                  "5:20.00: 6:30.00:部分个人剂量计 7:70.00:部分个人剂量计 8:—:"));
        QCOMPARE(record.quarter(2026, 1), 1430.0);
        const QString html = ReportDocument::html(record);
        QVERIFY(html.contains(QStringLiteral("<td class=\"n\">1300.00 个人剂量计</td>")));
        QVERIFY(html.contains(QStringLiteral("<td class=\"n\">130.00 部分个人剂量计</td>")));
        QVERIFY(html.contains(QStringLiteral("“部分个人剂量计”: 该月部分日期取自个人剂量计结果")));

        // The person panel says which months of its last-year figure are passive.
        DoseStatus status(*s.store, s.db);
        DoseFigures figures;
        QVERIFY(status.lastYear("c1", QDateTime(QDate(2026, 8, 15), QTime(10, 0)), figures));
        QCOMPARE(figures.passive, (QStringList{"202601", "202602", "202603", "202606", "202607"}));

        // A window that takes part of a period takes its share of it: June
        // 20 through the end of July holds June's part and July's.
        DoseOfRecord::Months months;
        QVERIFY(status.months("c1", QDateTime(QDate(2026, 6, 20), QTime(0, 0)), QDateTime(QDate(2026, 8, 1), QTime(0, 0)),
                              months));
        QCOMPARE(DoseOfRecord::sum(months), qint64(10000));
        QCOMPARE(DoseOfRecord::passiveMonths(months), (QStringList{"202606", "202607"}));

        // Results that cannot be read are no passive months: an error.
        QVERIFY(s.sabotage("drop", "PassiveResult"));
        QVERIFY(!status.months("c1", QDateTime(QDate(2026, 1, 1), QTime(0, 0)), QDateTime(QDate(2026, 8, 1), QTime(0, 0)),
                               months));
        QVERIFY(!status.figures("c1", QDateTime(QDate(2026, 8, 15), QTime(10, 0)), figures));
    }

    // A period with no electronic dose at all is spread by its days; one
    // of several months is split to the hundredth so that it adds up.
    void spreadByDays()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        QVERIFY(s.exec("update DosePolicy set value = 1 where name = 'dose_of_record_passive'"));
        // 100 over 30 days: 10 of March (33.33..), 20 of April (66.66..).
        QVERIFY(addPassiveResult(s, "c1", "20260322", "20260420", "", 100) > 0);
        DoseOfRecord::Months months;
        QVERIFY(DoseStatus(*s.store, s.db).months("c1", QDateTime(QDate(2026, 3, 1), QTime(0, 0)),
                                                  QDateTime(QDate(2026, 5, 1), QTime(0, 0)), months));
        QCOMPARE(months.value("202603").cents + months.value("202604").cents, qint64(10000));
        QCOMPARE(months.value("202603").cents, qint64(3333));
        QVERIFY(months.value("202603").monitored);
        QCOMPARE(months.value("202604").source, DoseOfRecord::PartlyPassive);
    }
};

QTEST_MAIN(TestPassiveDose)
#include "tst_passivedose.moc"
