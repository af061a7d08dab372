#include <QDir>
#include <QMap>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "db/DataBase.h"

namespace {

// The statements exactly as issued at start.
const char* const kDeviceSql = "create table Device (id INTEGER PRIMARY KEY, slaveId integer,ID_card  varchar,dataTime date);";
const char* const kRealdataSql = "create table Realdata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );";
const char* const kMonthdataSql = "create table Monthdata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );";
const char* const kYeardataSql = "create table Yeardata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );";
const char* const kSeqYeardataSql = "create table SeqYeardata (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double ,ID_card  varchar);";
const char* const kStaffSql = "create table Staff (id INTEGER PRIMARY KEY, ID_card  varchar,                    name varchar,gender varchar,ptype integer,totalValue double,department varchar,                    teleNo varchar,adress varchar,photo blob);";
const char* const kDepartmentSql = "create table Department (id INTEGER PRIMARY KEY, department varchar,dname varchar);";

// SQLite keeps a statement with its first two keywords upper-cased and
// without the closing semicolon; everything else stays byte for byte.
QString stored(const char* issued)
{
    QString s = QString::fromLatin1(issued);
    s.replace(0, int(qstrlen("create table")), QStringLiteral("CREATE TABLE"));
    s.chop(1);
    return s;
}

int scalar(const QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        return -1;
    return q.value(0).toInt();
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
    void enterFreshDir()
    {
        dirs.push_back(std::make_unique<QTemporaryDir>());
        QVERIFY(dirs.back()->isValid());
        QVERIFY(QDir::setCurrent(dirs.back()->path()));
    }

    QString startDir;
    std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    std::unique_ptr<DataBase> store;
    QSqlDatabase db;

private slots:
    void initTestCase() { startDir = QDir::currentPath(); }

    void init()
    {
        enterFreshDir();
        store = std::make_unique<DataBase>();
        QVERIFY(store->createTables());
        db = conn(QStringLiteral("test.db"));
        QVERIFY(db.isOpen());
    }

    void cleanup()
    {
        store.reset();
        db = QSqlDatabase();
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
        QMap<QString, QString> tables;
        QSqlQuery q(db);
        QVERIFY(q.exec("select name, sql from sqlite_master where type = 'table' order by rowid"));
        QStringList order;
        while (q.next()) {
            order << q.value(0).toString();
            tables.insert(q.value(0).toString(), q.value(1).toString());
        }
        QCOMPARE(order, QStringList({"Device", "Realdata", "Monthdata", "Yeardata", "SeqYeardata", "Staff",
                                     "Department"}));
        QCOMPARE(tables.value("Device"), stored(kDeviceSql));
        QCOMPARE(tables.value("Realdata"), stored(kRealdataSql));
        QCOMPARE(tables.value("Monthdata"), stored(kMonthdataSql));
        QCOMPARE(tables.value("Yeardata"), stored(kYeardataSql));
        QCOMPARE(tables.value("SeqYeardata"), stored(kSeqYeardataSql));
        QCOMPARE(tables.value("Staff"), stored(kStaffSql));
        QCOMPARE(tables.value("Department"), stored(kDepartmentSql));
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
        const QStringList expected = {"Realdata:slaveId,dataTime", "Monthdata:slaveId,dataTime",
                                      "Yeardata:slaveId,dataTime", "SeqYeardata:slaveId,dataTime",
                                      "Staff:ID_card",             "Staff:department",
                                      "Device:ID_card",            "Device:slaveId"};
        for (const QString& e : expected)
            QVERIFY2(have.contains(e), qPrintable(e));
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
        cleanup();
        enterFreshDir();
        {
            QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "old");
            old.setDatabaseName("database.db");
            QVERIFY(old.open());
            QSqlQuery q(old);
            for (const char* s : {kDeviceSql, kRealdataSql, kMonthdataSql, kYeardataSql, kSeqYeardataSql,
                                  kStaffSql, kDepartmentSql})
                QVERIFY(q.exec(s));
            QVERIFY(q.exec("insert into Realdata(slaveId,dataTime,probeValue) values(4,'20160101000000',2.0)"));
            QCOMPARE(scalar(old, "select count(*) from sqlite_master where type = 'index'"), 0);
            old.close();
        }
        QSqlDatabase::removeDatabase("old");
        store = std::make_unique<DataBase>();
        QVERIFY(store->createTables());
        db = conn("test.db");
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where type = 'index'"), 8);
        QCOMPARE(store->countRows("Realdata", db), 1);
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where sql = '" + stored(kRealdataSql) + "'"), 1);
    }

    void schema_emptyTableNameStopsCreation()
    {
        cleanup();
        enterFreshDir();
        store = std::make_unique<DataBase>();
        store->staffTable.clear();
        QVERIFY(!store->createTables());
        db = conn("test.db");
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where type = 'table'"), 5);
        QCOMPARE(scalar(db, "select count(*) from sqlite_master where name = 'Department'"), 0);
    }

    void schema_unopenableFileFailsEverything()
    {
        cleanup();
        enterFreshDir();
        QVERIFY(QDir().mkdir("database.db"));
        store = std::make_unique<DataBase>();
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

    void connection_createGetOpenClose()
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
    }

    void connection_existingNameIsLeftAlone()
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other.db");
        other.setDatabaseName("other.sqlite");
        QVERIFY(store->createConnection("other.db"));
        QCOMPARE(QSqlDatabase::database("other.db", false).databaseName(), QStringLiteral("other.sqlite"));
    }

    void connection_sharedNameClosesForBoth()
    {
        QSqlDatabase modStaff = conn("Modstaff.db");
        QSqlDatabase modDevice = conn("Modstaff.db");
        QVERIFY(modStaff.isOpen() && modDevice.isOpen());
        QVERIFY(store->insertDepartment(Departdata{0, "二科", "李四"}, modStaff));
        store->closeConnection("Modstaff.db");
        QVERIFY(!modDevice.isOpen());
        QCOMPARE(store->countRows("Department", modDevice), 0);
        store->openConnection("Modstaff.db");
        QVERIFY(modStaff.isOpen());
        QCOMPARE(store->countRows("Department", modDevice), 1);
    }

    void connection_transactions()
    {
        QVERIFY(store->beginTransaction(db));
        QVERIFY(store->insertRealdata(reading(1, "20160414080000", 1.0), db));
        QVERIFY(store->insertMonthdata(totaldata_mon{0, 1, "20160414", 1.0}, db));
        QVERIFY(store->rollbackTransaction(db));
        QCOMPARE(store->countRows("Realdata", db), 0);
        QCOMPARE(store->countRows("Monthdata", db), 0);

        QVERIFY(store->beginTransaction(db));
        QVERIFY(store->insertRealdata(reading(1, "20160414080000", 1.0), db));
        QVERIFY(store->commitTransaction(db));
        QCOMPARE(store->countRows("Realdata", db), 1);

        db.close();
        QVERIFY(!store->beginTransaction(db));
        QVERIFY(!store->commitTransaction(db));
        QVERIFY(!store->rollbackTransaction(db));
    }

    // ---- generic table operations ---------------------------------------------

    void table_countRows()
    {
        for (int i = 0; i < 3; ++i)
            QVERIFY(store->insertDevice(Devicedata{0, i, "c", "t"}, db));
        QCOMPARE(store->countRows("Device", db), 3);
        QCOMPARE(store->countRows(QString(), db), 0);
        QCOMPARE(store->countRows("Nothing", db), 0);
        QCOMPARE(store->countRows("Device; drop table Staff", db), 0);
        db.close();
        QCOMPARE(store->countRows("Device", db), 0);
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

    void table_queryModel()
    {
        QVERIFY(store->insertDevice(Devicedata{0, 7, "c", "t"}, db));
        std::unique_ptr<QSqlQueryModel> open(store->getQueryModel("select * from Device", db));
        QCOMPARE(open->rowCount(), 1);
        QCOMPARE(open->columnCount(), 4);
        db.close();
        std::unique_ptr<QSqlQueryModel> closed(store->getQueryModel("select * from Device", db));
        QVERIFY(closed);
        QCOMPARE(closed->rowCount(), 0);
        QVERIFY(closed->query().lastQuery().isEmpty());
    }

    // ---- staff, departments, devices ------------------------------------------

    void staff_roundTrip()
    {
        const Staffdata in = person("11010119900101123X", "放射科");
        QVERIFY(store->insertStaff(in, db));
        Staffdata out;
        QVERIFY(store->selectStaffByIdCard(out, in.ID_card, db));
        QVERIFY(out.id > 0);
        QCOMPARE(out.ID_card, in.ID_card);
        QCOMPARE(out.name, in.name);
        QCOMPARE(out.gender, in.gender);
        QCOMPARE(out.ptype, in.ptype);
        QCOMPARE(out.department, in.department);
        QCOMPARE(out.teleNo, in.teleNo);
        QCOMPARE(out.adress, in.adress);
        QCOMPARE(out.photo, in.photo);
        QCOMPARE(out.totalValue, in.totalValue);

        Staffdata changed = out;
        changed.name = "王五";
        changed.totalValue = 3.5;
        changed.photo = QByteArray(3000, '\0') + QByteArray("end");
        QTest::ignoreMessage(QtDebugMsg, "data[0] : true");
        QVERIFY(store->updateStaff(changed, db));
        Staffdata byId;
        QVERIFY(store->selectStaffById(byId, out.id, db));
        QCOMPARE(byId.name, changed.name);
        QCOMPARE(byId.totalValue, 3.5);
        QCOMPARE(byId.photo, changed.photo);
        QCOMPARE(byId.ID_card, in.ID_card);
    }

    void staff_quoteInIdCard()
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

    void staff_twoRowsSameCardGiveTheFirst()
    {
        Staffdata a = person("42", "x");
        a.name = "first";
        Staffdata b = person("42", "x");
        b.name = "second";
        QVERIFY(store->insertStaff(a, db));
        QVERIFY(store->insertStaff(b, db));
        Staffdata out;
        QVERIFY(store->selectStaffByIdCard(out, "42", db));
        QCOMPARE(out.name, QStringLiteral("first"));

        Staffdata untouched;
        untouched.name = "keep";
        QVERIFY(!store->selectStaffByIdCard(untouched, "43", db));
        QVERIFY(!store->selectStaffById(untouched, 999, db));
        QCOMPARE(untouched.name, QStringLiteral("keep"));
    }

    void staff_byChineseDepartmentAppends()
    {
        QVERIFY(store->insertStaff(person("1", "核医学科"), db));
        QVERIFY(store->insertStaff(person("2", "放射科"), db));
        QVERIFY(store->insertStaff(person("3", "核医学科"), db));
        QList<Staffdata> list{Staffdata{}};
        QVERIFY(store->selectStaffByDepartment(list, "核医学科", db));
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(1).ID_card, QStringLiteral("1"));
        QCOMPARE(list.at(2).ID_card, QStringLiteral("3"));
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

        QList<QVariant> list{QVariant(42)};
        QVERIFY(store->selectDataByTime(0, list, 5, "20160414000000", "20160414235900", db));
        QStringList times;
        for (const QVariant& v : list) {
            QCOMPARE(v.userType(), qMetaTypeId<Realdata>());
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

    void dose_rangeReplacesListAndUnwrapsEachKind()
    {
        QVERIFY(store->insertMonthdata(totaldata_mon{0, 5, "20160414", 2.5}, db));
        QVERIFY(store->insertYeardata(totaldata_year{0, 5, "201604", 7.5}, db));
        QSqlQuery q(db);
        QVERIFY(q.exec("insert into SeqYeardata(slaveId,dataTime,probeValue,ID_card) values(5,'2016',9.5,'c5')"));

        QList<QVariant> list;
        QVERIFY(store->selectDataByTime(1, list, 5, "20160414", "20160414", db));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).userType(), QMetaType::type("totaldata_mon"));
        QCOMPARE(list.at(0).value<totaldata_mon>().probeValue, 2.5);

        QVERIFY(store->selectDataByTime(2, list, 5, "201604", "201604", db));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).userType(), QMetaType::type("totaldata_year"));
        QCOMPARE(list.at(0).value<totaldata_year>().dataTime, QStringLiteral("201604"));

        QVERIFY(store->selectDataByTime(3, list, 5, "2016", "2016", db));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).userType(), QMetaType::type("totaldata_seqyear"));
        const totaldata_seqyear s = list.at(0).value<totaldata_seqyear>();
        QCOMPARE(s.ID_card, QStringLiteral("c5"));
        QCOMPARE(s.probeValue, 9.5);
        QCOMPARE(s.dataTime, QStringLiteral("2016"));
    }

    void dose_updateTotals()
    {
        QVERIFY(store->insertMonthdata(totaldata_mon{0, 5, "20160414", 2.5}, db));
        QVERIFY(store->updateMonthdata(totaldata_mon{0, 5, "20160415", 9.0}, db));
        QVERIFY(store->updateMonthdata(totaldata_mon{0, 6, "20160414", 9.0}, db));
        QList<QVariant> list;
        QVERIFY(store->selectDataByTime(1, list, 5, "20160401", "20160430", db));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).value<totaldata_mon>().probeValue, 2.5);
        QCOMPARE(store->countRows("Monthdata", db), 1);

        QVERIFY(store->updateMonthdata(totaldata_mon{0, 5, "20160414", 4.0}, db));
        QVERIFY(store->selectDataByTime(1, list, 5, "20160414", "20160414", db));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).value<totaldata_mon>().probeValue, 4.0);

        QVERIFY(store->insertYeardata(totaldata_year{0, 5, "201604", 1.0}, db));
        QVERIFY(store->updateYeardata(totaldata_year{0, 5, "201604", 6.0}, db));
        QVERIFY(store->selectDataByTime(2, list, 5, "201604", "201604", db));
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).value<totaldata_year>().probeValue, 6.0);
    }

    void dose_deleteBySlaveIdPerKind()
    {
        const QStringList tables{"Realdata", "Monthdata", "Yeardata", "SeqYeardata"};
        QSqlQuery q(db);
        for (const QString& t : tables)
            for (int slave : {5, 6})
                QVERIFY(q.exec(QString("insert into %1(slaveId,dataTime,probeValue) values(%2,'t',1)")
                                   .arg(t).arg(slave)));
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
        const QString firstFile = QDir::current().absoluteFilePath("database.db");
        enterFreshDir();
        QVERIFY(deal.open());
        QSqlQuery q(deal);
        QVERIFY(q.exec(kRealdataSql));
        QVERIFY(!store->selectRealdataByTime(out, "20160414080000", 5, deal));
        QVERIFY(store->insertRealdata(reading(7, "20160414090000", 2.0), deal));
        QVERIFY(store->selectRealdataByTime(out, "20160414090000", 7, deal));
        QCOMPARE(out.probeValue, 2.0);
        QCOMPARE(scalar(deal, "select count(*) from Realdata"), 1);
        QCOMPARE(store->countRows("Realdata", db), 1);
        QCOMPARE(db.databaseName(), QStringLiteral("database.db"));
        QVERIFY(QFileInfo::exists(firstFile));
    }
};

QTEST_GUILESS_MAIN(TestDataBase)
#include "tst_database.moc"
