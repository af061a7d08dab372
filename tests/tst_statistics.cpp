// The annual dose statistics: band edges, the rows per department and type, dosectl statistics, its documents and the dialog.

#include <QtTest>
#include <QtWidgets>

#include "core/report/AnnualStatistics.h"
#include "core/time/Clock.h"
#include "desktop/ReportPrompt.h"
#include "desktop/StatisticsDialog.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

namespace {

// Every read of a dose table fails from then on, in the store's own words, while the table stays in place.
bool unreadable(ScratchDatabase& s, const QString& table)
{
    if (!s.postgres())
        return s.sabotage("lookup", table);
    return s.exec(QStringLiteral("alter table %1 rename to sabotaged").arg(table))
        && s.exec(QStringLiteral("create view %1 as select id, slaveId, dataTime, probeValue / (id - id) as probeValue "
                                 "from sabotaged")
                      .arg(table));
}

const QString kHeader = "department,type,monitored,collective_person_mSv,mean_mSv,max_mSv,le_1,1_5,5_10,10_15,15_20,"
                        "20_50,gt_50";

// A person of department and type wearing address slave from the start, with doses given as
// "yyyyMM:μSv" (a month total as stored, no reading: no background is taken off) or
// "yyyyMMddhh:μSv" (an hourly reading, with the day and month totals it makes).
void seed(ScratchDatabase& s, const QString& card, const QString& department, int ptype, int slave,
          const QString& doses)
{
    s.addPerson(card, card, department, ptype);
    s.addDevice(slave, card);
    QList<QPair<QString, double>> hours, months;
    for (const QString& dose : doses.split(' ', Qt::SkipEmptyParts))
        (dose.indexOf(':') == 10 ? hours : months) << qMakePair(dose.section(':', 0, 0), dose.section(':', 1).toDouble());
    s.addReadings(slave, hours);
    for (const auto& m : qAsConst(months))
        s.addDose("Yeardata", slave, m.first, m.second);
}

// Two departments, both types: one unmonitored person in each non-occupational row.
void population(ScratchDatabase& s)
{
    QVERIFY(s.exec("insert into Department(department, dname) values('放射科', '主任'), ('核医学科', '主任')"));
    seed(s, "A1", "放射科", 0, 1, "202301:1000");                    // exactly 1 mSv
    seed(s, "A2", "放射科", 0, 2, "202304:600 202311:400.01");        // two months just over 1
    seed(s, "A3", "放射科", 0, 3, "2023031008:0.1 2023031009:0.1");   // monitored, nothing above background
    seed(s, "B1", "放射科", 1, 4, "202307:20000");                   // exactly 20
    seed(s, "B2", "放射科", 1, 5, "202212:3000");                    // the year before only
    seed(s, "C1", "核医学科", 0, 6, "202302:50000.01");              // just over 50
    seed(s, "C2", "核医学科", 0, 7, "202309:20000.01");              // just over 20
    seed(s, "D1", "核医学科", 2, 8, "202401:700");                   // the year after only
}

// The CSV of dosectl statistics, checked for its header; empty on failure.
QStringList statistics(const QStringList& args, int* code = nullptr)
{
    QString out, err;
    const int c = ctl(QStringList{"statistics", "--year", "2023"} + args, &out, &err);
    if (code)
        *code = c;
    QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    if (c != 0 || lines.value(0) != kHeader) {
        qWarning() << "dosectl statistics:" << c << err << out;
        return {};
    }
    return lines.mid(1);
}

// The sum of the year figures dosectl status prints as of 31 December, in μSv.
double statusYearSum()
{
    QString out;
    ctl({"status", "--date", "2023-12-31"}, &out);
    double sum = 0;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts).mid(1))
        sum += line.section(',', 5, 5).toDouble();
    return sum;
}

// The first sheet of a workbook from its heading row (部门, 类型, …) on, every cell as its text (numbers as written).
QVector<QStringList> sheetRows(const QString& file)
{
    const QString shared = output("unzip", {"-p", file, "xl/sharedStrings.xml"});
    QStringList strings;
    QRegularExpressionMatchIterator si = QRegularExpression("<si><t[^>]*>(.*?)</t></si>").globalMatch(shared);
    while (si.hasNext())
        strings << si.next().captured(1).replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&");
    const QString sheet = output("unzip", {"-p", file, "xl/worksheets/sheet1.xml"});
    QVector<QStringList> rows;
    QRegularExpressionMatchIterator ri = QRegularExpression("<row r=\"\\d+\"[^>]*>(.*?)</row>").globalMatch(sheet);
    while (ri.hasNext()) {
        QStringList cells;
        QRegularExpressionMatchIterator ci =
            QRegularExpression("<c r=\"([A-Z]+)\\d+\"([^>]*)>(?:<v>(.*?)</v>)?</c>")
                .globalMatch(ri.next().captured(1));
        while (ci.hasNext()) {
            const QRegularExpressionMatch c = ci.next();
            const int column = c.captured(1).at(0).unicode() - 'A';
            while (cells.size() < column)
                cells << QString();
            cells << (c.captured(2).contains("t=\"s\"") ? strings.value(c.captured(3).toInt()) : c.captured(3));
        }
        if (!rows.isEmpty() || cells.mid(0, 2) == QStringList{"部门", "类型"})
            rows << cells;
    }
    return rows;
}

// The CSV line's figures equal the sheet row's: texts as they are, figures as numbers.
bool sameRow(const QString& csv, QStringList cells)
{
    const QStringList fields = csv.split(',');
    while (cells.size() < fields.size())
        cells << QString();
    for (int i = 0; i < fields.size(); ++i) {
        const bool same = i < 2 || fields[i].isEmpty() ? fields[i] == cells[i]
                                                        : qAbs(fields[i].toDouble() - cells[i].toDouble()) < 1e-9
                && !cells[i].isEmpty();
        if (!same) {
            qWarning() << "differs at" << i << csv << cells;
            return false;
        }
    }
    return cells.size() == fields.size();
}

QStringList listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name).filter(QRegularExpression("\\.(pdf|xlsx)$"));
}

} // namespace

class TestStatistics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }
    void initTestCase() { Clock::setNow(QDateTime(QDate(2024, 2, 1), QTime(9, 0))); }

    // One person alone: the band the year dose of record falls in, each band holding its upper bound.
    void bands_data()
    {
        QTest::addColumn<QString>("doses");
        QTest::addColumn<int>("band"); // -1: not monitored in 2023, not counted
        QTest::addColumn<QString>("collective");
        QTest::newRow("exactly 1") << "202301:1000" << 0 << "1.000";
        QTest::newRow("just over 1, two months") << "202301:600 202302:400.01" << 1 << "1.000";
        QTest::newRow("exactly 5") << "202306:5000" << 1 << "5.000";
        QTest::newRow("exactly 10") << "202312:10000" << 2 << "10.000";
        QTest::newRow("exactly 15") << "202305:15000" << 3 << "15.000";
        QTest::newRow("exactly 20") << "202302:12000 202308:8000" << 4 << "20.000";
        QTest::newRow("just over 20") << "202307:20000.01" << 5 << "20.000";
        QTest::newRow("exactly 50") << "202310:50000" << 5 << "50.000";
        QTest::newRow("just over 50") << "202310:50000.01" << 6 << "50.000";
        QTest::newRow("0.01 μSv") << "202310:0.01" << 0 << "0.000";
        // Readings of 1000.46 less two hours' background: exactly 1 mSv of record, not the raw sum.
        QTest::newRow("net of background") << "2023050108:1000.46 2023050109:0" << 0 << "1.000";
        QTest::newRow("below background") << "2023031008:0.1 2023031009:0.1" << 0 << "0.000";
        QTest::newRow("the year's last hour") << "2023123123:2000" << 1 << "2.000";
        QTest::newRow("the next year's first hour") << "2024010100:2000" << -1 << "0.000";
        QTest::newRow("the year before") << "202212:3000" << -1 << "0.000";
        QTest::newRow("no dose at all") << "" << -1 << "0.000";
    }
    void bands()
    {
        QFETCH(QString, doses);
        QFETCH(int, band);
        QFETCH(QString, collective);
        ScratchDatabase s;
        seed(s, "A1", "放射科", 0, 1, doses);
        const QStringList rows = statistics({});
        QCOMPARE(rows.size(), 4); // the person's department and type, both types, everyone
        QStringList expected{"1", collective, collective, collective, "0", "0", "0", "0", "0", "0", "0"};
        if (band < 0)
            expected = QStringList{"0", "0.000", "", "", "0", "0", "0", "0", "0", "0", "0"};
        else
            expected[4 + band] = "1";
        QCOMPARE(rows.first(), "放射科,职业," + expected.join(','));
        QCOMPARE(rows.last(), "全部,全部," + expected.join(','));
        QVERIFY(qAbs(statusYearSum() / 1000 - rows.last().section(',', 3, 3).toDouble()) <= 0.001);
    }

    // An approved adjustment is the dose of record of its month: counted as dosectl status counts it.
    void adjustedMonthsCount()
    {
        ScratchDatabase s;
        seed(s, "A1", "放射科", 0, 1, "202301:1000");
        QVERIFY(s.exec("update DosePolicy set value = 0 where name = 'adjustment_needs_approval'")); // approved when filed
        QString out, err;
        QVERIFY2(ctl({"adjust", "add", "A1", "202305", "--value", "6000", "--kind", "notional", "--reason",
                      "剂量计丢失，按调查结果估算"},
                     &out, &err)
                     == 0,
                 qPrintable(err));
        QCOMPARE(statistics({}).value(3), QString("全部,全部,1,7.000,7.000,7.000,0,0,1,0,0,0,0"));
        QVERIFY(qAbs(statusYearSum() - 7000) <= 1);
    }

    void rows_data()
    {
        QTest::addColumn<QString>("department");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all") << QString() << QStringList{
            "放射科,职业,3,2.000,0.667,1.000,2,1,0,0,0,0,0",
            "放射科,非职业,1,20.000,20.000,20.000,0,0,0,0,1,0,0",
            "核医学科,职业,2,70.000,35.000,50.000,0,0,0,0,0,1,1",
            "核医学科,非职业,0,0.000,,,0,0,0,0,0,0,0",
            "全部,职业,5,72.000,14.400,50.000,2,1,0,0,0,1,1",
            "全部,非职业,1,20.000,20.000,20.000,0,0,0,0,1,0,0",
            "全部,全部,6,92.000,15.333,50.000,2,1,0,0,1,1,1"};
        QTest::newRow("one department") << "核医学科" << QStringList{
            "核医学科,职业,2,70.000,35.000,50.000,0,0,0,0,0,1,1",
            "核医学科,非职业,0,0.000,,,0,0,0,0,0,0,0",
            "核医学科,全部,2,70.000,35.000,50.000,0,0,0,0,0,1,1"};
    }
    void rows()
    {
        QFETCH(QString, department);
        QFETCH(QStringList, expected);
        ScratchDatabase s;
        population(s);
        const QStringList rows = statistics(department.isEmpty() ? QStringList() : QStringList{"--department", department});
        QCOMPARE(rows, expected);
        for (const QString& row : rows) {
            const QStringList f = row.split(',');
            int bands = 0;
            for (int i = 6; i < f.size(); ++i)
                bands += f[i].toInt();
            QCOMPARE(bands, f[2].toInt());
        }
        if (department.isEmpty()) // status: 1000 + 1000.01 + 0 + 20000 + 0 + 50000.01 + 20000.01 + 0 μSv
            QVERIFY(qAbs(statusYearSum() / 1000 - rows.last().section(',', 3, 3).toDouble()) <= 0.001);
    }

    // The documents show the figures the CSV prints.
    void documents()
    {
        ScratchDatabase s;
        population(s);
        const QStringList csv = statistics({});
        QCOMPARE(csv.size(), 7);
        QString out;
        QCOMPARE(ctl({"statistics", "--year", "2023", "--xlsx", "s.xlsx"}, &out), 0);
        QCOMPARE(out, QString()); // the document only, nothing on standard output
        const QVector<QStringList> sheet = sheetRows(s.path("s.xlsx"));
        QCOMPARE(sheet.size(), csv.size() + 1);
        QCOMPARE(sheet.first().mid(6), QStringList({"≤1 mSv", "1–5 mSv", "5–10 mSv", "10–15 mSv", "15–20 mSv",
                                                     "20–50 mSv", ">50 mSv"}));
        for (int i = 0; i < csv.size(); ++i)
            QVERIFY(sameRow(csv[i], sheet[i + 1]));
        QVERIFY(output("unzip", {"-l", s.path("s.xlsx")}).contains("xl/charts/chart1.xml"));

        QCOMPARE(ctl({"statistics", "--year", "2023", "--pdf", "s.pdf"}), 0);
        const QString text = output("pdftotext", {"-layout", s.path("s.pdf"), "-"});
        QVERIFY2(text.contains("2023年度剂量统计") && text.contains(QRegularExpression("生成时间\\s*2024-02-01 09:00"))
                     && text.contains(QRegularExpression("第\\s*1\\s*页\\s*共\\s*1\\s*页")),
                 qPrintable(text));
        for (const QString& row : csv) {
            QStringList f = row.split(',');
            for (QString& field : f)
                field = field.isEmpty() ? "—" : QRegularExpression::escape(field);
            QVERIFY2(text.contains(QRegularExpression("^\\s*" + f.join("\\s+") + "\\s*$",
                                                      QRegularExpression::MultilineOption)),
                     qPrintable(row + "\n" + text));
        }
        QVERIFY(output("pdfimages", {"-list", s.path("s.pdf")}).count('\n') >= 3); // the chart: two heading lines
    }

    void failures_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("unreadable"); // a table, or "drop TABLE"
        QTest::addColumn<int>("code");
        QTest::newRow("totals unreadable, CSV") << "" << "Yeardata" << 1;
        QTest::newRow("totals unreadable, PDF") << "--pdf out.pdf" << "Yeardata" << 1;
        QTest::newRow("readings unreadable, workbook") << "--xlsx out.xlsx" << "Realdata" << 1;
        QTest::newRow("totals dropped, PDF") << "--pdf out.pdf" << "drop Yeardata" << 1;
        QTest::newRow("unknown department") << "--department 无 --pdf out.pdf" << "" << 1;
        QTest::newRow("wrong ending") << "--pdf out.xlsx" << "" << 2;
        QTest::newRow("both files") << "--pdf out.pdf --xlsx out.xlsx" << "" << 2;
        QTest::newRow("--force without a file") << "--force" << "" << 2;
        QTest::newRow("not a year") << "--pdf out.pdf --year 23" << "" << 2;
    }
    void failures()
    {
        QFETCH(QString, args);
        QFETCH(QString, unreadable);
        QFETCH(int, code);
        ScratchDatabase s;
        population(s);
        if (unreadable.startsWith("drop ") && s.postgres())
            QSKIP("on a server the store is laid out anew: a dropped table comes back empty");
        if (!unreadable.isEmpty())
            QVERIFY(unreadable.startsWith("drop ") ? s.sabotage("drop", unreadable.section(' ', 1))
                                                   : ::unreadable(s, unreadable));
        QString out, err;
        QCOMPARE(ctl(QStringList{"statistics", "--year", "2023"} + args.split(' ', Qt::SkipEmptyParts), &out, &err), code);
        QVERIFY2(out.isEmpty() && !err.isEmpty(), qPrintable(out + err));
        QCOMPARE(listing(s.dir.path()), QStringList());
    }

    // The seam itself: a dropped table is an error, never a table of zeros.
    void droppedTable()
    {
        ScratchDatabase s;
        population(s);
        QVERIFY(s.sabotage("drop", "Yeardata"));
        AnnualStatistics st;
        QString why;
        QVERIFY(!AnnualStatistics::load(*s.store, s.db, QString(), 2023, st, &why));
        QCOMPARE(why, QStringLiteral("cannot read the database"));
    }

    // 年度剂量统计: the year typed, the department picked, the buttons pressed.
    void dialog()
    {
        ScratchDatabase s;
        population(s);
        const QStringList csv = statistics({"--department", "核医学科"});
        QString chosen = s.path("核医学科.xlsx");
        int asked = 0;
        ReportPrompt::setSaveFileName([&](QWidget*, const QString&) { ++asked; return chosen; });
        StatisticsDialog view(nullptr, s.store.get());
        view.show();
        auto* year = FormDriver::child<QSpinBox>(&view, "sb_year");
        QCOMPARE(year->value(), 2023); // the year just closed
        year->clear();
        QTest::keyClicks(year, "2022");
        auto* department = FormDriver::child<QComboBox>(&view, "cb_depart");
        QCOMPARE(department->count(), 3);
        department->setCurrentIndex(department->findText("核医学科"));
        PRESS_ANSWERED(&view, "btnXlsx", "年度剂量统计", "已保存到 " + chosen);
        QCOMPARE(sheetRows(chosen).value(3).mid(0, 3), QStringList({"核医学科", "全部", "0"}));
        QVERIFY(QFile::remove(chosen));

        QTest::keyClick(year, Qt::Key_Up);
        PRESS_ANSWERED(&view, "btnXlsx", "年度剂量统计", "已保存到 " + chosen);
        const QVector<QStringList> sheet = sheetRows(chosen);
        QCOMPARE(sheet.size(), csv.size() + 1);
        for (int i = 0; i < csv.size(); ++i)
            QVERIFY(sameRow(csv[i], sheet[i + 1]));

        // An unreadable table: a box saying so, no file asked for or written.
        chosen = s.path("later.pdf");
        QVERIFY(s.sabotage("drop", "Yeardata"));
        PRESS_ANSWERED(&view, "btnPdf", "年度剂量统计", "无法统计: cannot read the database");
        ReportPrompt::setSaveFileName({});
        QCOMPARE(asked, 2);
        QCOMPARE(listing(s.dir.path()), QStringList{"核医学科.xlsx"});
    }
};

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
