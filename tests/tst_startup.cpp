#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/AppMain.h"
#include "app/DataDir.h"
#include "support/ScratchDatabase.h"
#include "ui/MainWindow.h"

namespace {

const QStringList kTables = {"AuditActor", "AuditLog", "Department", "Device", "DoseAlert", "DosePolicy", "Monthdata", "Realdata",
                             "SeqYeardata", "Staff", "Yeardata"};

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

QTEST_APPLESS_MAIN(tst_startup)
#include "tst_startup.moc"
