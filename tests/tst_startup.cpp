#include <sys/prctl.h>

#include <csignal>

#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include <unistd.h>

#include "desktop/AppMain.h"
#include "core/store/DataDir.h"
#include "core/device/SerialPort.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"
#include "desktop/MainWindow.h"

namespace {

const QStringList kTables = {"AuditActor", "AuditLog", "Department", "Device", "DoseAdjustment", "DoseAlert", "DosePolicy", "Monthdata", "PassiveImport", "PassiveResult", "Realdata",
                             "SeqYeardata", "Staff", "Yeardata"};

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// A register with person c1 and sql run on it, copied to path as SQLite writes it.
void registerAt(const QString& path, const QString& sql = {})
{
    ScratchDatabase s;
    s.addPerson("c1", "甲");
    s.addDevice(5, "c1");
    s.addDose("Realdata", 5, "20240506070000", 2.5);
    s.addDose("Monthdata", 5, "20240506", 2.5);
    s.addDose("Yeardata", 5, "202405", 2.5);
    QVERIFY(sql.isEmpty() || s.exec(sql));
    QVERIFY(s.exec("VACUUM INTO ?", {path}));
}

int runOnce(const std::function<void(MainWindow*)>& hook)
{
    static char name[] = "dosemanager";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    return appMain(argc, argv, hook);
}

// "--start DIR [--stay]": the program started on DIR in a process of its own. It prints the text of a message box
// (and presses its OK) and "shown" once its window is up; then it quits, or with --stay runs on.
int startChild(int argc, char** argv)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test
    SerialPort::setPortLister([] { return QList<PortDescription>(); });
    // The script needs the application, which the start-up itself makes.
    qAddPreRoutine([] {
        (new ModalScript)->expect("个人剂量管理系统", [](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QTextStream(stdout) << (box ? box->text() : "not a message box") << Qt::endl;
            if (box)
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            return QString();
        });
    });
    const bool stay = argc > 3;
    char dataDir[] = "--data-dir";
    char* args[] = {argv[0], dataDir, argv[2], nullptr};
    int n = 3;
    return appMain(n, args, [stay](MainWindow*) {
        QTextStream(stdout) << "shown" << Qt::endl;
        if (!stay)
            QTimer::singleShot(0, [] { qApp->exit(0); });
    });
}

} // namespace

class tst_startup : public QObject
{
    Q_OBJECT

private slots:
    void freshDirectoryGetsDatabaseAndLog()
    {
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        QString title;
        QStringList buttons; // Qt's own, in Chinese whatever LANG says
        qputenv("LANG", "C");
        const int status = runOnce([&title, &buttons](MainWindow* w) {
            title = w->windowTitle();
            QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Save);
            for (auto b : {QDialogButtonBox::Ok, QDialogButtonBox::Cancel, QDialogButtonBox::Save})
                buttons << box.button(b)->text().remove('&');
            QTimer::singleShot(0, [] { qApp->exit(7); });
        });
        QCOMPARE(status, 7);
        QCOMPARE(title, QString::fromUtf8("个人剂量管理系统"));
        QCOMPARE(buttons.join(' ').remove(QRegularExpression("\\(.\\)")), QString::fromUtf8("确定 取消 保存"));
        QVERIFY(QFile::exists(dir.filePath("log.txt")));
        // Settings are written only when the operator accepts the port settings.
        QVERIFY(!QFile::exists(dir.filePath("zudovi.ini")));
        const QString tables = "select group_concat(name) from "
                               "(select name from sqlite_master where type = 'table' order by name)";
        QCOMPARE(valueIn(dir.filePath("database.db"), tables).toString(), kTables.join(','));
    }

    void damagedFileIsRefused_data()
    {
        QTest::addColumn<QByteArray>("content"); // of database.db, or the statement that spoils a register
        QTest::addColumn<QString>("reason");
        QByteArray noise(4096, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        QTest::newRow("zero bytes") << QByteArray() << "文件是空的";
        QTest::newRow("random bytes") << noise << "不是 SQLite 数据库";
        QTest::newRow("wrong columns") << QByteArray("alter table Staff rename column name to nom") << "不是本程序的数据库（表 Staff 缺少列 name）";
        QTest::newRow("missing table") << QByteArray("drop table Realdata") << "不是本程序的数据库（缺少表 Realdata）";
    }

    void damagedFileIsRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir, elsewhere;
        const QString db = dir.filePath("database.db");
        const bool sqlite = content.startsWith("alter") || content.startsWith("drop");
        if (sqlite)
            registerAt(db, content);
        else if (QFile file(db); !file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            QFAIL("cannot write database.db");
        const QByteArray before = bytesOf(db);
        const QString schema = "select group_concat(sql) from sqlite_master";
        const QVariant tables = sqlite ? valueIn(db, schema) : QVariant();
        const QStringList files = entries(dir.path());
        QString out, err;
        for (const QStringList& command : {QStringList{"status"}, QStringList{"check"}, QStringList{"check", "--repair"},
                                           QStringList{"report", "person", "c1", "--pdf", elsewhere.filePath("c1.pdf")},
                                           QStringList{"backup", elsewhere.filePath("copy.db")}}) {
            QCOMPARE(ctl(QStringList{"--data-dir", dir.path()} + command, &out, &err), 1);
            QVERIFY2(err.startsWith("dosectl: " + reason) && err.contains(db) && err.count('\n') == 1, qPrintable(err));
        }
        QCOMPARE(bytesOf(db), before);
        QCOMPARE(entries(dir.path()), files);
        QCOMPARE(entries(elsewhere.path()), QStringList());

        // The program says so and leaves: no window, no log, no tables, no backup.
        QVERIFY(QDir::setCurrent(dir.path()));
        bool shown = false;
        int status = 0;
        {
            ModalScript script;
            script.boxStarting("数据库", QString("无法使用数据库文件 %1:\n%2").arg(db, reason));
            status = runOnce([&shown](MainWindow*) { shown = true, qApp->exit(7); });
            ANSWERED(script);
        }
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        QCOMPARE(status, 1);
        QVERIFY(!shown);
        QCOMPARE(bytesOf(db), before);
        QCOMPARE(entries(dir.path()), files);

        // dosectl restore is how an officer recovers: the damaged file is kept as it was.
        registerAt(elsewhere.filePath("good.db"));
        QCOMPARE(ctl({"--db", db, "restore", elsewhere.filePath("good.db")}, &out, &err), 0);
        const QString kept = out.section("原数据库保留为：", 1).trimmed();
        if (sqlite)
            QCOMPARE(valueIn(kept, schema), tables);
        else
            QCOMPARE(bytesOf(kept), before);
        QCOMPARE(ctl({"--data-dir", dir.path(), "status"}, &out, &err), 0);
    }

    void statusReadsWhatItMayNotWrite_data()
    {
        QTest::addColumn<QString>("mode"); // journal mode of the database, in a folder this account may not write
        QTest::addColumn<bool>("dataDir"); // named by --data-dir rather than --db
        QTest::addColumn<bool>("pending"); // commits left in its -wal, no -shm
        QTest::newRow("rollback file, --db") << "delete" << false << false;
        QTest::newRow("WAL file, --data-dir") << "wal" << true << false;
        QTest::newRow("commits in the -wal") << "wal" << false << true;
    }

    void statusReadsWhatItMayNotWrite()
    {
        QFETCH(QString, mode);
        QFETCH(bool, dataDir);
        QFETCH(bool, pending);
        QTemporaryDir dir, elsewhere;
        const QString db = dir.filePath("database.db"), copy = elsewhere.filePath("copy.db");
        registerAt(copy);
        QCOMPARE(valueIn(copy, "pragma journal_mode = " + mode).toString(), mode);
        {
            // A crash after the last commit leaves it in the -wal.
            QSqlDatabase live = QSqlDatabase::addDatabase("QSQLITE", "live");
            live.setDatabaseName(copy);
            QSqlQuery q(live);
            QVERIFY(live.open() && q.exec("pragma wal_autocheckpoint = 0"));
            QVERIFY(!pending || q.exec("insert into Staff(ID_card) values('c2')"));
            QVERIFY(QFile::copy(copy, db) && (!pending || QFile::copy(copy + "-wal", db + "-wal")));
        }
        QSqlDatabase::removeDatabase("live");
        QString expected, err;
        QCOMPARE(ctl({"--db", copy, "status", "--date", "2024-05-31"}, &expected, &err), 0);
        QVERIFY2(expected.contains("\nc1,甲,放射科,职业,"), qPrintable(expected));
        QVERIFY(QFile::exists(db) && QFile::exists(db + "-wal") == pending);

        // Root writes whatever the modes say: dosectl runs as nobody there, in a folder nobody may read only.
        const bool root = geteuid() == 0;
        const QString dosectl = dir.filePath("dosectl");
        QVERIFY(QFile::copy(QT_TESTCASE_BUILDDIR "/dosectl", dosectl));
        const QFile::Permissions read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther, exec = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(dir.path(), read | exec | (root ? QFile::WriteOwner : QFile::Permissions())));
        const QStringList files = entries(dir.path());
        const auto run = [&](const QString& program, const QStringList& args) {
            QProcess p;
            p.start(root ? "setpriv" : program, root ? QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program} + args : args);
            p.waitForFinished(60000);
            err = QString::fromUtf8(p.readAllStandardError());
            return qMakePair(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()));
        };
        QVERIFY(run("touch", {dir.filePath("probe")}).first != 0); // writing is really denied
        const auto status = run(dosectl, (dataDir ? QStringList{"--data-dir", dir.path()} : QStringList{"--db", db})
                                             + QStringList{"status", "--date", "2024-05-31"});
        if (pending) {
            QCOMPARE(status.first, 1);
            QVERIFY2(err.startsWith("dosectl: " + db + " 的最近写入还在 " + db + "-wal 中") && status.second.isEmpty(), qPrintable(err));
        } else {
            QVERIFY2(status.first == 0, qPrintable(err));
            QCOMPARE(status.second, expected);
        }
        QCOMPARE(entries(dir.path()), files);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void oneProgramPerDataFolder()
    {
        int argc = 1;
        char name[] = "tst_startup";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        QTemporaryDir dir;
        QProcess first, second;
        first.start(app.applicationFilePath(), {"--start", dir.path(), "--stay"});
        QVERIFY(first.waitForReadyRead(60000) && first.readLine() == "shown\n");
        const QString holder = QString("进程 %1，主机 %2").arg(first.processId()).arg(QSysInfo::machineHostName());
        second.start(app.applicationFilePath(), {"--start", dir.path()});
        QVERIFY(second.waitForFinished(60000));
        const QString said = QString::fromUtf8(second.readAllStandardOutput());
        QVERIFY2(second.exitCode() == 1 && said.contains(holder) && !said.contains("shown"), qPrintable(said));
        // Refused before it wrote a line of the log.
        QCOMPARE(fileLines(dir.filePath("log.txt")).filter("dosemanager " DOSE_VERSION).size(), 1);

        // dosectl's commands that rewrite the register are refused with the same words; those that read go on.
        const QList<QPair<QStringList, int>> commands{{{"restore", dir.filePath("old.db")}, 1},
                                                       {{"check", "--repair"}, 1}, {{"check"}, 0}, {{"status"}, 0},
                                                       {{"migrate", "--from", dir.filePath("database.db")}, 1}};
        for (const auto& command : commands) {
            if (command.first.first() == "migrate") { // to a server (not reached), so only the lock stops it
                QSettings ini(dir.filePath("zudovi.ini"), QSettings::IniFormat);
                ini.setValue("database/driver", "QPSQL");
            }
            QString out, err;
            QCOMPARE(ctl(QStringList{"--data-dir", dir.path()} + command.first, &out, &err), command.second);
            QVERIFY2(err.contains(holder) == (command.second == 1), qPrintable(command.first.join(' ') + ": " + err));
        }
        QVERIFY(QFile::remove(dir.filePath("zudovi.ini")));

        // A holder that dies leaves its lock behind; the next program and repair take it over.
        first.kill();
        QVERIFY(first.waitForFinished(10000) && QFile::exists(dir.filePath("dosemanager.lock")));
        QCOMPARE(ctl({"--data-dir", dir.path(), "check", "--repair"}), 0);
        second.start(app.applicationFilePath(), {"--start", dir.path()});
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray("shown\n"));
    }

    void dataDirIsUsableOrLeftAsItWas_data()
    {
        QTest::addColumn<QString>("path"); // in a scratch folder holding only "file"
        QTest::addColumn<bool>("create");
        QTest::addColumn<bool>("usable");
        QTest::newRow("made with parents") << "a/b" << true << true;
        QTest::newRow("missing, not to be made") << "a/b" << false << false;
        QTest::newRow("a file") << "file" << true << false;
        QTest::newRow("fails half-way") << "a/" + QString(300, 'x') << true << false;
    }

    void dataDirIsUsableOrLeftAsItWas()
    {
        QFETCH(QString, path);
        QFETCH(bool, create);
        QFETCH(bool, usable);
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath("file")).open(QIODevice::WriteOnly));
        QCOMPARE(DataDir::prepare(dir.filePath(path), create).isEmpty(), usable);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 usable ? QStringList({"a", "file"}) : QStringList({"file"}));
        const int owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner; // mode 0700
        QVERIFY(!usable || int(QFileInfo(dir.filePath("a")).permissions()) == (owner | owner >> 4));
    }
};

int main(int argc, char** argv)
{
    if (argc > 2 && qstrcmp(argv[1], "--start") == 0)
        return startChild(argc, argv);
    tst_startup tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_startup.moc"
