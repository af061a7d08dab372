// The statements of the table "Department": departments read, added and changed,
// a rename taking their staff along.

#include "core/register/DepartmentRegister.h"

#include <QMutexLocker>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/store/Sql.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"

namespace {

void readDepartment(const QSqlQuery& q, Departdata& d)
{
    d.id = q.value(0).toInt();
    d.department = q.value(1).toString();
    d.dname = q.value(2).toString();
}

} // namespace

DepartmentRegister::DepartmentRegister(Store& store)
    : store(store)
{
}

bool DepartmentRegister::insert(const Departdata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    return change.begun()
        && Sql::exec(Sql::format("insert into %s(department,dname) values(?,?);", store.departmentTable),
                     {data.department, data.dname}, db)
        && change.commit();
}

bool DepartmentRegister::update(const Departdata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    return change.begun()
        && Sql::exec(Sql::format("update %s set department=?,dname=? where id =?;", store.departmentTable),
                     {data.department, data.dname, data.id}, db)
        && change.commit();
}

bool DepartmentRegister::selectById(Departdata& data, int id, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(Sql::format("select * from %s where id = ? ;", store.departmentTable), {id}, db, data,
                          readDepartment);
}

bool DepartmentRegister::selectAll(QList<Departdata>& list, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readAll(Sql::format("select * from %s order by id ;", store.departmentTable), {}, db, list,
                          readDepartment);
}

QString DepartmentRegister::listStatement(const QString& nameFilter, QVariantList* values)
{
    QString sql = QStringLiteral("select a.id, a.department, a.dname from Department a");
    if (!nameFilter.isEmpty()) {
        sql += QStringLiteral(" where department like ?");
        *values << QString(QLatin1Char('%') + nameFilter + QLatin1Char('%'));
    }
    return sql + QStringLiteral(" order by a.id;");
}

bool DepartmentRegister::selectByName(Departdata& data, const QString& name, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(Sql::format("select * from %s where department = ? ;", store.departmentTable), {name}, db,
                          data, readDepartment);
}

bool DepartmentRegister::updateWithStaff(const Departdata& data, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    QString oldName;
    if (!change.begun()
        || !Sql::firstText(Sql::format("select department from %s where id = ? ;", store.departmentTable), {data.id},
                           db, oldName)
        || Sql::execCounted(Sql::format("update %s set department=?,dname=? where id =?;", store.departmentTable),
                            {data.department, data.dname, data.id}, db)
            != 1)
        return false;
    // The staff name their department by its text, so they follow a rename.
    return (oldName == data.department
            || Sql::execCounted(Sql::format("update %s set department = ? where department = ? ;", store.staffTable),
                                {data.department, oldName}, db)
                >= 0)
        && change.commit();
}
