// Storing one data reply of 65535 readings into a shared (PostgreSQL) store
// that already holds 1,000,000 readings of other devices, against a plain
// prepared insert of the same rows in one transaction into an identical copy
// of the readings table on the same server.
// Target: the reply takes at most 3 times the plain insert.
//
// The server is the tests' private one (tests/support/PgServer), which runs
// with fsync=off. That is fair for this comparison: the reply and the plain
// insert run against the same server in the same run, so neither side pays
// for flushing; the absolute times are lower than on a server that syncs its
// commits, the ratio is what is measured.

#include "core/DataBase.h"
#include "core/readings/mydeal_thread.h"
#include "support/PgServer.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int OtherReadings = 1000000;
constexpr int OtherDevices = 100;
constexpr int FirstOtherDevice = 100;
constexpr int ReplyReadings = 65535;
constexpr int ReplyDevice = 7;
constexpr int Rounds = 5;
constexpr double Target = 3.0;

// The plain copy of Realdata: same columns, same indexes, same rows.
const QString PlainTable = QStringLiteral("PlainReadings");

struct Row
{
    int slaveId;
    QString dataTime;
    double probeValue;
};

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_pgstore: %s\n", qPrintable(what));
    std::exit(1);
}

void exec(QSqlDatabase db, const QString& statement)
{
    QSqlQuery q(db);
    if (!q.exec(statement))
        fail(statement.left(80) + QStringLiteral(": ") + q.lastError().text());
}

qlonglong scalar(QSqlDatabase db, const QString& statement)
{
    QSqlQuery q(db);
    if (!q.exec(statement) || !q.next())
        fail(statement.left(80) + QStringLiteral(": ") + q.lastError().text());
    return q.value(0).toLongLong();
}

// The hour keys "yyyyMMddhh0000" the seed and the reply use: consecutive
// hours from 1 January 2016, as in the SQLite benchmark.
const char* const HourKey = "to_char(timestamp '2016-01-01' + h * interval '1 hour', 'YYYYMMDDHH24') || '0000'";

// 1,000,000 readings of other devices with their day and month totals,
// written by the server itself; the plain copy gets the same readings in the
// same order, so both tables have the same size and the same indexes.
void fillSeed(QSqlDatabase db)
{
    static_assert(OtherReadings % OtherDevices == 0, "whole devices");
    const int hoursPerDevice = OtherReadings / OtherDevices;
    exec(db, QStringLiteral("insert into Realdata(slaveId, dataTime, probeValue) "
                            "select %1 + d, %2, ((h * 31 + d) % 5000) / 100.0 "
                            "from generate_series(0, %3) d, generate_series(0, %4) h order by d, h")
                 .arg(FirstOtherDevice)
                 .arg(QLatin1String(HourKey))
                 .arg(OtherDevices - 1)
                 .arg(hoursPerDevice - 1));
    exec(db, QStringLiteral("insert into Monthdata(slaveId, dataTime, probeValue) select slaveId, substr(dataTime, 1, 8), "
                            "sum(probeValue) from Realdata group by 1, 2 order by 1, 2"));
    exec(db, QStringLiteral("insert into Yeardata(slaveId, dataTime, probeValue) select slaveId, substr(dataTime, 1, 6), "
                            "sum(probeValue) from Realdata group by 1, 2 order by 1, 2"));
    exec(db, QStringLiteral("create table %1 (like Realdata including all)").arg(PlainTable));
    exec(db, QStringLiteral("insert into %1(slaveId, dataTime, probeValue) select slaveId, dataTime, probeValue "
                            "from Realdata order by id")
                 .arg(PlainTable));
    if (scalar(db, QStringLiteral("select count(*) from Realdata")) != OtherReadings
        || scalar(db, QStringLiteral("select count(*) from %1").arg(PlainTable)) != OtherReadings)
        fail(QStringLiteral("the seed does not hold the expected readings"));
    // Realdata's indexes, the unique key among them, are on the copy too.
    const qlonglong indexes = scalar(db, QStringLiteral("select count(*) from pg_indexes where tablename = 'realdata'"));
    if (indexes < 2 || scalar(db, QStringLiteral("select count(*) from pg_indexes where tablename = lower('%1')")
                                      .arg(PlainTable)) != indexes)
        fail(QStringLiteral("the plain copy lacks indexes of Realdata"));
    // Triggers on the readings would make the comparison unfair either way.
    if (scalar(db, QStringLiteral("select count(*) from pg_trigger where not tgisinternal and tgrelid in "
                                  "('realdata'::regclass, '%1'::regclass)")
                       .arg(PlainTable.toLower()))
        != 0)
        fail(QStringLiteral("unexpected triggers on the readings"));
}

// Each round starts from the seed: the reply device's readings and totals,
// and its rows of the copy, go; dead rows are vacuumed and the statistics
// brought up to date so that every round meets the same tables.
void clearReplyRows(QSqlDatabase db)
{
    for (const QString& table : {QStringLiteral("Realdata"), QStringLiteral("Monthdata"), QStringLiteral("Yeardata"),
                                 PlainTable})
        exec(db, QStringLiteral("delete from %1 where slaveId = %2").arg(table).arg(ReplyDevice));
    for (const QString& table : {QStringLiteral("Realdata"), QStringLiteral("Monthdata"), QStringLiteral("Yeardata"),
                                 PlainTable})
        exec(db, QStringLiteral("vacuum analyze %1").arg(table));
    exec(db, QStringLiteral("checkpoint"));
}

std::vector<Row> replyRows()
{
    std::vector<Row> rows;
    rows.reserve(ReplyReadings);
    QDate day(2016, 1, 1);
    while (int(rows.size()) < ReplyReadings) {
        const QString prefix = day.toString(QStringLiteral("yyyyMMdd"));
        for (int h = 0; h < 24 && int(rows.size()) < ReplyReadings; ++h) {
            const int n = int(rows.size());
            rows.push_back({ReplyDevice, prefix + QString::asprintf("%02d0000", h), ((n * 37) % 65536) / 100.0});
        }
        day = day.addDays(1);
    }
    return rows;
}

QString replyMessage(const std::vector<Row>& rows)
{
    auto word = [](int v) { return QString::asprintf("%02x%02x", v & 0xff, (v >> 8) & 0xff); };
    QString text = word(ReplyDevice) + word(int(rows.size()));
    text.reserve(8 + 14 * int(rows.size()));
    for (const Row& r : rows) {
        const int hundredths = qRound(r.probeValue * 100);
        text += r.dataTime.mid(2, 8) + QLatin1String("00") + word(hundredths);
    }
    return text;
}

double plainInsertMs(QSqlDatabase db, const std::vector<Row>& rows)
{
    QElapsedTimer timer;
    timer.start();
    if (!db.transaction())
        fail(db.lastError().text());
    {
        QSqlQuery q(db);
        if (!q.prepare(QStringLiteral("insert into %1(slaveId,dataTime,probeValue) values(?,?,?)").arg(PlainTable)))
            fail(q.lastError().text());
        for (const Row& r : rows) {
            q.bindValue(0, r.slaveId);
            q.bindValue(1, r.dataTime);
            q.bindValue(2, r.probeValue);
            if (!q.exec())
                fail(q.lastError().text());
        }
    }
    if (!db.commit())
        fail(db.lastError().text());
    const double ms = timer.nsecsElapsed() / 1e6;
    if (scalar(db, QStringLiteral("select count(*) from %1 where slaveId = %2").arg(PlainTable).arg(ReplyDevice))
        != ReplyReadings)
        fail(QStringLiteral("the plain insert did not store every row"));
    return ms;
}

// The reply goes the way the serial link hands it over.
double replyMs(mydeal_thread& thread, bool& stored, QSqlDatabase check, const QString& message)
{
    stored = false;
    QElapsedTimer timer;
    timer.start();
    stored = thread.store(message);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!stored)
        fail(QStringLiteral("the reply was not stored"));

    if (scalar(check, QStringLiteral("select count(*) from Realdata")) != OtherReadings + ReplyReadings)
        fail(QStringLiteral("unexpected number of readings after the reply"));
    // Its day and month totals grew by exactly its readings.
    for (int keyLength : {8, 6}) {
        const QString table = keyLength == 8 ? QStringLiteral("Monthdata") : QStringLiteral("Yeardata");
        if (scalar(check, QStringLiteral("select count(*) from (select substr(a.dataTime, 1, %1) k, sum(a.probeValue) s "
                                         "from Realdata a where a.slaveId = %2 group by 1) r full join (select dataTime k, "
                                         "probeValue s from %3 where slaveId = %2) t on r.k = t.k "
                                         "where r.k is null or t.k is null or abs(r.s - t.s) > 1e-6")
                                  .arg(keyLength)
                                  .arg(ReplyDevice)
                                  .arg(table))
            != 0)
            fail(table + QStringLiteral(" of the reply device does not match its readings"));
    }
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PgServer& server = PgServer::instance();
    server.reset();
    const StoreConfig store = server.store();

    DataBase database(store);
    if (!database.isOpen())
        fail(QStringLiteral("cannot open ") + store.describe() + QStringLiteral(": ") + database.openError());
    if (!database.createTables())
        fail(QStringLiteral("cannot lay out the tables"));

    {
        QSqlDatabase plain = store.addConnection(QStringLiteral("bench_plain"));
        if (!plain.open())
            fail(plain.lastError().text());

        QElapsedTimer fillTimer;
        fillTimer.start();
        fillSeed(plain);
        std::printf("seed: %d readings of %d other devices (and a plain copy) in %.0f ms (%.1f MB)\n", OtherReadings,
                    OtherDevices, fillTimer.nsecsElapsed() / 1e6,
                    scalar(plain, QStringLiteral("select pg_database_size(current_database())")) / 1e6);
        std::fflush(stdout);

        const std::vector<Row> rows = replyRows();
        const QString message = replyMessage(rows);

        mydeal_thread thread(nullptr, &database, nullptr);
        bool stored = false;

        std::vector<double> plainMs;
        std::vector<double> reply;
        for (int round = 0; round < Rounds; ++round) {
            clearReplyRows(plain);
            // Alternate which side goes first, so neither always meets the
            // other's dead index entries or a warmer cache.
            if (round % 2 == 0) {
                plainMs.push_back(plainInsertMs(plain, rows));
                reply.push_back(replyMs(thread, stored, plain, message));
            } else {
                reply.push_back(replyMs(thread, stored, plain, message));
                plainMs.push_back(plainInsertMs(plain, rows));
            }
            std::printf("round %d: reply %.1f ms, plain insert %.1f ms, ratio %.2f\n", round + 1, reply.back(),
                        plainMs.back(), reply.back() / plainMs.back());
            std::fflush(stdout);
        }

        const double r = median(reply);
        const double p = median(plainMs);
        std::printf("reply of %d readings through mydeal_thread: %.1f ms (median of %d)\n", ReplyReadings, r, Rounds);
        std::printf("plain prepared insert of the same rows:      %.1f ms (median of %d)\n", p, Rounds);
        std::vector<double> ratios;
        for (int round = 0; round < Rounds; ++round)
            ratios.push_back(reply[round] / plainMs[round]);
        std::printf("ratio %.2f (target at most %.1f): %s; median of the rounds' ratios %.2f\n", r / p, Target,
                    r / p <= Target ? "met" : "NOT met", median(ratios));
        plain.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_plain"));
    return 0;
}
