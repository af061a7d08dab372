#include "db/AuditLog.h"

#include <QSysInfo>
#include <QDebug>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QStringList>

namespace {

const char* const kNow = "strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime')";

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
    return QStringLiteral("coalesce(%1, '')").arg(x);
}

QString trigger(const Watched& w, const QString& op, const QStringList& columns, const QString& actor)
{
    // "field: old → new; " for each field the change touched.
    QStringList pieces, changed;
    for (const QString& c : columns) {
        const QString o = shown(QStringLiteral("old"), c);
        const QString n = shown(QStringLiteral("new"), c);
        QString touched;
        if (op == QLatin1String("insert"))
            touched = QStringLiteral("new.%1 IS NOT NULL AND new.%1 <> ''").arg(c);
        else if (op == QLatin1String("delete"))
            touched = QStringLiteral("old.%1 IS NOT NULL AND old.%1 <> ''").arg(c);
        else
            touched = QStringLiteral("old.%1 IS NOT new.%1").arg(c);
        changed << touched;
        // "field: old → new"; an insert has no old value, a deletion no new one.
        const QString before = op == QLatin1String("insert") ? QStringLiteral("''") : o;
        const QString after = op == QLatin1String("delete") ? QStringLiteral("''") : n;
        const QString change = QStringLiteral("CASE WHEN %1 = '' THEN '' ELSE ' ' || %1 END || ' →' || "
                                              "CASE WHEN %2 = '' THEN '' ELSE ' ' || %2 END")
                                   .arg(before, after);
        pieces << QStringLiteral("CASE WHEN %1 THEN '%2:' || %3 || '; ' ELSE '' END").arg(touched, c, change);
    }
    const QString row = op == QLatin1String("delete") ? QStringLiteral("old") : QStringLiteral("new");
    QString action = quoted(op);
    // An address change of a dosimeter is an action of its own.
    if (op == QLatin1String("update") && QLatin1String(w.table) == QLatin1String("Device"))
        action = QStringLiteral("CASE WHEN old.slaveId IS NOT new.slaveId THEN 'setid' ELSE 'update' END");
    return QStringLiteral("CREATE TEMP TRIGGER audit_%1_%2 AFTER %3 ON main.%1 %4 BEGIN "
                          "INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                          "VALUES(%5, %6, %7, '%1', %8, rtrim(%9, '; ')); END")
        .arg(QLatin1String(w.table), op, op.toUpper(),
             op == QLatin1String("update") ? QStringLiteral("WHEN ") + changed.join(QStringLiteral(" OR ")) : QString(),
             QLatin1String(kNow), quoted(actor), action, QString::fromLatin1(w.rowKey).arg(row),
             pieces.join(QStringLiteral(" || ")));
}

} // namespace

QStringList AuditLog::layout()
{
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS AuditLog (id INTEGER PRIMARY KEY, at varchar, actor varchar, "
                           "action varchar, tableName varchar, rowKey varchar, detail varchar)"),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS AuditLog_kept_update BEFORE UPDATE ON AuditLog "
                           "BEGIN SELECT RAISE(ABORT, 'the audit trail is never changed'); END"),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS AuditLog_kept_delete BEFORE DELETE ON AuditLog "
                           "BEGIN SELECT RAISE(ABORT, 'the audit trail is never changed'); END")};
}

QString AuditLog::actor()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    return user + QLatin1Char('@') + QSysInfo::machineHostName();
}

bool AuditLog::write(const QSqlDatabase& db, const QString& action, const QString& tableName, const QString& rowKey,
                     const QString& detail)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                                  "VALUES(%1, ?, ?, ?, ?, ?)")
                       .arg(QLatin1String(kNow))))
        return false;
    for (const QString& v : {actor(), action, tableName, rowKey, detail})
        q.addBindValue(v.isNull() ? QStringLiteral("") : v); // text, never NULL
    return q.exec();
}

bool AuditLog::watch(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    QSet<QString> present, tables;
    if (!q.exec(QStringLiteral("select name from sqlite_temp_master where type = 'trigger'")))
        return false;
    while (q.next())
        present.insert(q.value(0).toString());
    if (!q.exec(QStringLiteral("select name from sqlite_master where type = 'table'")))
        return false;
    while (q.next())
        tables.insert(q.value(0).toString());
    if (!tables.contains(QStringLiteral("AuditLog")))
        return false;
    static const QString ackTrigger = QStringLiteral("audit_DoseAlert_ack");
    for (const Watched& w : kWatched) {
        const QString table = QLatin1String(w.table);
        if (!tables.contains(table) || present.contains(QStringLiteral("audit_%1_delete").arg(table)))
            continue;
        QStringList columns;
        if (!q.exec(QStringLiteral("PRAGMA main.table_info(%1)").arg(table)))
            return false;
        while (q.next()) {
            if (q.value(1).toString() != QLatin1String("id"))
                columns << q.value(1).toString();
        }
        for (const char* op : {"insert", "update", "delete"}) {
            if (!q.exec(trigger(w, QLatin1String(op), columns, actor()))) {
                qWarning().noquote() << "the audit trail cannot watch" << table << q.lastError().text();
                return false;
            }
        }
    }
    // An acknowledgement: the alert, and the comment it was given.
    if (tables.contains(QStringLiteral("DoseAlert")) && !present.contains(ackTrigger)
        && !q.exec(QStringLiteral("CREATE TEMP TRIGGER %1 AFTER UPDATE OF ackAt ON main.DoseAlert "
                                  "WHEN coalesce(old.ackAt, '') = '' AND coalesce(new.ackAt, '') <> '' BEGIN "
                                  "INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                                  "VALUES(%2, %3, 'ack', 'DoseAlert', new.ID_card || ' ' || new.level || ' ' || "
                                  "new.periodKey, 'comment: → ' || coalesce(new.comment, '')); END")
                        .arg(ackTrigger, QLatin1String(kNow), quoted(actor()))))
        return false;
    return true;
}
