#include "core/DataBase.h"

#include "core/audit/AuditLog.h"
#include "core/register/DepartmentRegister.h"
#include "core/register/DeviceRegister.h"
#include "core/readings/ReadingStore.h"
#include "core/register/StaffRegister.h"
#include "core/wear/StaffRemoval.h"
#include "core/wear/WearPeriods.h"
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
    // The owner of a shared store made the tables; createTables checked them.
    if (station)
        return lacking.isEmpty();
    return WearPeriods(*this).layOut(defaultConnection());
}

bool DataBase::ensureWearingTable(QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    return db.isOpen() && WearPeriods(*this).ensureTable(db);
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


bool DataBase::selectWearingBySlaveId(QList<Wearingdata>& list, int slaveId, QSqlDatabase db)
{
    return WearPeriods(*this).selectBySlaveId(list, slaveId, db);
}

bool DataBase::selectWearingByIdCard(QList<Wearingdata>& list, const QString& idCard, QSqlDatabase db)
{
    return WearPeriods(*this).selectByIdCard(list, idCard, db);
}

bool DataBase::hasOverlappingPeriods(QSqlDatabase db)
{
    return WearPeriods(*this).hasOverlapping(db);
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




bool DataBase::addDeviceBinding(const Devicedata& device, const QString& now, QString* refusal, QSqlDatabase db)
{
    return WearPeriods(*this).bind(device, now, refusal, db);
}


bool DataBase::changeDeviceAddress(int deviceId, int newSlaveId, const QString& now, QString* refusal,
                                   QSqlDatabase db)
{
    return WearPeriods(*this).changeAddress(deviceId, newSlaveId, now, refusal, db);
}

bool DataBase::followAddressChange(int oldSlaveId, int newSlaveId, const QString& now, QString* refusal,
                                   QSqlDatabase db)
{
    return WearPeriods(*this).followAddressChange(oldSlaveId, newSlaveId, now, refusal, db);
}

bool DataBase::removeDeviceBinding(int deviceId, const QString& now, QString* refusal, QSqlDatabase db)
{
    return WearPeriods(*this).unbind(deviceId, now, refusal, db);
}

bool DataBase::assignReadings(int slaveId, const QString& idCard, const QString& from, const QString& to,
                              QString* refusal, QSqlDatabase db)
{
    return WearPeriods(*this).assign(slaveId, idCard, from, to, refusal, db);
}


bool DataBase::deleteStaffWithHistory(int staffId, QSqlDatabase db)
{
    return StaffRemoval(*this).removeWithHistory(staffId, db);
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
