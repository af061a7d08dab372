// The statement helpers: plain table names, values always bound, and the counted and one-row runs.

#include "core/store/Sql.h"

#include <QSqlError>

bool Sql::isPlainName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
        if (!ok)
            return false;
    }
    return true;
}

QString Sql::format(const char* fmt, const QString& a)
{
    return QString::asprintf(fmt, a.toLatin1().constData());
}

QString Sql::format(const char* fmt, const QString& a, const QString& b)
{
    return QString::asprintf(fmt, a.toLatin1().constData(), b.toLatin1().constData());
}

bool Sql::prepare(QSqlQuery& q, const QString& sql, const QVariantList& values)
{
    if (!q.prepare(sql))
        return false;
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values.at(i));
    return true;
}

bool Sql::exec(const QString& sql, const QVariantList& values, const QSqlDatabase& db)
{
    QSqlQuery q(db);
    return prepare(q, sql, values) && q.exec();
}

int Sql::execCounted(const QString& sql, const QVariantList& values, const QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (!prepare(q, sql, values) || !q.exec())
        return -1;
    return q.numRowsAffected();
}

bool Sql::firstText(const QString& sql, const QVariantList& values, const QSqlDatabase& db, QString& out)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!prepare(q, sql, values) || !q.exec() || !q.next())
        return false;
    out = q.value(0).toString();
    return true;
}

bool Sql::complete(const QSqlQuery& q)
{
    return !q.lastError().isValid();
}

bool Sql::execAll(const QStringList& statements, const QSqlDatabase& db)
{
    QSqlQuery q(db);
    for (const QString& statement : statements) {
        if (!q.exec(statement))
            return false;
    }
    return true;
}
