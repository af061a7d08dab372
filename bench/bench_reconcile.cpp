// The passive dosimeters at scale: 500 persons with a year of hourly readings
// (4,380,000) and twelve monthly passive results each, one of every four
// months' periods running from the 15th to the 14th: dosectl reconcile of the
// year (target under 3 s) and dosectl status with the passive dose of record
// against the electronic one (target under 3 s, and under three times as long).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "cli/DoseCtl.h"
#include "core/DataBase.h"
#include "core/readings/PassiveStore.h"
#include "core/time/Clock.h"

namespace {

constexpr int Persons = 500;
constexpr int HoursPerPerson = 8760;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_reconcile: %s\n", qPrintable(what));
    std::exit(1);
}

void exec(QSqlQuery& q)
{
    if (!q.exec())
        fail(q.lastError().text());
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Staff, devices, a year of hourly readings each with their totals.
void fill(const QDateTime& now)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
    db.setDatabaseName(QStringLiteral("database.db"));
    if (!db.open())
        fail(QStringLiteral("cannot open database.db"));
    db.transaction();
    QSqlQuery staff(db), device(db), reading(db), day(db), month(db);
    staff.prepare(QStringLiteral("insert into Staff(ID_card,name,gender,ptype,totalValue,department) "
                                 "values(?,?,'男',0,0,?)"));
    device.prepare(QStringLiteral("insert into Device(slaveId,ID_card,dataTime) values(?,?,'0')"));
    reading.prepare(QStringLiteral("insert into Realdata(slaveId,dataTime,probeValue) values(?,?,?)"));
    day.prepare(QStringLiteral("insert into Monthdata(slaveId,dataTime,probeValue) values(?,?,?)"));
    month.prepare(QStringLiteral("insert into Yeardata(slaveId,dataTime,probeValue) values(?,?,?)"));
    const QDateTime start(QDate(now.date().year(), 1, 1), QTime(0, 0));
    std::vector<QString> keys;
    for (int h = 0; h < HoursPerPerson; ++h)
        keys.push_back(start.addSecs(3600LL * h).toString(QStringLiteral("yyyyMMddhh0000")));
    for (int p = 1; p <= Persons; ++p) {
        const QString card = QStringLiteral("ID%1").arg(p, 6, 10, QLatin1Char('0'));
        staff.addBindValue(card);
        staff.addBindValue(QStringLiteral("人员%1").arg(p));
        staff.addBindValue(QStringLiteral("科室%1").arg(p % 10));
        exec(staff);
        device.addBindValue(p);
        device.addBindValue(card);
        exec(device);
        std::map<QString, double> days, months;
        for (int h = 0; h < HoursPerPerson; ++h) {
            const double value = ((h * 13 + p) % 300) / 100.0;
            reading.addBindValue(p);
            reading.addBindValue(keys[h]);
            reading.addBindValue(value);
            exec(reading);
            days[keys[h].left(8)] += value;
            months[keys[h].left(6)] += value;
        }
        for (const auto& [table, sums] : {std::make_pair(&day, &days), std::make_pair(&month, &months)}) {
            for (const auto& [key, value] : *sums) {
                table->addBindValue(p);
                table->addBindValue(key);
                table->addBindValue(value);
                exec(*table);
            }
        }
    }
    db.commit();
    db.close();
}

// Twelve results a person in one laboratory file.
void addResults(DataBase& database, int year)
{
    const QString conn = QStringLiteral("bench-passive");
    database.createConnection(conn);
    database.openConnection(conn);
    QList<PassiveResultdata> rows;
    for (int p = 1; p <= Persons; ++p) {
        const bool shifted = p % 4 == 0;
        for (int m = 1; m <= 12; ++m) {
            PassiveResultdata r;
            r.ID_card = QStringLiteral("ID%1").arg(p, 6, 10, QLatin1Char('0'));
            const QDate first = shifted ? QDate(year, m, 15) : QDate(year, m, 1);
            const QDate last = first.addMonths(1).addDays(-1);
            if (last.year() > year)
                continue;
            r.periodStart = first.toString(QStringLiteral("yyyyMMdd"));
            r.periodEnd = last.toString(QStringLiteral("yyyyMMdd"));
            r.hasHp10 = m % 6 != 0;
            r.hp10_uSv = 900 + (p * 7 + m * 13) % 400;
            r.code = r.hasHp10 ? QString() : QStringLiteral("M");
            r.line = rows.size() + 2;
            rows << r;
        }
    }
    PassiveImportdata file;
    file.fileName = QStringLiteral("lab.csv");
    file.sha256 = QString(64, QLatin1Char('a'));
    file.content = QByteArrayLiteral("bench");
    QString why;
    if (PassiveStore(database).add(file, rows, {}, &why, database.getConnection(conn)) <= 0)
        fail(why);
    database.closeConnection(conn);
}

std::vector<double> timed(const QStringList& args, int lines)
{
    std::vector<double> times;
    QElapsedTimer t;
    for (int round = 0; round < 3; ++round) {
        QString out, err;
        QTextStream os(&out), es(&err);
        t.start();
        if (DoseCtl(os, es).run(args) != 0)
            fail(err);
        times.push_back(t.nsecsElapsed() / 1e6);
        if (lines > 0 && out.count(QLatin1Char('\n')) != lines)
            fail(QStringLiteral("%1 printed %2 lines").arg(args.value(1)).arg(out.count(QLatin1Char('\n'))));
    }
    return times;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QDateTime now(QDate(2026, 12, 31), QTime(23, 30));
    Clock::setNow(now);

    auto database = std::make_unique<DataBase>();
    database->createTables();
    QElapsedTimer t;
    t.start();
    fill(now);
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
    database->createAddedTables();
    addResults(*database, now.date().year());
    std::printf("database: %d persons, %d readings, %d passive results, filled in %.1f s\n", Persons,
                Persons * HoursPerPerson, Persons * 12 - Persons / 4, t.elapsed() / 1000.0);

    bool withinTarget = true;
    const std::vector<double> reconcile =
        timed({"dosectl", "reconcile", "--from", "2026-01-01", "--to", "2026-12-31"}, Persons * 12 - Persons / 4 + 1);
    std::printf("dosectl reconcile of a year: median %.0f ms (target < 3000 ms)\n", median(reconcile));
    withinTarget = withinTarget && median(reconcile) < 3000;

    const std::vector<double> electronic = timed({"dosectl", "status"}, Persons + 1);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-policy"));
        db.setDatabaseName(QStringLiteral("database.db"));
        QSqlQuery q(db.open() ? db : QSqlDatabase());
        q.prepare(QStringLiteral("update DosePolicy set value = 1 where name = 'dose_of_record_passive'"));
        exec(q);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-policy"));
    const std::vector<double> passive = timed({"dosectl", "status"}, Persons + 1);
    std::printf("dosectl status: electronic median %.0f ms, passive of record median %.0f ms (target < 3000 ms, "
                "< 3 x electronic)\n",
                median(electronic), median(passive));
    withinTarget = withinTarget && median(passive) < 3000 && median(passive) < 3 * median(electronic);
    std::printf("%s\n", withinTarget ? "within target" : "OVER TARGET");
    return 0;
}
