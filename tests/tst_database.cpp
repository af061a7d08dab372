#include <QtSql>
#include <QtTest>

#include "support/ScratchDatabase.h"

Staffdata person(const QString& card, const QString& department = "放射科", const QString& name = "张三")
{
    return Staffdata{0, card, name, "男", 2, department, "000-0000", "某地某路1号", QByteArray("\x89PNG\0\xff", 6), 12.75};
}

QVariantList fields(const Staffdata& s)
{
    return {s.ID_card, s.name, s.gender, s.ptype, s.totalValue, s.department, s.teleNo, s.adress, s.photo};
}

class TestDataBase : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScratchDatabase> ws;
    DataBase* store = nullptr;
    QSqlDatabase db;

    QString all(const QString& what, const QString& from)
    {
        return ws->value("select group_concat(" + what + ", '|') from " + from).toString();
    }

private slots:
    void init()
    {
        db = QSqlDatabase(); // the previous one goes first: its connection names are reused
        ws.reset();
        ws = std::make_unique<ScratchDatabase>();
        store = ws->store.get();
        db = ws->db;
    }

    void schemaAndIndexesOnAnOldFile()
    {
        // An older file without the indexes gains them all again.
        const QString indexes = "(select name from sqlite_master where type = 'index' and sql is not null order by 1)";
        const QString made = all("name", indexes);
        QVERIFY(made.count('|') >= 10);
        for (const QString& index : made.split('|'))
            QVERIFY(ws->exec("drop index " + index));
        QVERIFY(ws->exec("insert into Realdata(slaveId,dataTime,probeValue) values(4,'2016',2.0)"));
        const QSqlDatabase held = QSqlDatabase::database(); // taken over by the next DataBase, not replaced
        DataBase second;
        QVERIFY(held.isOpen() && second.createTables());
        QCOMPARE(all("name", indexes), made);
        QCOMPARE(store->countRows("Realdata", db), 1);
        second.staffTable.clear(); // an empty table name stops creation
        QVERIFY(!second.createTables());
        QVERIFY(QDir().mkpath("sub/database.db") && QDir::setCurrent("sub")); // a file that cannot be opened
        QVERIFY(!DataBase().createTables());
        QVERIFY(QDir::setCurrent(ws->dir.path()));
    }

    void namesAndKeysArePlainOrBound()
    {
        QVERIFY(ws->exec("insert into Department(department,dname) values('0','x'),('1','x'),('2','x')"));
        for (const char* bad : {"", "Nothing", "Department; drop table Staff"})
            QCOMPARE(store->countRows(bad, db), 0);
        const int first = ws->value("select min(id) from Department").toInt();
        QVERIFY(!store->deleteById("Department --", first, db) && !store->deleteById("", first, db));
        QVERIFY(store->deleteById("Department", 999, db) && store->deleteById("Department", first, db));
        QCOMPARE(store->countRows("Department", db), 2);
        const QString card = "12\"34' or \"1\"=\"1";
        QVERIFY(store->insertStaff(person("42", "核医学科", "first"), db) && store->insertStaff(person(card), db));
        Staffdata out, byId, keep = person("keep");
        QVERIFY(store->selectStaffByIdCard(out, card, db) && out.id > 0);
        QCOMPARE(fields(out), fields(person(card)));
        QVERIFY(!store->selectStaffByIdCard(keep, "name", db)); // a key naming a column stays a key
        QVERIFY(!store->selectStaffByIdCard(keep, "43", db) && !store->selectStaffById(keep, 999, db));
        QCOMPARE(keep.ID_card, QString("keep"));
        Staffdata changed{out.id, "9", "王五", "女", 3, "检验科", "1", "2", QByteArray(3000, '\0') + "end", 3.5};
        QVERIFY(store->updateStaff(changed, db) && store->selectStaffById(byId, out.id, db));
        QCOMPARE(fields(byId), fields(changed));
        QList<Staffdata> list{Staffdata{}}; // appended to
        QVERIFY(store->selectStaffByDepartment(list, "核医学科", db) && list.size() == 2 && list[1].name == "first");
    }

    void doseDataPerKind()
    {
        QVERIFY(store->insertMonthdata(totaldata_mon{0, 5, "20160414", 2.5}, db));
        QVERIFY(store->insertYeardata(totaldata_year{0, 5, "201604", 1.0}, db));
        QVERIFY(ws->exec("insert into SeqYeardata(slaveId,dataTime,probeValue,ID_card) values(5,'2016',9.5,'c5')"));
        QVERIFY(store->updateMonthdata(totaldata_mon{0, 5, "20160415", 9.0}, db)); // absent rows: true, no write
        QVERIFY(store->updateYeardata(totaldata_year{0, 6, "201604", 9.0}, db));
        QList<QVariant> mon, year, seq; // the range takes in the day of the absent update: still one row
        QVERIFY(store->selectDataByTime(1, mon, 5, "20160414", "20160415", db) && mon.size() == 1);
        QVERIFY(store->selectDataByTime(2, year, 5, "201604", "201604", db) && year.size() == 1);
        QVERIFY(store->selectDataByTime(3, seq, 5, "2016", "2016", db) && seq.size() == 1);
        QCOMPARE(mon[0].value<totaldata_mon>().probeValue + year[0].value<totaldata_year>().probeValue, 3.5);
        const totaldata_seqyear seqRow = seq[0].value<totaldata_seqyear>();
        QCOMPARE(QString::number(seqRow.probeValue) + seqRow.ID_card, QString("9.5c5"));
        int kind = 0;
        for (const char* table : {"Realdata", "Monthdata", "Yeardata", "SeqYeardata"}) {
            ws->addDose(table, 6, "t", 1);
            QVERIFY(store->deleteDataBySlaveId(kind++, 5, "", "", db) && store->countRows(table, db) == 1);
        }
        QVERIFY(store->deleteDataBySlaveId(0, 77, "", "", db) && !store->deleteDataBySlaveId(4, 6, "", "", db));
        for (const char* t : {"20160414120000", "20160414080000", "20160413235900", "20160414000000",
                              "20160414235900", "20160415000000"})
            QVERIFY(store->insertRealdata(Realdata{0, 5, t, 46.6}, db));
        QVERIFY(store->insertRealdata(Realdata{0, 6, "20160414100000", 1.0}, db));
        Realdata out, keep{0, 99, "keep", 9};
        QVERIFY(store->selectRealdataByTime(out, "20160414080000", 5, db) && out.id > 0);
        QCOMPARE(QString::number(out.slaveId) + out.dataTime + QString::number(out.probeValue), "52016041408000046.6");
        QVERIFY(!store->selectRealdataByTime(keep, "20160414080000", 6, db));
        QVERIFY(!store->selectRealdataByTime(keep, "20160414090000", 5, db) && keep.dataTime == "keep");
        QList<QVariant> list{42}; // replaced, in time order, ends included
        QVERIFY(store->selectDataByTime(0, list, 5, "20160414000000", "20160414235900", db));
        QStringList times;
        for (const QVariant& v : list)
            times << QString::number(v.value<Realdata>().slaveId) + v.value<Realdata>().dataTime;
        QCOMPARE(times.join(' '), QString("520160414000000 520160414080000 520160414120000 520160414235900"));
        QVERIFY(store->selectDataByTime(0, list, 5, "20160415000000", "20160414000000", db) && list.isEmpty());
        list = {42}; // a failure leaves it alone
        QVERIFY(!store->selectDataByTime(4, list, 5, "", "", db) && !store->selectDataByTime(-1, list, 5, "", "", db));
        QVERIFY(ws->exec("drop table Realdata") && !store->selectDataByTime(0, list, 5, "0", "9", db)); // cached, fails
        db.close();
        QVERIFY(!store->selectDataByTime(0, list, 5, "0", "9", db) && list == QList<QVariant>{42});
        Staffdata s; // a closed connection refuses every record operation
        QList<Staffdata> staff;
        QList<Departdata> departs;
        QVERIFY(!store->insertStaff(s, db) && !store->selectStaffByIdCard(s, "5", db)
                && !store->selectStaffByDepartment(staff, "d", db) && !store->selectAllDepartments(departs, db)
                && !store->insertDepartment(Departdata{}, db) && !store->insertRealdata(Realdata{}, db)
                && !store->deleteDataBySlaveId(0, 5, "", "", db) && staff.isEmpty() && departs.isEmpty());
    }

    void statementsCachedPerConnection()
    {
        QVERIFY(!store->createConnection(QString()) && store->createConnection("deal_db"));
        QSqlDatabase deal = QSqlDatabase::database("deal_db", false);
        QCOMPARE(deal.driverName() + deal.databaseName(), QString("QSQLITEdatabase.db"));
        QSqlDatabase::addDatabase("QSQLITE", "other.db").setDatabaseName("other.sqlite");
        QVERIFY(store->createConnection("other.db")); // an existing name is left alone
        QCOMPARE(QSqlDatabase::database("other.db", false).databaseName(), QString("other.sqlite"));
        Realdata out;
        QVERIFY(store->insertRealdata(Realdata{0, 5, "201604140800", 1.5}, store->getConnection("deal_db")));
        QVERIFY(store->selectRealdataByTime(out, "201604140800", 5, deal) && out.probeValue == 1.5);
        store->closeConnection("deal_db");
        QVERIFY(!store->insertRealdata(Realdata{0, 5, "x", 1}, deal) && !store->beginTransaction(deal));
        QVERIFY(!store->rollbackTransaction(deal) && !store->commitTransaction(deal));
        store->openConnection("deal_db"); // the statements are prepared anew
        QVERIFY(store->beginTransaction(deal) && store->insertRealdata(Realdata{0, 2, "2016", 1.0}, deal));
        QVERIFY(store->selectRealdataByTime(out, "2016", 2, deal) && !store->selectRealdataByTime(out, "2016", 2, db));
        QVERIFY(store->rollbackTransaction(deal) && store->countRows("Realdata", db) == 1);
        // A change inside a caller's transaction is a part of it, undone with it.
        QVERIFY(store->beginTransaction(deal) && store->deleteDataBySlaveId(0, 5, "", "", deal));
        QVERIFY(store->rollbackTransaction(deal) && store->countRows("Realdata", db) == 1);
        deal.close(); // behind the store's back, and reopened on another file
        QTemporaryDir other;
        QVERIFY(QDir::setCurrent(other.path()) && deal.open() && QSqlQuery(deal).exec("create table Realdata (id integer primary key, "
                                                                                         "slaveId integer, dataTime date, probeValue double)"));
        QVERIFY(store->insertRealdata(Realdata{0, 7, "20160414090000", 2.0}, deal));
        QVERIFY(store->selectRealdataByTime(out, "20160414090000", 7, deal) && out.probeValue == 2.0);
    }
};

QTEST_GUILESS_MAIN(TestDataBase)
#include "tst_database.moc"
