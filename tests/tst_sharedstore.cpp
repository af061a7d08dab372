// The shared store: stations storing the same dosimeter at once, and a server that goes away.
#include <QCoreApplication>
#include <QProcess>
#include <QtTest>

#include "desktop/AppMain.h"
#include "core/DataBase.h"
#include "core/readings/datadeal.h"
#include "support/PgServer.h"
#include "support/ScratchDatabase.h"

// A reply of device 9 with the hours first..last-1 from 1 January 2016; an hour's dose is the same whoever reads it.
static QString reply(int first, int last)
{
    const auto word = [](int v) { return QString::asprintf("%02x%02x", v & 0xff, (v >> 8) & 0xff); };
    QString records;
    for (int h = first; h < last; ++h)
        records += QDateTime(QDate(2016, 1, 1), QTime(0, 0)).addSecs(3600 * h).toString("yyMMddhh") + "00"
            + word(h % 97 + 3);
    return word(9) + word(last - first) + records;
}

// One station of the store named in dir's "zudovi.ini": waits for the start file, then stores its replies; the
// exit code counts the refused ones.
static int station(const QString& dir, int first, int step)
{
    QSettings settings(dir + "/zudovi.ini", QSettings::IniFormat);
    std::unique_ptr<DataBase> database;
    openStore(settings, database); // as the program opens it
    datadeal storage(database.get(), nullptr);
    int refused = 0;
    QObject::connect(&storage, &datadeal::dataStored, [&refused](bool ok) { refused += ok ? 0 : 1; });
    while (!QFile::exists(dir + "/go"))
        QThread::msleep(1);
    for (int k = 0; k < 10; ++k)
        storage.receiveData(reply(first + k * step, first + k * step + 150));
    return refused;
}

class tst_sharedstore : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> ws;

    // Day and month totals against the sums of the readings under them.
    void totalsAreSums()
    {
        for (const QString t : {"Monthdata", "Yeardata"}) {
            const QString sums = ws->list(QString("select d, round(s::numeric, 2) from (select substr(dataTime, 1, %1) d, "
                                                  "sum(probeValue) s from Realdata group by d) t order by d")
                                              .arg(t == "Monthdata" ? 8 : 6));
            QVERIFY(!sums.isEmpty());
            QCOMPARE(ws->list("select dataTime, round(probeValue::numeric, 2) from " + t + " order by 1"), sums);
        }
    }

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(false); }
    void init()
    {
        ws.reset();
        ws = std::make_unique<ScratchDatabase>();
    }
    void cleanup() { ws.reset(); }

    // Two stations read the same dosimeter: the second one's replies overlap the first one's, in the other direction.
    void overlappingStationsCountEachHourOnce()
    {
        QProcess a, b; // they find the store in the scratch directory's zudovi.ini
        a.start(QCoreApplication::applicationFilePath(), {"station", ws->dir.path(), "0", "100"});
        b.start(QCoreApplication::applicationFilePath(), {"station", ws->dir.path(), "950", "-100"});
        QVERIFY(a.waitForStarted() && b.waitForStarted());
        QThread::msleep(300);
        QFile(ws->path("go")).open(QIODevice::WriteOnly);
        QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
        QCOMPARE(QString("%1 %2").arg(a.exitCode()).arg(b.exitCode()), QString("0 0"));
        // Hours 0..1099, each once, and every day and month total the sum of its readings.
        double sum = 0;
        for (int h = 0; h < 1100; ++h)
            sum += (h % 97 + 3) / 100.0;
        QCOMPARE(ws->list("select count(*), count(distinct dataTime), round(sum(probeValue)::numeric, 2) from Realdata"),
                 QString("1100 1100 %1").arg(sum, 0, 'f', 2));
        totalsAreSums();
    }

    // The store at start-up: a wrong driver or an unreachable server is said, with no file made in its place.
    void storeAtStartUp_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("said");
        QTest::newRow("wrong driver") << "driver=QMYSQL" << "zudovi.ini 中 [database] driver=QMYSQL 无效：只能是 QSQLITE 或 QPSQL";
        QTest::newRow("no server") << "host=/nonexistent port=5999"
                                   << "无法连接数据库 /nonexistent:5999/postgres：\nconnection to server on socket \"/nonexistent/";
        QTest::newRow("the server") << "" << ""; // as the scratch directory's zudovi.ini names it
    }
    void storeAtStartUp()
    {
        QFETCH(QString, group);
        QFETCH(QString, said);
        QSettings settings(ws->path("zudovi.ini"), QSettings::IniFormat);
        for (const QString& pair : group.split(' ', Qt::SkipEmptyParts))
            settings.setValue("database/" + pair.section('=', 0, 0), pair.section('=', 1));
        std::unique_ptr<DataBase> opened;
        const QString refusal = openStore(settings, opened);
        QVERIFY2(said.isEmpty() ? refusal.isEmpty() : refusal.startsWith(said), qPrintable(refusal));
        QCOMPARE(opened->isOpen(), said.isEmpty());
        QVERIFY(!QFile::exists(ws->path("database.db")));
    }

    // The server goes away during a synchronisation: that reply fails whole, and the next one after its return is stored.
    void lostServerStoresNothing()
    {
        datadeal storage(ws->store.get(), nullptr);
        QSignalSpy stored(&storage, &datadeal::dataStored);
        storage.receiveData(reply(0, 10));
        QVERIFY(PgServer::instance().stop());
        storage.receiveData(reply(10, 20));
        QVERIFY(PgServer::instance().start());
        ws->store->openConnection("check.db");
        QCOMPARE(ws->list("select count(*) from Realdata where slaveId = 9 and dataTime >= '2016010110'"), QString("0"));
        storage.receiveData(reply(10, 20));
        QCOMPARE(QList<QVariantList>(stored), (QList<QVariantList>{{true}, {false}, {true}}));
        QCOMPARE(ws->list("select count(*) from Realdata"), QString("20"));
        totalsAreSums();
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "station")
        return station(argv[2], QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt());
    tst_sharedstore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sharedstore.moc"
