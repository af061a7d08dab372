// The two documents: the personal dose record of a person with five years of
// hourly readings to PDF (target under 1 s), and the department report of
// 500 persons for a quarter to PDF (target under 3 s).

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "core/time/Clock.h"
#include "core/DataBase.h"
#include "core/report/PeriodReport.h"
#include "core/report/PersonRecord.h"
#include "core/export/ReportDocument.h"

namespace {

constexpr int Persons = 500;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_reports: %s\n", qPrintable(what));
    std::exit(1);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Person 1 wears address 1 for five years of hourly readings; everyone wears
// one address with the readings of the last quarter.
void fill(QSqlDatabase db, const QDateTime& now)
{
    db.transaction();
    QSqlQuery q(db), staff(db), device(db), wearing(db), reading(db), day(db), month(db);
    staff.prepare("insert into Staff(ID_card,name,gender,ptype,totalValue,department) values(?,?,'男',?,0,?)");
    device.prepare("insert into Device(slaveId,ID_card,dataTime) values(?,?,'0')");
    wearing.prepare("insert into Wearing(slaveId,ID_card,startTime,endTime) values(?,?,'00000000000000','')");
    reading.prepare("insert into Realdata(slaveId,dataTime,probeValue) values(?,?,?)");
    day.prepare("insert into Monthdata(slaveId,dataTime,probeValue) values(?,?,?)");
    month.prepare("insert into Yeardata(slaveId,dataTime,probeValue) values(?,?,?)");
    for (int d = 0; d < 10; ++d)
        q.exec(QStringLiteral("insert into Department(department,dname) values('科室%1','A')").arg(d));
    for (int p = 1; p <= Persons; ++p) {
        const QString card = QStringLiteral("ID%1").arg(p, 6, 10, QLatin1Char('0'));
        staff.addBindValue(card);
        staff.addBindValue(QStringLiteral("人员%1").arg(p));
        staff.addBindValue(p % 3 == 0 ? 1 : 0);
        staff.addBindValue(QStringLiteral("科室%1").arg(p % 10));
        device.addBindValue(p);
        device.addBindValue(card);
        wearing.addBindValue(p);
        wearing.addBindValue(card);
        if (!staff.exec() || !device.exec() || !wearing.exec())
            fail(db.lastError().text());
        const int hours = p == 1 ? 5 * 8760 : 2184;
        const QDateTime first = QDateTime(now.date(), QTime(now.time().hour(), 0)).addSecs(-3600LL * hours);
        std::map<QString, double> days, months;
        for (int h = 0; h < hours; ++h) {
            const QString key = first.addSecs(3600LL * h).toString("yyyyMMddhh0000");
            const double value = ((h * 13 + p) % 300) / 100.0;
            reading.addBindValue(p);
            reading.addBindValue(key);
            reading.addBindValue(value);
            if (!reading.exec())
                fail(db.lastError().text());
            days[key.left(8)] += value;
            months[key.left(6)] += value;
        }
        for (const auto& [table, sums] : {std::make_pair(&day, &days), std::make_pair(&month, &months)}) {
            for (const auto& [key, value] : *sums) {
                table->addBindValue(p);
                table->addBindValue(key);
                table->addBindValue(value);
                if (!table->exec())
                    fail(db.lastError().text());
            }
        }
    }
    db.commit();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QDateTime now(QDate(2026, 11, 30), QTime(23, 30));
    Clock::setNow(now);
    DataBase database;
    if (!database.createTables() || !database.createConnection("bench")
        || !database.ensureWearingTable(database.getConnection("bench")))
        fail("cannot lay out the database");
    QSqlDatabase db = database.getConnection("bench");
    QElapsedTimer t;
    t.start();
    fill(db, now);
    std::printf("database: %d persons, one with five years of hourly readings, filled in %.1f s\n", Persons,
                t.elapsed() / 1000.0);

    std::vector<double> record, report;
    QString why;
    for (int round = 0; round < 3; ++round) {
        t.start();
        PersonRecord r;
        if (!PersonRecord::load(database, db, "ID000001", 2022, 2026, r, &why)
            || !ReportDocument::writePdf(r, {dir.filePath("record.pdf"), true, QString()}, &why))
            fail(why);
        record.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        PeriodReport p;
        if (!PeriodReport::load(database, db, QString(), QDate(2026, 7, 1), QDate(2026, 9, 30), p, &why)
            || !ReportDocument::writePdf(p, {dir.filePath("report.pdf"), true, QString()}, &why))
            fail(why);
        report.push_back(t.nsecsElapsed() / 1e6);
        if (p.people() != Persons)
            fail(QStringLiteral("the report has %1 persons").arg(p.people()));
    }
    std::printf("personal record, five years of hourly readings, to PDF: median %.0f ms (target < 1000 ms)\n",
                median(record));
    std::printf("department report, %d persons, one quarter, to PDF: median %.0f ms (target < 3000 ms)\n", Persons,
                median(report));
    const bool within = median(record) < 1000 && median(report) < 3000;
    std::printf("%s\n", within ? "within target" : "OVER TARGET");
    return within ? 0 : 1;
}
