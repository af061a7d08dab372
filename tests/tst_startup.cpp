#include <sys/prctl.h>

#include <csignal>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/AppMain.h"
#include "app/DataDir.h"
#include "device/SerialPort.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"
#include "ui/MainWindow.h"

namespace {

const QStringList kTables = {"AuditLog", "Department", "Device", "DoseAlert", "DosePolicy", "Monthdata", "Realdata",
                             "SeqYeardata", "Staff", "Yeardata"};

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
        const int status = runOnce([&title](MainWindow* w) {
            title = w->windowTitle();
            QTimer::singleShot(0, [] { qApp->exit(7); });
        });
        QCOMPARE(status, 7);
        QCOMPARE(title, QString::fromUtf8("个人剂量管理系统"));
        QVERIFY(QFile::exists(dir.filePath("log.txt")));
        // Settings are written only when the operator accepts the port settings.
        QVERIFY(!QFile::exists(dir.filePath("zudovi.ini")));
        const QString tables = "select group_concat(name) from "
                               "(select name from sqlite_master where type = 'table' order by name)";
        QCOMPARE(valueIn(dir.filePath("database.db"), tables).toString(), kTables.join(','));
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
        const QString holder = QString("进程 %1, 主机 %2").arg(first.processId()).arg(QSysInfo::machineHostName());
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
