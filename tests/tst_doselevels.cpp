// Dose levels, the net-dose windows, the policy, alerts and dosectl status.

#include <QtTest>
#include <QtWidgets>

#include "core/time/Clock.h"
#include "desktop/DoseAlerts.h"
#include "desktop/DoseOverview.h"
#include "core/dose/DoseOfRecord.h"
#include "core/dose/DoseStatus.h"
#include "core/report/PersonRecord.h"
#include "support/FormDriver.h"
#include "support/FreeXlReader.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

namespace {

QString figures(const DoseFigures& f)
{
    return QStringLiteral("%1 %2 %3 %4").arg(f.quarter, 0, 'f', 2).arg(f.year, 0, 'f', 2).arg(f.fiveYear, 0, 'f', 2)
        .arg(f.last12, 0, 'f', 2);
}

} // namespace

class TestDoseLevels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    void levels_data()
    {
        QTest::addColumn<int>("ptype");
        QTest::addColumn<double>("quarter");
        QTest::addColumn<double>("year");
        QTest::addColumn<double>("five");
        QTest::addColumn<QString>("level");
        QTest::newRow("below all, at annual and five years") << 0 << 1249.99 << 20000.0 << 100000.0 << "normal";
        QTest::newRow("at investigation") << 0 << 1250.0 << 1250.0 << 1250.0 << "investigate";
        QTest::newRow("above annual") << 0 << 0.0 << 20000.01 << 20000.01 << "warning";
        QTest::newRow("at single year") << 0 << 0.0 << 50000.0 << 50000.0 << "warning";
        QTest::newRow("above single year") << 0 << 0.0 << 50000.01 << 50000.01 << "limit";
        QTest::newRow("above five years") << 0 << 0.0 << 0.0 << 100000.01 << "limit";
        QTest::newRow("other below") << 2 << 249.99 << 999.0 << 4999.0 << "normal";
        QTest::newRow("other investigation") << 2 << 250.0 << 250.0 << 250.0 << "investigate";
        QTest::newRow("other annual") << 1 << 0.0 << 1000.01 << 1000.01 << "warning";
        QTest::newRow("other single year") << 2 << 0.0 << 5000.01 << 5000.01 << "limit";
        QTest::newRow("other five years") << 2 << 0.0 << 0.0 << 5000.01 << "limit";
    }
    void levels()
    {
        QFETCH(int, ptype);
        QFETCH(double, quarter);
        QFETCH(double, year);
        QFETCH(double, five);
        QFETCH(QString, level);
        DoseFigures f;
        f.quarter = quarter;
        f.year = year;
        f.fiveYear = five;
        QCOMPARE(DoseLevel::word(DoseLevel::judge(f, DosePolicy(), ptype).level), level);
    }

    void reasonAndPeriod()
    {
        DoseFigures f;
        f.year = 51234.5;
        const DoseLevel::Verdict v = DoseLevel::judge(f, DosePolicy(), 0);
        QCOMPARE(v.reason, QStringLiteral("超限: 本年 51234.5μSv > 50000μSv"));
        QCOMPARE(DoseLevel::periodKey(DoseLevel::Investigate, QDate(2026, 9, 30)), QStringLiteral("2026Q3"));
        QCOMPARE(DoseLevel::periodKey(DoseLevel::Investigate, QDate(2026, 10, 1)), QStringLiteral("2026Q4"));
        QCOMPARE(DoseLevel::periodKey(DoseLevel::Limit, QDate(2026, 10, 1)), QStringLiteral("2026"));
    }

    void policyFallbacksAndChecks()
    {
        ScratchDatabase s;
        // A shared store keeps numbers only; a file may hold any text.
        QVERIFY(s.exec(QStringLiteral("update DosePolicy set value = %1 where name = 'annual_limit_other'")
                           .arg(s.postgres() ? "null" : "'abc'")));
        QVERIFY(s.exec("update DosePolicy set value = -5 where name = 'investigation_quarter_other'"));
        QVERIFY(s.exec("update DosePolicy set value = 0.5 where name = 'background_per_hour'"));
        QVERIFY(s.exec("delete from DosePolicy where name = 'single_year_limit_other'"));
        DosePolicy p = DosePolicy::load(*s.store, s.db);
        QCOMPARE(p.background(), 0.5);
        QCOMPARE(p.annualLimit(1), 1000.0);
        QCOMPARE(p.singleYearLimit(1), 5000.0);
        QCOMPARE(p.investigationLevel(1), 250.0);
        QVERIFY(p.problems().isEmpty());
        p.setValue("annual_limit_occupational", 60000);
        p.setValue("background_per_hour", 0);
        const QString problems = p.problems().join('|');
        QCOMPARE(problems, QStringLiteral("本底 (μSv/小时) 必须大于 0|年剂量限值 · 职业 (60000 μSv) 不能大于 单一年份限值 · 职业 "
                                          "(50000 μSv)"));
        QVERIFY(p.save(*s.store, s.db));
        QCOMPARE(DosePolicy::load(*s.store, s.db).annualLimit(0), 60000.0);
    }

    // Every window is a sum of monthly doses of record, each month netted on its own and rounded to 0.01.
    void monthsOfRecord_data()
    {
        QTest::addColumn<QString>("readings"); // "yyyyMMddhh:μSv", "+N" for N hours in a row; totals-only "yyyyMM=μSv"
        QTest::addColumn<QDateTime>("at");
        QTest::addColumn<QString>("months"); // of at's year through at's month; "—" not monitored
        QTest::addColumn<QString>("figures"); // quarter year five-years last12
        QTest::newRow("negative month between positive ones")
            << "2026010100+10:1 2026020100+10:0.1 2026030100:5" << QDateTime(QDate(2026, 3, 31), QTime(23, 0))
            << "7.70 0.00 4.77" << "12.47 12.47 12.47 12.47";
        QTest::newRow("a month nobody was monitored") << "2026010100:1 2026030100:2"
                                                      << QDateTime(QDate(2026, 3, 2), QTime(8, 0)) << "0.77 — 1.77"
                                                      << "2.54 2.54 2.54 2.54";
        QTest::newRow("last12 across a year end")
            << "2025013123:100 2025020100:10 2026011512:1 2026011513:1000" << QDateTime(QDate(2026, 1, 15), QTime(12, 30))
            << "0.77" << "0.77 0.77 110.31 10.54";
        QTest::newRow("D at the last hour of a month")
            << "2026033123:100 2026040100:200 202201=1000 202112=5000" << QDateTime(QDate(2026, 3, 31), QTime(23, 30))
            << "— — 99.77" << "99.77 99.77 1099.77 99.77";
        QTest::newRow("D's month only through D's hour")
            << "2026033123:100 2026040100:200 2026040101:50" << QDateTime(QDate(2026, 4, 1), QTime(0, 0))
            << "— — 99.77 199.77" << "199.77 299.54 299.54 299.54";
        QTest::newRow("a year later the month has left last12") << "2026040100:200 2026040101:50"
                                                                 << QDateTime(QDate(2027, 4, 1), QTime(0, 59))
                                                                 << "— — — —" << "0.00 0.00 249.54 0.00";
    }
    void monthsOfRecord()
    {
        QFETCH(QString, readings);
        QFETCH(QDateTime, at);
        QFETCH(QString, months);
        QFETCH(QString, figures);
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(5, "c1");
        QList<QPair<QString, double>> hours, totals;
        for (const QString& r : readings.split(' ')) {
            const QString at = r.section(':', 0, 0).section('+', 0, 0);
            const QDateTime first = QDateTime::fromString(at, "yyyyMMddhh");
            for (int h = 0; first.isValid() && h < qMax(1, r.section(':', 0, 0).section('+', 1).toInt()); ++h)
                hours << qMakePair(first.addSecs(3600 * h).toString("yyyyMMddhh"), r.section(':', 1).toDouble());
            if (r.contains('='))
                totals << qMakePair(r.section('=', 0, 0), r.section('=', 1).toDouble());
        }
        s.addReadings(5, hours);
        for (const auto& t : qAsConst(totals)) // months whose readings are no longer kept
            s.addDose("Yeardata", 5, t.first, t.second);
        DoseStatus status(*s.store, s.db);
        DoseOfRecord::Months shown;
        QVERIFY(status.months("c1", QDateTime(QDate(at.date().year(), 1, 1), QTime(0, 0)), DoseStatus::endOf(at), shown));
        QStringList texts;
        for (const DoseOfRecord::Month& m : qAsConst(shown))
            texts << (m.monitored ? QString::number(m.dose(), 'f', 2) : QStringLiteral("—"));
        QCOMPARE(texts.join(' '), months);
        DoseFigures f;
        QVERIFY(status.figures("c1", at, f));
        QCOMPARE(::figures(f), figures);
        double used = -1;
        QVERIFY(status.lastYearUsed("c1", at, used));
        QCOMPARE(QString::number(used, 'f', 2), figures.section(' ', 3));
        // Nobody, or readings all below the background: 0, never negative.
        QVERIFY(status.figures("nobody", at, f));
        QCOMPARE(::figures(f), QStringLiteral("0.00 0.00 0.00 0.00"));
    }

    // The record, dosectl status and the overview print the same year, to the cent, and last12 is the
    // sum of the record's last twelve months.
    void recordStatusAndOverviewAgree()
    {
        ScratchDatabase s;
        for (int p = 0; p < 3; ++p) {
            const QString card = QStringLiteral("c%1").arg(p);
            s.addPerson(card, card, "放射科", p % 2);
            s.addDevice(5 + p, card);
            QList<QPair<QString, double>> hours; // some months lie under the background
            for (int m = 1; m <= 12; ++m) {
                const bool low = (m + p) % 3 == 0;
                for (int h = 0; h < (low ? 5 : 3); ++h)
                    hours << qMakePair(QDateTime(QDate(2025, m, 10), QTime(h, 0)).toString("yyyyMMddhh"),
                                       low ? 0.11 : 1.37 * m + p);
            }
            s.addReadings(5 + p, hours);
        }
        QString out;
        QCOMPARE(ctl({"status", "--date", "2025-12-31"}, &out), 0);
        Clock::setNow(QDateTime(QDate(2025, 12, 31), QTime(12, 0))); // the overview opens on the clock's day
        DoseOverview view(nullptr, s.store.get());
        view.show();
        Clock::reset();
        const QAbstractItemModel* model = FormDriver::child<QTableView>(&view, "tv_overview")->model();
        DoseStatus status(*s.store, s.db);
        for (int p = 0; p < 3; ++p) {
            PersonRecord r;
            QVERIFY(PersonRecord::load(*s.store, s.db, QStringLiteral("c%1").arg(p), 2025, 2026, r, nullptr));
            const QString year = QString::number(r.year(2025), 'f', 2);
            QCOMPARE(out.split('\n').at(p + 1).section(',', 5, 5), year);
            QCOMPARE(model->index(p, 5).data().toString(), year);
            for (int m = 1; m <= 12; ++m) { // no readings after 2025: last12 only ever loses months
                double used = -1, twelve = 0;
                QVERIFY(status.lastYearUsed(r.person.ID_card, QDateTime(QDate(2026, m, 1), QTime(23, 0)), used));
                for (int k = m - 11; k <= m; ++k)
                    twelve += r.month(k <= 0 ? 2025 : 2026, k <= 0 ? k + 12 : k);
                QCOMPARE(QString::number(used, 'f', 2), QString::number(twelve, 'f', 2));
            }
        }
    }

    // A read that fails is an error everywhere, never a dose of 0 or 正常.
    void failedReadsAreErrors_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("wear periods unreadable") << "periods";
        QTest::newRow("query error in the middle of a loop") << "loop";
        QTest::newRow("damaged page") << "page";
    }
    void failedReadsAreErrors()
    {
        QFETCH(QString, how);
        auto s = std::make_unique<ScratchDatabase>();
        if (how == "page" && s->postgres())
            QSKIP("the server's pages are not ours to damage");
        s->addPerson("c1", "甲");
        s->addDevice(5, "c1");
        QList<QPair<QString, double>> hours;
        for (int h = 0; h < 24 * 200; h += how == "page" ? 3 : 24 * 7) // enough index pages to damage one
            hours << qMakePair(QDateTime(QDate(2025, 9, 1), QTime(0, 0)).addSecs(3600 * h).toString("yyyyMMddhh"), 2.0);
        s->addReadings(5, hours);
        QString out, err;
        QCOMPARE(ctl({"status", "--date", "2026-03-01"}, &out), 0);
        if (how == "periods") {
            QVERIFY(s->exec("alter table Wearing rename column ID_card to card"));
        } else if (how == "loop") { // the months after January fail as they are read
            QVERIFY(s->exec("alter table Yeardata rename to kept"));
            QVERIFY(s->exec(s->postgres() ? "create view Yeardata as select * from kept where dataTime < '202601' "
                                            "or 1 / (id - id) = 1"
                                          : "create view Yeardata as select * from kept where dataTime < 202601 "
                                            "or abs(-9223372036854775807 - 1) >= 0"));
        } else { // a page in the middle of the readings' index, overwritten
            const int page = s->value("select pageno from dbstat where name = 'idx_Realdata_slaveId_dataTime' "
                                      "and pagetype = 'leaf' order by pageno limit 1 offset 2").toInt();
            const int size = s->value("pragma page_size").toInt();
            QVERIFY(page > 0);
            const QString file = s->path("database.db");
            s->store->closeConnection(QSqlDatabase::defaultConnection);
            for (const QString& name : QSqlDatabase::connectionNames())
                QSqlDatabase::database(name, false).close();
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(qint64(page - 1) * size) && f.write(QByteArray(size, '\x5a')) == size);
            f.close();
            for (const QString& name : QSqlDatabase::connectionNames())
                QSqlDatabase::database(name, true);
        }
        QCOMPARE(ctl({"status", "--date", "2026-03-01"}, &out, &err), 1);
        QVERIFY2(out.isEmpty() && err.startsWith("dosectl: "), qPrintable(out + err));
        QCOMPARE(ctl({"report", "person", "c1", "--pdf", s->path("r.pdf")}, &out, &err), 1);
        QCOMPARE(ctl({"report", "department", "--all", "--from", "2026-01-01", "--to", "2026-01-31", "--xlsx",
                      s->path("r.xlsx")}, &out, &err), 1);
        QVERIFY(!QFile::exists(s->path("r.pdf")) && !QFile::exists(s->path("r.xlsx")));
        DoseStatus status(*s->store, s->db);
        QList<PersonStatus> rows;
        QVERIFY(!status.evaluate(rows, QDateTime(QDate(2026, 3, 1), QTime(23, 0))));
        QCOMPARE(status.raiseAlerts(rows, QDateTime(QDate(2026, 3, 1), QTime(23, 0))), 0);
        Clock::setNow(QDateTime(QDate(2026, 3, 1), QTime(12, 0)));
        DoseOverview view(nullptr, s->store.get());
        ModalScript script;
        script.boxStarting("剂量概览", "剂量读取失败", QMessageBox::Ok, &view);
        view.show();
        ANSWERED(script);
        Clock::reset();
        QCOMPARE(FormDriver::child<QTableView>(&view, "tv_overview")->model()->rowCount(), 0);
        // Nor is the empty table exported as if nobody had a dose.
        DoseOverview::setSaveFileName([&](QWidget*) { return s->path("unread.xlsx"); });
        script.box("剂量概览", "剂量读取失败, 无法导出总览", QMessageBox::Ok, &view);
        FormDriver::click(&view, "btnExport");
        ANSWERED(script);
        DoseOverview::setSaveFileName({});
        QVERIFY(!QFile::exists(s->path("unread.xlsx")));
    }

    void alertsOnceAndAcknowledged()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲", "放射科", 2);
        s.addDevice(5, "c1");
        s.addReadings(5, {{"2026040100", 300}});
        DoseStatus status(*s.store, s.db);
        QList<PersonStatus> rows;
        const QDateTime at(QDate(2026, 4, 1), QTime(5, 0));
        QVERIFY(status.evaluate(rows, at));
        QCOMPARE(DoseLevel::word(rows.at(0).verdict.level), QStringLiteral("investigate"));
        QCOMPARE(status.raiseAlerts(rows, at), 1);
        QCOMPARE(status.raiseAlerts(rows, at.addDays(1)), 0);
        QCOMPARE(s.list("select periodKey, dose, threshold from DoseAlert"), QStringLiteral("2026Q2 299.77 250"));

        DoseAlerts dialog(nullptr, s.store.get());
        auto* view = FormDriver::child<QTableView>(&dialog, "tv_alerts");
        QCOMPARE(view->model()->rowCount(), 1);
        QCOMPARE(view->model()->index(0, 1).data().toString(), QStringLiteral("甲"));
        view->selectRow(0);
        PRESS_ANSWERED(&dialog, "btnAck", "剂量告警", "请填写说明!");
        QCOMPARE(dialog.unacknowledged(), 1);
        FormDriver::child<QLineEdit>(&dialog, "le_comment")->setText("已调查");
        // Who acknowledged is the account, whatever the environment claims (or lacks).
        const QByteArray user = qgetenv("USER");
        qputenv("USER", "mallory");
        qunsetenv("LOGNAME");
        FormDriver::click(&dialog, "btnAck");
        qputenv("USER", user);
        const QString account = output("id", {"-un"}).trimmed() + '@' + QSysInfo::machineHostName();
        QCOMPARE(s.value("select ackBy from DoseAlert").toString(), account);
        QCOMPARE(s.list("select distinct actor from AuditLog where action = 'ack'"), account);
        QCOMPARE(dialog.unacknowledged(), 0);
        QCOMPARE(view->model()->rowCount(), 0);
        QCOMPARE(s.value("select comment from DoseAlert").toString(), QStringLiteral("已调查"));
        const int id = s.value("select id from DoseAlert").toInt();
        QVERIFY(!s.store->acknowledgeAlert(id, "20270101000000", "x", "again", s.db));
    }

    void dosectlStatus()
    {
        ScratchDatabase s;
        s.addPerson("c2", "王,\"五\"", "核医学科", 1);
        s.addPerson("c1", "甲", "放射科");
        s.addDevice(5, "c1");
        s.exec("insert into Department(department, dname) values('放射科', '主任')");
        s.addReadings(5, {{"2026040100", 1300}});
        // A file from before the wear periods: the bound device's readings are still its wearer's.
        QVERIFY(s.exec("drop table Wearing"));
        QString out, err;
        QCOMPARE(ctl({"status", "--date", "2026-04-01"}, &out, &err), 0);
        QCOMPARE(out, QStringLiteral("ID_card,name,department,type,quarter_uSv,year_uSv,last12_uSv,five_year_uSv,level,adjusted\n"
                                     "c1,甲,放射科,职业,1299.77,1299.77,1299.77,1299.77,investigate,\n"
                                     "c2,\"王,\"\"五\"\"\",核医学科,非职业,0.00,0.00,0.00,0.00,normal,\n"));
        // The overview shows the same table, and exports it.
        DoseOverview view(nullptr, s.store.get());
        view.show();
        FormDriver::child<QDateEdit>(&view, "de_date")->setDate(QDate(2026, 4, 1));
        const QAbstractItemModel* model = FormDriver::child<QTableView>(&view, "tv_overview")->model();
        QStringList shown;
        for (int r = 0; r < model->rowCount(); ++r) {
            for (int c = 0; c < model->columnCount(); ++c)
                shown << model->index(r, c).data().toString();
        }
        const QStringList lines = out.split('\n');
        QCOMPARE(shown.size(), 20);
        QCOMPARE(shown.mid(0, 8).join(',') + ",investigate," + shown.at(9), lines.at(1)); // the level in words: 调查
        QCOMPARE(shown.at(8), QString("调查"));
        DoseOverview::setSaveFileName([&](QWidget*) { return s.path("overview.xlsx"); });
        PRESS_ANSWERED(&view, "btnExport", "剂量概览", "2 人的剂量已导出到 " + s.path("overview.xlsx"));
        // A real workbook: Chinese headers, the ID card as text, doses as numbers with two decimals.
        const QString sheet = output("unzip", {"-p", s.path("overview.xlsx"), "xl/worksheets/sheet1.xml"});
        const QString strings = output("unzip", {"-p", s.path("overview.xlsx"), "xl/sharedStrings.xml"});
        QVERIFY2(strings.contains("身份证号") && strings.contains("近12个月 (μSv)") && strings.contains("调查"), qPrintable(strings));
        QVERIFY2(sheet.contains(QRegularExpression(R"(<c r="A4" t="s"><v>\d+</v></c>)")), qPrintable(sheet));
        QVERIFY2(sheet.contains(QRegularExpression(R"(<c r="E4" s="\d+"><v>1299.77</v></c>)")), qPrintable(sheet));
        QCOMPARE(ctl({"status", "--department", "放射科", "--date", "2026-04-01"}, &out), 0);
        QCOMPARE(out.count('\n'), 2);
        QCOMPARE(ctl({"status", "x"}, &out, &err), 2); // the other refusals: tst_cliwords
        QCOMPARE(ctl({"status", "--help"}, &out), 0);
        QVERIFY(out.contains("--department"));
    }
};

QTEST_MAIN(TestDoseLevels)
#include "tst_doselevels.moc"
