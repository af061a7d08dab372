#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/AppMain.h"
#include "ui/MainWindow.h"

namespace {

const QStringList kTables = {"Department", "Device", "Monthdata", "Realdata",
                             "SeqYeardata", "Staff", "Yeardata"};

// Reads the table names of a database file through a private connection.
QStringList tablesOf(const QString& file)
{
    QStringList names;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "startup-check");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q("select name from sqlite_master where type='table' order by name", db);
            while (q.next())
                names << q.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("startup-check");
    return names;
}

int runOnce(const std::function<void(MainWindow*)>& hook)
{
    static char name[] = "dosemanager";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    return appMain(argc, argv, hook);
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
        const int status = runOnce([&title](MainWindow* w) {
            title = w->windowTitle();
            QTimer::singleShot(0, w, &QWidget::close);
        });
        QCOMPARE(status, 0);
        QCOMPARE(title, QString::fromUtf8("个人剂量管理系统"));
        QVERIFY(QFile::exists(dir.filePath("database.db")));
        QVERIFY(QFile::exists(dir.filePath("log.txt")));
        // Settings are written only when the operator accepts the port settings.
        QVERIFY(!QFile::exists(dir.filePath("zudovi.ini")));
        QCOMPARE(tablesOf(dir.filePath("database.db")), kTables);
    }

    void exitStatusIsTheEventLoops()
    {
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        const int status = runOnce([](MainWindow*) { QTimer::singleShot(0, [] { qApp->exit(7); }); });
        QCOMPARE(status, 7);
    }

    void programBinaryStartsInEmptyDirectory()
    {
        const QString bin = qEnvironmentVariable("DOSEMANAGER_BIN");
        if (bin.isEmpty())
            QSKIP("DOSEMANAGER_BIN not set (run through CTest)");
        int argc = 1;
        char name[] = "tst_startup";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        QTemporaryDir dir;
        QProcess proc;
        proc.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        proc.setProcessEnvironment(env);
        proc.start(bin, QStringList());
        QVERIFY(proc.waitForStarted(10000));
        const QString file = dir.filePath("database.db");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("log.txt")) && tablesOf(file) == kTables, 20000);
        QCOMPARE(proc.state(), QProcess::Running);
        proc.kill();
        proc.waitForFinished(10000);
        QVERIFY(!QFile::exists(dir.filePath("zudovi.ini")));
    }
};

QTEST_APPLESS_MAIN(tst_startup)
#include "tst_startup.moc"
