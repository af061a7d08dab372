// Dose levels, the net-dose windows, the policy, alerts and dosectl status.

#include <QDateEdit>
#include <QLineEdit>
#include <QSysInfo>
#include <QTableView>
#include <QtTest>

#include "dose/DoseAlerts.h"
#include "dose/DoseOverview.h"
#include "dose/DoseStatus.h"
#include "query/XlsSqlDriver.h"
#include "support/FormDriver.h"
#include "support/FreeXlReader.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

namespace {

// Hourly readings ("yyyyMMddhh" -> μSv) with the day and month totals they make, as the storage writes them.
void addReadings(ScratchDatabase& s, int slave, const QList<QPair<QString, double>>& readings)
{
    for (const auto& r : readings)
        s.addDose("Realdata", slave, r.first + "0000", r.second);
    for (const char* table : {"Monthdata", "Yeardata"}) {
        const int digits = table[0] == 'M' ? 8 : 6;
        s.exec(QStringLiteral("delete from %1 where slaveId = ?").arg(table), {slave});
        s.exec(QStringLiteral("insert into %1(slaveId, dataTime, probeValue) select slaveId, substr(dataTime, 1, %2), "
                              "sum(probeValue) from Realdata where slaveId = ? group by slaveId, substr(dataTime, 1, %2)")
                   .arg(table)
                   .arg(digits),
               {slave});
    }
}

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
        QVERIFY2(problems.contains("background_per_hour") && problems.contains("annual_limit_occupational (60000)")
                     && problems.contains("single_year_limit_occupational (50000)") && p.problems().size() == 2,
                 qPrintable(problems));
        QVERIFY(p.save(*s.store, s.db));
        QCOMPARE(DosePolicy::load(*s.store, s.db).annualLimit(0), 60000.0);
    }

    void windows()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(5, "c1");
        addReadings(s, 5, {{"2026033123", 100}, {"2026040100", 200}, {"2026040101", 50}});
        // Older years by their totals only, as a database that kept no readings.
        s.addDose("Yeardata", 5, "202201", 1000);
        s.addDose("Yeardata", 5, "202112", 5000);
        DoseStatus status(*s.store, s.db);
        DoseFigures f;
        QVERIFY(status.figures("c1", QDateTime(QDate(2026, 3, 31), QTime(23, 30)), f));
        QCOMPARE(figures(f), QStringLiteral("99.77 99.77 1099.77 99.77"));
        QVERIFY(status.figures("c1", QDateTime(QDate(2026, 4, 1), QTime(0, 0)), f));
        QCOMPARE(figures(f), QStringLiteral("199.77 299.54 1299.54 349.54"));
        double used = -1;
        QVERIFY(status.lastYearUsed("c1", QDateTime(QDate(2027, 4, 1), QTime(0, 59)), used));
        QCOMPARE(QString::number(used, 'f', 2), QStringLiteral("249.77"));
        // Below the background a window is 0, never negative.
        QVERIFY(status.figures("nobody", QDateTime(QDate(2026, 4, 1), QTime(0, 0)), f));
        QCOMPARE(figures(f), QStringLiteral("0.00 0.00 0.00 0.00"));
        s.addPerson("c2", "乙");
        s.addDevice(6, "c2");
        addReadings(s, 6, {{"2026040100", 0.1}});
        QVERIFY(status.figures("c2", QDateTime(QDate(2026, 4, 1), QTime(0, 0)), f));
        QCOMPARE(figures(f), QStringLiteral("0.00 0.00 0.00 0.00"));
    }

    void alertsOnceAndAcknowledged()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲", "放射科", 2);
        s.addDevice(5, "c1");
        addReadings(s, 5, {{"2026040100", 300}});
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
        {
            ModalScript script;
            script.box("剂量告警", "请填写说明!", QMessageBox::Ok, &dialog);
            FormDriver::click(&dialog, "btnAck");
            ANSWERED(script);
        }
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
        addReadings(s, 5, {{"2026040100", 1300}});
        // A file from before the wear periods: the bound device's readings are still its wearer's.
        QVERIFY(s.exec("drop table Wearing"));
        QString out, err;
        QCOMPARE(ctl({"status", "--date", "2026-04-01"}, &out, &err), 0);
        QCOMPARE(out, QStringLiteral("ID_card,name,department,type,quarter_uSv,year_uSv,last12_uSv,five_year_uSv,level\n"
                                     "c1,甲,放射科,职业,1299.77,1299.77,1299.77,1299.77,investigate\n"
                                     "c2,\"王,\"\"五\"\"\",核医学科,非职业,0.00,0.00,0.00,0.00,normal\n"));
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
        QCOMPARE(shown.size(), 18);
        QCOMPARE(shown.mid(0, 9).join(','), lines.at(1));
        XlsSqlDriver::registerAsOdbc();
        DoseOverview::setSaveFileName([&](QWidget*) { return s.path("overview.xls"); });
        {
            ModalScript script;
            script.box("剂量概览", "2 条数据已经导出到Excel", QMessageBox::Ok, &view);
            FormDriver::click(&view, "btnExport");
            ANSWERED(script);
        }
        const QVector<QStringList> book = FreeXlReader(s.path("overview.xls")).rows("mydata0");
        QCOMPARE(book.value(0).join(','), lines.first());
        QCOMPARE(book.value(1).join(','), lines.at(1));
        QCOMPARE(ctl({"status", "--department", "放射科", "--date", "2026-04-01"}, &out), 0);
        QCOMPARE(out.count('\n'), 2);
        QCOMPARE(ctl({"status", "--department", "无此部门"}, &out, &err), 1);
        QCOMPARE(err, QStringLiteral("dosectl: no department 无此部门\n"));
        QCOMPARE(ctl({"--db", s.path("none.db"), "status"}, &out, &err), 1);
        QCOMPARE(err, "dosectl: no database at " + s.path("none.db") + "\n");
        QVERIFY(!QFile::exists(s.path("none.db")));
        for (const QStringList& wrong : {QStringList{}, QStringList{"frobnicate"}, QStringList{"status", "--bogus"},
                                         QStringList{"status", "--date", "2026-02-30"}, QStringList{"status", "x"}}) {
            QCOMPARE(ctl(wrong, &out, &err), 2);
            QVERIFY2(err.contains("Usage:"), qPrintable(err));
        }
        QCOMPARE(ctl({"status", "--help"}, &out), 0);
        QVERIFY(out.contains("--department"));
    }
};

QTEST_MAIN(TestDoseLevels)
#include "tst_doselevels.moc"
