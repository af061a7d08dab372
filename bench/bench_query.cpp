// The query dialog over 1,000,000 matching readings (one person, one device):
// the search with its first page shown, the last page shown, and how much the
// process grows meanwhile. Targets: 250 ms, 500 ms, 50 MB.
//
// By default on an SQLite file; with --postgres on a shared store, a database
// of the tests' private PostgreSQL server (tests/support/PgServer, run with
// fsync=off, which only the seeding would notice: the dialog only reads).

#include "core/DataBase.h"
#include "desktop/SqlSelect.h"
#include "support/PgServer.h"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Readings = 1000000;
constexpr int Device = 7;
constexpr int Rounds = 5;
constexpr double FirstPageTarget = 250.0;
constexpr double LastPageTarget = 500.0;
constexpr double MemoryTarget = 50.0;

// A field of /proc/self/status in kB, -1 when missing.
long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Resets VmHWM to the present size (Linux 4.0 and later).
bool resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

void quiet(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The readings of the shared store are written by the server itself: the
// same hours and values as below, in a fraction of the time.
bool seedShared(QSqlDatabase db)
{
    QSqlQuery q(db);
    const QString fill = QStringLiteral("insert into Realdata (slaveId, dataTime, probeValue) select %1, "
                                        "to_char(timestamp '1900-01-01' + n * interval '1 hour', 'YYYYMMDDHH24') "
                                        "|| '0000', 0.25 * (n % 40) from generate_series(0, %2) n order by n")
                             .arg(Device)
                             .arg(Readings - 1);
    if (!q.exec(fill) || !q.exec(QStringLiteral("vacuum analyze"))) {
        std::printf("%s\n", qPrintable(q.lastError().text()));
        return false;
    }
    return true;
}

bool seed(DataBase& store, QSqlDatabase db)
{
    Staffdata s;
    s.ID_card = QStringLiteral("110101199001010011");
    s.name = QStringLiteral("张三");
    s.department = QStringLiteral("放射科");
    Devicedata d;
    d.slaveId = Device;
    d.ID_card = s.ID_card;
    if (!store.insertStaff(s, db) || !store.addDeviceBinding(d, QStringLiteral("20240101000000"), nullptr, db))
        return false;
    if (store.isShared())
        return seedShared(db);

    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into Realdata (slaveId, dataTime, probeValue) values (?, ?, ?)"));
    QDate day(1900, 1, 1);
    int n = 0;
    while (n < Readings) {
        const QString prefix = day.toString(QStringLiteral("yyyyMMdd"));
        for (int h = 0; h < 24 && n < Readings; ++h, ++n) {
            q.addBindValue(Device);
            q.addBindValue(prefix + QString::asprintf("%02d0000", h));
            q.addBindValue(0.25 * (n % 40));
            if (!q.exec())
                return false;
        }
        day = day.addDays(1);
    }
    return db.commit();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);

    const bool postgres = app.arguments().contains(QStringLiteral("--postgres"));
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;
    StoreConfig config;
    if (postgres) {
        PgServer::instance().reset();
        config = PgServer::instance().store();
    }

    int status = 0;
    {
        DataBase store(config);
        if (!store.isOpen()) {
            std::printf("cannot open %s: %s\n", qPrintable(config.describe()), qPrintable(store.openError()));
            return 1;
        }
        store.createTables();
        store.createAddedTables();
        store.createConnection(QStringLiteral("bench.db"));
        QSqlDatabase db = store.getConnection(QStringLiteral("bench.db"));
        std::printf("seeding %d readings into %s ...\n", Readings, postgres ? "PostgreSQL" : "SQLite");
        std::fflush(stdout);
        if (!seed(store, db)) {
            std::printf("seeding failed\n");
            return 1;
        }
        db.close();

        SqlSelect dialog(nullptr, &store);
        dialog.show();
        app.processEvents();
        auto* search = dialog.findChild<QPushButton*>(QStringLiteral("btnSearch"));
        auto* pages = dialog.findChild<QComboBox*>(QStringLiteral("comboxPage"));
        auto* view = dialog.findChild<QTableView*>(QStringLiteral("tableView"));

        const long baseRss = statusKb("VmRSS");
        const bool peakReset = resetPeak();
        std::vector<double> first, lastRows, lastItem;
        bool shownRight = true;
        for (int round = 0; round < Rounds; ++round) {
            QElapsedTimer t;
            t.start();
            search->click();
            app.processEvents();
            first.push_back(t.nsecsElapsed() / 1e6);
            shownRight = shownRight && view->model()->rowCount() == 10 && pages->count() == Readings / 10 + 1;

            // The last page with rows, and the selector's last item (empty when
            // the count is a multiple of ten); both skip the whole result.
            t.restart();
            pages->setCurrentIndex(Readings / 10 - 1);
            app.processEvents();
            lastRows.push_back(t.nsecsElapsed() / 1e6);
            shownRight = shownRight && view->model()->rowCount() == 10;

            t.restart();
            pages->setCurrentIndex(pages->count() - 1);
            app.processEvents();
            lastItem.push_back(t.nsecsElapsed() / 1e6);
        }
        const long peak = statusKb("VmHWM");
        const double growthMb = (peak - baseRss) / 1024.0;

        std::printf("search, first page shown:     median %8.1f ms (first round %8.1f ms)  target < %.0f ms  %s\n",
                    median(first), first.front(), FirstPageTarget, median(first) < FirstPageTarget ? "ok" : "MISSED");
        std::printf("last page with rows shown:    median %8.1f ms (first round %8.1f ms)  target < %.0f ms  %s\n",
                    median(lastRows), lastRows.front(), LastPageTarget,
                    median(lastRows) < LastPageTarget ? "ok" : "MISSED");
        std::printf("last selector item shown:     median %8.1f ms (first round %8.1f ms)  target < %.0f ms  %s\n",
                    median(lastItem), lastItem.front(), LastPageTarget,
                    median(lastItem) < LastPageTarget ? "ok" : "MISSED");
        std::printf("peak memory growth:           %8.1f MB (VmHWM %ld kB over VmRSS %ld kB%s)  target < %.0f MB  %s\n",
                    growthMb, peak, baseRss, peakReset ? "" : ", peak not reset: includes seeding",
                    MemoryTarget, growthMb < MemoryTarget ? "ok" : "MISSED");
        std::printf("pages shown as expected:      %s\n", shownRight ? "yes" : "NO");
        if (!shownRight)
            status = 1;
    }
    QDir::setCurrent(QDir::tempPath());
    return status;
}
