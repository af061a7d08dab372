// The statements of the table "Staff": people read, added and changed, a new ID card taking the person's
// dosimeter binding and wear periods along.

#include "core/register/StaffRegister.h"

#include <QMutexLocker>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/store/Dialect.h"
#include "core/store/Sql.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"

namespace {

void readStaff(const QSqlQuery& q, Staffdata& d)
{
    d.id = q.value(0).toInt();
    d.ID_card = q.value(1).toString();
    d.name = q.value(2).toString();
    d.gender = q.value(3).toString();
    d.ptype = q.value(4).toInt();
    d.totalValue = q.value(5).toDouble();
    d.department = q.value(6).toString();
    d.teleNo = q.value(7).toString();
    d.adress = q.value(8).toString();
    d.photo = q.value(9).toByteArray();
}

// Without the photo, for the lists of everyone.
void readStatusRow(const QSqlQuery& q, Staffdata& s)
{
    s.id = q.value(0).toInt();
    s.ID_card = q.value(1).toString();
    s.name = q.value(2).toString();
    s.gender = q.value(3).toString();
    s.ptype = q.value(4).toInt();
    s.totalValue = q.value(5).toDouble();
    s.department = q.value(6).toString();
}

} // namespace

StaffRegister::StaffRegister(Store& store)
    : store(store)
{
}

bool StaffRegister::insert(const Staffdata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    return change.begun()
        && Sql::exec(Sql::format("insert into %s(ID_card,name,                    gender,ptype,totalValue,"
                                 "department,teleNo,adress,photo) values(?,?,?,?,?,?,?,?,?);",
                                 store.staffTable),
                     {data.ID_card, data.name, data.gender, data.ptype, data.totalValue, data.department,
                      data.teleNo, data.adress, data.photo},
                     db)
        && change.commit();
}

bool StaffRegister::update(const Staffdata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    return change.begun()
        && Sql::exec(Sql::format("update %s set ID_card=?,name=?,gender=?,ptype =?,totalValue=?,department=?, "
                                 "teleNo=?                ,adress = ?,photo = ? where id =?;",
                                 store.staffTable),
                     {data.ID_card, data.name, data.gender, data.ptype, data.totalValue, data.department,
                      data.teleNo, data.adress, data.photo, data.id},
                     db)
        && change.commit();
}

bool StaffRegister::selectById(Staffdata& data, int id, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(Sql::format("select * from %s where id = ? ;", store.staffTable), {id}, db, data,
                          readStaff);
}

bool StaffRegister::selectByIdCard(Staffdata& data, const QString& idCard, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(Sql::format("select * from %s where ID_card=? ;", store.staffTable), {idCard}, db, data,
                          readStaff);
}

bool StaffRegister::selectByDepartment(QList<Staffdata>& list, const QString& department, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readAll(Sql::format("select * from %s where department=? ;", store.staffTable), {department}, db,
                        list, readStaff);
}

bool StaffRegister::selectForStatus(QList<Staffdata>& list, const QString& department, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    const bool all = department.isEmpty();
    return db.isOpen()
        && Sql::readAll(Sql::format("select id, ID_card, name, gender, ptype, totalValue, department from %s",
                                    store.staffTable)
                            + (all ? QString() : QStringLiteral(" where department = ?"))
                            + QStringLiteral(" order by department, id"),
                        all ? QVariantList() : QVariantList{department}, db, list, readStatusRow);
}

bool StaffRegister::selectAll(QList<Staffdata>& list, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readAll(Sql::format("select id, ID_card, name, gender, ptype, totalValue, department from %s order by id",
                                    store.staffTable),
                        {}, db, list, readStatusRow);
}

QString StaffRegister::listStatement(const QString& nameFilter, QVariantList* values)
{
    QString sql = QStringLiteral("select a.id, a.ID_card, a.name, a.gender, a.department, a.teleNo, a.adress "
                                 "from Staff a");
    if (!nameFilter.isEmpty()) {
        // Bound, so a quote in the filter is just a character of the name.
        sql += QStringLiteral(" where name like ?");
        *values << QString(QLatin1Char('%') + nameFilter + QLatin1Char('%'));
    }
    return sql + QStringLiteral(" order by a.id;");
}

bool StaffRegister::updateWithDevice(const Staffdata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    if (!change.begun())
        return false;
    const QString& staff = store.staffTable;
    const QString& devices = store.deviceTable;
    const QString& wearing = store.wearingTable;

    QString oldCard;
    if (!Sql::firstText(Sql::format("select ID_card from %s where id = ? ;", staff), {data.id}, db, oldCard))
        return false;
    if (oldCard != data.ID_card) {
        // Another person still holding the old card keeps its device; only
        // a card of this person alone moves along.
        QString sharers;
        if (!Sql::firstText(Sql::format("select count(*) from %s where ID_card = ? and id <> ? ;", staff),
                            {oldCard, data.id}, db, sharers))
            return false;
        if (sharers.toInt() == 0) {
            QString brought, waiting;
            const QString count = Sql::format("select count(*) from %s where ID_card = ? ;", devices);
            if (!Sql::firstText(count, {oldCard}, db, brought) || !Sql::firstText(count, {data.ID_card}, db, waiting)
                || (brought.toInt() > 0 && waiting.toInt() > 0))
                return false;
            if (Sql::execCounted(Sql::format("update %s set ID_card = ? where ID_card = ? ;", devices),
                                 {data.ID_card, oldCard}, db)
                < 0)
                return false;
            // The same person under a corrected card: the periods come along,
            // unless periods left under the new card would overlap them.
            QString clashes;
            if (!Sql::firstText(Sql::format("select count(*) from %s a, %s b where a.ID_card = ? and b.ID_card = ? "
                                            "and (b.endTime = '' or a.startTime < b.endTime) "
                                            "and (a.endTime = '' or b.startTime < a.endTime) ;",
                                            wearing, wearing),
                                {oldCard, data.ID_card}, db, clashes)
                || clashes.toInt() > 0)
                return false;
            if (Sql::execCounted(Sql::format("update %s set ID_card = ? where ID_card = ? ;", wearing),
                                 {data.ID_card, oldCard}, db)
                < 0)
                return false;
            // So do the dose adjustments: the one change their guard allows
            // a settled row.
            if (Dialect::hasTable(db, QStringLiteral("DoseAdjustment"))
                && Sql::execCounted(QStringLiteral("update DoseAdjustment set ID_card = ? where ID_card = ? ;"),
                                    {data.ID_card, oldCard}, db)
                    < 0)
                return false;
            if (Dialect::hasTable(db, QStringLiteral("PassiveResult"))
                && Sql::execCounted(QStringLiteral("update PassiveResult set ID_card = ? where ID_card = ? ;"),
                                    {data.ID_card, oldCard}, db)
                    < 0)
                return false;
        }
    }
    return Sql::execCounted(Sql::format("update %s set ID_card=?,name=?,gender=?,ptype =?,totalValue=?,department=?, "
                                        "teleNo=?                ,adress = ?,photo = ? where id =?;",
                                        staff),
                            {data.ID_card, data.name, data.gender, data.ptype, data.totalValue, data.department,
                             data.teleNo, data.adress, data.photo, data.id},
                            db)
        == 1
        && change.commit();
}
