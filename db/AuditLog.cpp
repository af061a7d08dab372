#include "db/AuditLog.h"

#include <pwd.h>
#include <unistd.h>

#include <QSysInfo>
#include <QDebug>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "db/SqlDialect.h"
#include <QStringList>

namespace {

// Who changed a shared store: each connection says it in this setting.
const char* const kActorSetting = "dosemanager.actor";

// A watched table: the key its rows are known by.
struct Watched
{
    const char* table;
    const char* rowKey; // an expression of the row, "%1" standing for old or new
};
const Watched kWatched[] = {
    {"Staff", "%1.ID_card"},
    {"Department", "%1.department"},
    {"Device", "%1.slaveId"},
    {"Wearing", "%1.slaveId || ' ' || %1.ID_card"},
    {"DosePolicy", "%1.name"},
};

QString quoted(const QString& text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

// A column's value as the detail shows it: a picture by its size.
QString shown(const QString& row, const QString& column)
{
    const QString x = row + QLatin1Char('.') + column;
    if (column == QLatin1String("photo"))
        return QStringLiteral("coalesce(length(%1) || ' bytes', '')").arg(x);
    return QStringLiteral("coalesce(CAST(%1 AS text), '')").arg(x);
}

// PostgreSQL names the columns in lower case; the detail names them as the
// program does.
QString label(const QString& column)
{
    static const QStringList names{"ID_card", "name",    "gender",  "ptype",     "totalValue",
                                   "department", "teleNo", "adress", "photo",   "dname",
                                   "slaveId", "dataTime", "startTime", "endTime", "value"};
    for (const QString& n : names) {
        if (n.compare(column, Qt::CaseInsensitive) == 0)
            return n;
    }
    return column;
}

// The statements that make one trigger: SQLite's temporary trigger of the
// connection, or PostgreSQL's function and trigger of the table.
QStringList trigger(const QSqlDatabase& db, const QString& table, const QString& op, const QString& when,
                    const QString& insert)
{
    const QString name = QStringLiteral("audit_%1_%2").arg(table, op);
    if (!SqlDialect::isPostgres(db))
        return {QStringLiteral("CREATE TEMP TRIGGER %1 AFTER %2 ON main.%3 %4 BEGIN %5; END")
                    .arg(name, op.toUpper(), table, when.isEmpty() ? QString() : QStringLiteral("WHEN ") + when,
                         insert)};
    return {QStringLiteral("CREATE OR REPLACE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $f$ "
                           "BEGIN %2; RETURN NULL; END $f$")
                .arg(name, insert),
            QStringLiteral("CREATE OR REPLACE TRIGGER %1 AFTER %2 ON %3 FOR EACH ROW %4 EXECUTE FUNCTION %1()")
                .arg(name, op.toUpper(), table, when.isEmpty() ? QString() : QStringLiteral("WHEN (%1)").arg(when))};
}

// The actor as the trigger writes it.
QString actorExpression(const QSqlDatabase& db)
{
    if (!SqlDialect::isPostgres(db))
        return quoted(AuditLog::actor());
    return QStringLiteral("coalesce(nullif(current_setting('%1', true), ''), session_user::text)")
        .arg(QLatin1String(kActorSetting));
}

QStringList rowTrigger(const QSqlDatabase& db, const Watched& w, const QString& op, const QStringList& columns)
{
    // "field: old → new; " for each field the change touched.
    QStringList pieces, changed;
    for (const QString& c : columns) {
        const QString o = shown(QStringLiteral("old"), c);
        const QString n = shown(QStringLiteral("new"), c);
        QString touched;
        if (op == QLatin1String("insert"))
            touched = QStringLiteral("new.%1 IS NOT NULL AND CAST(new.%1 AS text) <> ''").arg(c);
        else if (op == QLatin1String("delete"))
            touched = QStringLiteral("old.%1 IS NOT NULL AND CAST(old.%1 AS text) <> ''").arg(c);
        else
            touched = QStringLiteral("old.%1 IS DISTINCT FROM new.%1").arg(c);
        changed << touched;
        // "field: old → new"; an insert has no old value, a deletion no new one.
        const QString before = op == QLatin1String("insert") ? QStringLiteral("''") : o;
        const QString after = op == QLatin1String("delete") ? QStringLiteral("''") : n;
        const QString change = QStringLiteral("CASE WHEN %1 = '' THEN '' ELSE ' ' || %1 END || ' →' || "
                                              "CASE WHEN %2 = '' THEN '' ELSE ' ' || %2 END")
                                   .arg(before, after);
        pieces << QStringLiteral("CASE WHEN %1 THEN '%2:' || %3 || '; ' ELSE '' END").arg(touched, label(c), change);
    }
    const QString row = op == QLatin1String("delete") ? QStringLiteral("old") : QStringLiteral("new");
    QString action = quoted(op);
    // An address change of a dosimeter is an action of its own.
    if (op == QLatin1String("update") && QLatin1String(w.table) == QLatin1String("Device"))
        action = QStringLiteral("CASE WHEN old.slaveId IS DISTINCT FROM new.slaveId THEN 'setid' ELSE 'update' END");
    const QString insert = QStringLiteral("INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                                          "VALUES(%1, %2, %3, '%4', CAST(%5 AS text), rtrim(%6, '; '))")
                               .arg(SqlDialect::now(db), actorExpression(db), action, QLatin1String(w.table),
                                    QString::fromLatin1(w.rowKey).arg(row), pieces.join(QStringLiteral(" || ")));
    return trigger(db, QLatin1String(w.table), op,
                   op == QLatin1String("update") ? changed.join(QStringLiteral(" OR ")) : QString(), insert);
}

} // namespace

QStringList AuditLog::layout(const QSqlDatabase& db)
{
    const QString table = SqlDialect::createTable(
        db, QStringLiteral("CREATE TABLE IF NOT EXISTS AuditLog (id INTEGER PRIMARY KEY, at varchar, actor varchar, "
                           "action varchar, tableName varchar, rowKey varchar, detail varchar)"));
    if (SqlDialect::isPostgres(db))
        return {table,
                QStringLiteral("CREATE OR REPLACE FUNCTION auditlog_kept() RETURNS trigger LANGUAGE plpgsql AS $f$ "
                               "BEGIN RAISE EXCEPTION 'the audit trail is never changed'; END $f$"),
                QStringLiteral("CREATE OR REPLACE TRIGGER AuditLog_kept BEFORE UPDATE OR DELETE ON AuditLog "
                               "FOR EACH ROW EXECUTE FUNCTION auditlog_kept()"),
                QStringLiteral("CREATE OR REPLACE TRIGGER AuditLog_kept_truncate BEFORE TRUNCATE ON AuditLog "
                               "FOR EACH STATEMENT EXECUTE FUNCTION auditlog_kept()")};
    return {table,
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS AuditLog_kept_update BEFORE UPDATE ON AuditLog "
                           "BEGIN SELECT RAISE(ABORT, 'the audit trail is never changed'); END"),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS AuditLog_kept_delete BEFORE DELETE ON AuditLog "
                           "BEGIN SELECT RAISE(ABORT, 'the audit trail is never changed'); END")};
}

QString AuditLog::actor()
{
    // The account the process runs as, whatever its environment says: a
    // service, cron or "env -i" still names who it is.
    const uid_t uid = geteuid();
    const passwd* account = getpwuid(uid);
    const QString login = account && account->pw_name && *account->pw_name
        ? QString::fromLocal8Bit(account->pw_name)
        : QStringLiteral("uid%1").arg(uid);
    return login + QLatin1Char('@') + QSysInfo::machineHostName();
}

bool AuditLog::write(const QSqlDatabase& db, const QString& action, const QString& tableName, const QString& rowKey,
                     const QString& detail)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                                  "VALUES(%1, ?, ?, ?, ?, ?)")
                       .arg(SqlDialect::now(db))))
        return false;
    for (const QString& v : {actor(), action, tableName, rowKey, detail})
        q.addBindValue(v.isNull() ? QStringLiteral("") : v); // text, never NULL
    return q.exec();
}

bool AuditLog::watch(const QSqlDatabase& db)
{
    const bool shared = SqlDialect::isPostgres(db);
    QSqlQuery q(db);
    QSet<QString> present;
    if (shared) {
        q.prepare(QStringLiteral("select set_config('%1', ?, false)").arg(QLatin1String(kActorSetting)));
        q.addBindValue(actor());
        if (!q.exec() || !q.exec(QStringLiteral("select lower(tgname) from pg_trigger where not tgisinternal")))
            return false;
    } else if (!q.exec(QStringLiteral("select name from sqlite_temp_master where type = 'trigger'"))) {
        return false;
    }
    while (q.next())
        present.insert(q.value(0).toString().toLower());
    if (!SqlDialect::hasTable(db, QStringLiteral("AuditLog")))
        return false;
    static const QString ackTrigger = QStringLiteral("audit_DoseAlert_ack");
    for (const Watched& w : kWatched) {
        const QString table = QLatin1String(w.table);
        if (!SqlDialect::hasTable(db, table)
            || present.contains(QStringLiteral("audit_%1_delete").arg(table).toLower()))
            continue;
        QStringList columns = SqlDialect::columns(db, table);
        columns.removeAll(QStringLiteral("id"));
        if (columns.isEmpty())
            return false;
        for (const char* op : {"insert", "update", "delete"}) {
            for (const QString& statement : rowTrigger(db, w, QLatin1String(op), columns)) {
                if (!q.exec(statement)) {
                    qWarning().noquote() << "the audit trail cannot watch" << table << q.lastError().text();
                    return false;
                }
            }
        }
    }
    // An acknowledgement: the alert, and the comment it was given.
    if (SqlDialect::hasTable(db, QStringLiteral("DoseAlert")) && !present.contains(ackTrigger.toLower())) {
        const QString insert = QStringLiteral("INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                                              "VALUES(%1, %2, 'ack', 'DoseAlert', new.ID_card || ' ' || new.level "
                                              "|| ' ' || new.periodKey, 'comment: → ' || coalesce(new.comment, ''))")
                                   .arg(SqlDialect::now(db), actorExpression(db));
        QStringList statements = trigger(db, QStringLiteral("DoseAlert"), QStringLiteral("ack"),
                                         QStringLiteral("coalesce(old.ackAt, '') = '' AND coalesce(new.ackAt, '') <> ''"),
                                         insert);
        // Not every update: only those of the acknowledgement.
        for (QString& s : statements)
            s.replace(QStringLiteral("AFTER ACK ON"), QStringLiteral("AFTER UPDATE OF ackAt ON"));
        for (const QString& statement : qAsConst(statements)) {
            if (!q.exec(statement))
                return false;
        }
    }
    return true;
}
