// Power loss in the middle of storing: a child process (this program,
// started again with "--child DIR SEED RUN MAX") stores large replies of several
// devices through the real storage in a loop and is killed with SIGKILL at
// random moments. After every kill the database, opened afresh, must still
// be consistent: totals equal the sums of the stored readings, no hour is
// stored twice, and SQLite finds the file intact. The child is then started
// again on the same directory, so later kills hit a database with history.
//
// DOSE_TEST_SEED=N repeats a run; the seed in use is printed.

#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "db/DataBase.h"
#include "processing/mydeal_thread.h"
#include "sim/SimDosimeter.h"

namespace {

// Devices of the child's replies; 65535 and 0 are the edges of the address range.
const int kAddresses[] = {0, 3, 17, 300, 65535};
// Every run of the child writes around an hour of its own, this many hours
// after the previous run's, and reaches back before it: its replies overlap
// each other and the earlier runs', so many of their hours are stored already.
constexpr int kRunStep = 1500;
constexpr int kReachBack = 2000;
constexpr int kMinRecords = 1000;
constexpr int kMaxRecords = 5000;
constexpr double kTolerance = 1e-6;

quint32 testSeed()
{
    bool ok = false;
    const quint32 fromEnv = qEnvironmentVariable("DOSE_TEST_SEED").toUInt(&ok);
    return ok ? fromEnv : 20240917u;
}

// One data reply as the link hands it to the storage: lower-case hex text.
// Consecutive hours from a random start (crossing days, months and a year),
// a few hours repeated inside the reply and a few records without a valid
// hour, which the storage skips.
QString makeReply(QRandomGenerator& rng, int run)
{
    const int address = kAddresses[rng.bounded(int(sizeof kAddresses / sizeof kAddresses[0]))];
    const int count = rng.bounded(kMinRecords, kMaxRecords + 1);
    const int start = qMax(0, run * kRunStep - kReachBack + rng.bounded(kReachBack + kRunStep));
    const QDateTime first(QDate(2023, 11, 20), QTime(0, 0), Qt::UTC);

    QByteArray reply = SimDosimeter::word(address) + SimDosimeter::word(count);
    reply.reserve(4 + 7 * count);
    for (int k = 0; k < count; ++k) {
        const int dose = rng.bounded(1, 10001); // 0.01 .. 100 μSv
        const int pick = rng.bounded(100);
        if (pick == 0) {
            reply.append(SimDosimeter::makeRecord(23, 2, 30, 5, dose)); // no such day
        } else {
            const int offset = pick == 1 && k > 0 ? start + rng.bounded(k) : start + k;
            reply.append(SimDosimeter::makeRecord(first.addSecs(3600LL * offset), dose / 100.0));
        }
    }
    return QString::fromLatin1(reply.toHex());
}

// The child: stores replies until it is killed. Prints "ready" once the
// database is open and one line per reply stored; exits with 3 as soon as
// the storage reports a failure (that would be a fault, not a power loss).
int runChild(const QString& dir, quint32 seed, int run, int maxReplies)
{
    // Never outlive the test that started us.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int argc = 1;
    char name[] = "tst_powerloss-child";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("child: %{message}"));
    if (!QDir::setCurrent(dir))
        return 2;

    DataBase database;
    if (!database.createTables())
        return 2;
    mydeal_thread worker(nullptr, &database, nullptr);
    bool lastOk = true;
    QObject::connect(&worker, &mydeal_thread::dataStored, [&lastOk](bool ok) { lastOk = ok; });

    std::printf("ready\n");
    std::fflush(stdout);
    QRandomGenerator rng(seed);
    QElapsedTimer clock;
    clock.start();
    // Bounded even when nobody kills us.
    for (int n = 1; clock.elapsed() < 30000 && (maxReplies <= 0 || n <= maxReplies); ++n) {
        lastOk = false;
        worker.MY_receiveData(makeReply(rng, run));
        if (!lastOk) {
            std::printf("failed %d\n", n);
            std::fflush(stdout);
            return 3;
        }
        std::printf("stored %d\n", n);
        std::fflush(stdout);
    }
    return 0;
}

using Key = QPair<int, QString>;

// Everything that must hold in the file whatever moment the writer died at.
// Returns the problems found (empty when consistent).
QStringList checkConsistency(const QString& file, int* realRows)
{
    QStringList problems;
    static int serial = 0;
    const QString connName = QStringLiteral("powerloss-check-%1").arg(++serial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connName);
        db.setDatabaseName(file);
        if (!db.open())
            return {QStringLiteral("cannot open %1").arg(file)};
        QSqlQuery q(db);

        if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next())
            problems << QStringLiteral("integrity_check did not run");
        else if (q.value(0).toString() != QLatin1String("ok"))
            problems << QStringLiteral("integrity_check: %1").arg(q.value(0).toString());

        for (const char* table : {"Realdata", "Monthdata", "Yeardata"}) {
            if (!q.exec(QStringLiteral("select slaveId, dataTime, count(*) from %1 group by slaveId, "
                                       "dataTime having count(*) > 1 limit 3")
                            .arg(QLatin1String(table))))
                problems << QStringLiteral("duplicate query on %1 failed").arg(QLatin1String(table));
            while (q.next())
                problems << QStringLiteral("%1: device %2 %3 stored %4 times")
                                .arg(QLatin1String(table), q.value(0).toString(),
                                     q.value(1).toString(), q.value(2).toString());
        }

        if (q.exec(QStringLiteral("select count(*) from Realdata")) && q.next())
            *realRows = q.value(0).toInt();

        // The totals the readings call for, per day and per month.
        struct Level
        {
            const char* table;
            int keyLength;
        };
        for (const Level level : {Level{"Monthdata", 8}, Level{"Yeardata", 6}}) {
            QHash<Key, double> sums;
            if (!q.exec(QStringLiteral("select slaveId, substr(dataTime, 1, %1) as k, sum(probeValue) "
                                       "from Realdata group by slaveId, k")
                            .arg(level.keyLength)))
                problems << QStringLiteral("cannot read Realdata");
            while (q.next())
                sums.insert(Key(q.value(0).toInt(), q.value(1).toString()), q.value(2).toDouble());
            QSet<Key> seen;
            if (!q.exec(QStringLiteral("select slaveId, dataTime, probeValue from %1").arg(QLatin1String(level.table))))
                problems << QStringLiteral("cannot read %1").arg(QLatin1String(level.table));
            while (q.next()) {
                const Key key(q.value(0).toInt(), q.value(1).toString());
                const double total = q.value(2).toDouble();
                const double expected = sums.value(key, 0.0);
                seen.insert(key);
                if (std::fabs(total - expected) > kTolerance)
                    problems << QStringLiteral("%1: device %2 %3 holds %4, its readings sum to %5")
                                    .arg(QLatin1String(level.table))
                                    .arg(key.first)
                                    .arg(key.second)
                                    .arg(total, 0, 'f', 6)
                                    .arg(expected, 0, 'f', 6);
            }
            for (auto it = sums.cbegin(); it != sums.cend(); ++it) {
                if (!seen.contains(it.key()))
                    problems << QStringLiteral("%1: no row for device %2 %3 (readings sum to %4)")
                                    .arg(QLatin1String(level.table))
                                    .arg(it.key().first)
                                    .arg(it.key().second)
                                    .arg(it.value(), 0, 'f', 6);
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connName);
    if (problems.size() > 10)
        problems.erase(problems.begin() + 10, problems.end());
    return problems;
}

} // namespace

class tst_powerloss : public QObject
{
    Q_OBJECT

private:
    quint32 seed = testSeed();

    // Starts the child on dir; false when it does not come up.
    bool startChild(QProcess& child, const QString& dir, quint32 childSeed, int run, int maxReplies = 0)
    {
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--child"), dir, QString::number(childSeed), QString::number(run),
                            QString::number(maxReplies)});
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start();
        if (!child.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (child.canReadLine()) {
                if (child.readLine().startsWith("ready"))
                    return true;
                continue;
            }
            if (!child.waitForReadyRead(200) && child.state() != QProcess::Running)
                return false;
        }
        return false;
    }

    // Lines "stored N" the child has printed so far; -1 after "failed".
    static int storedSoFar(QProcess& child, int last)
    {
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            if (line.startsWith("stored "))
                last = line.mid(7).toInt();
            else if (line.startsWith("failed"))
                return -1;
        }
        return last;
    }

private slots:
    void initTestCase()
    {
        qInfo("seed %u (set DOSE_TEST_SEED to repeat)", seed);
    }

    // The check itself must see what it is there to see: a total that is
    // off, a missing total, an hour stored twice.
    void checkFindsDamage()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("database.db"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (const char* t : {"Realdata", "Monthdata", "Yeardata"})
                QVERIFY(q.exec(QStringLiteral("create table %1 (id INTEGER PRIMARY KEY, slaveId integer, "
                                              "dataTime date, probeValue double)")
                                   .arg(QLatin1String(t))));
            QVERIFY(q.exec("insert into Realdata(slaveId,dataTime,probeValue) values(5,'20240101080000',1.25)"));
            QVERIFY(q.exec("insert into Realdata(slaveId,dataTime,probeValue) values(5,'20240101090000',2.5)"));
            QVERIFY(q.exec("insert into Monthdata(slaveId,dataTime,probeValue) values(5,'20240101',3.75)"));
            QVERIFY(q.exec("insert into Yeardata(slaveId,dataTime,probeValue) values(5,'202401',3.75)"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("damage"));
        int rows = 0;
        QCOMPARE(checkConsistency(file, &rows), QStringList());
        QCOMPARE(rows, 2);

        auto damage = [&](const QString& sql) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
            db.setDatabaseName(file);
            bool ok = db.open() && QSqlQuery(db).exec(sql);
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("damage"));
            return ok;
        };
        // A total one hundredth short.
        QVERIFY(damage("update Monthdata set probeValue = 3.74"));
        QVERIFY(!checkConsistency(file, &rows).isEmpty());
        QVERIFY(damage("update Monthdata set probeValue = 3.75"));
        // A reading without its day's and month's totals.
        QVERIFY(damage("insert into Realdata(slaveId,dataTime,probeValue) values(6,'20240102080000',0)"));
        QCOMPARE(checkConsistency(file, &rows).size(), 2);
        QVERIFY(damage("delete from Realdata where slaveId = 6"));
        // An hour twice (same dose, so only the duplicate shows).
        QVERIFY(damage("insert into Realdata(slaveId,dataTime,probeValue) values(5,'20240101080000',0)"));
        QCOMPARE(checkConsistency(file, &rows).size(), 1);
    }

    void killedWriterLeavesConsistentDatabase()
    {
        constexpr int kKills = 24;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("database.db"));
        QRandomGenerator rng(seed);
        QElapsedTimer total;
        total.start();

        int midTransaction = 0;
        int repliesStored = 0;
        int rows = 0;
        for (int kill = 0; kill < kKills; ++kill) {
            QProcess child;
            const quint32 childSeed = rng.generate();
            QVERIFY2(startChild(child, dir.path(), childSeed, kill),
                     qPrintable(QStringLiteral("child %1 did not start: %2")
                                    .arg(kill)
                                    .arg(QString::fromLocal8Bit(child.readAllStandardError()))));
            // Anywhere within the first few replies, also inside the very first.
            const int delay = rng.bounded(5, 600);
            QElapsedTimer wait;
            wait.start();
            int stored = 0;
            while (wait.elapsed() < delay && child.state() == QProcess::Running) {
                child.waitForReadyRead(qMax<qint64>(1, delay - wait.elapsed()));
                stored = storedSoFar(child, stored);
            }
            QVERIFY2(child.state() == QProcess::Running,
                     qPrintable(QStringLiteral("child %1 ended by itself (code %2): %3")
                                    .arg(kill)
                                    .arg(child.exitCode())
                                    .arg(QString::fromLocal8Bit(child.readAllStandardError().right(2000)))));
            child.kill(); // SIGKILL
            QVERIFY(child.waitForFinished(5000));
            stored = storedSoFar(child, stored);
            QVERIFY2(stored >= 0, "the storage reported a failure");
            repliesStored += stored;
            // A journal left behind: the kill came in the middle of a transaction.
            if (QFileInfo::exists(file + QStringLiteral("-journal")))
                ++midTransaction;

            const QStringList problems = checkConsistency(file, &rows);
            QVERIFY2(problems.isEmpty(),
                     qPrintable(QStringLiteral("after kill %1 (%2 ms, seed %3): %4")
                                    .arg(kill)
                                    .arg(delay)
                                    .arg(seed)
                                    .arg(problems.join(QStringLiteral("; ")))));
        }

        // The file is still usable: a writer that is left alone stores and ends well.
        QProcess last;
        QVERIFY(startChild(last, dir.path(), rng.generate(), kKills, 2));
        QVERIFY(last.waitForFinished(30000));
        QCOMPARE(last.exitStatus(), QProcess::NormalExit);
        QCOMPARE(last.exitCode(), 0);
        QCOMPARE(storedSoFar(last, 0), 2);
        QCOMPARE(checkConsistency(file, &rows), QStringList());

        qInfo("%d kills in %lld ms: %d inside a transaction, %d replies stored before them, "
              "%d readings in the end",
              kKills, total.elapsed(), midTransaction, repliesStored, rows);
        QVERIFY(rows > 0);
        QVERIFY2(repliesStored > 0, "no kill came after a stored reply: nothing had history");
        QVERIFY2(midTransaction > 0, "no kill hit a transaction: the test proved nothing");
    }
};

int main(int argc, char** argv)
{
    if (argc >= 6 && std::strcmp(argv[1], "--child") == 0)
        return runChild(QString::fromLocal8Bit(argv[2]), quint32(std::strtoul(argv[3], nullptr, 10)),
                        std::atoi(argv[4]), std::atoi(argv[5]));
    QCoreApplication app(argc, argv);
    tst_powerloss tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_powerloss.moc"
