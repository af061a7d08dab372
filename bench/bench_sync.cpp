// Benchmark: a synchronisation of N simulated dosimeters with full memories (65535 hourly records each) through
// the program's own serial link and processing thread, on a database already holding 1,000,000 readings. It
// measures how long the GUI thread's event loop stalls meanwhile (a 10 ms timer) and the time the whole takes.
//
//     bench_sync [N] [--real]      N dosimeters (16); --real paces each at 38400 baud, else as fast as they go

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/DataBase.h"
#include "core/device/SerialPort.h"
#include "core/device/SettingsAdpater.h"
#include "core/readings/mydeal_thread.h"
#include "sim/SimPty.h"

namespace {

const int kRecords = 65535;
const int kSeedReadings = 1000000;
// Bytes of a full reply on the wire, ten bits a byte at 38400 baud.
const double kWireSeconds = (4.0 + 7.0 * kRecords) * 10 / 38400;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_sync: %s\n", qPrintable(what));
    std::exit(1);
}

// The dosimeters live in a thread of their own, so that their writing is no
// work of the thread measured.
class Dosimeters : public QThread
{
public:
    Dosimeters(int count, bool real)
        : count(count)
        , real(real)
    {
    }
    QStringList paths;
    QSemaphore ready;

protected:
    void run() override
    {
        std::vector<std::unique_ptr<SimPty>> sims;
        const QDateTime first(QDate(2017, 1, 1), QTime(0, 0));
        for (int i = 0; i < count; ++i) {
            auto sim = std::make_unique<SimPty>(i + 1);
            for (int h = 0; h < kRecords; ++h)
                sim->device().addRecord(first.addSecs(3600LL * h), 0.01 * (1 + (h + i) % 300));
            if (real) {
                sim->setChunkSize(384); // 3840 bytes a second
                sim->setDelay(100);
            } else {
                sim->setChunkSize(4096);
            }
            paths << sim->slavePath();
            sims.push_back(std::move(sim));
        }
        ready.release();
        exec();
    }

private:
    int count;
    bool real;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool real = args.contains(QStringLiteral("--real"));
    int n = 16;
    for (const QString& a : args)
        if (a.toInt() > 0)
            n = a.toInt();

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        fail(QStringLiteral("no temporary folder"));
    SerialPort::setPortLister([] { return QList<PortDescription>(); });
    DataBase database;
    if (!database.createTables() || !database.createConnection(QStringLiteral("check")))
        fail(QStringLiteral("cannot create the database"));
    QSqlDatabase check = database.getConnection(QStringLiteral("check"));
    {
        QSqlQuery seed(check);
        if (!check.transaction()
            || !seed.exec(QStringLiteral(
                "with recursive n(i) as (select 0 union all select i + 1 from n where i < %1) "
                "insert into Realdata(slaveId, dataTime, probeValue) select 1000 + i / 10000, "
                "strftime('%Y%m%d%H0000', '2017-01-01', '+' || (i % 10000) || ' hours'), (i % 5000) / 100.0 from n")
                              .arg(kSeedReadings - 1))
            || !check.commit())
            fail(QStringLiteral("cannot seed: ") + seed.lastError().text());
    }

    Dosimeters dosimeters(n, real);
    dosimeters.start();
    dosimeters.ready.acquire();
    SettingsAdpater settings(dir.filePath(QStringLiteral("zudovi.ini")), QSettings::IniFormat);
    QList<Com_Info> ports;
    for (int i = 0; i < n; ++i)
        ports << Com_Info{i, dosimeters.paths.at(i)};
    settings.setComList(ports);
    settings.writeSettings();

    // Wired as the main window wires them.
    SerialPort link(nullptr, &settings, &database);
    mydeal_thread deal(nullptr, &database, &settings);
    link.setAwaitStorage(true);
    QObject::connect(&link, &SerialPort::MySave_data, &deal, &mydeal_thread::MY_receiveData);
    QObject::connect(&deal, &mydeal_thread::dataStored, &link, &SerialPort::dataStoreResult);

    int reported = 0;
    int stored = 0;
    QObject::connect(&link, &SerialPort::data_Result, [&](int type, const QString&, int, bool ok) {
        if (type == 0 || type == 3) {
            ++reported;
            stored += ok ? 1 : 0;
        }
        if (reported == n)
            app.quit();
    });
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    int over100 = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 stall = sinceTick.restart() - 10;
        longest = qMax(longest, stall);
        over100 += stall > 100 ? 1 : 0;
    });

    QElapsedTimer total;
    total.start();
    sinceTick.start();
    tick.start(10);
    QTimer::singleShot(0, &link, &SerialPort::readrealdata);
    app.exec();
    const double seconds = total.nsecsElapsed() / 1e9;
    tick.stop();
    dosimeters.quit();
    dosimeters.wait();

    QSqlQuery q(check);
    q.exec(QStringLiteral("select count(*), (select count(*) from Realdata where slaveId < 1000), "
                          "(select round(sum(probeValue), 2) from Realdata where slaveId < 1000), "
                          "(select round(sum(probeValue), 2) from Monthdata), "
                          "(select round(sum(probeValue), 2) from Yeardata) from Realdata"));
    q.next();
    const bool once = q.value(1).toInt() == n * kRecords;
    const bool sums = q.value(2).toString() == q.value(3).toString() && q.value(3).toString() == q.value(4).toString();
    std::printf("%d dosimeters of %d records, %d readings stored before: %d replies stored of %d reported\n", n, kRecords,
                kSeedReadings, stored, reported);
    std::printf("readings stored once: %s; day and month totals equal the readings: %s\n", once ? "yes" : "NO",
                sums ? "yes" : "NO");
    std::printf("longest stall of the GUI thread: %lld ms (target at most 100); stalls over 100 ms: %d\n",
                static_cast<long long>(longest), over100);
    std::printf("total %.1f s; one dosimeter's wire time at 38400 baud %.1f s, N x wire time %.1f s%s\n", seconds,
                kWireSeconds, n * kWireSeconds, real ? "" : " (paced faster than the wire)");
    return stored == n && once && sums && longest <= 100 ? 0 : 1;
}
