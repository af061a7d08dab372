// The dose status of 500 persons, each with a year of hourly readings
// (4,380,000 readings) and five years of day and month totals: dosectl
// status (target under 2 s), the tree markers at start-up (under 1 s) and the
// person panel (under 50 ms).

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "cli/DoseCtl.h"
#include "core/DataBase.h"
#include "core/device/SerialPort.h"
#include "desktop/MainWindow.h"

namespace {

constexpr int Persons = 500;
constexpr int HoursPerPerson = 8760;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_status: %s\n", qPrintable(what));
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

// Staff, devices, a year of hourly readings each and five years of totals.
void fill(const QDateTime& now)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
    db.setDatabaseName(QStringLiteral("database.db"));
    if (!db.open())
        fail(QStringLiteral("cannot open database.db"));
    db.transaction();
    QSqlQuery q(db);
    for (int d = 0; d < 10; ++d) {
        q.prepare(QStringLiteral("insert into Department(department,dname) values(?,'A')"));
        q.addBindValue(QStringLiteral("科室%1").arg(d));
        exec(q);
    }
    QSqlQuery staff(db), device(db), reading(db), day(db), month(db);
    staff.prepare(QStringLiteral("insert into Staff(ID_card,name,gender,ptype,totalValue,department) "
                                 "values(?,?,'男',?,0,?)"));
    device.prepare(QStringLiteral("insert into Device(slaveId,ID_card,dataTime) values(?,?,'0')"));
    reading.prepare(QStringLiteral("insert into Realdata(slaveId,dataTime,probeValue) values(?,?,?)"));
    day.prepare(QStringLiteral("insert into Monthdata(slaveId,dataTime,probeValue) values(?,?,?)"));
    month.prepare(QStringLiteral("insert into Yeardata(slaveId,dataTime,probeValue) values(?,?,?)"));
    const QDateTime yearAgo = QDateTime(now.date(), QTime(now.time().hour(), 0)).addSecs(-3600LL * HoursPerPerson);
    std::vector<QString> keys;
    for (int h = 0; h < HoursPerPerson; ++h)
        keys.push_back(yearAgo.addSecs(3600LL * h).toString(QStringLiteral("yyyyMMddhh0000")));
    for (int p = 1; p <= Persons; ++p) {
        const QString card = QStringLiteral("ID%1").arg(p, 6, 10, QLatin1Char('0'));
        staff.addBindValue(card);
        staff.addBindValue(QStringLiteral("人员%1").arg(p));
        staff.addBindValue(p % 3 == 0 ? 1 : 0);
        staff.addBindValue(QStringLiteral("科室%1").arg(p % 10));
        exec(staff);
        device.addBindValue(p);
        device.addBindValue(card);
        exec(device);
        // A few people with high doses, so the levels have work to do.
        const double scale = p % 50 == 0 ? 40.0 : 1.0;
        std::map<QString, double> days, months;
        for (int h = 0; h < HoursPerPerson; ++h) {
            const double value = scale * ((h * 13 + p) % 300) / 100.0;
            reading.addBindValue(p);
            reading.addBindValue(keys[h]);
            reading.addBindValue(value);
            exec(reading);
            days[keys[h].left(8)] += value;
            months[keys[h].left(6)] += value;
        }
        // The four years before keep only their totals.
        for (QDate d(now.date().year() - 4, 1, 1); d < yearAgo.date(); d = d.addDays(1)) {
            days[d.toString(QStringLiteral("yyyyMMdd"))] += 1.0;
            months[d.toString(QStringLiteral("yyyyMM"))] += 1.0;
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

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    SerialPort::setPortLister([] { return QList<PortDescription>(); });
    const QDateTime now(QDate(2026, 11, 30), QTime(23, 30));
    Clock::setNow(now);

    SettingsAdpater settings(QStringLiteral("zudovi.ini"), QSettings::IniFormat);
    auto database = std::make_unique<DataBase>();
    database->createTables();
    QElapsedTimer t;
    t.start();
    fill(now);
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
    // The devices get their wear periods as an older register does on its first start.
    database->createAddedTables();
    std::printf("database: %d persons, %d readings, filled in %.1f s\n", Persons, Persons * HoursPerPerson,
                t.elapsed() / 1000.0);

    bool withinTarget = true;
    std::vector<double> status;
    for (int round = 0; round < 3; ++round) {
        QString out, err;
        QTextStream os(&out), es(&err);
        t.start();
        if (DoseCtl(os, es).run({"dosectl", "status"}) != 0)
            fail(err);
        status.push_back(t.nsecsElapsed() / 1e6);
        if (out.count(QLatin1Char('\n')) != Persons + 1)
            fail(QStringLiteral("status printed %1 lines").arg(out.count(QLatin1Char('\n'))));
    }
    std::printf("dosectl status: median %.0f ms, first %.0f ms (target < 2000 ms)\n", median(status), status.front());
    withinTarget = withinTarget && median(status) < 2000;

    std::vector<double> markers;
    std::unique_ptr<MainWindow> window;
    for (int round = 0; round < 3; ++round) {
        t.start();
        window = std::make_unique<MainWindow>(nullptr, &settings, database.get());
        markers.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("start-up with tree markers: median %.0f ms (target < 1000 ms)\n", median(markers));
    withinTarget = withinTarget && median(markers) < 1000;

    window->show();
    auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("treeWidget"));
    QTreeWidgetItem* person = tree->topLevelItem(0)->child(0);
    std::vector<double> panel;
    for (int round = 0; round < 7; ++round) {
        t.start();
        emit tree->itemClicked(person, 0);
        panel.push_back(t.nsecsElapsed() / 1e6);
        QApplication::processEvents();
    }
    std::printf("person panel: median %.1f ms (target < 50 ms)\n", median(panel));
    withinTarget = withinTarget && median(panel) < 50;
    std::printf("%s\n", withinTarget ? "within target" : "OVER TARGET");
    return 0;
}
