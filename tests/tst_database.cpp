#include <QDir>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "db/DataBase.h"
#include "support/ScratchDatabase.h"

namespace {

// The tables in creation order, with their statements exactly as issued at start.
const QList<QPair<QString, QString>> kTables = {
    {"Device", "create table Device (id INTEGER PRIMARY KEY, slaveId integer,ID_card  varchar,dataTime date);"},
    {"Realdata", "create table Realdata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );"},
    {"Monthdata", "create table Monthdata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );"},
    {"Yeardata", "create table Yeardata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );"},
    {"SeqYeardata", "create table SeqYeardata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double ,ID_card  varchar);"},
    {"Staff", "create table Staff (id INTEGER PRIMARY KEY, ID_card  varchar,                    name varchar,gender varchar,ptype integer,totalValue double,department varchar,                    teleNo varchar,adress varchar,photo blob);"},
    {"Department", "create table Department (id INTEGER PRIMARY KEY, department varchar,dname varchar);"},
};

// SQLite keeps a statement with its first two keywords upper-cased and
// without the closing semicolon; everything else stays byte for byte.
QString stored(QString issued)
{
    issued.replace(0, int(qstrlen("create table")), QStringLiteral("CREATE TABLE"));
    issued.chop(1);
    return issued;
}

int scalar(const QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    return q.exec(sql) && q.next() ? q.value(0).toInt() : -1;
}

Staffdata person(const QString& card, const QString& department)
{
    Staffdata s;
    s.ID_card = card;
    s.name = QStringLiteral("张三");
    s.gender = QStringLiteral("男");
    s.ptype = 2;
    s.department = department;
    s.teleNo = QStringLiteral("000-0000");
    s.adress = QStringLiteral("某地某路1号");
    s.photo = QByteArray("\x89PNG\r\n\x1a\n\0\0\xff\x01", 12);
    s.totalValue = 12.75;
    return s;
}

// Every stored field of a person but the id, for one comparison.
QStringList fields(const Staffdata& s)
{
    return {s.ID_card, s.name, s.gender, QString::number(s.ptype), s.department, s.teleNo, s.adress,
            QString::fromLatin1(s.photo.toHex()), QString::number(s.totalValue, 'g', 17)};
}

Realdata reading(int slaveId, const QString& time, double value)
{
    Realdata r;
    r.slaveId = slaveId;
    r.dataTime = time;
    r.probeValue = value;
    return r;
}

} // namespace

class TestDataBase : public QObject
{
    Q_OBJECT

private:
    QSqlDatabase conn(const QString& name)
    {
        store->createConnection(name);
        return store->getConnection(name);
    }
    // For the cases that prepare the working directory themselves: an empty
    // directory and no store yet.
    void enterFreshDir()
    {
        cleanup();
        dirs.push_back(std::make_unique<QTemporaryDir>());
        QVERIFY(dirs.back()->isValid());
        QVERIFY(QDir::setCurrent(dirs.back()->path()));
    }

    QString startDir;
    std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<DataBase> ownStore;
    DataBase* store = nullptr;
    QSqlDatabase db;

private slots:
    void initTestCase() { startDir = QDir::currentPath(); }

    void init()
    {
        ws = std::make_unique<ScratchDatabase>(QStringLiteral("test.db"));
        store = ws->store.get();
        db = ws->db;
        QVERIFY(db.isOpen());
    }

    void cleanup()
    {
        db = QSqlDatabase();
        store = nullptr;
        ws.reset();
        ownStore.reset();
        for (const QString& name : QSqlDatabase::connectionNames()) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
        QDir::setCurrent(startDir);
        dirs.clear();
    }

    // ---- schema --------------------------------------------------------------

    void schema_freshFileHasTheSevenTablesAsIssued()
    {
        QVERIFY(QFileInfo::exists(QStringLiteral("database.db")));
        QSqlQuery q(db);
        QVERIFY(q.exec("select name, sql from sqlite_master where type = 'table' order by rowid"));
        QList<QPair<QString, QString>> have;
        while (q.next())
            have.append({q.value(0).toString(), q.value(1).toString()});
        QList<QPair<QString, QString>> expected;
        for (const auto& t : kTables)
            expected.append({t.first, stored(t.second)});
        QCOMPARE(have, expected);
    }

    void schema_indexesCoverTheLookups()
    {
        QSet<QString> have;
        QSqlQuery q(db);
        QVERIFY(q.exec("select name, tbl_name from sqlite_master where type = 'index'"));
        while (q.next()) {
            QStringList cols;
            QSqlQuery info(db);
            QVERIFY(info.exec(QString("pragma index_info(%1)").arg(q.value(0).toString())));
            while (info.next())
                cols << info.value(2).toString();
            have << q.value(1).toString() + ":" + cols.join(',');
        }
        for (const char* e : {"Realdata:slaveId,dataTime", "Monthdata:slaveId,dataTime", "Yeardata:slaveId,dataTime",
                              "SeqYeardata:slaveId,dataTime", "Staff:ID_card", "Staff:department", "Device:ID_card",
                              "Device:slaveId"})
            QVERIFY2(have.contains(e), e);
    }

    void schema_secondStartKeepsRows()
    {
        QVERIFY(store->insertStaff(person("110", "一科"), db));
        QVERIFY(store->insertRealdata(reading(3, "20160414080000", 1.5), db));
        DataBase second;
        QVERIFY(second.createTables());
        QCOMPARE(store->countRows("Staff", db), 1);
        QCOMPARE(store->countRows("Realdata", db), 1);
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where type = 'table'"), 7);
    }

    void schema_existingFileGainsIndexes()
    {
        enterFreshDir();
        {
            QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "old");
            old.setDatabaseName("database.db");
            QVERIFY(old.open());
            QSqlQuery q(old);
            for (const auto& t : kTables)
                QVERIFY(q.exec(t.second));
            QVERIFY(q.exec("insert into Realdata(slaveId,dataTime,probeValue) values(4,'20160101000000',2.0)"));
            QCOMPARE(scalar(old, "select count(*) from sqlite_master where type = 'index'"), 0);
            old.close();
        }
        QSqlDatabase::removeDatabase("old");
        ownStore = std::make_unique<DataBase>();
        store = ownStore.get();
        QVERIFY(store->createTables());
        db = conn("test.db");
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where type = 'index'"), 8);
        QCOMPARE(store->countRows("Realdata", db), 1);
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where sql = '" + stored(kTables[1].second) + "'"), 1);
    }

    void schema_creationFailures()
    {
        // An empty table name stops creation there.
        enterFreshDir();
        ownStore = std::make_unique<DataBase>();
        store = ownStore.get();
        store->staffTable.clear();
        QVERIFY(!store->createTables());
        db = conn("test.db");
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where type = 'table'"), 5);
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where name = 'Department'"), 0);

        // A file that cannot be opened fails everything.
        enterFreshDir();
        QVERIFY(QDir().mkdir("database.db"));
        ownStore = std::make_unique<DataBase>();
        store = ownStore.get();
        QVERIFY(!store->createTables());
        store->createConnection("test.db");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unable to open database"));
        db = store->getConnection("test.db");
        QVERIFY(!db.isOpen());
        QCOMPARE(store->countRows("Staff", db), 0);
        QVERIFY(!store->insertRealdata(reading(1, "20160414080000", 1.0), db));
        QVERIFY(!store->beginTransaction(db));
    }

    // ---- connections -----------------------------------------------------------

    void connection_edgeCases()
    {
        const int before = QSqlDatabase::connectionNames().size();
        QVERIFY(!store->createConnection(QString()));
        QCOMPARE(QSqlDatabase::connectionNames().size(), before);

        QVERIFY(store->createConnection("fresh.db"));
        QSqlDatabase fresh = QSqlDatabase::database("fresh.db", false);
        QCOMPARE(fresh.driverName(), QStringLiteral("QSQLITE"));
        QCOMPARE(fresh.databaseName(), QStringLiteral("database.db"));
        QVERIFY(!fresh.isOpen());
        QVERIFY(store->getConnection("fresh.db").isOpen());
        store->closeConnection("fresh.db");
        QVERIFY(!fresh.isOpen());
        store->openConnection("fresh.db");
        QVERIFY(fresh.isOpen());
        store->closeConnection("no such connection");

        // An existing name is left alone.
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other.db");
        other.setDatabaseName("other.sqlite");
        QVERIFY(store->createConnection("other.db"));
        QCOMPARE(QSqlDatabase::database("other.db", false).databaseName(), QStringLiteral("other.sqlite"));

        // Two dialogs sharing one name: closing it closes it for both.
        QSqlDatabase modStaff = conn("Modstaff.db");
        QSqlDatabase modDevice = conn("Modstaff.db");
        QVERIFY(modStaff.isOpen() && modDevice.isOpen());
        QVERIFY(store->insertDepartment(Departdata{0, "二科", "李四"}, modStaff));
        store->closeConnection("Modstaff.db");
        QVERIFY(!modDevice.isOpen());
        QCOMPARE(store->countRows("Department", modDevice), 0);
        store->openConnection("Modstaff.db");
        QCOMPARE(store->countRows("Department", modDevice), 1);
    }

    // ---- generic table operations ---------------------------------------------

    void table_countRowsAndQueryModel()
    {
        for (int i = 0; i < 3; ++i)
            QVERIFY(store->insertDevice(Devicedata{0, i, "c", "t"}, db));
        QCOMPARE(store->countRows("Device", db), 3);
        QCOMPARE(store->countRows(QString(), db), 0);
        QCOMPARE(store->countRows("Nothing", db), 0);
        QCOMPARE(store->countRows("Device; drop table Staff", db), 0);
        std::unique_ptr<QSqlQueryModel> open(store->getQueryModel("select * from Device", db));
        QCOMPARE(open->rowCount(), 3);
        QCOMPARE(open->columnCount(), 4);

        db.close();
        QCOMPARE(store->countRows("Device", db), 0);
        std::unique_ptr<QSqlQueryModel> closed(store->getQueryModel("select * from Device", db));
        QVERIFY(closed);
        QCOMPARE(closed->rowCount(), 0);
        QVERIFY(closed->query().lastQuery().isEmpty());
    }

    void table_deleteById()
    {
        QVERIFY(store->insertDepartment(Departdata{0, "a", "x"}, db));
        QVERIFY(store->insertDepartment(Departdata{0, "b", "y"}, db));
        QVERIFY(store->deleteById("Department", 999, db));
        QCOMPARE(store->countRows("Department", db), 2);
        const int first = scalar(db, "select min(id) from Department");
        QVERIFY(store->deleteById("Department", first, db));
        Departdata d;
        QVERIFY(!store->selectDepartmentById(d, first, db));
        QCOMPARE(store->countRows("Department", db), 1);
        QVERIFY(!store->deleteById(QString(), first + 1, db));
        db.close();
        QVERIFY(!store->deleteById("Department", first + 1, db));
    }

    // ---- staff, departments, devices ------------------------------------------

    void staff_roundTrip()
    {
        const Staffdata in = person("11010119900101123X", "放射科");
        QVERIFY(store->insertStaff(in, db));
        Staffdata out;
        QVERIFY(store->selectStaffByIdCard(out, in.ID_card, db));
        QVERIFY(out.id > 0);
        QCOMPARE(fields(out), fields(in));

        Staffdata changed = out;
        changed.name = "王五";
        changed.totalValue = 3.5;
        changed.photo = QByteArray(3000, '\0') + QByteArray("end");
        QTest::ignoreMessage(QtDebugMsg, "data[0] : true");
        QVERIFY(store->updateStaff(changed, db));
        Staffdata byId;
        QVERIFY(store->selectStaffById(byId, out.id, db));
        QCOMPARE(fields(byId), fields(changed));
    }

    void staff_keysBoundAsText()
    {
        const QString card = "12\"34\" or \"1\"=\"1";
        QVERIFY(store->insertStaff(person("other", "x"), db));
        QVERIFY(store->insertStaff(person(card, "x"), db));
        Staffdata out;
        QVERIFY(store->selectStaffByIdCard(out, card, db));
        QCOMPARE(out.ID_card, card);
        QVERIFY(store->insertDevice(Devicedata{0, 9, card, "20160101"}, db));
        Devicedata dev;
        QVERIFY(store->selectDeviceByIdCard(dev, card, db));
        QCOMPARE(dev.slaveId, 9);
        // A key that names a column must not turn into that column.
        QVERIFY(!store->selectStaffByIdCard(out, "name", db));
    }

    void staff_lookupsByCardAndDepartment()
    {
        Staffdata a = person("42", "核医学科");
        a.name = "first";
        QVERIFY(store->insertStaff(a, db));
        QVERIFY(store->insertStaff(person("2", "放射科"), db));
        QVERIFY(store->insertStaff(person("42", "核医学科"), db));

        Staffdata out;
        QVERIFY(store->selectStaffByIdCard(out, "42", db));
        QCOMPARE(out.name, QStringLiteral("first"));
        Staffdata untouched;
        untouched.name = "keep";
        QVERIFY(!store->selectStaffByIdCard(untouched, "43", db));
        QVERIFY(!store->selectStaffById(untouched, 999, db));
        QCOMPARE(untouched.name, QStringLiteral("keep"));

        // The department search appends to what the list held.
        QList<Staffdata> list{Staffdata{}};
        QVERIFY(store->selectStaffByDepartment(list, "核医学科", db));
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(1).name, QStringLiteral("first"));
        QCOMPARE(list.at(2).name, QStringLiteral("张三"));
        QCOMPARE(list.at(2).department, QStringLiteral("核医学科"));
    }

    void department_roundTrip()
    {
        QList<Departdata> list{Departdata{}};
        QVERIFY(store->selectAllDepartments(list, db));
        QCOMPARE(list.size(), 1);

        QTest::ignoreMessage(QtDebugMsg, "boktrue");
        QVERIFY(store->insertDepartment(Departdata{0, "检验科", "赵六"}, db));
        QVERIFY(store->selectAllDepartments(list, db));
        QCOMPARE(list.size(), 2);
        Departdata d = list.at(1);
        QCOMPARE(d.department, QStringLiteral("检验科"));
        d.dname = "钱七";
        QVERIFY(store->updateDepartment(d, db));
        Departdata out;
        QVERIFY(store->selectDepartmentById(out, d.id, db));
        QCOMPARE(out.dname, QStringLiteral("钱七"));
        QCOMPARE(out.department, QStringLiteral("检验科"));
    }

    void device_roundTrip()
    {
        QTest::ignoreMessage(QtDebugMsg, "boktrue");
        QVERIFY(store->insertDevice(Devicedata{0, 17, "card17", "2016-04-14 08:00:00"}, db));
        Devicedata bySlave;
        QVERIFY(store->selectDeviceBySlaveId(bySlave, 17, db));
        QCOMPARE(bySlave.ID_card, QStringLiteral("card17"));
        QCOMPARE(bySlave.dataTime, QStringLiteral("2016-04-14 08:00:00"));
        Devicedata byId;
        QVERIFY(store->selectDeviceById(byId, bySlave.id, db));
        QCOMPARE(byId.slaveId, 17);

        // Updating an absent row succeeds and changes nothing.
        QVERIFY(store->updateDevice(Devicedata{bySlave.id + 100, 18, "ghost", "x"}, db));
        Devicedata after;
        QVERIFY(store->selectDeviceById(after, bySlave.id, db));
        QCOMPARE(after.slaveId, 17);
        QCOMPARE(store->countRows("Device", db), 1);

        QVERIFY(store->updateDevice(Devicedata{bySlave.id, 18, "card18", "y"}, db));
        QVERIFY(store->selectDeviceByIdCard(after, "card18", db));
        QCOMPARE(after.slaveId, 18);
        QVERIFY(!store->selectDeviceBySlaveId(after, 17, db));
    }

    void records_closedConnectionOrEmptyTable()
    {
        QVERIFY(store->insertStaff(person("5", "d"), db));
        QVERIFY(store->insertDevice(Devicedata{0, 5, "5", "t"}, db));
        Staffdata s;
        s.name = "keep";
        QList<Staffdata> staff;
        QList<Departdata> departs;
        Devicedata dev;
        dev.ID_card = "keep";

        store->staffTable.clear();
        QVERIFY(!store->insertStaff(person("6", "d"), db));
        QVERIFY(!store->selectStaffByIdCard(s, "5", db));
        store->staffTable = "Staff";

        db.close();
        QVERIFY(!store->insertStaff(person("6", "d"), db));
        QVERIFY(!store->selectStaffByIdCard(s, "5", db));
        QVERIFY(!store->selectStaffByDepartment(staff, "d", db));
        QVERIFY(!store->selectAllDepartments(departs, db));
        QVERIFY(!store->insertDepartment(Departdata{}, db));
        QVERIFY(!store->selectDeviceBySlaveId(dev, 5, db));
        QVERIFY(!store->insertRealdata(reading(1, "t", 1), db));
        QCOMPARE(s.name, QStringLiteral("keep"));
        QCOMPARE(dev.ID_card, QStringLiteral("keep"));
        QVERIFY(staff.isEmpty() && departs.isEmpty());
        db.open();
        QCOMPARE(store->countRows("Staff", db), 1);
    }

    // ---- dose data ---------------------------------------------------------------

    void dose_readingLookup()
    {
        QVERIFY(store->insertRealdata(reading(5, "20160414080000", 46.6), db));
        Realdata out;
        QVERIFY(store->selectRealdataByTime(out, "20160414080000", 5, db));
        QVERIFY(out.id > 0);
        QCOMPARE(out.slaveId, 5);
        QCOMPARE(out.dataTime, QStringLiteral("20160414080000"));
        QCOMPARE(out.probeValue, 46.6);

        Realdata untouched = reading(99, "keep", 9);
        QVERIFY(!store->selectRealdataByTime(untouched, "20160414080000", 6, db));
        QVERIFY(!store->selectRealdataByTime(untouched, "20160414090000", 5, db));
        QCOMPARE(untouched.dataTime, QStringLiteral("keep"));
    }

    void dose_rangeIsInclusiveAndOrdered()
    {
        for (const char* t : {"20160414120000", "20160414080000", "20160413235900", "20160414000000",
                              "20160414235900", "20160415000000"})
            QVERIFY(store->insertRealdata(reading(5, t, 1.0), db));
        QVERIFY(store->insertRealdata(reading(6, "20160414100000", 1.0), db));

        // What the list held before is gone.
        QList<QVariant> list{QVariant(42)};
        QVERIFY(store->selectDataByTime(0, list, 5, "20160414000000", "20160414235900", db));
        QStringList times;
        for (const QVariant& v : list) {
            QCOMPARE(v.userType(), QMetaType::type("Realdata"));
            QCOMPARE(v.value<Realdata>().slaveId, 5);
            times << v.value<Realdata>().dataTime;
        }
        QCOMPARE(times, QStringList({"20160414000000", "20160414080000", "20160414120000", "20160414235900"}));

        QVERIFY(store->selectDataByTime(0, list, 5, "20160415000000", "20160414000000", db));
        QVERIFY(list.isEmpty());
    }

    void dose_rangeFailuresLeaveListAlone()
    {
        QVERIFY(store->insertRealdata(reading(5, "20160414080000", 1.0), db));
        QList<QVariant> list{QVariant(42)};
        QVERIFY(!store->selectDataByTime(4, list, 5, "0", "9", db));
        QVERIFY(!store->selectDataByTime(-1, list, 5, "0", "9", db));
        db.close();
        QVERIFY(!store->selectDataByTime(0, list, 5, "0", "9", db));
        QCOMPARE(list, QList<QVariant>{QVariant(42)});
    }

    void dose_rangeUnwrapsEachKind()
    {
        QVERIFY(store->insertMonthdata(totaldata_mon{0, 5, "20160414", 2.5}, db));
        QVERIFY(store->insertYeardata(totaldata_year{0, 5, "201604", 7.5}, db));
        QVERIFY(ws->exec("insert into SeqYeardata(slaveId,dataTime,probeValue,ID_card) values(5,'2016',9.5,'c5')"));

        // Each kind comes back as its own record type, under its registered name.
        const QList<QPair<const char*, QString>> kinds{{"totaldata_mon", "20160414"},
                                                       {"totaldata_year", "201604"},
                                                       {"totaldata_seqyear", "2016"}};
        QList<QVariant> list;
        for (int kind = 1; kind <= 3; ++kind) {
            const QString key = kinds.at(kind - 1).second;
            QVERIFY(store->selectDataByTime(kind, list, 5, key, key, db));
            QCOMPARE(list.size(), 1);
            QCOMPARE(list.at(0).userType(), QMetaType::type(kinds.at(kind - 1).first));
        }
        QCOMPARE(list.at(0).value<totaldata_seqyear>().ID_card, QStringLiteral("c5"));
        QCOMPARE(list.at(0).value<totaldata_seqyear>().probeValue, 9.5);
        QVERIFY(store->selectDataByTime(1, list, 5, "20160414", "20160414", db));
        QCOMPARE(list.at(0).value<totaldata_mon>().probeValue, 2.5);
        QVERIFY(store->selectDataByTime(2, list, 5, "201604", "201604", db));
        QCOMPARE(list.at(0).value<totaldata_year>().probeValue, 7.5);
    }

    void dose_updateTotals()
    {
        QVERIFY(store->insertMonthdata(totaldata_mon{0, 5, "20160414", 2.5}, db));
        // Absent rows: true, and nothing is written.
        QVERIFY(store->updateMonthdata(totaldata_mon{0, 5, "20160415", 9.0}, db));
        QVERIFY(store->updateMonthdata(totaldata_mon{0, 6, "20160414", 9.0}, db));
        QCOMPARE(store->countRows("Monthdata", db), 1);
        QCOMPARE(scalar(db, "select probeValue * 10 from Monthdata"), 25);

        QVERIFY(store->updateMonthdata(totaldata_mon{0, 5, "20160414", 4.0}, db));
        QCOMPARE(scalar(db, "select probeValue * 10 from Monthdata"), 40);

        QVERIFY(store->insertYeardata(totaldata_year{0, 5, "201604", 1.0}, db));
        QVERIFY(store->updateYeardata(totaldata_year{0, 5, "201604", 6.0}, db));
        QCOMPARE(scalar(db, "select probeValue * 10 from Yeardata"), 60);
    }

    void dose_deleteBySlaveIdPerKind()
    {
        const QStringList tables{"Realdata", "Monthdata", "Yeardata", "SeqYeardata"};
        for (const QString& t : tables)
            for (int slave : {5, 6})
                ws->addDose(t, slave, "t", 1);
        for (int kind = 0; kind < 4; ++kind) {
            QTest::ignoreMessage(QtDebugMsg, "ret:true");
            QVERIFY(store->deleteDataBySlaveId(kind, 5, "a", "b", db));
            for (int k = 0; k < 4; ++k) {
                const QString where = QString("select count(*) from %1 where slaveId = ").arg(tables.at(k));
                QCOMPARE(scalar(db, where + "5"), k <= kind ? 0 : 1);
                QCOMPARE(scalar(db, where + "6"), 1);
            }
        }
        QTest::ignoreMessage(QtDebugMsg, "ret:true");
        QVERIFY(store->deleteDataBySlaveId(0, 77, QString(), QString(), db));
        QVERIFY(!store->deleteDataBySlaveId(4, 6, QString(), QString(), db));
        QCOMPARE(store->countRows("Realdata", db), 1);
    }

    // ---- prepared statements across connection cycles ----------------------------

    void cache_survivesCloseConnectionCycles()
    {
        store->createConnection("deal_db");
        QSqlDatabase deal = store->getConnection("deal_db");
        for (int cycle = 0; cycle < 3; ++cycle) {
            store->openConnection("deal_db");
            const QString t = QString("2016041408%1").arg(cycle, 4, 10, QChar('0'));
            QVERIFY(store->insertRealdata(reading(5, t, cycle), deal));
            Realdata out;
            QVERIFY(store->selectRealdataByTime(out, t, 5, deal));
            QCOMPARE(out.probeValue, double(cycle));
            QList<QVariant> list;
            QVERIFY(store->selectDataByTime(0, list, 5, "20160414000000", "20160414235959", deal));
            QCOMPARE(list.size(), cycle + 1);
            store->closeConnection("deal_db");
            QVERIFY(!store->insertRealdata(reading(5, "x", 1), deal));
        }
    }

    void cache_isPerConnection()
    {
        QSqlDatabase other = conn("deal_db");
        QVERIFY(store->insertRealdata(reading(1, "20160414080000", 1.0), db));
        QVERIFY(store->beginTransaction(other));
        QVERIFY(store->insertRealdata(reading(2, "20160414080000", 1.0), other));
        Realdata out;
        QVERIFY(store->selectRealdataByTime(out, "20160414080000", 2, other));
        QVERIFY(store->rollbackTransaction(other));
        QCOMPARE(store->countRows("Realdata", db), 1);
        QVERIFY(!store->selectRealdataByTime(out, "20160414080000", 2, db));
        store->closeConnection("deal_db");
        QVERIFY(store->selectRealdataByTime(out, "20160414080000", 1, db));
    }

    void cache_directCloseReprepares()
    {
        QSqlDatabase deal = conn("deal_db");
        QVERIFY(store->insertRealdata(reading(5, "20160414080000", 1.0), deal));
        Realdata out;
        QVERIFY(store->selectRealdataByTime(out, "20160414080000", 5, deal));

        // Closed behind the store's back and reopened on another file: the
        // statements must be prepared anew there, not reused from before.
        deal.close();
        QTemporaryDir other;
        QVERIFY(QDir::setCurrent(other.path()));
        QVERIFY(deal.open());
        QVERIFY(QSqlQuery(deal).exec(kTables[1].second));
        QVERIFY(!store->selectRealdataByTime(out, "20160414080000", 5, deal));
        QVERIFY(store->insertRealdata(reading(7, "20160414090000", 2.0), deal));
        QVERIFY(store->selectRealdataByTime(out, "20160414090000", 7, deal));
        QCOMPARE(out.probeValue, 2.0);
        QCOMPARE(scalar(deal, "select count(*) from Realdata"), 1);
        QCOMPARE(store->countRows("Realdata", db), 1);
        deal.close();
        QVERIFY(QDir::setCurrent(ws->dir.path()));
    }
};

QTEST_GUILESS_MAIN(TestDataBase)
#include "tst_database.moc"
