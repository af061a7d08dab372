// Storing one data reply of 65535 readings into a database that already holds
// 1,000,000 readings of other devices, against a plain prepared insert of the
// same rows in one transaction into an identical copy of that database.
// Target: the reply takes at most 3 times the plain insert.

#include "core/DataBase.h"
#include "core/readings/mydeal_thread.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

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

struct Row
{
    int slaveId;
    QString dataTime;
    double probeValue;
};

// "yyyyMMddhh0000" of consecutive hours from 1 January 2016; built once,
// since date formatting would otherwise dominate the seeding.
const QStringList& hourKeys()
{
    static const QStringList keys = [] {
        QStringList list;
        list.reserve(ReplyReadings);
        QDate day(2016, 1, 1);
        while (list.size() < ReplyReadings) {
            const QString prefix = day.toString(QStringLiteral("yyyyMMdd"));
            for (int h = 0; h < 24 && list.size() < ReplyReadings; ++h)
                list.append(prefix + QString::asprintf("%02d0000", h));
            day = day.addDays(1);
        }
        return list;
    }();
    return keys;
}

QString hourKey(int hour)
{
    return hourKeys().at(hour);
}

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_storage: %s\n", qPrintable(what));
    std::exit(1);
}

QSqlDatabase openPlain(const QString& name, const QString& file)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    if (!db.open())
        fail(QStringLiteral("cannot open ") + file);
    return db;
}

void insertRows(QSqlDatabase db, const QString& table, const std::vector<Row>& rows)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("insert into %1(slaveId,dataTime,probeValue) values(?,?,?);").arg(table)))
        fail(q.lastError().text());
    for (const Row& r : rows) {
        q.bindValue(0, r.slaveId);
        q.bindValue(1, r.dataTime);
        q.bindValue(2, r.probeValue);
        if (!q.exec())
            fail(q.lastError().text());
    }
}

// 1,000,000 readings of other devices with their day and month totals.
void fillSeed(const QString& file)
{
    std::vector<Row> readings;
    readings.reserve(OtherReadings);
    QHash<QString, double> days;
    QHash<QString, double> months;
    const int hoursPerDevice = OtherReadings / OtherDevices;
    static_assert(OtherReadings / OtherDevices <= ReplyReadings, "hour keys cover the seed");
    for (int d = 0; d < OtherDevices; ++d) {
        for (int h = 0; h < hoursPerDevice; ++h) {
            const int slaveId = FirstOtherDevice + d;
            const QString key = hourKey(h);
            const double value = ((h * 31 + d) % 5000) / 100.0;
            readings.push_back({slaveId, key, value});
            days[QString::number(slaveId) + QLatin1Char('|') + key.left(8)] += value;
            months[QString::number(slaveId) + QLatin1Char('|') + key.left(6)] += value;
        }
    }
    auto totals = [](const QHash<QString, double>& sums) {
        std::vector<Row> rows;
        for (auto it = sums.begin(); it != sums.end(); ++it)
            rows.push_back({it.key().section(QLatin1Char('|'), 0, 0).toInt(),
                            it.key().section(QLatin1Char('|'), 1, 1), it.value()});
        return rows;
    };
    {
        QSqlDatabase db = openPlain(QStringLiteral("bench_fill"), file);
        // Only the seed is written this way; the measured runs use defaults.
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("PRAGMA synchronous = OFF"));
        pragma.exec(QStringLiteral("PRAGMA journal_mode = MEMORY"));
        pragma.exec(QStringLiteral("PRAGMA cache_size = -262144"));
        pragma.finish();
        db.transaction();
        insertRows(db, QStringLiteral("Realdata"), readings);
        insertRows(db, QStringLiteral("Monthdata"), totals(days));
        insertRows(db, QStringLiteral("Yeardata"), totals(months));
        if (!db.commit())
            fail(db.lastError().text());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_fill"));
}

std::vector<Row> replyRows()
{
    std::vector<Row> rows;
    rows.reserve(ReplyReadings);
    for (int h = 0; h < ReplyReadings; ++h)
        rows.push_back({ReplyDevice, hourKey(h), ((h * 37) % 65536) / 100.0});
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

double plainInsertMs(const QString& file, const std::vector<Row>& rows)
{
    double ms = 0;
    {
        QSqlDatabase db = openPlain(QStringLiteral("bench_plain"), file);
        QElapsedTimer timer;
        timer.start();
        db.transaction();
        insertRows(db, QStringLiteral("Realdata"), rows);
        if (!db.commit())
            fail(db.lastError().text());
        ms = timer.nsecsElapsed() / 1e6;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_plain"));
    return ms;
}

// The reply goes the way the serial link hands it over.
double replyMs(const QString& dir, const QString& message)
{
    if (!QDir::setCurrent(dir))
        fail(QStringLiteral("cannot enter ") + dir);
    DataBase database;
    mydeal_thread thread(nullptr, &database, nullptr);
    bool stored = false;
    QElapsedTimer timer;
    timer.start();
    stored = thread.store(message);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!stored)
        fail(QStringLiteral("the reply was not stored"));

    // The storage's own connection belongs to the processing thread.
    database.createConnection(QStringLiteral("check"));
    QSqlDatabase check = database.getConnection(QStringLiteral("check"));
    if (database.countRows(QStringLiteral("Realdata"), check) != OtherReadings + ReplyReadings)
        fail(QStringLiteral("unexpected number of readings after the reply"));
    database.closeConnection(QStringLiteral("check"));
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
    QTemporaryDir base;
    if (!base.isValid())
        fail(QStringLiteral("no temporary directory"));
    const QString startDir = QDir::currentPath();
    const QDir root(base.path());
    root.mkpath(QStringLiteral("seed"));
    const QString seed = root.filePath(QStringLiteral("seed/database.db"));

    QElapsedTimer fillTimer;
    fillTimer.start();
    QDir::setCurrent(root.filePath(QStringLiteral("seed")));
    {
        DataBase database;
        database.createTables();
    }
    fillSeed(seed);
    std::printf("seed: %d readings of %d other devices in %.0f ms (%.1f MB)\n", OtherReadings,
                OtherDevices, fillTimer.nsecsElapsed() / 1e6, QFileInfo(seed).size() / 1e6);

    const std::vector<Row> rows = replyRows();
    const QString message = replyMessage(rows);

    std::vector<double> plain;
    std::vector<double> reply;
    for (int round = 0; round < Rounds; ++round) {
        // Fresh identical copies each round: same size, same indexes.
        const QString a = root.filePath(QStringLiteral("a%1").arg(round));
        const QString b = root.filePath(QStringLiteral("b%1").arg(round));
        root.mkpath(a);
        root.mkpath(b);
        if (!QFile::copy(seed, a + QLatin1String("/database.db"))
            || !QFile::copy(seed, b + QLatin1String("/database.db")))
            fail(QStringLiteral("cannot copy the seed database"));

        plain.push_back(plainInsertMs(b + QLatin1String("/database.db"), rows));
        reply.push_back(replyMs(a, message));
        std::printf("round %d: reply %.1f ms, plain insert %.1f ms, ratio %.2f\n", round + 1,
                    reply.back(), plain.back(), reply.back() / plain.back());
    }
    QDir::setCurrent(startDir);

    const double r = median(reply);
    const double p = median(plain);
    std::printf("reply of %d readings through mydeal_thread: %.1f ms (median of %d)\n",
                ReplyReadings, r, Rounds);
    std::printf("plain prepared insert of the same rows:      %.1f ms (median of %d)\n", p, Rounds);
    std::printf("ratio %.2f (target at most %.1f): %s\n", r / p, Target,
                r / p <= Target ? "met" : "NOT met");
    return 0;
}
