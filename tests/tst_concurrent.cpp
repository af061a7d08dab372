// Two at once on one register: a reply stored beside a long read of another connection, and replies stored while
// dosectl check --repair runs in a second process ("--ctl ARGS": dosectl's own code, after a "go" line). No store may
// fail and nothing may be lost.
#include <sys/prctl.h>

#include <csignal>

#include <QtTest>

#include "core/readings/mydeal_thread.h"
#include "sim/SimDosimeter.h"
#include "support/ScratchDatabase.h"

namespace {

// Replies stored through the program's own storage path, and what became of them.
struct Storage
{
    explicit Storage(DataBase* database) : worker(nullptr, database, nullptr)
    {
    }
    // count hours of device slaveId from hour `start` after 2024-01-01 00:00, 0.25 μSv each.
    void store(int slaveId, int start, int count)
    {
        QByteArray reply = SimDosimeter::word(slaveId) + SimDosimeter::word(count);
        for (int k = 0; k < count; ++k) {
            const QDateTime hour = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(3600 * (start + k));
            reply += SimDosimeter::makeRecord(hour, 0.25);
            hours.insert(QString::number(slaveId) + hour.toString(" yyyyMMddhh"));
        }
        worker.store(reply.toHex()) ? ++stored : ++failed;
    }

    mydeal_thread worker;
    int stored = 0, failed = 0;
    QSet<QString> hours; // "slaveId yyyyMMddhh" of every reading handed over
};

} // namespace

class tst_concurrent : public QObject
{
    Q_OBJECT

private slots:
    void replyStoredBesideLongRead()
    {
        ScratchDatabase ws;
        Storage s(ws.store.get());
        s.store(5, 0, 24);
        QVERIFY(ws.db.transaction()); // a report reading: its first read fixes the moment it sees
        QCOMPARE(ws.count("Realdata"), 24);
        s.store(5, 24, 48);
        QCOMPARE(ws.count("Realdata"), 24);
        QVERIFY(ws.db.commit());
        QCOMPARE(s.failed, 0);
        QCOMPARE(ws.count("Realdata"), 72);
        QCOMPARE(ws.value("select sum(probeValue) from Monthdata").toDouble(), 18.0);
    }

    void repairWhileRepliesAreStored()
    {
        ScratchDatabase ws;
        Storage s(ws.store.get());
        for (int k = 0; k < 30; ++k) // a history for the repair to go through
            s.store(k % 3 + 1, k * 200, 400);
        for (int round = 0, hour = 6000; round < 3; ++round) {
            // Something to mend, so that each repair writes.
            QVERIFY(ws.exec("update Monthdata set probeValue = probeValue + 1 where id = ?", {round + 1}));
            QProcess repair;
            repair.start(QCoreApplication::applicationFilePath(),
                         {"--ctl", "--db", ws.path("database.db"), "check", "--repair"});
            QVERIFY(repair.waitForReadyRead(60000) && repair.readLine() == "go\n");
            for (int k = 0; k < 20; ++k, hour += 100) // each reaching back into the one before
                s.store(k % 3 + 1, hour - 150, 200);
            QVERIFY(repair.waitForFinished(60000));
            const QByteArray out = repair.readAllStandardOutput();
            QVERIFY2(repair.exitCode() == 0 && out.contains("已修复 Monthdata：插入 0 行，更新 1 行，删除 0 行") && out.endsWith("ok\n"),
                     out + repair.readAllStandardError());
        }
        QCOMPARE(s.failed, 0);
        QCOMPARE(s.stored, 90);
        QCOMPARE(ws.count("Realdata"), s.hours.size());
        QCOMPARE(ws.value("select count(distinct slaveId || ' ' || substr(dataTime, 1, 10)) from Realdata").toInt(),
                 s.hours.size());
        QString out;
        QCOMPARE(ctl({"--db", ws.path("database.db"), "check"}, &out), 0);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--ctl") == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test
        QTextStream(stdout) << "go" << Qt::endl;
        QString out, err;
        const int code = ctl(app.arguments().mid(2), &out, &err);
        QTextStream(stdout) << out;
        QTextStream(stderr) << err;
        return code;
    }
    tst_concurrent tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_concurrent.moc"
