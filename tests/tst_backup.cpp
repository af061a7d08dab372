// Backups (manual, automatic, rotation), restore and their dosectl commands and menu actions.

#include <QAction>
#include <QScopeGuard>
#include <QStatusBar>
#include <QSysInfo>
#include <QtTest>
#include <atomic>

#include <sys/stat.h>
#include <unistd.h>

#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "core/backup/DatabaseBackup.h"
#include "core/export/OutputFile.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"
#include "desktop/MainWindow.h"

namespace {

// What a register holds: its people and departments, and the count, sum and last key of every dose table.
const char* const kContent = "select ifnull((select group_concat(department || dname) from Department), '-') || '|' || "
    "ifnull((select group_concat(ID_card || ifnull(name, '')) from Staff), '-') || '|' || (select count(*) from Device)"
    " || (select '|' || count(*) || ' ' || total(probeValue) || ' ' || ifnull(max(dataTime), '-') from Realdata)"
    " || (select '|' || count(*) || ' ' || total(probeValue) || ' ' || ifnull(max(dataTime), '-') from Monthdata)"
    " || (select '|' || count(*) || ' ' || total(probeValue) || ' ' || ifnull(max(dataTime), '-') from Yeardata)";

// A register at path in journal mode, with rows readings of its own that SQLite keeps in the -wal
// (or journal) when the mode has one, left as a crash leaves it: what the file holds is returned.
QString crashed(ScratchDatabase& s, const QString& path, const QString& mode, int readings, quint32 applicationId = 0)
{
    const QString live = path + ".live";
    s.exec("VACUUM INTO ?", {live});
    QString content;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "live");
        db.setDatabaseName(live);
        QSqlQuery q(db);
        db.open();
        for (const QString& sql : {QString("pragma application_id = %1").arg(applicationId), "pragma journal_mode = " + mode,
                                   QString("pragma wal_autocheckpoint = 0"), QString("begin")})
            q.exec(sql);
        for (int i = 0; i < readings; ++i)
            q.exec(QString("insert into Realdata(slaveId, dataTime, probeValue) values(%1, %2, 0.5)").arg(mode.size()).arg(20240101000000LL + i * 10000));
        q.exec(QString("insert into Staff(ID_card, name) values('%1', '%2')").arg(mode, path.right(9)));
        q.exec("commit");
        if (q.exec(kContent) && q.next())
            content = q.value(0).toString();
        for (const char* side : {"", "-wal", "-shm", "-journal"})
            if (QFile::exists(live + side))
                QFile::copy(live + side, path + side);
    }
    QSqlDatabase::removeDatabase("live");
    return content;
}

QStringList names(const QStringList& days) // "yyyyMMdd" -> the automatic backup of that day at noon
{
    QStringList n;
    for (const QString& d : days)
        n << DatabaseBackup::automaticName(QDateTime(QDate::fromString(d, "yyyyMMdd"), QTime(12, 0)));
    return n;
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> s; // holds person c1
    QString out, err;

private slots:
    void init() { s = std::make_unique<ScratchDatabase>(), s->addPerson("c1", "甲"), Clock::setNow(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9))); }
    void cleanup() { s.reset(), Clock::reset(), MainWindow::setFileName({}); }

    void rotation_data()
    {
        QTest::addColumn<QStringList>("days");
        QTest::addColumn<QStringList>("deleted");
        QTest::addColumn<bool>("due"); // on 2024-12-10 at 13:00
        QStringList daily, monthly{"20231015", "20231115", "20231215", "20240301", "20240315"};
        for (int d = 1; d <= 10; ++d)
            daily << QDate(2024, 12, d).toString("yyyyMMdd");
        for (int m = 1; m <= 11; ++m)
            monthly << QDate(2024, m, 20).toString("yyyyMMdd");
        QTest::newRow("none") << QStringList() << QStringList() << true;
        QTest::newRow("25 hours old") << QStringList{"20241209"} << QStringList() << true;
        QTest::newRow("only from the future") << QStringList{"20241211"} << QStringList() << true;
        const QStringList lastSeven = daily.mid(3);
        QTest::newRow("seven") << lastSeven << QStringList() << false;
        QTest::newRow("newest seven of one month") << daily << QStringList(daily.mid(0, 3)) << false;
        QTest::newRow("newest of twelve months") << monthly + lastSeven << QStringList(monthly.mid(0, 5)) << false;
    }
    void rotation()
    {
        QFETCH(QStringList, days);
        QFETCH(QStringList, deleted);
        QFETCH(bool, due);
        const QStringList all = QStringList{"notes.txt", names({"20200101"}).first() + ".AbC123.part"} + names(days);
        const QDateTime now(QDate(2024, 12, 10), QTime(13, 0));
        QCOMPARE(DatabaseBackup::expired(all, now), names(deleted));
        QCOMPARE(DatabaseBackup::due(all, now), due);
    }

    void backupWhileStoring()
    {
        s->addDose("Monthdata", 1, "20240101", 0);
        std::atomic<bool> stop{false};
        std::atomic<int> stored{0};
        // Another connection stores a reading and its month total in one transaction, over and over.
        std::unique_ptr<QThread> writer(QThread::create([&] {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "writer");
                db.setDatabaseName(s->path("database.db"));
                for (QSqlQuery q(db); db.open() && !stop && db.transaction(); QThread::msleep(2)) {
                    q.exec(QStringLiteral("insert into Realdata(slaveId, dataTime, probeValue) values(1, '%1', 1)").arg(stored));
                    q.exec("update Monthdata set probeValue = probeValue + 1");
                    db.commit() ? ++stored : db.rollback();
                }
            }
            QSqlDatabase::removeDatabase("writer");
        }));
        writer->start();
        const auto finish = qScopeGuard([&] { stop = true, writer->wait(); });
        QTRY_VERIFY(stored > 0);
        BackupReport report;
        QString reason, copy;
        for (int i = 0; i < 5; ++i) {
            QVERIFY2(DatabaseBackup::backup(s->path("database.db"), copy = s->path(QString("copy%1.db").arg(i)), false, &report, &reason), qPrintable(reason));
            const int readings = valueIn(copy, "select count(*) from Realdata").toInt();
            QCOMPARE(valueIn(copy, "select probeValue from Monthdata").toInt(), readings);
            QCOMPARE(report.counts.at(3), qMakePair(QString("Realdata"), readings));
        }
        QVERIFY(stored > valueIn(s->path("copy0.db"), "select count(*) from Realdata").toInt());
        QCOMPARE(s->value("select count(*) || ' ' || max(rowKey) from AuditLog where action = 'backup'").toString(), "5 " + report.path);
    }

    void dosectlBackupAndRestore()
    {
        const QString db = s->path("database.db"), copy = s->path("copy.db"), kept = db + ".before-restore-20240506-070809";
        {
            // Run as from cron or "env -i": the audit row still names the account.
            const QProcessEnvironment was = QProcessEnvironment::systemEnvironment();
            for (const char* name : {"USER", "LOGNAME", "USERNAME", "HOME"})
                qunsetenv(name);
            const int rc = ctl({"--db", db, "backup", copy}, &out, &err);
            for (const char* name : {"USER", "LOGNAME", "USERNAME", "HOME"})
                if (was.contains(name))
                    qputenv(name, was.value(name).toLocal8Bit());
            QCOMPARE(rc, 0);
        }
        QCOMPARE(s->value("select actor from AuditLog where action = 'backup'").toString(),
                 output("id", {"-un"}).trimmed() + '@' + QSysInfo::machineHostName());
        QVERIFY2(out.startsWith("备份：" + copy + "\n大小：") && out.contains(" 字节\nDepartment：") && out.contains("\nStaff：1 行\nDevice：0 行\n"), qPrintable(out));
        QVERIFY(OutputFile::isBackup(copy) && !OutputFile::isBackup(db));
        s->addPerson("c2", "乙");
        QCOMPARE(ctl({"--db", db, "backup", db, "--force"}, &out, &err), 1); // never over the database itself
        QCOMPARE(ctl({"--db", db, "backup", copy}, &out, &err), 1); // an existing file stays as it was
        QCOMPARE(valueIn(copy, "select count(*) from Staff").toInt(), 1);
        QCOMPARE(ctl({"backup", "--db", db, copy, "--force"}, &out, &err), 0);
        s->addPerson("c3", "丙");
        QCOMPARE(ctl({"--db", db, "restore", copy}, &out, &err), 0);
        QCOMPARE(out, "已恢复：" + db + "\n原数据库保留为：" + kept + "\n");
        QCOMPARE(valueIn(kept, "select count(*) from Staff").toInt() * 10 + valueIn(db, "select count(*) from Staff").toInt(), 32);
        QCOMPARE(valueIn(db, "select rowKey || ' ' || detail from AuditLog where action = 'restore'").toString(), copy + " " + QFileInfo(kept).fileName());
        QCOMPARE(ctl({"--db", db, "restore", copy}, &out, &err), 1); // the kept file is never overwritten
        for (const QStringList& wrong : {QStringList{"backup"}, QStringList{"backup", "a", "b"}, QStringList{"restore", copy, "--force"}})
            QVERIFY2(ctl(wrong, &out, &err) == 2 && err.contains("Usage:"), qPrintable(err));
        QCOMPARE(ctl({"--db", s->path("none.db"), "backup", s->path("x.db")}, &out, &err), 1);
        QVERIFY(!QFile::exists(s->path("none.db")) && !QFile::exists(s->path("x.db")));
    }

    void restoreRefuses_data()
    {
        QTest::addColumn<QByteArray>("content"); // of the file, or the statement that makes a foreign database
        QTest::addColumn<QString>("reason");
        QTest::newRow("text") << QByteArray("ID_card,name\n") << "不是 SQLite 数据库";
        QTest::newRow("empty") << QByteArray() << "文件是空的";
        QTest::newRow("foreign") << QByteArray("create table notes(x)") << "不是本程序的数据库（缺少表 Department、Staff";
    }
    void restoreRefuses()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QFile file(s->path("bad.db"));
        if (content.startsWith("create"))
            valueIn(file.fileName(), content);
        else
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        const QStringList before = QDir(s->path(".")).entryList(QDir::Files);
        QCOMPARE(ctl({"--db", s->path("database.db"), "restore", file.fileName()}, &out, &err), 1);
        QVERIFY2(err.startsWith("dosectl: " + reason) && err.count('\n') == 1, qPrintable(err));
        QCOMPARE(QDir(s->path(".")).entryList(QDir::Files), before);
        QCOMPARE(s->count("Staff"), 1);
    }

    void restoreOverEveryJournalMode_data()
    {
        QTest::addColumn<QString>("mode"); // of the database replaced; the backup is in WAL mode with 720 readings in its -wal
        for (const char* mode : {"delete", "truncate", "persist", "wal"})
            QTest::newRow(mode) << mode;
    }
    void restoreOverEveryJournalMode()
    {
        QFETCH(QString, mode);
        const QString db = s->path("register.db"), backup = s->path("backup.db"), kept = db + ".before-restore-20240506-070809";
        const QString former = crashed(*s, db, mode, 2664), restored = crashed(*s, backup, "wal", 720, 0x444F5345);
        QVERIFY2(former.contains("|2664 1332.0 ") && restored.contains("|720 360.0 "), qPrintable(former + " / " + restored));
        QVERIFY(QFileInfo(backup + "-wal").size() > 0 && (mode != "wal" || QFileInfo(db + "-wal").size() > 0));
        QVERIFY(OutputFile::isBackup(backup) && !OutputFile::isBackup(db));
        // The replaced file's owner and mode stay: nobody's with 0640 where this account may give it away.
        const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
        QVERIFY(::chmod(QFile::encodeName(db), 0640) == 0 && ::chown(QFile::encodeName(db), owner, getegid()) == 0);

        QCOMPARE(ctl({"--db", db, "restore", backup}, &out, &err), 0);
        for (const char* side : {"-wal", "-shm", "-journal"})
            QVERIFY2(!QFile::exists(db + side) && !QFile::exists(kept + side), side);
        QCOMPARE(valueIn(db, kContent).toString(), restored);
        QCOMPARE(valueIn(kept, kContent).toString(), former);
        for (const QString& file : {db, kept}) {
            struct stat st;
            QVERIFY(::stat(QFile::encodeName(file), &st) == 0);
            QCOMPARE(int(st.st_mode & 07777), 0640);
            QCOMPARE(st.st_uid, owner);
            QCOMPARE(valueIn(file, "pragma integrity_check").toString(), "ok");
        }
        QVERIFY(!OutputFile::isBackup(db));
        QCOMPARE(valueIn(db, "pragma application_id").toInt(), 0);
    }

    void windowActions()
    {
        s->exec("insert into Department(department, dname) values('放射科', 'A')");
        SettingsAdpater settings(s->path("zudovi.ini"), QSettings::IniFormat);
        MainWindow w(nullptr, &settings, s->store.get());
        QString file = s->path("manual.db");
        MainWindow::setFileName([&](QWidget*, const QString&) { return file; });
        ModalScript script;
        script.boxStarting("备份数据库", "数据库已备份到 " + file + "\n大小：", QMessageBox::Ok, &w);
        w.findChild<QAction*>("action_backup")->trigger();
        s->addPerson("c2", "乙");
        QFile(file = s->path("empty.db")).open(QIODevice::WriteOnly);
        script.box("恢复数据库", "不能用这个文件恢复: 文件是空的：" + file, QMessageBox::Ok, &w);
        w.findChild<QAction*>("action_restore")->trigger();
        file = s->path("manual.db");
        script.boxStarting("恢复数据库", "用 " + file + " 替换当前数据库吗?", QMessageBox::Yes, &w);
        script.box("恢复数据库", "数据库已恢复。原数据库保留为 " + s->path("database.db.before-restore-20240506-070809"), QMessageBox::Ok, &w);
        w.findChild<QAction*>("action_restore")->trigger();
        ANSWERED(script);
        QCOMPARE(s->count("Staff"), 1); // every connection of this thread reads the restored file
        QCOMPARE(w.persons().size(), 1);
        // The start-up backup, then one that cannot be written: the status bar says so.
        w.startAutomaticBackup();
        QTRY_VERIFY(QFile::exists(s->path("backup/database-20240506-070809.db")) && !w.automaticBackupRunning());
        QVERIFY(QDir(s->path("backup")).removeRecursively() && QFile(s->path("backup")).open(QIODevice::WriteOnly));
        w.startAutomaticBackup();
        QTRY_COMPARE(w.statusBar()->currentMessage(), "自动备份失败: 无法建立备份文件夹 " + s->path("backup"));
        MainWindow::setFileName({});
    }
};

QTEST_MAIN(TestBackup)
#include "tst_backup.moc"
