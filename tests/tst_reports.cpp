// The personal dose record and the department report: figures, PDF, workbook, dosectl report.

#include <QtTest>

#include "core/time/Clock.h"
#include "core/report/PeriodReport.h"
#include "core/report/PersonRecord.h"
#include "core/export/ReportDocument.h"
#include "core/export/ReportWorkbook.h"
#include "support/ScratchDatabase.h"

namespace {

// Address 5 goes from 甲 to 乙 at 2023-03-15 10:00; 丙 moves from address 7 to 8 on 2022-06-01.
void fill(ScratchDatabase& s)
{
    s.addPerson("A1", "甲"), s.addPerson("B2", "乙"), s.addPerson("C3", "丙", "核医学科");
    s.store->ensureWearingTable(s.db);
    s.exec("insert into Department(department, dname) values('放射科', '主任'), ('核医学科', '主任')");
    s.exec("insert into Wearing(slaveId,ID_card,startTime,endTime) values (5,'A1','00000000000000','20230315100000'),"
           "(5,'B2','20230315100000',''), (7,'C3','00000000000000','20220601000000'), (8,'C3','20220601000000','')");
    s.exec("insert into Realdata(slaveId,dataTime,probeValue) values (5,'20230110080000',0.1), (5,'20230315090000',10),"
           "(5,'20230315100000',20), (5,'20230402080000',5), (7,'20180501080000',100), (7,'20220531230000',3),"
           "(7,'20220601000000',50), (8,'20220531230000',40), (8,'20220601000000',7)");
    for (int slave : {5, 7, 8}) // the day and month totals, as stored
        s.addReadings(slave, {});
}

PersonRecord record(ScratchDatabase& s, const QString& card, int from = 0, int to = 0)
{
    PersonRecord r;
    PersonRecord::load(*s.store, s.db, card, from, to, r, nullptr); // a failure leaves the figures 0
    return r;
}

QString two(double v) { return QString::number(v, 'f', 2); }
// The files in the folder, the database's write-ahead log and its index not counted.
int files(const ScratchDatabase& s)
{
    const QStringList names = QDir(s.dir.path()).entryList(QDir::Files | QDir::Hidden);
    return names.size() - names.filter(QRegularExpression("-(wal|shm)$")).size();
}

} // namespace

class TestReports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Clock::setNow(QDateTime(QDate(2023, 12, 1), QTime(10, 0))); }

    // Background 0.23 per hourly reading, taken off each month and never below 0.
    void months_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<QDate>("month");
        QTest::addColumn<QString>("figures"); // the month, its quarter, its year
        QTest::newRow("below background") << "A1" << QDate(2023, 1, 1) << "0.00 9.77 9.77";
        QTest::newRow("before hand-over") << "A1" << QDate(2023, 3, 1) << "9.77 9.77 9.77";
        QTest::newRow("after hand-over") << "B2" << QDate(2023, 4, 1) << "4.77 4.77 24.54"; // and March 19.77
        QTest::newRow("old address") << "C3" << QDate(2022, 5, 1) << "2.77 9.54 9.54";
        QTest::newRow("new address") << "C3" << QDate(2022, 6, 1) << "6.77 9.54 9.54";
    }
    void months()
    {
        QFETCH(QString, card);
        QFETCH(QDate, month);
        QFETCH(QString, figures);
        ScratchDatabase s;
        fill(s);
        const PersonRecord r = record(s, card);
        const int y = month.year(), m = month.month();
        QCOMPARE(two(r.month(y, m)) + ' ' + two(r.quarter(y, (m + 2) / 3)) + ' ' + two(r.year(y)), figures);
    }

    void sums()
    {
        ScratchDatabase s;
        fill(s);
        PersonRecord r = record(s, "C3"); // from the first year with readings through the clock's
        QCOMPARE(QStringLiteral("%1-%2 %3 %4").arg(r.fromYear).arg(r.toYear).arg(two(r.fiveYear()), two(r.lifetime())),
                 QStringLiteral("2018-2023 9.54 109.31"));
        QCOMPARE(two(record(s, "C3", 2019, 2022).fiveYear()), QStringLiteral("109.31")); // 2018..2022
        QVERIFY(!PersonRecord::load(*s.store, s.db, "none", 0, 0, r, nullptr));

        PeriodReport p; // 甲's year: January under the background (0) and March 9.77, as the record has them
        QVERIFY(PeriodReport::load(*s.store, s.db, "放射科", QDate(2023, 3, 1), QDate(2023, 3, 31), p, nullptr));
        QCOMPARE(QStringLiteral("%1 %2 %3 %4").arg(p.people()).arg(two(p.groups[0].rows[1].period), two(p.period),
                                                                     two(p.yearToDate)), QStringLiteral("2 19.77 29.54 29.54"));
    }

    void documents()
    {
        ScratchDatabase s;
        fill(s);
        QVERIFY(ReportDocument::writePdf(record(s, "C3", 2012, 2023), {s.path("r.pdf"), false, QString()}, nullptr));
        const QString text = output("pdftotext", {"-layout", s.path("r.pdf"), "-"});
        const QString flat = QString(text).remove(QRegularExpression("\\s"));
        QVERIFY2(flat.contains("个人剂量档案") && flat.contains("丙") && flat.contains("99.77"), qPrintable(text));
        QVERIFY(flat.contains("生成时间2023-12-0110:00") && text.count('\f') >= 2);
        for (int k = 1; k <= text.count('\f'); ++k)
            QVERIFY2(flat.contains(QStringLiteral("第%1页共%2页").arg(k).arg(text.count('\f'))), qPrintable(text));

        // The summary's row of 2018 (the year, its dose) and May on the sheet of 2018: numbers.
        QVERIFY(ReportWorkbook::write(record(s, "C3"), {s.path("r.xlsx"), false, QString()}, nullptr));
        QVERIFY(output("unzip", {"-p", s.path("r.xlsx"), "xl/worksheets/sheet1.xml"})
                    .contains(QRegularExpression(R"(<c r="A\d+"><v>2018</v></c><c r="B\d+" s="\d+"><v>99.77</v></c>)")));
        QVERIFY(output("unzip", {"-p", s.path("r.xlsx"), "xl/worksheets/sheet2.xml"})
                    .contains(QRegularExpression(R"(<c r="B6" s="\d+"><v>99.77</v></c>)")));
    }

    void dosectl_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason"); // the first line on standard error
        QTest::newRow("person") << "person C3 --pdf out.pdf" << 0 << "";
        QTest::newRow("department") << "department --all --from 2023-01-01 --to 2023-12-31 --xlsx out.xlsx" << 0 << "";
        QTest::newRow("unknown department") << "department 无 --from 2023-01-01 --to 2023-02-01 --pdf out.pdf" << 1
                                            << "没有部门“无”";
        QTest::newRow("unwritable") << "person C3 --xlsx no/such/dir/out.xlsx" << 1 << "文件夹不存在：{}/no/such/dir";
    }
    void dosectl()
    {
        QFETCH(QString, args);
        QFETCH(int, code);
        QFETCH(QString, reason);
        ScratchDatabase s;
        fill(s);
        QString err;
        QCOMPARE(ctl(QStringList{"report"} + args.split(' '), nullptr, &err), code);
        QCOMPARE(err.isEmpty(), code == 0);
        if (code != 0)
            QCOMPARE(err.section('\n', 0, 0), "dosectl: " + QString(reason).replace("{}", QDir::currentPath()));
        QCOMPARE(files(s), code == 0 ? 2 : 1); // the document only when complete, never a partial one
    }
};

QTEST_MAIN(TestReports)
#include "tst_reports.moc"
