#include "core/DataBase.h"

#include "core/audit/AuditLog.h"
#include "core/register/DepartmentRegister.h"
#include "core/register/DeviceRegister.h"
#include "core/readings/ReadingStore.h"
#include "core/register/StaffRegister.h"
#include "core/store/SqlDialect.h"
#include "core/store/Transaction.h"
#include "core/store/StoreSchema.h"
#include "core/dose/DosePolicy.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QMetaType>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlResult>
#include <QSet>
#include <QVariant>

namespace {

QString format(const char* fmt, const QString& table)
{
    return QString::asprintf(fmt, table.toLatin1().constData());
}

QString format(const char* fmt, const QString& a, const QString& b)
{
    return QString::asprintf(fmt, a.toLatin1().constData(), b.toLatin1().constData());
}

// Table names come from the program, never from the user; anything that is
// not a plain identifier is refused rather than pasted into a statement.
bool isPlainName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')
                        || (u >= '0' && u <= '9') || u == '_';
        if (!ok)
            return false;
    }
    return true;
}

void readDevice(const QSqlQuery& q, Devicedata& d)
{
    d.id = q.value(0).toInt();
    d.slaveId = q.value(1).toInt();
    d.ID_card = q.value(2).toString();
    d.dataTime = q.value(3).toString();
}

// Runs a one-off statement whose values are all bound; the query dies with
// the call, so nothing stays prepared on the connection.
bool execBound(const QString& sql, const QVariantList& values, const QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (!q.prepare(sql))
        return false;
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    return q.exec();
}

// A single-row read: copies the first row into data with read(); false,
// with data untouched, when the statement fails or yields no row.
template <typename Record>
bool readFirst(const QString& sql, const QVariantList& values, const QSqlDatabase& db, Record& data,
               void (*read)(const QSqlQuery&, Record&))
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return false;
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!q.exec() || !q.next())
        return false;
    read(q, data);
    return true;
}

bool firstText(const QString& sql, const QVariantList& values, const QSqlDatabase& db, QString& out);

// A write transaction of the register: the triggers record its changes under
// this account, and nothing signed is left behind when it commits.
bool beginSigned(QSqlDatabase db)
{
    if (!SqlDialect::beginWrite(db))
        return false;
    if (Transaction::sign(db))
        return true;
    db.rollback();
    return false;
}

bool commitSigned(QSqlDatabase db)
{
    return Transaction::unsign(db) && db.commit();
}

// A database from before the wear periods: every device gets one open
// period from the beginning, so that its readings stay with today's wearer.
// An address (or an ID card) bound twice goes to the row of the lowest id;
// the others are logged. Periods that overlap (written by hand) are logged
// once here; the attribution gives such hours to the period started last.
bool givePeriodsToOldDevices(const QSqlDatabase& db, const QString& deviceTable, const QString& wearingTable)
{
    if (!isPlainName(deviceTable) || !isPlainName(wearingTable))
        return false;
    QSqlQuery count(db);
    count.setForwardOnly(true);
    if (count.exec(format("select count(*) from %s ;", wearingTable)) && count.next()
        && count.value(0).toInt() == 0) {
        count.finish();
        QSqlQuery devices(db);
        devices.setForwardOnly(true);
        QList<Devicedata> rows;
        if (devices.exec(format("select id, slaveId, ID_card from %s order by id ;", deviceTable))) {
            while (devices.next())
                rows.append(Devicedata{devices.value(0).toInt(), devices.value(1).toInt(),
                                       devices.value(2).toString(), QString()});
        }
        devices.finish();
        if (!rows.isEmpty()) {
            QSet<int> addresses;
            QSet<QString> cards;
            bool ok = beginSigned(db);
            for (const Devicedata& d : qAsConst(rows)) {
                if (addresses.contains(d.slaveId) || cards.contains(d.ID_card)) {
                    qWarning().noquote() << "wear periods: device row" << d.id << "(address" << d.slaveId
                                         << ", ID card" << d.ID_card
                                         << ") conflicts with an earlier binding and gets no period";
                    continue;
                }
                addresses.insert(d.slaveId);
                cards.insert(d.ID_card);
                ok = ok
                    && execBound(format("insert into %s(slaveId,ID_card,startTime,endTime) values(?,?,?,'');",
                                        wearingTable),
                                 {d.slaveId, d.ID_card, QStringLiteral("00000000000000")}, db);
            }
            if (!ok || !commitSigned(db)) {
                db.driver()->rollbackTransaction();
                return false;
            }
        }
    }

    QSqlQuery overlap(db);
    overlap.setForwardOnly(true);
    if (overlap.exec(format("select a.id, b.id, a.slaveId from %s a, %s b where a.slaveId = b.slaveId and a.id < b.id "
                            "and (b.endTime = '' or a.startTime < b.endTime) "
                            "and (a.endTime = '' or b.startTime < a.endTime) limit 1;",
                            wearingTable, wearingTable))
        && overlap.next()) {
        qWarning().noquote() << "wear periods" << overlap.value(0).toInt() << "and" << overlap.value(1).toInt()
                             << "of address" << overlap.value(2).toInt()
                             << "overlap; each hour goes to the period that started later";
    }
    return true;
}

int execCounted(const QString& sql, const QVariantList& values, const QSqlDatabase& db);

// The connection records the register changes made on it in the audit
// trail; a closed one is left to the caller's own check.
bool watched(const QSqlDatabase& db)
{
    return !db.isOpen() || AuditLog::watch(db);
}

// One change and its audit rows: all of it lands, or none. Inside a
// caller's transaction it is a part of that one (a savepoint); outside one
// it is a write transaction of its own. The triggers record the unit's
// changes under this account.
class Unit
{
public:
    explicit Unit(const QSqlDatabase& db)
        : db(db)
    {
        const SqlDialect::Unit begun = SqlDialect::beginUnit(db, QStringLiteral("unit"));
        open = begun == SqlDialect::Unit::Savepoint ? Savepoint
            : begun == SqlDialect::Unit::Transaction ? Transaction
                                                      : None;
        if (open != None && !Transaction::sign(db))
            signedOk = false;
    }
    ~Unit()
    {
        QSqlQuery q(db);
        if (open == Savepoint) {
            q.exec(QStringLiteral("ROLLBACK TO unit"));
            q.exec(QStringLiteral("RELEASE unit"));
        } else if (open == Transaction) {
            q.exec(QStringLiteral("ROLLBACK"));
        }
    }
    bool commit()
    {
        if (open == None || !signedOk || !Transaction::unsign(db)
            || !QSqlQuery(db).exec(open == Savepoint ? QStringLiteral("RELEASE unit") : QStringLiteral("COMMIT")))
            return false;
        open = None;
        return true;
    }

private:
    enum Open { None, Savepoint, Transaction };
    QSqlDatabase db;
    Open open = None;
    bool signedOk = true;
};

// Dose rows are recorded by their number, not one by one.
bool auditDeletion(const QSqlDatabase& db, const QString& table, const QString& rowKey, int rows)
{
    return rows <= 0
        || AuditLog::write(db, QStringLiteral("delete"), table, rowKey, QStringLiteral("rows: %1").arg(rows));
}

} // namespace

DataBase::DataBase(QObject* parent)
    : DataBase(StoreConfig(), parent)
{
}

DataBase::DataBase(const QString& fileName, QObject* parent)
    : DataBase(StoreConfig::file(fileName), parent)
{
}

DataBase::DataBase(const StoreConfig& store, QObject* parent)
    : Store(store, parent)
{
    ReadingStore::registerTypes();
}

DataBase::~DataBase() = default;

bool DataBase::createTables()
{
    QMutexLocker lock(&dataLock());
    // Without a file nothing was laid out; saying so beats a silent true.
    lacking.clear();
    if (!defaultConnection().isOpen())
        return false;
    // A station of a shared store may not make tables or triggers: it finds
    // them made by the store's owner, or says what is missing.
    station = !StoreSchema::mayLayOut(defaultConnection());
    if (station) {
        lacking = StoreSchema::missing(defaultConnection(),
                                       {deviceTable, realdataTable, monthdataTable, yeardataTable, seqYeardataTable,
                                        staffTable, departmentTable, QStringLiteral("DosePolicy"),
                                        QStringLiteral("DoseAlert"), QStringLiteral("AuditLog"), wearingTable},
                                       {realdataTable, monthdataTable, yeardataTable});
        return lacking.isEmpty();
    }

    // A register that is worked in runs with a write-ahead log: a long read
    // (a report, a backup) never holds up the storage of a reply. Without it
    // (a read-only folder) writers still wait for each other, so it is no
    // reason to stop.
    if (!SqlDialect::useWriteAheadLog(defaultConnection()))
        qWarning().noquote() << "cannot switch" << filePath()
                             << "to write-ahead logging:" << defaultConnection().lastError().text();

    struct Table
    {
        const QString* name;
        const char* statement;
    };
    static const char* const doseTable =
        "create table %s (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );";
    const Table tables[] = {
        {&deviceTable,
         "create table %s (id INTEGER PRIMARY KEY, slaveId integer,ID_card  varchar,dataTime date);"},
        {&realdataTable, doseTable},
        {&monthdataTable, doseTable},
        {&yeardataTable, doseTable},
        {&seqYeardataTable,
         "create table %s (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double ,ID_card  varchar);"},
        {&staffTable,
         "create table %s (id INTEGER PRIMARY KEY, ID_card  varchar,                    name varchar,gender varchar,ptype integer,totalValue double,department varchar,                    teleNo varchar,adress varchar,photo blob);"},
        {&departmentTable,
         "create table %s (id INTEGER PRIMARY KEY, department varchar,dname varchar);"},
    };

    // Tables that exist already make their statement fail; that is expected
    // on every start but the first and leaves their rows alone.
    for (const Table& t : tables) {
        if (t.name->isEmpty())
            return false;
        QSqlQuery q(defaultConnection());
        q.exec(SqlDialect::createTable(defaultConnection(), format(t.statement, *t.name)));
    }

    // Tables beyond the seven: an older file gains them on its next start.
    for (const char* statement :
         {"CREATE TABLE IF NOT EXISTS DosePolicy (name varchar PRIMARY KEY, value double)",
          "CREATE TABLE IF NOT EXISTS DoseAlert (id INTEGER PRIMARY KEY, ID_card varchar, level varchar, "
          "periodKey varchar, dose double, threshold double, raisedAt varchar, ackAt varchar, ackBy varchar, "
          "comment varchar)",
          "CREATE UNIQUE INDEX IF NOT EXISTS idx_DoseAlert_key ON DoseAlert(ID_card, level, periodKey)"}) {
        QSqlQuery q(defaultConnection());
        if (!q.exec(SqlDialect::createTable(defaultConnection(), QLatin1String(statement))))
            return false;
    }
    for (const QString& statement : AuditLog::layout(defaultConnection())) {
        QSqlQuery q(defaultConnection());
        if (!q.exec(statement))
            return false;
    }
    // Policy rows that are missing start with their defaults.
    Unit defaults(defaultConnection());
    for (const DosePolicy::Row& row : DosePolicy::rows()) {
        if (!execBound(QStringLiteral("insert into DosePolicy(name, value) values(?, ?) on conflict(name) do nothing"),
                       {row.name, row.defaultValue}, defaultConnection()))
            return false;
    }
    if (!defaults.commit())
        return false;

    // The lookups of a reply's readings and of the register go by these
    // columns; an existing file gains the indexes here as well.
    struct Index
    {
        const QString* table;
        const char* columns;
        const char* suffix;
    };
    const Index indexes[] = {
        {&realdataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&monthdataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&yeardataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&seqYeardataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&staffTable, "ID_card", "ID_card"},
        {&staffTable, "department", "department"},
        {&deviceTable, "ID_card", "ID_card"},
        {&deviceTable, "slaveId", "slaveId"},
    };
    for (const Index& i : indexes) {
        if (!isPlainName(*i.table))
            continue;
        const QByteArray table = i.table->toLatin1();
        QSqlQuery q(defaultConnection());
        q.exec(QString::asprintf("CREATE INDEX IF NOT EXISTS idx_%s_%s ON %s(%s);", table.constData(),
                                 i.suffix, table.constData(), i.columns));
    }
    // A shared store keeps every reading and total once, whoever stores
    // it; an SQLite file may hold duplicates from before and keeps them.
    if (SqlDialect::isPostgres(defaultConnection())) {
        for (const QString* t : {&realdataTable, &monthdataTable, &yeardataTable}) {
            const QByteArray table = t->toLatin1();
            const QString exists = QString::asprintf("select 1 from pg_constraint where conname = lower('key_%s')",
                                                     table.constData());
            QString found;
            // Another station starting at the same moment may add it first.
            if (!firstText(exists, {}, defaultConnection(), found)
                && !QSqlQuery(defaultConnection()).exec(QString::asprintf("ALTER TABLE %s ADD CONSTRAINT key_%s UNIQUE "
                                                                "(slaveId, dataTime);",
                                                                table.constData(), table.constData()))
                && !firstText(exists, {}, defaultConnection(), found))
                return false;
        }
        // The query dialog pages through the readings in time order. The
        // server cannot see that the join leaves one device per period, so
        // without an index of the time alone it sorts every matching reading
        // to show the first ten.
        const QByteArray readings = realdataTable.toLatin1();
        QSqlQuery q(defaultConnection());
        if (isPlainName(realdataTable)
            && !q.exec(QString::asprintf("CREATE INDEX IF NOT EXISTS idx_%s_dataTime ON %s(dataTime);",
                                         readings.constData(), readings.constData())))
            return false;
    }
    // The triggers that record the register's changes belong to the tables;
    // an older store gains them here, and those of an earlier version are
    // made anew.
    return AuditLog::watch(defaultConnection(), true);
}

bool DataBase::createAddedTables()
{
    QMutexLocker lock(&dataLock());
    if (!defaultConnection().isOpen() || !isPlainName(wearingTable))
        return false;
    // The owner of a shared store made the tables; createTables checked them.
    if (station)
        return lacking.isEmpty();
    // A register without devices has no periods to keep yet: the table comes
    // with the first binding, and a fresh file holds the seven tables only. A
    // shared store has it from the start: its stations may not make tables.
    QString devices;
    if (!SqlDialect::hasTable(defaultConnection(), wearingTable) && !SqlDialect::isPostgres(defaultConnection())
        && (!firstText(format("select count(*) from %s ;", deviceTable), {}, defaultConnection(), devices)
            || devices.toInt() == 0))
        return true;
    return createWearing(defaultConnection()) && givePeriodsToOldDevices(defaultConnection(), deviceTable, wearingTable);
}

bool DataBase::ensureWearingTable(QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    return db.isOpen() && createWearing(db);
}

bool DataBase::createWearing(const QSqlDatabase& db)
{
    if (!isPlainName(wearingTable))
        return false;
    if (SqlDialect::hasTable(db, wearingTable))
        return watched(db);
    // Who wore which dosimeter when; an existing file gains the table here.
    QSqlQuery q(db);
    if (!q.exec(SqlDialect::createTable(db, format("CREATE TABLE IF NOT EXISTS %s (id INTEGER PRIMARY KEY, "
                                                   "slaveId integer, ID_card varchar, startTime varchar, "
                                                   "endTime varchar);",
                                                   wearingTable)))
        || !q.exec(format("CREATE INDEX IF NOT EXISTS idx_%s_slaveId_startTime ON %s(slaveId, startTime);",
                          wearingTable, wearingTable))
        || !q.exec(format("CREATE INDEX IF NOT EXISTS idx_%s_ID_card ON %s(ID_card);", wearingTable, wearingTable)))
        return false;
    return watched(db);
}

// ---- Staff, departments, devices -------------------------------------------

bool DataBase::insertStaff(const Staffdata& data, QSqlDatabase db)
{
    return StaffRegister(*this).insert(data, db);
}

bool DataBase::updateStaff(const Staffdata& data, QSqlDatabase db)
{
    return StaffRegister(*this).update(data, db);
}

bool DataBase::selectStaffById(Staffdata& data, int id, QSqlDatabase db)
{
    return StaffRegister(*this).selectById(data, id, db);
}

bool DataBase::selectStaffByIdCard(Staffdata& data, const QString& idCard, QSqlDatabase db)
{
    return StaffRegister(*this).selectByIdCard(data, idCard, db);
}

bool DataBase::selectStaffByDepartment(QList<Staffdata>& list, const QString& department, QSqlDatabase db)
{
    return StaffRegister(*this).selectByDepartment(list, department, db);
}

bool DataBase::insertDepartment(const Departdata& data, QSqlDatabase db)
{
    return DepartmentRegister(*this).insert(data, db);
}

bool DataBase::updateDepartment(const Departdata& data, QSqlDatabase db)
{
    return DepartmentRegister(*this).update(data, db);
}

bool DataBase::selectDepartmentById(Departdata& data, int id, QSqlDatabase db)
{
    return DepartmentRegister(*this).selectById(data, id, db);
}

bool DataBase::selectAllDepartments(QList<Departdata>& list, QSqlDatabase db)
{
    return DepartmentRegister(*this).selectAll(list, db);
}

bool DataBase::insertDevice(const Devicedata& data, QSqlDatabase db)
{
    return DeviceRegister(*this).insert(data, db);
}

bool DataBase::updateDevice(const Devicedata& data, QSqlDatabase db)
{
    return DeviceRegister(*this).update(data, db);
}

bool DataBase::selectDeviceById(Devicedata& data, int id, QSqlDatabase db)
{
    return DeviceRegister(*this).selectById(data, id, db);
}

bool DataBase::selectDeviceBySlaveId(Devicedata& data, int slaveId, QSqlDatabase db)
{
    return DeviceRegister(*this).selectBySlaveId(data, slaveId, db);
}

bool DataBase::selectDeviceByIdCard(Devicedata& data, const QString& idCard, QSqlDatabase db)
{
    return DeviceRegister(*this).selectByIdCard(data, idCard, db);
}

// ---- Dose readings and totals ----------------------------------------------




bool DataBase::insertRealdata(const Realdata& data, QSqlDatabase db)
{
    return ReadingStore(*this).insertRealdata(data, db);
}

bool DataBase::selectRealdataByTime(Realdata& data, const QString& dataTime, int slaveId, QSqlDatabase db)
{
    return ReadingStore(*this).selectRealdataByTime(data, dataTime, slaveId, db);
}

bool DataBase::insertMonthdata(const totaldata_mon& data, QSqlDatabase db)
{
    return ReadingStore(*this).insertMonthdata(data, db);
}

bool DataBase::updateMonthdata(const totaldata_mon& data, QSqlDatabase db)
{
    return ReadingStore(*this).updateMonthdata(data, db);
}

bool DataBase::insertYeardata(const totaldata_year& data, QSqlDatabase db)
{
    return ReadingStore(*this).insertYeardata(data, db);
}

bool DataBase::updateYeardata(const totaldata_year& data, QSqlDatabase db)
{
    return ReadingStore(*this).updateYeardata(data, db);
}

int DataBase::insertReadingOnce(int slaveId, const QString& dataTime, double probeValue, QSqlDatabase db)
{
    return ReadingStore(*this).insertReadingOnce(slaveId, dataTime, probeValue, db);
}

bool DataBase::addToTotal(int kind, int slaveId, const QString& key, double value, QSqlDatabase db)
{
    return ReadingStore(*this).addToTotal(kind, slaveId, key, value, db);
}

bool DataBase::selectDataByTime(int kind, QList<QVariant>& list, int slaveId, const QString& begin,
                                const QString& end, QSqlDatabase db)
{
    return ReadingStore(*this).selectDataByTime(kind, list, slaveId, begin, end, db);
}

bool DataBase::deleteDataBySlaveId(int kind, int slaveId, const QString& unused1, const QString& unused2,
                                   QSqlDatabase db)
{
    return ReadingStore(*this).deleteDataBySlaveId(kind, slaveId, unused1, unused2, db);
}

// ---- Register changes spanning tables ---------------------------------------

bool DataBase::selectDepartmentByName(Departdata& data, const QString& name, QSqlDatabase db)
{
    return DepartmentRegister(*this).selectByName(data, name, db);
}

namespace {

// Reads one text column of the first row; false when there is none.
bool firstText(const QString& sql, const QVariantList& values, const QSqlDatabase& db, QString& out)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return false;
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!q.exec() || !q.next())
        return false;
    out = q.value(0).toString();
    return true;
}

// Runs a bound write and tells how many rows it changed (-1 on failure).
int execCounted(const QString& sql, const QVariantList& values, const QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (!q.prepare(sql))
        return -1;
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    if (!q.exec())
        return -1;
    return q.numRowsAffected();
}

} // namespace

bool DataBase::updateStaffAndDevice(const Staffdata& data, QSqlDatabase db)
{
    return StaffRegister(*this).updateWithDevice(data, db);
}

bool DataBase::updateDepartmentAndStaff(const Departdata& data, QSqlDatabase db)
{
    return DepartmentRegister(*this).updateWithStaff(data, db);
}

// ---- Wear periods -------------------------------------------------------------

namespace {

const QString kBeginning = QStringLiteral("00000000000000");

bool readPeriods(const QString& sql, const QVariant& key, const QSqlDatabase& db, QList<Wearingdata>& list)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return false;
    q.bindValue(0, key);
    if (!q.exec())
        return false;
    list.clear();
    while (q.next())
        list.append(Wearingdata{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString(),
                                q.value(3).toString(), q.value(4).toString()});
    return !q.lastError().isValid();
}

// A key of the whole hour: 14 digits, minutes and seconds "0000", a real
// time (or the beginning of all records).
bool isHourKey(const QString& key)
{
    if (key == kBeginning)
        return true;
    return key.size() == 14 && key.endsWith(QLatin1String("0000"))
        && QDateTime::fromString(key, QStringLiteral("yyyyMMddhhmmss")).isValid();
}

QString shownTime(const QString& key, const QString& none)
{
    if (key.isEmpty())
        return none;
    if (key == kBeginning)
        return QStringLiteral("最初");
    const QDateTime t = QDateTime::fromString(key, QStringLiteral("yyyyMMddhhmmss"));
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : key;
}

void say(QString* refusal, const QString& text)
{
    if (refusal)
        *refusal = text;
}

// True with an empty list when the register has neither periods nor
// dosimeters yet: the table of periods comes with the first dosimeter.
// Without it, a register with dosimeters cannot say who wore them: that
// stays an error.
bool noPeriodsYet(const QSqlDatabase& db, const QString& wearingTable, const QString& deviceTable,
                  QList<Wearingdata>& list)
{
    QString devices;
    list.clear();
    return !SqlDialect::hasTable(db, wearingTable)
        && firstText(format("select count(*) from %s ;", deviceTable), {}, db, devices) && devices.toInt() == 0;
}

} // namespace

bool DataBase::selectWearingBySlaveId(QList<Wearingdata>& list, int slaveId, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    return db.isOpen() && isPlainName(wearingTable)
        && (readPeriods(format("select id, slaveId, ID_card, startTime, endTime from %s where slaveId = ? "
                               "order by startTime, id ;",
                               wearingTable),
                        slaveId, db, list)
            || noPeriodsYet(db, wearingTable, deviceTable, list));
}

bool DataBase::selectWearingByIdCard(QList<Wearingdata>& list, const QString& idCard, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    return db.isOpen() && isPlainName(wearingTable)
        && (readPeriods(format("select id, slaveId, ID_card, startTime, endTime from %s where ID_card = ? "
                               "order by startTime, id ;",
                               wearingTable),
                        idCard, db, list)
            || noPeriodsYet(db, wearingTable, deviceTable, list));
}

bool DataBase::hasOverlappingPeriods(QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (!db.isOpen() || !isPlainName(wearingTable))
        return false;
    QString found;
    return firstText(format("select a.id from %s a, %s b where a.slaveId = b.slaveId and a.id < b.id "
                            "and (b.endTime = '' or a.startTime < b.endTime) "
                            "and (a.endTime = '' or b.startTime < a.endTime) limit 1;",
                            wearingTable, wearingTable),
                     {}, db, found);
}

int DataBase::countReadings(int slaveId, const QString& from, const QString& toExclusive, QSqlDatabase db)
{
    return ReadingStore(*this).countReadings(slaveId, from, toExclusive, db);
}

int DataBase::readingRange(int slaveId, const QString& from, const QString& toExclusive, QString& first,
                           QString& last, QSqlDatabase db)
{
    return ReadingStore(*this).readingRange(slaveId, from, toExclusive, first, last, db);
}

QString DataBase::periodCollision(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& start,
                                  const QString& end)
{
    // One address, and one person, wear at most one period at any hour.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(format("select slaveId, ID_card, startTime, endTime from %s "
                          "where (slaveId = ? or ID_card = ?) and (endTime = '' or endTime > ?) "
                          "and (? = '' or startTime < ?) order by startTime limit 1;",
                          wearingTable))) {
        return QStringLiteral("佩戴记录无法读取");
    }
    q.addBindValue(slaveId);
    q.addBindValue(idCard);
    q.addBindValue(start);
    q.addBindValue(end);
    q.addBindValue(end);
    if (!q.exec())
        return QStringLiteral("佩戴记录无法读取");
    if (!q.next())
        return QString();
    const QString text = QStringLiteral("与已有佩戴记录冲突：%1号设备，身份证号 %2，从 %3 到 %4")
                             .arg(q.value(0).toInt())
                             .arg(q.value(1).toString(), shownTime(q.value(2).toString(), QString()),
                                  shownTime(q.value(3).toString(), QStringLiteral("至今")));
    return text;
}

bool DataBase::closeOpenPeriods(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& now,
                                QString* refusal)
{
    QList<Wearingdata> open;
    if (!readPeriods(format("select id, slaveId, ID_card, startTime, endTime from %s where slaveId = ? "
                            "and endTime = '' ;",
                            wearingTable),
                     slaveId, db, open)) {
        say(refusal, QStringLiteral("佩戴记录无法读取"));
        return false;
    }
    for (const Wearingdata& w : qAsConst(open)) {
        if (w.ID_card != idCard)
            continue;
        if (w.startTime > now) {
            say(refusal, QStringLiteral("结束时间早于开始时间：%1号设备的佩戴从 %2 开始")
                             .arg(slaveId)
                             .arg(shownTime(w.startTime, QString())));
            return false;
        }
        // A period begun this very hour would end empty: it goes.
        const bool ok = w.startTime == now
            ? execBound(format("delete from %s where id = ? ;", wearingTable), {w.id}, db)
            : execBound(format("update %s set endTime = ? where id = ? ;", wearingTable), {now, w.id}, db);
        if (!ok) {
            say(refusal, QStringLiteral("佩戴记录无法保存"));
            return false;
        }
    }
    return true;
}

bool DataBase::openPeriod(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& start,
                          QString* refusal)
{
    const QString clash = periodCollision(db, slaveId, idCard, start, QString());
    if (!clash.isEmpty()) {
        say(refusal, clash);
        return false;
    }
    if (!execBound(format("insert into %s(slaveId,ID_card,startTime,endTime) values(?,?,?,'');", wearingTable),
                   {slaveId, idCard, start}, db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    return true;
}

bool DataBase::addDeviceBinding(const Devicedata& device, const QString& now, QString* refusal, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (db.isOpen() && !createWearing(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!db.isOpen() || !isPlainName(wearingTable) || !isPlainName(deviceTable)) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    if (device.slaveId < 0 || device.slaveId > 65535 || !isHourKey(now)) {
        say(refusal, QStringLiteral("设备号无效!"));
        return false;
    }
    if (!beginSigned(db)) {
        say(refusal, QStringLiteral("数据库忙"));
        return false;
    }
    const auto fail = [&db] {
        db.rollback();
        return false;
    };
    QString bound;
    if (firstText(format("select id from %s where slaveId = ? or ID_card = ? ;", deviceTable),
                  {device.slaveId, device.ID_card}, db, bound)) {
        say(refusal, QStringLiteral("设备ID已绑定!"));
        return fail();
    }
    // A dosimeter new to the register: its earlier readings belong to its
    // first wearer, except where that person wore another dosimeter.
    QString start = now;
    QString worn;
    if (!firstText(format("select count(*) from %s where slaveId = ? ;", wearingTable), {device.slaveId}, db, worn))
        return fail();
    if (worn.toInt() == 0) {
        QString lastEnd;
        firstText(format("select max(endTime) from %s where ID_card = ? ;", wearingTable), {device.ID_card}, db,
                  lastEnd);
        start = lastEnd.isEmpty() ? kBeginning : qMin(lastEnd, now);
    }
    if (!openPeriod(db, device.slaveId, device.ID_card, start, refusal))
        return fail();
    if (!execBound(format("insert into %s(slaveId,ID_card,dataTime) values(?,?,?);", deviceTable),
                   {device.slaveId, device.ID_card, device.dataTime}, db)) {
        say(refusal, QStringLiteral("设备无法保存"));
        return fail();
    }
    if (!commitSigned(db)) {
        say(refusal, QStringLiteral("设备无法保存"));
        return fail();
    }
    return true;
}

bool DataBase::moveBinding(const QSqlDatabase& db, const Devicedata& device, int newSlaveId, const QString& now,
                           QString* refusal)
{
    if (newSlaveId < 0 || newSlaveId > 65535 || !isHourKey(now)) {
        say(refusal, QStringLiteral("设备号无效!"));
        return false;
    }
    if (newSlaveId == device.slaveId)
        return true;
    QString holder;
    if (firstText(format("select id from %s where slaveId = ? and id <> ? ;", deviceTable), {newSlaveId, device.id},
                  db, holder)) {
        say(refusal, QStringLiteral("设备ID已绑定!"));
        return false;
    }
    if (!closeOpenPeriods(db, device.slaveId, device.ID_card, now, refusal)
        || !openPeriod(db, newSlaveId, device.ID_card, now, refusal))
        return false;
    if (execCounted(format("update %s set slaveId = ? where id = ? ;", deviceTable), {newSlaveId, device.id}, db)
        != 1) {
        say(refusal, QStringLiteral("设备无法保存"));
        return false;
    }
    return true;
}

bool DataBase::changeDeviceAddress(int deviceId, int newSlaveId, const QString& now, QString* refusal,
                                   QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (db.isOpen() && !createWearing(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!db.isOpen() || !isPlainName(wearingTable) || !isPlainName(deviceTable) || !beginSigned(db)) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    Devicedata device;
    if (!readFirst(format("select * from %s where id = ? ;", deviceTable), {deviceId}, db, device, readDevice)) {
        db.rollback();
        say(refusal, QStringLiteral("设备已被删除"));
        return false;
    }
    if (!moveBinding(db, device, newSlaveId, now, refusal) || !commitSigned(db)) {
        db.rollback();
        return false;
    }
    return true;
}

bool DataBase::followAddressChange(int oldSlaveId, int newSlaveId, const QString& now, QString* refusal,
                                   QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (db.isOpen() && !createWearing(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!db.isOpen() || !isPlainName(wearingTable) || !isPlainName(deviceTable) || !beginSigned(db)) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    Devicedata device;
    if (!readFirst(format("select * from %s where slaveId = ? order by id ;", deviceTable), {oldSlaveId}, db, device,
                   readDevice)) {
        // Nobody is bound to the dosimeter: there is nothing to carry over,
        // but the address change is recorded all the same.
        if (!AuditLog::write(db, QStringLiteral("setid"), deviceTable, QString::number(newSlaveId),
                             QStringLiteral("slaveId: %1 → %2").arg(oldSlaveId).arg(newSlaveId))
            || !commitSigned(db)) {
            db.rollback();
            say(refusal, QStringLiteral("操作日志无法保存"));
            return false;
        }
        return true;
    }
    if (!moveBinding(db, device, newSlaveId, now, refusal) || !commitSigned(db)) {
        db.rollback();
        return false;
    }
    return true;
}

bool DataBase::removeDeviceBinding(int deviceId, const QString& now, QString* refusal, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (db.isOpen() && !createWearing(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!db.isOpen() || !isPlainName(wearingTable) || !isPlainName(deviceTable) || !isHourKey(now)
        || !beginSigned(db)) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    Devicedata device;
    if (!readFirst(format("select * from %s where id = ? ;", deviceTable), {deviceId}, db, device, readDevice)) {
        db.rollback();
        say(refusal, QStringLiteral("设备已被删除"));
        return false;
    }
    if (!closeOpenPeriods(db, device.slaveId, device.ID_card, now, refusal)
        || execCounted(format("delete from %s where id = ? ;", deviceTable), {deviceId}, db) != 1
        || !commitSigned(db)) {
        db.rollback();
        return false;
    }
    return true;
}

bool DataBase::assignReadings(int slaveId, const QString& idCard, const QString& from, const QString& to,
                              QString* refusal, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (db.isOpen() && !createWearing(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!db.isOpen() || !isPlainName(wearingTable) || staffTable.isEmpty()) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    if (slaveId < 0 || slaveId > 65535) {
        say(refusal, QStringLiteral("设备号无效!"));
        return false;
    }
    if (!isHourKey(from) || !isHourKey(to) || to == kBeginning || !(from < to)) {
        say(refusal, QStringLiteral("结束时间必须晚于开始时间，且都在整点!"));
        return false;
    }
    QString found;
    if (idCard.isEmpty()
        || !firstText(format("select id from %s where ID_card = ? ;", staffTable), {idCard}, db, found)) {
        say(refusal, QStringLiteral("没有身份证号为 %1 的人员!").arg(idCard));
        return false;
    }
    if (!beginSigned(db)) {
        say(refusal, QStringLiteral("数据库忙"));
        return false;
    }
    const QString clash = periodCollision(db, slaveId, idCard, from, to);
    if (!clash.isEmpty()) {
        say(refusal, clash);
        db.rollback();
        return false;
    }
    if (!execBound(format("insert into %s(slaveId,ID_card,startTime,endTime) values(?,?,?,?);", wearingTable),
                   {slaveId, idCard, from, to}, db)
        || !commitSigned(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        db.rollback();
        return false;
    }
    return true;
}

bool DataBase::recomputeTotal(const QSqlDatabase& db, int slaveId, const QString& key, bool month)
{
    // A day's total from its hourly readings, a month's from its day totals;
    // a total with nothing left under it goes.
    const QString& source = month ? monthdataTable : realdataTable;
    const QString& target = month ? yeardataTable : monthdataTable;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(format("select count(*), coalesce(sum(probeValue), 0) from %s where slaveId = ? and dataTime like ? ;",
                          source)))
        return false;
    q.addBindValue(slaveId);
    q.addBindValue(key + QLatin1Char('%'));
    if (!q.exec() || !q.next())
        return false;
    const int n = q.value(0).toInt();
    const double sum = q.value(1).toDouble();
    q.finish();
    if (n == 0)
        return execCounted(format("delete from %s where slaveId = ? and dataTime = ? ;", target), {slaveId, key}, db)
            >= 0;
    return execCounted(format("update %s set probeValue = ? where slaveId = ? and dataTime = ? ;", target),
                       {sum, slaveId, key}, db)
        >= 0;
}

bool DataBase::deleteStaffWithHistory(int staffId, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (db.isOpen() && !createWearing(db))
        return false;
    if (!db.isOpen() || !isPlainName(wearingTable) || staffTable.isEmpty() || !beginSigned(db))
        return false;
    const auto fail = [&db] {
        db.rollback();
        return false;
    };
    QString card;
    if (!firstText(format("select ID_card from %s where id = ? ;", staffTable), {staffId}, db, card))
        return fail();
    // Another staff row with the same card keeps the history.
    QString sharers;
    if (!firstText(format("select count(*) from %s where ID_card = ? and id <> ? ;", staffTable), {card, staffId}, db,
                   sharers))
        return fail();
    QList<Wearingdata> periods;
    if (sharers.toInt() == 0
        && !readPeriods(format("select id, slaveId, ID_card, startTime, endTime from %s where ID_card = ? ;",
                               wearingTable),
                        card, db, periods))
        return fail();

    // The dose rows that go, by table, for the audit trail.
    QMap<QString, int> gone;
    const auto counted = [&gone](const QString& table, int n) {
        gone[table] += qMax(n, 0);
        return n;
    };
    for (const Wearingdata& w : qAsConst(periods)) {
        // Only the hours this person wore: the readings of other wearers of
        // the same address stay.
        const QString end = w.endTime.isEmpty() ? QStringLiteral("99999999999999") : w.endTime;
        if (w.startTime == kBeginning && w.endTime.isEmpty()) {
            // Worn from the beginning and still: the whole address is theirs.
            for (const QString* table : {&realdataTable, &monthdataTable, &yeardataTable, &seqYeardataTable}) {
                const int n = execCounted(format("delete from %s where slaveId = ? ;", *table), {w.slaveId}, db);
                if (counted(*table, n) < 0)
                    return fail();
            }
            continue;
        }
        // The readings' keys are stored as numbers: each bound has the
        // length of the keys it is compared with.
        const QString day0 = w.startTime.left(8);
        const QString day1 = end.left(8);
        const QString month0 = w.startTime.left(6);
        const QString month1 = end.left(6);
        const bool startsMidDay = w.startTime.mid(8) != QLatin1String("000000");
        const bool endsMidDay = end.mid(8) != QLatin1String("000000");
        const bool startsMidMonth = w.startTime.mid(6) != QLatin1String("01000000") && w.startTime != kBeginning;
        const bool endsMidMonth = end.mid(6) != QLatin1String("01000000");
        const QVariantList range{w.slaveId, w.startTime, end};
        const char* const cut = "delete from %s where slaveId = ? and dataTime >= ? and dataTime < ? ;";
        if (counted(realdataTable, execCounted(format(cut, realdataTable), range, db)) < 0
            || counted(seqYeardataTable, execCounted(format(cut, seqYeardataTable), range, db)) < 0)
            return fail();
        // Whole days and months inside the period go; the ones cut by its
        // ends are summed again from what stays.
        const QDate startDay = QDate::fromString(day0, QStringLiteral("yyyyMMdd"));
        const QString firstDay = startsMidDay && startDay.isValid()
            ? startDay.addDays(1).toString(QStringLiteral("yyyyMMdd")) : day0;
        const QString firstMonth = startsMidMonth && startDay.isValid()
            ? QDate(startDay.year(), startDay.month(), 1).addMonths(1).toString(QStringLiteral("yyyyMM")) : month0;
        if (counted(monthdataTable, execCounted(format(cut, monthdataTable), {w.slaveId, firstDay, day1}, db)) < 0
            || counted(yeardataTable, execCounted(format(cut, yeardataTable), {w.slaveId, firstMonth, month1}, db)) < 0)
            return fail();
        if ((startsMidDay && !recomputeTotal(db, w.slaveId, day0, false))
            || (endsMidDay && !recomputeTotal(db, w.slaveId, day1, false))
            || (startsMidMonth && !recomputeTotal(db, w.slaveId, month0, true))
            || (endsMidMonth && !recomputeTotal(db, w.slaveId, month1, true)))
            return fail();
    }
    if (sharers.toInt() == 0
        && execCounted(format("delete from %s where ID_card = ? ;", wearingTable), {card}, db) < 0)
        return fail();
    for (auto it = gone.cbegin(); it != gone.cend(); ++it) {
        if (!auditDeletion(db, it.key(), card, it.value()))
            return fail();
    }
    if (execCounted(format("delete from %s where id = ? ;", staffTable), {staffId}, db) != 1 || !commitSigned(db))
        return fail();
    return true;
}

// ---- Dose policy and alerts ---------------------------------------------------

bool DataBase::selectStaffForStatus(QList<Staffdata>& list, const QString& department, QSqlDatabase db)
{
    return StaffRegister(*this).selectForStatus(list, department, db);
}

bool DataBase::selectPolicy(QMap<QString, QVariant>& rows, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (!db.isOpen())
        return false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select name, value from DosePolicy")))
        return false;
    while (q.next())
        rows.insert(q.value(0).toString(), q.value(1));
    return !q.lastError().isValid();
}

namespace {

bool writePolicy(const char* sql, const QList<QPair<QString, double>>& rows, QSqlDatabase& db)
{
    if (!beginSigned(db))
        return false;
    for (const auto& row : rows) {
        if (execCounted(QLatin1String(sql), {row.first, row.second}, db) < 0) {
            db.rollback();
            return false;
        }
    }
    return commitSigned(db) || (db.rollback(), false);
}

} // namespace

bool DataBase::updatePolicy(const QList<QPair<QString, double>>& rows, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (!watched(db))
        return false;
    return db.isOpen()
        && writePolicy("insert into DosePolicy(name, value) values(?, ?) "
                       "on conflict(name) do update set value = excluded.value",
                       rows, db);
}

namespace {

void readAlert(const QSqlQuery& q, DoseAlertdata& a)
{
    a.id = q.value(0).toInt();
    a.ID_card = q.value(1).toString();
    a.level = q.value(2).toString();
    a.periodKey = q.value(3).toString();
    a.dose = q.value(4).toDouble();
    a.threshold = q.value(5).toDouble();
    a.raisedAt = q.value(6).toString();
    a.ackAt = q.value(7).toString();
    a.ackBy = q.value(8).toString();
    a.comment = q.value(9).toString();
}

} // namespace

int DataBase::insertAlertOnce(const DoseAlertdata& a, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (!db.isOpen())
        return -1;
    return execCounted(QStringLiteral("insert into DoseAlert(ID_card, level, periodKey, dose, threshold, raisedAt, "
                                      "ackAt, ackBy, comment) values(?, ?, ?, ?, ?, ?, '', '', '') "
                                      "on conflict(ID_card, level, periodKey) do nothing"),
                       {a.ID_card, a.level, a.periodKey, a.dose, a.threshold, a.raisedAt}, db);
}

bool DataBase::selectAlerts(QList<DoseAlertdata>& list, bool unackedOnly, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (!db.isOpen())
        return false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select id, ID_card, level, periodKey, dose, threshold, raisedAt, ackAt, ackBy, "
                               "comment from DoseAlert %1 order by raisedAt desc, id desc")
                    .arg(unackedOnly ? QStringLiteral("where coalesce(ackAt, '') = ''") : QString())))
        return false;
    while (q.next()) {
        DoseAlertdata a;
        readAlert(q, a);
        list.append(a);
    }
    return !q.lastError().isValid();
}

bool DataBase::acknowledgeAlert(int id, const QString& ackAt, const QString& ackBy, const QString& comment,
                                QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (!watched(db))
        return false;
    if (!db.isOpen())
        return false;
    Unit unit(db);
    return execCounted(QStringLiteral("update DoseAlert set ackAt = ?, ackBy = ?, comment = ? "
                                      "where id = ? and coalesce(ackAt, '') = ''"),
                       {ackAt, ackBy, comment, id}, db)
               == 1
        && unit.commit();
}

// ---- Audit trail ----------------------------------------------------------------

bool DataBase::recordAudit(const QString& action, const QString& tableName, const QString& rowKey,
                           const QString& detail, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    return db.isOpen() && AuditLog::write(db, action, tableName, rowKey, detail);
}

bool DataBase::selectAuditLog(QList<QStringList>& rows, const QString& from, const QString& to, const QString& action,
                              const QString& text, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    rows.clear();
    if (!db.isOpen())
        return false;
    QString sql = QStringLiteral("select at, actor, action, tableName, rowKey, detail from AuditLog "
                                 "where at >= ? and at < ?");
    QVariantList values{from, to};
    if (!action.isEmpty()) {
        sql += QStringLiteral(" and action = ?");
        values << action;
    }
    if (!text.isEmpty()) {
        // The text anywhere in who, where or what; its own % and _ are plain characters.
        sql += QStringLiteral(" and (coalesce(actor, '') || ' ' || coalesce(tableName, '') || ' ' || "
                              "coalesce(rowKey, '') || ' ' || coalesce(detail, '')) like ? escape '\\'");
        QString pattern = text;
        pattern.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('%'), QStringLiteral("\\%"))
            .replace(QLatin1Char('_'), QStringLiteral("\\_"));
        values << QLatin1Char('%') + pattern + QLatin1Char('%');
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql + QStringLiteral(" order by id desc ;")))
        return false;
    for (const QVariant& v : qAsConst(values))
        q.addBindValue(v);
    if (!q.exec())
        return false;
    while (q.next()) {
        QStringList row;
        for (int c = 0; c < 6; ++c)
            row << q.value(c).toString();
        rows << row;
    }
    return !q.lastError().isValid();
}
