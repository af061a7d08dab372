// The statements of the hourly readings and their day and month totals, the hot ones prepared once per connection.

#include "core/readings/ReadingStore.h"

#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/store/Dialect.h"
#include "core/store/Sql.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"

namespace {

// Statements of the hot path, prepared once per connection and table.
// The slave id is bound as well, so one statement serves every device.
enum HotStatement {
    kInsertDose,
    kUpdateMonth,
    kUpdateYear,
    kProbeReading,
    kSelectReading,
    kSelectRange,
    kInsertOnce,
    kAddTotal,
    kCountRange,
    kFirstInRange,
    kLastInRange,
    kAddToExisting
};
const char* const hotStatements[] = {
    "insert into %s(slaveId,dataTime,probeValue) values(?,?,?);",
    "update %s set probeValue = ? where dataTime=? and slaveId=? ;",
    "update %s set probeValue = ? where dataTime=? and slaveId=?;",
    "select id from %s where dataTime = ? and slaveId = ? ;",
    "select * from %s where dataTime = ? and slaveId = ?                ;",
    "select * from %s where slaveId = ? and dataTime>=? and dataTime<=? ORDER BY dataTime ASC                  ;",
    // The shared store: another station may store the same hours at the
    // same moment; the unique keys decide.
    "insert into %s(slaveId,dataTime,probeValue) values(?,?,?) on conflict (slaveId, dataTime) do nothing",
    "insert into %s(slaveId,dataTime,probeValue) values(?,?,?) on conflict (slaveId, dataTime) "
    "do update set probeValue = %s.probeValue + excluded.probeValue",
    // Every month of every person's windows is counted: thousands a status.
    "select count(*) from %s where slaveId = ? and dataTime >= ? and dataTime < ? ;",
    "select dataTime from %s where slaveId = ? and dataTime >= ? and dataTime < ? order by dataTime limit 1 ;",
    "select dataTime from %s where slaveId = ? and dataTime >= ? and dataTime < ? order by dataTime desc limit 1 ;",
    "update %s set probeValue = probeValue + ? where slaveId = ? and dataTime = ? ;",
};



template <typename Record>
QVariant doseRow(const QSqlQuery& q)
{
    Record r;
    r.id = q.value(0).toInt();
    r.slaveId = q.value(1).toInt();
    r.dataTime = q.value(2).toString();
    r.probeValue = q.value(3).toDouble();
    return QVariant::fromValue(r);
}

template <>
QVariant doseRow<totaldata_seqyear>(const QSqlQuery& q)
{
    totaldata_seqyear r;
    r.id = q.value(0).toInt();
    r.slaveId = q.value(1).toInt();
    r.dataTime = q.value(2).toString();
    r.probeValue = q.value(3).toDouble();
    r.ID_card = q.value(4).toString();
    return QVariant::fromValue(r);
}

} // namespace

ReadingStore::ReadingStore(Store& store)
    : store(store)
{
}

// The readers of the range query unwrap its rows by type name.
void ReadingStore::registerTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<Realdata>("Realdata");
        qRegisterMetaType<totaldata_mon>("totaldata_mon");
        qRegisterMetaType<totaldata_year>("totaldata_year");
        qRegisterMetaType<totaldata_seqyear>("totaldata_seqyear");
        return true;
    }();
    Q_UNUSED(registered);
}

const QString* ReadingStore::tableForKind(int kind) const
{
    switch (kind) {
    case 0:
        return &store.realdataTable;
    case 1:
        return &store.monthdataTable;
    case 2:
        return &store.yeardataTable;
    case 3:
        return &store.seqYeardataTable;
    default:
        return nullptr;
    }
}

bool ReadingStore::insertDoseRow(const QString& table, int slaveId, const QString& dataTime,
                             double probeValue, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || table.isEmpty())
        return false;
    QSqlQuery* q = store.prepared(db, kInsertDose, table, hotStatements[kInsertDose]);
    if (!q)
        return false;
    q->bindValue(0, slaveId);
    q->bindValue(1, dataTime);
    q->bindValue(2, probeValue);
    const bool ok = q->exec();
    q->finish();
    return ok;
}

bool ReadingStore::updateDoseRow(int statement, const QString& table, int slaveId,
                             const QString& dataTime, double probeValue, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || table.isEmpty())
        return false;
    QSqlQuery* q = store.prepared(db, statement, table, hotStatements[statement]);
    if (!q)
        return false;
    q->bindValue(0, probeValue);
    q->bindValue(1, dataTime);
    q->bindValue(2, slaveId);
    const bool ok = q->exec();
    q->finish();
    return ok;
}

bool ReadingStore::insertRealdata(const Realdata& data, QSqlDatabase db)
{
    return insertDoseRow(store.realdataTable, data.slaveId, data.dataTime, data.probeValue, db);
}

bool ReadingStore::selectRealdataByTime(Realdata& data, const QString& dataTime, int slaveId, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || store.realdataTable.isEmpty())
        return false;
    // Most readings of a reply are new. The driver describes every result
    // column anew on each run, so a one-column probe settles "not stored"
    // at a fraction of the cost; the full row is read only when it exists.
    QSqlQuery* probe = store.prepared(db, kProbeReading, store.realdataTable, hotStatements[kProbeReading]);
    if (!probe)
        return false;
    probe->bindValue(0, dataTime);
    probe->bindValue(1, slaveId);
    const bool exists = probe->exec() && probe->next();
    probe->finish();
    if (!exists)
        return false;

    QSqlQuery* q = store.prepared(db, kSelectReading, store.realdataTable, hotStatements[kSelectReading]);
    if (!q)
        return false;
    q->bindValue(0, dataTime);
    q->bindValue(1, slaveId);
    bool found = false;
    if (q->exec() && q->next()) {
        data.id = q->value(0).toInt();
        data.slaveId = q->value(1).toInt();
        data.dataTime = q->value(2).toString();
        data.probeValue = q->value(3).toDouble();
        found = true;
    }
    // Reset at once: a statement left mid-result keeps a read lock on the file.
    q->finish();
    return found;
}

bool ReadingStore::insertMonthdata(const totaldata_mon& data, QSqlDatabase db)
{
    return insertDoseRow(store.monthdataTable, data.slaveId, data.dataTime, data.probeValue, db);
}

bool ReadingStore::updateMonthdata(const totaldata_mon& data, QSqlDatabase db)
{
    return updateDoseRow(kUpdateMonth, store.monthdataTable,
                         data.slaveId, data.dataTime, data.probeValue, db);
}

bool ReadingStore::insertYeardata(const totaldata_year& data, QSqlDatabase db)
{
    return insertDoseRow(store.yeardataTable, data.slaveId, data.dataTime, data.probeValue, db);
}

bool ReadingStore::updateYeardata(const totaldata_year& data, QSqlDatabase db)
{
    return updateDoseRow(kUpdateYear, store.yeardataTable,
                         data.slaveId, data.dataTime, data.probeValue, db);
}

int ReadingStore::insertUnstored(int slaveId, const QString& dataTime, double probeValue, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !Sql::isPlainName(store.realdataTable))
        return -1;
    // Where the store keeps each hour once under a unique key, the key
    // decides: another station may have stored the hour since the caller
    // looked. A file's write lock keeps every other writer out meanwhile.
    const int statement = Dialect::keepsUniqueReadings(db) ? kInsertOnce : kInsertDose;
    QSqlQuery* q = store.prepared(db, statement, store.realdataTable, hotStatements[statement]);
    if (!q)
        return -1;
    q->bindValue(0, slaveId);
    q->bindValue(1, dataTime);
    q->bindValue(2, probeValue);
    const int inserted = q->exec() ? q->numRowsAffected() : -1;
    q->finish();
    return inserted;
}

bool ReadingStore::addToTotal(int kind, int slaveId, const QString& key, double value, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    const QString* table = kind == 1 || kind == 2 ? tableForKind(kind) : nullptr;
    if (!db.isOpen() || !table || !Sql::isPlainName(*table))
        return false;
    if (Dialect::keepsUniqueReadings(db)) {
        // One statement that concurrent writers cannot split.
        QSqlQuery* q = store.prepared(db, kAddTotal, *table, hotStatements[kAddTotal]);
        if (!q)
            return false;
        q->bindValue(0, slaveId);
        q->bindValue(1, key);
        q->bindValue(2, value);
        const bool ok = q->exec() && q->numRowsAffected() == 1;
        q->finish();
        return ok;
    }
    // A file has one writer at a time (its write lock): add to the total,
    // or make it.
    QSqlQuery* q = store.prepared(db, kAddToExisting, *table, hotStatements[kAddToExisting]);
    if (!q)
        return false;
    q->bindValue(0, value);
    q->bindValue(1, slaveId);
    q->bindValue(2, key);
    const int changed = q->exec() ? q->numRowsAffected() : -1;
    q->finish();
    if (changed != 0)
        return changed > 0;
    QSqlQuery* insert = store.prepared(db, kInsertDose, *table, hotStatements[kInsertDose]);
    if (!insert)
        return false;
    insert->bindValue(0, slaveId);
    insert->bindValue(1, key);
    insert->bindValue(2, value);
    const bool ok = insert->exec();
    insert->finish();
    return ok;
}

bool ReadingStore::selectDataByTime(int kind, QList<QVariant>& list, int slaveId, const QString& begin,
                                const QString& end, QSqlDatabase db)
{
    registerTypes();
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen())
        return false;
    const QString* table = tableForKind(kind);
    if (!table || table->isEmpty())
        return false;
    QSqlQuery* q = store.prepared(db, kSelectRange, *table, hotStatements[kSelectRange]);
    if (!q)
        return false;
    q->bindValue(0, slaveId);
    q->bindValue(1, begin);
    q->bindValue(2, end);
    // A statement that did not run leaves the caller's list as it was.
    if (!q->exec()) {
        q->finish();
        return false;
    }
    list.clear();
    while (q->next()) {
        switch (kind) {
        case 0:
            list.append(doseRow<Realdata>(*q));
            break;
        case 1:
            list.append(doseRow<totaldata_mon>(*q));
            break;
        case 2:
            list.append(doseRow<totaldata_year>(*q));
            break;
        default:
            list.append(doseRow<totaldata_seqyear>(*q));
            break;
        }
    }
    // A damaged page ends the loop early: that is a failure, not the end.
    const bool complete = !q->lastError().isValid();
    q->finish();
    return complete;
}

bool ReadingStore::deleteDataBySlaveId(int kind, int slaveId, const QString& unused1, const QString& unused2,
                                   QSqlDatabase db)
{
    Q_UNUSED(unused1);
    Q_UNUSED(unused2);
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen())
        return false;
    const QString* table = tableForKind(kind);
    if (!table || table->isEmpty())
        return false;
    Transaction change(db);
    const int n = change.begun()
        ? Sql::execCounted(Sql::format("delete from %s where slaveId = ? ;", *table), {slaveId}, db)
        : -1;
    // Dose rows are recorded by their number, not one by one.
    return n >= 0
        && (n == 0
            || AuditLog::write(db, QStringLiteral("delete"), *table, QString::number(slaveId),
                               QStringLiteral("rows: %1").arg(n)))
        && change.commit();
}

int ReadingStore::countReadings(int slaveId, const QString& from, const QString& toExclusive, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !Sql::isPlainName(store.realdataTable))
        return -1;
    QSqlQuery* q = store.prepared(db, kCountRange, store.realdataTable, hotStatements[kCountRange]);
    if (!q)
        return -1;
    q->bindValue(0, slaveId);
    q->bindValue(1, from);
    q->bindValue(2, toExclusive);
    const int n = q->exec() && q->next() ? q->value(0).toInt() : -1;
    q->finish();
    return n;
}

int ReadingStore::readingRange(int slaveId, const QString& from, const QString& toExclusive, QString& first,
                           QString& last, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !Sql::isPlainName(store.realdataTable))
        return -1;
    QString* ends[] = {&first, &last};
    for (int statement : {kFirstInRange, kLastInRange}) {
        QSqlQuery* q = store.prepared(db, statement, store.realdataTable, hotStatements[statement]);
        if (!q)
            return -1;
        q->bindValue(0, slaveId);
        q->bindValue(1, from);
        q->bindValue(2, toExclusive);
        const bool ran = q->exec();
        const bool found = ran && q->next();
        if (found)
            *ends[statement == kLastInRange] = q->value(0).toString();
        const bool failed = !ran || (!found && q->lastError().isValid());
        q->finish();
        if (failed)
            return -1;
        if (!found)
            return 0;
    }
    return 1;
}
