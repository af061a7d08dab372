// The table "DosePolicy": made with its defaults, its rows read, and a change written in one audited transaction.

#include "core/dose/PolicyStore.h"

#include <QMutexLocker>
#include <QSqlQuery>

#include "core/audit/AuditLog.h"
#include "core/dose/DosePolicy.h"
#include "core/store/Sql.h"
#include "core/store/Dialect.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"

namespace {

bool write(const char* sql, const QList<QPair<QString, double>>& rows, const QSqlDatabase& db)
{
    Transaction change(db);
    if (!change.begun())
        return false;
    for (const auto& row : rows) {
        if (Sql::execCounted(QLatin1String(sql), {row.first, row.second}, db) < 0)
            return false;
    }
    return change.commit();
}

} // namespace

PolicyStore::PolicyStore(Store& store)
    : store(store)
{
}

bool PolicyStore::createTable(const QSqlDatabase& db)
{
    return QSqlQuery(db).exec(Dialect::createTable(
        db, QStringLiteral("CREATE TABLE IF NOT EXISTS DosePolicy (name varchar PRIMARY KEY, value double)")));
}

bool PolicyStore::addDefaults(const QSqlDatabase& db)
{
    QList<QPair<QString, double>> defaults;
    for (const DosePolicy::Row& row : DosePolicy::rows())
        defaults.append({row.name, row.defaultValue});
    return write("insert into DosePolicy(name, value) values(?, ?) on conflict(name) do nothing", defaults, db);
}

bool PolicyStore::select(QMap<QString, QVariant>& rows, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen())
        return false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select name, value from DosePolicy")))
        return false;
    while (q.next())
        rows.insert(q.value(0).toString(), q.value(1));
    return Sql::complete(q);
}

bool PolicyStore::update(const QList<QPair<QString, double>>& rows, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen() && AuditLog::watch(db)
        && write("insert into DosePolicy(name, value) values(?, ?) on conflict(name) do update set value = excluded.value",
                 rows, db);
}
