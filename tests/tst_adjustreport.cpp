// Adjusted months in the personal dose record and the department report: the figures, their marks, PDF and xlsx.

#include <QtTest>

#include "core/dose/AdjustmentStore.h"
#include "core/dose/DoseStatus.h"
#include "core/export/ReportDocument.h"
#include "core/export/ReportWorkbook.h"
#include "core/report/PeriodReport.h"
#include "core/report/PersonRecord.h"
#include "core/time/Clock.h"
#include "support/ScratchDatabase.h"

namespace {

const QString kLost = QStringLiteral("剂量计遗失, 按同科室中位数估算");
const QString kBench = QStringLiteral("剂量计留在机房工作台上, 读数不是本人剂量");

void approved(ScratchDatabase& s, const QString& card, const QString& month, const QString& kind, double value,
              const QString& method, const QString& reason)
{
    AdjustmentStore::Filing f{card, month, kind, method, value, reason};
    QString why;
    AdjustmentStore adjustments(*s.store);
    const int id = adjustments.file(f, "alice@station1", &why, s.db);
    QVERIFY2(id > 0 && adjustments.approve(id, "bob@station2", &why, s.db), qPrintable(why));
}

// 甲 with March to May 2026, March replaced (bench) and February given a notional dose; a pending one for April.
void fill(ScratchDatabase& s)
{
    s.exec("insert into Department(department, dname) values('放射科', '主任')");
    s.addPerson("c1", "甲");
    s.addDevice(1, "c1");
    s.addMonths(1, {{"202603", 400}, {"202604", 10}, {"202605", 20}});
    s.addPerson("c2", "乙");
    s.addDevice(2, "c2");
    s.addMonths(2, {{"202603", 6}});
    approved(s, "c1", "202603", "replace", 4, "stated", kBench);
    approved(s, "c1", "202602", "notional", 6, "dept_median", kLost);
    AdjustmentStore::Filing waiting{"c1", "202604", "replace", "stated", 1, kBench};
    QString why;
    QVERIFY(AdjustmentStore(*s.store).file(waiting, "alice@station1", &why, s.db) > 0);
}

QString flat(const QString& text)
{
    return QString(text).remove(QRegularExpression("\\s"));
}

} // namespace

class TestAdjustReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }
    void init() { Clock::setNow(QDateTime(QDate(2026, 6, 15), QTime(10, 30))); }
    void cleanup() { Clock::reset(); }

    void recordAgreesWithStatusAndReport()
    {
        ScratchDatabase s;
        fill(s);
        PersonRecord r;
        QString why;
        QVERIFY2(PersonRecord::load(*s.store, s.db, "c1", 2026, 2026, r, &why), qPrintable(why));
        QCOMPARE(r.month(2026, 3), 4.0);
        QCOMPARE(r.month(2026, 2), 6.0);
        QVERIFY(r.monitored(2026, 2));
        QCOMPARE(r.month(2026, 4), 10.0); // pending: as read
        QCOMPARE(r.mark(2026, 3), QStringLiteral("更正"));
        QCOMPARE(r.mark(2026, 2), QStringLiteral("估算"));
        QCOMPARE(r.mark(2026, 4), QString());
        QCOMPARE(r.pendingMonths(), QStringList{"202604"});
        QCOMPARE(r.year(2026), 40.0);
        const QList<PersonRecord::Adjusted> adjusted = r.adjustedMonths();
        QCOMPARE(adjusted.size(), 2);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5").arg(adjusted[0].month).arg(adjusted[0].originalMonitored).arg(adjusted[0].dose)
                     .arg(adjusted[0].mark, adjusted[0].method),
                 QStringLiteral("202602 0 6 估算 同部门职业人员同月中位数"));
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(adjusted[1].month).arg(adjusted[1].original).arg(adjusted[1].dose)
                     .arg(adjusted[1].reason),
                 "202603 400 4 " + kBench);

        // The same year in status and the department report.
        DoseFigures f;
        QVERIFY(DoseStatus(*s.store, s.db).figures("c1", Clock::now(), f));
        QCOMPARE(f.year, 40.0);
        QCOMPARE(f.adjusted, (QStringList{"202602", "202603"}));
        QVERIFY(f.pending);
        QCOMPARE(f.adjustedText(), QStringLiteral("202602;202603 （有更正待批准）")); // the overview's cell
        PeriodReport p;
        QVERIFY(PeriodReport::load(*s.store, s.db, "放射科", QDate(2026, 1, 1), QDate(2026, 6, 15), p, &why));
        QCOMPARE(p.groups[0].rows[0].period, 40.0);
        QCOMPARE(p.groups[0].rows[0].marks, (QStringList{"估算", "更正"}));
        QCOMPARE(p.groups[0].rows[1].marks, QStringList());
        // A period of April alone has no adjusted month.
        QVERIFY(PeriodReport::load(*s.store, s.db, "放射科", QDate(2026, 4, 1), QDate(2026, 4, 30), p, &why));
        QCOMPARE(p.groups[0].rows[0].period, 10.0);
        QVERIFY(p.groups[0].rows[0].marks.isEmpty());
        // The readings themselves are as they were.
        QCOMPARE(s.value("select count(*) from Realdata where slaveId = 1").toInt(), 3);
    }

    void documentsShowTheMarks()
    {
        ScratchDatabase s;
        fill(s);
        PersonRecord r;
        QVERIFY(PersonRecord::load(*s.store, s.db, "c1", 2026, 2026, r, nullptr));
        QVERIFY(ReportDocument::writePdf(r, {s.path("r.pdf"), false, QString()}, nullptr));
        const QString text = flat(output("pdftotext", {"-layout", s.path("r.pdf"), "-"}));
        for (const QString& expected : {QStringLiteral("4.00更正"), QStringLiteral("6.00估算"), QStringLiteral("剂量更正与估算"),
                                        QStringLiteral("202603400.004.00更正给定值") + flat(kBench),
                                        QStringLiteral("202602—6.00估算同部门职业人员同月中位数") + flat(kLost),
                                        QStringLiteral("未计入以上剂量）：202604")})
            QVERIFY2(text.contains(expected), qPrintable(expected + " not in " + text));

        QVERIFY(ReportWorkbook::write(r, {s.path("r.xlsx"), false, QString()}, nullptr));
        const QString strings = output("unzip", {"-p", s.path("r.xlsx"), "xl/sharedStrings.xml"});
        QVERIFY2(strings.contains("更正") && strings.contains("估算") && strings.contains(kBench)
                     && strings.contains("<t>202604</t>") && strings.contains("待批准（未计入）"),
                 qPrintable(strings));
        QVERIFY(output("unzip", {"-p", s.path("r.xlsx"), "xl/workbook.xml"}).contains("name=\"剂量更正\""));
        // March on the sheet of 2026: the dose of record, a number; the original on the sheet of notes.
        QVERIFY(output("unzip", {"-p", s.path("r.xlsx"), "xl/worksheets/sheet2.xml"})
                    .contains(QRegularExpression(R"(<c r="B4" s="\d+"><v>4</v></c><c r="C4" t="s">)")));
        QVERIFY(output("unzip", {"-p", s.path("r.xlsx"), "xl/worksheets/sheet3.xml"})
                    .contains(QRegularExpression(R"(<c r="B3" s="\d+"><v>400</v></c><c r="C3" s="\d+"><v>4</v></c>)")));

        PeriodReport p;
        QVERIFY(PeriodReport::load(*s.store, s.db, QString(), QDate(2026, 3, 1), QDate(2026, 3, 31), p, nullptr));
        QVERIFY(ReportDocument::writePdf(p, {s.path("d.pdf"), false, QString()}, nullptr));
        const QString report = flat(output("pdftotext", {"-layout", s.path("d.pdf"), "-"}));
        QVERIFY2(report.contains("4.00更正") && report.contains("“更正”“估算”:期间剂量含经批准的剂量更正或估算剂量"),
                 qPrintable(report));
        QVERIFY(ReportWorkbook::write(p, {s.path("d.xlsx"), false, QString()}, nullptr));
        QVERIFY(output("unzip", {"-p", s.path("d.xlsx"), "xl/sharedStrings.xml"}).contains("<t>标记</t>"));
        QVERIFY(output("unzip", {"-p", s.path("d.xlsx"), "xl/worksheets/sheet1.xml"})
                    .contains(QRegularExpression(R"(<c r="E5" s="\d+"><v>4</v></c>.*<c r="H5" t="s">)")));
    }

    void noAdjustmentNoMark()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}});
        PersonRecord r;
        QVERIFY(PersonRecord::load(*s.store, s.db, "c1", 2026, 2026, r, nullptr));
        QVERIFY(r.adjustedMonths().isEmpty());
        QVERIFY(ReportDocument::writePdf(r, {s.path("r.pdf"), false, QString()}, nullptr));
        const QString text = flat(output("pdftotext", {"-layout", s.path("r.pdf"), "-"}));
        QVERIFY2(text.contains("40.00") && !text.contains("更正") && !text.contains("估算"), qPrintable(text));
        QVERIFY(ReportWorkbook::write(r, {s.path("r.xlsx"), false, QString()}, nullptr));
        QVERIFY(!output("unzip", {"-p", s.path("r.xlsx"), "xl/workbook.xml"}).contains("剂量更正"));
    }
};

QTEST_MAIN(TestAdjustReport)
#include "tst_adjustreport.moc"
