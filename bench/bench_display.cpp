// Refreshing the display of one person: a year of that person's hourly
// readings (with their day and month totals) in a database holding 1,000,000
// readings, with two hand-overs inside the year: the person wears dosimeter
// 5, hands it to a colleague and wears 6 from the middle of 10 April, and
// takes 5 back in the middle of 20 August. Times the click on the person in
// each of the three views, each showing a range one hand-over cuts.
// Target: under 50 ms per refresh.

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QRadioButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "core/DataBase.h"
#include "core/device/SerialPort.h"
#include "desktop/MainWindow.h"

namespace {

constexpr int TotalReadings = 1000000;
constexpr int PersonDevice = 5;
constexpr int OtherDevices = 110;
constexpr int Rounds = 7;
constexpr double TargetMs = 50.0;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_display: %s\n", qPrintable(what));
    std::exit(1);
}

void exec(QSqlQuery& q)
{
    if (!q.exec())
        fail(q.lastError().text());
}

// Readings of `devices` devices, hourly from `from`, `perDevice` each, with
// the day and month totals the storage would have written.
void fill(QSqlDatabase db, int firstDevice, int devices, const QDateTime& from, int perDevice)
{
    QSqlQuery reading(db);
    reading.prepare(QStringLiteral("insert into Realdata(slaveId,dataTime,probeValue) values(?,?,?)"));
    QHash<QString, double> days;
    QHash<QString, double> months;
    std::vector<QString> keys;
    keys.reserve(perDevice);
    for (int h = 0; h < perDevice; ++h)
        keys.push_back(from.addSecs(3600LL * h).toString(QStringLiteral("yyyyMMddhh")) + QStringLiteral("0000"));
    for (int d = 0; d < devices; ++d) {
        const int slaveId = firstDevice + d;
        for (int h = 0; h < perDevice; ++h) {
            const double value = ((h * 13 + d) % 300) / 100.0;
            reading.bindValue(0, slaveId);
            reading.bindValue(1, keys[h]);
            reading.bindValue(2, value);
            exec(reading);
            days[QString::number(slaveId) + QLatin1Char('|') + keys[h].left(8)] += value;
            months[QString::number(slaveId) + QLatin1Char('|') + keys[h].left(6)] += value;
        }
    }
    for (const auto& [table, sums] : {std::make_pair(QStringLiteral("Monthdata"), &days),
                                      std::make_pair(QStringLiteral("Yeardata"), &months)}) {
        QSqlQuery total(db);
        total.prepare(QStringLiteral("insert into %1(slaveId,dataTime,probeValue) values(?,?,?)").arg(table));
        for (auto it = sums->begin(); it != sums->end(); ++it) {
            total.bindValue(0, it.key().section(QLatin1Char('|'), 0, 0).toInt());
            total.bindValue(1, it.key().section(QLatin1Char('|'), 1, 1));
            total.bindValue(2, it.value());
            exec(total);
        }
    }
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    SerialPort::setPortLister([] { return QList<PortDescription>(); });
    const QDateTime now(QDate(2016, 12, 31), QTime(23, 30));
    Clock::setNow(now);

    SettingsAdpater settings(QStringLiteral("zudovi.ini"), QSettings::IniFormat);
    DataBase database;
    database.createTables();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
        db.setDatabaseName(QStringLiteral("database.db"));
        if (!db.open())
            fail(QStringLiteral("cannot open database.db"));
        db.transaction();
        QSqlQuery q(db);
        q.exec(QString::fromUtf8("insert into Department(department,dname) values('放射科','A')"));
        q.exec(QString::fromUtf8("insert into Staff(ID_card,name,gender,ptype,totalValue,department) "
                                 "values('110','张伟','男',0,0,'放射科')"));
        q.exec(QString::fromUtf8("insert into Staff(ID_card,name,gender,ptype,totalValue,department) "
                                 "values('120','李娜','女',0,0,'放射科')"));
        q.exec(QStringLiteral("insert into Device(slaveId,ID_card,dataTime) values(5,'110','0')"));
        q.exec(QStringLiteral("insert into Wearing(slaveId,ID_card,startTime,endTime) values"
                              "(5,'110','00000000000000','20160410130000'),"
                              "(6,'110','20160410130000','20160820090000'),"
                              "(5,'120','20160410130000','20160820090000'),"
                              "(5,'110','20160820090000','')"));
        const QDateTime yearAgo = QDateTime(now.date(), QTime(now.time().hour(), 0)).addYears(-1);
        const int personHours = int(yearAgo.secsTo(now) / 3600);
        fill(db, PersonDevice, 2, yearAgo, personHours);
        fill(db, 100, OtherDevices, yearAgo.addYears(-1), (TotalReadings - 2 * personHours) / OtherDevices);
        db.commit();
        QSqlQuery count(QStringLiteral("select count(*) from Realdata"), db);
        count.next();
        std::printf("database: %d readings, %d of them the person's\n", count.value(0).toInt(), personHours);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));

    MainWindow window(nullptr, &settings, &database);
    window.show();
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("treeWidget"));
    QTreeWidgetItem* person = tree->topLevelItem(0)->child(0);
    window.findChild<QDateEdit*>(QStringLiteral("de_day"))->setDate(QDate(2016, 8, 20));
    window.findChild<QDateEdit*>(QStringLiteral("de_mon"))->setDate(QDate(2016, 8, 1));
    window.findChild<QDateEdit*>(QStringLiteral("de_year"))->setDate(QDate(2016, 1, 1));

    bool withinTarget = true;
    for (const char* view : {"radioButton", "rb_mon", "rb_year"}) {
        window.findChild<QRadioButton*>(QLatin1String(view))->setChecked(true);
        std::vector<double> times;
        for (int round = 0; round < Rounds; ++round) {
            QElapsedTimer timer;
            timer.start();
            emit tree->itemClicked(person, 0);
            times.push_back(timer.nsecsElapsed() / 1e6);
            QApplication::processEvents();
        }
        const double m = median(times);
        withinTarget = withinTarget && m < TargetMs;
        std::printf("%-12s refresh: median %.1f ms, first %.1f ms (target < %.0f ms)\n", view, m, times.front(),
                    TargetMs);
    }
    std::printf("%s\n", withinTarget ? "within target" : "OVER TARGET");
    return 0;
}
