// The statements of the table "Device": the rows binding a bus address to an ID card, read, added and changed.

#include "core/register/DeviceRegister.h"

#include <QMutexLocker>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/store/Sql.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"

DeviceRegister::DeviceRegister(Store& store)
    : store(store)
{
}

void DeviceRegister::read(const QSqlQuery& q, Devicedata& d)
{
    d.id = q.value(0).toInt();
    d.slaveId = q.value(1).toInt();
    d.ID_card = q.value(2).toString();
    d.dataTime = q.value(3).toString();
}

bool DeviceRegister::insert(const Devicedata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    return change.begun()
        && Sql::exec(Sql::format("insert into %s(slaveId,ID_card,dataTime) values(?,?,?);", store.deviceTable),
                     {data.slaveId, data.ID_card, data.dataTime}, db)
        && change.commit();
}

bool DeviceRegister::update(const Devicedata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    return change.begun()
        && Sql::exec(Sql::format("update %s set slaveId=? ,ID_card = ?,dataTime = ? where id =?;", store.deviceTable),
                     {data.slaveId, data.ID_card, data.dataTime, data.id}, db)
        && change.commit();
}

bool DeviceRegister::selectById(Devicedata& data, int id, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(Sql::format("select * from %s where id = ? ;", store.deviceTable), {id}, db, data, read);
}

bool DeviceRegister::selectBySlaveId(Devicedata& data, int slaveId, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(Sql::format("select * from %s where slaveId = ? ;", store.deviceTable), {slaveId}, db, data,
                          read);
}

bool DeviceRegister::selectByIdCard(Devicedata& data, const QString& idCard, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(Sql::format("select * from %s where ID_card = ? ;", store.deviceTable), {idCard}, db, data,
                          read);
}

QString DeviceRegister::listStatement(const QString& addressFilter, QVariantList* values)
{
    QString sql = QStringLiteral("select a.id, a.slaveId, a.ID_card, b.name from Device a, Staff b "
                                 "where a.ID_card = b.ID_card");
    if (!addressFilter.isEmpty()) {
        sql += QStringLiteral(" and a.slaveId = ?");
        bool number = false;
        const int address = addressFilter.trimmed().toInt(&number, 10);
        // Text that is no whole number is bound as null, which equals no
        // address: an empty list from a sound statement.
        *values << (number ? QVariant(address) : QVariant());
    }
    return sql + QStringLiteral(" order by a.id;");
}
