// Who lays out a store, and what a store laid out by someone else lacks.
#include "core/store/StoreSchema.h"

#include <QSqlQuery>
#include <QVariant>

#include "core/store/Dialect.h"

bool StoreSchema::mayLayOut(const QSqlDatabase& db)
{
    if (!Dialect::isPostgres(db))
        return true;
    // The owner of the database, or a role it is granted to (a superuser is
    // a member of every role).
    QSqlQuery q(db);
    return q.exec(QStringLiteral("select pg_has_role(current_user, datdba, 'MEMBER') from pg_database "
                                 "where datname = current_database()"))
        && q.next() && q.value(0).toBool();
}

QStringList StoreSchema::missing(const QSqlDatabase& db, const QStringList& tables, const QStringList& keyedTables)
{
    QStringList lacking;
    for (const QString& t : tables) {
        if (!Dialect::hasTable(db, t))
            lacking << QStringLiteral("表 ") + t;
    }
    if (Dialect::keepsUniqueReadings(db)) {
        QSqlQuery q(db);
        for (const QString& t : keyedTables) {
            const QString key = QStringLiteral("key_") + t;
            q.prepare(QStringLiteral("select 1 from pg_constraint where conname = lower(?)"));
            q.addBindValue(key);
            if (!q.exec() || !q.next())
                lacking << QStringLiteral("唯一键 ") + key;
        }
    }
    return lacking;
}
