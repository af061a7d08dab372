// The audit trail: its table, the triggers that record changes and keep its rows, and its rows written and read.

#include "core/audit/AuditLog.h"

#include <QDebug>
#include <QMutexLocker>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "core/store/Sql.h"
#include "core/store/Dialect.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"

namespace {


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
    {"DoseAdjustment", "%1.id || ' ' || %1.ID_card || ' ' || %1.month"},
    {"PassiveImport", "%1.id || ' ' || %1.fileName"},
    {"PassiveResult", "%1.id || ' ' || %1.ID_card || ' ' || %1.periodStart || '-' || %1.periodEnd"},
};

QString quoted(const QString& text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

// A column's value as the detail shows it: a picture by its size.
QString shown(const QString& row, const QString& column)
{
    const QString x = row + QLatin1Char('.') + column;
    if (column == QLatin1String("photo") || column == QLatin1String("content"))
        return QStringLiteral("coalesce(length(%1) || ' bytes', '')").arg(x);
    return QStringLiteral("coalesce(CAST(%1 AS text), '')").arg(x);
}

// PostgreSQL names the columns in lower case; the detail names them as the
// program does.
QString label(const QString& column)
{
    static const QStringList names{"ID_card", "name",    "gender",  "ptype",     "totalValue",
                                   "department", "teleNo", "adress", "photo",   "dname",
                                   "slaveId", "dataTime", "startTime", "endTime", "value",
                                   "value_uSv", "createdBy", "createdAt", "approvedBy", "approvedAt",
                                   "withdrawnBy", "withdrawnAt", "withdrawReason", "fileName", "sha256", "importedBy",
                                   "importedAt", "periodStart", "periodEnd", "hp10_uSv", "hp007_uSv", "importId",
                                   "replacedBy", "closedBy", "closedAt", "closeComment"};
    for (const QString& n : names) {
        if (n.compare(column, Qt::CaseInsensitive) == 0)
            return n;
    }
    return column;
}

// One trigger: the statements that make it, and the text its store keeps
// of it (SQLite's "sql" of the trigger, PostgreSQL's function body), by
// which one made by an earlier version is told apart.
struct Trigger
{
    QString name;
    QStringList statements;
    QString kept;
};

Trigger trigger(const QSqlDatabase& db, const QString& table, const QString& op, const QString& when,
                const QString& insert)
{
    const Dialect::Trigger t =
        Dialect::rowTrigger(db, QStringLiteral("audit_%1_%2").arg(table, op), table, op, when, insert);
    return {t.name, t.statements, t.kept};
}

// The actor as the trigger writes it: the one the program's transaction
// signed, or none.
QString actorExpression(const QSqlDatabase& db)
{
    return Transaction::actorExpression(db, quoted(QLatin1String(AuditLog::kOutside)));
}

Trigger rowTrigger(const QSqlDatabase& db, const Watched& w, const QString& op, const QStringList& columns)
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
                               .arg(Dialect::now(db), actorExpression(db), action, QLatin1String(w.table),
                                    QString::fromLatin1(w.rowKey).arg(row), pieces.join(QStringLiteral(" || ")));
    return trigger(db, QLatin1String(w.table), op,
                   op == QLatin1String("update") ? changed.join(QStringLiteral(" OR ")) : QString(), insert);
}

// Every recording trigger the register tables that exist should carry; an
// empty list with ok false when their columns cannot be read.
QList<Trigger> planned(const QSqlDatabase& db, bool& ok)
{
    ok = true;
    QList<Trigger> all;
    for (const Watched& w : kWatched) {
        const QString table = QLatin1String(w.table);
        if (!Dialect::hasTable(db, table))
            continue;
        QStringList columns = Dialect::columns(db, table);
        columns.removeAll(QStringLiteral("id"));
        if (columns.isEmpty()) {
            ok = false;
            return {};
        }
        for (const char* op : {"insert", "update", "delete"})
            all << rowTrigger(db, w, QLatin1String(op), columns);
    }
    // An acknowledgement: the alert, and the comment it was given.
    if (Dialect::hasTable(db, QStringLiteral("DoseAlert"))) {
        const QString insert = QStringLiteral("INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                                              "VALUES(%1, %2, 'ack', 'DoseAlert', new.ID_card || ' ' || new.level "
                                              "|| ' ' || new.periodKey, 'comment: → ' || coalesce(new.comment, ''))")
                                   .arg(Dialect::now(db), actorExpression(db));
        Trigger ack = trigger(db, QStringLiteral("DoseAlert"), QStringLiteral("ack"),
                              QStringLiteral("coalesce(old.ackAt, '') = '' AND coalesce(new.ackAt, '') <> ''"),
                              insert);
        // Not every update: only those of the acknowledgement.
        ack.kept.replace(QStringLiteral("AFTER ACK ON"), QStringLiteral("AFTER UPDATE OF ackAt ON"));
        for (QString& statement : ack.statements)
            statement.replace(QStringLiteral("AFTER ACK ON"), QStringLiteral("AFTER UPDATE OF ackAt ON"));
        all << ack;
    }
    return all;
}

// The recording triggers the store holds, by their name in lower case, with
// the text it keeps of each; false when they cannot be read.
bool present(const QSqlDatabase& db, QHash<QString, QString>& kept)
{
    return Dialect::triggers(db, QStringLiteral("audit"), kept);
}

} // namespace

const char* const AuditLog::kOutside = "outside the program";
const char* const AuditLog::kNeverChanged = "the audit trail is never changed";

QStringList AuditLog::layout(const QSqlDatabase& db)
{
    // An entry is never rewritten: neither changed, nor deleted, nor taken
    // over by an insert of its id.
    return QStringList{Dialect::createTable(db, QStringLiteral("CREATE TABLE IF NOT EXISTS AuditLog (id INTEGER PRIMARY KEY, "
                                                               "at varchar, actor varchar, action varchar, "
                                                               "tableName varchar, rowKey varchar, detail varchar)"))}
        + Dialect::keepRows(db, QStringLiteral("AuditLog"), QLatin1String(kNeverChanged)).statements
        + Transaction::layout(db);
}

bool AuditLog::write(const QSqlDatabase& db, const QString& action, const QString& tableName, const QString& rowKey,
                     const QString& detail)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO AuditLog(at, actor, action, tableName, rowKey, detail) "
                                  "VALUES(%1, ?, ?, ?, ?, ?)")
                       .arg(Dialect::now(db))))
        return false;
    for (const QString& v : {Transaction::actor(), action, tableName, rowKey, detail})
        q.addBindValue(v.isNull() ? QStringLiteral("") : v); // text, never NULL
    return q.exec();
}

bool AuditLog::watch(const QSqlDatabase& db, bool renew)
{
    if (!Dialect::hasTable(db, QStringLiteral("AuditLog")))
        return false;
    bool ok = false;
    const QList<Trigger> all = planned(db, ok);
    QHash<QString, QString> kept;
    if (!ok || !present(db, kept))
        return false;
    QSqlQuery q(db);
    QSqlDatabase connection = db;
    for (const Trigger& t : all) {
        const auto found = kept.constFind(t.name.toLower());
        const bool missing = found == kept.constEnd();
        if (!missing && (!renew || found.value() == t.kept))
            continue;
        // An earlier version's trigger is replaced whole or kept: it records
        // better than none. (Renewing runs at start-up, in no transaction.)
        const bool whole = !missing && Dialect::beginWrite(connection);
        bool made = true;
        for (const QString& statement : t.statements)
            made = made && q.exec(statement);
        if (whole)
            made = made ? connection.commit() : (connection.rollback(), false);
        if (made)
            continue;
        qWarning().noquote() << "the audit trail cannot watch" << t.name << q.lastError().text();
        // A missing one may have been made by another station meanwhile.
        if (missing && !lacking(db).isEmpty())
            return false;
    }
    return true;
}

QStringList AuditLog::lacking(const QSqlDatabase& db)
{
    bool ok = false;
    const QList<Trigger> all = planned(db, ok);
    QHash<QString, QString> kept;
    if (!ok || !present(db, kept))
        return {QStringLiteral("(the triggers cannot be read)")};
    QStringList names = Dialect::keepRows(db, QStringLiteral("AuditLog"), QLatin1String(kNeverChanged)).names;
    for (const Trigger& t : all)
        names << t.name;
    QStringList missing;
    for (const QString& name : qAsConst(names)) {
        if (!kept.contains(name.toLower()))
            missing << name;
    }
    return missing;
}

bool AuditLog::record(const QSqlDatabase& db, const QString& action, const QString& tableName, const QString& rowKey,
                      const QString& detail)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen() && write(db, action, tableName, rowKey, detail);
}

bool AuditLog::select(QList<QStringList>& rows, const QString& from, const QString& to, const QString& action,
                      const QString& text, const QSqlDatabase& db)
{
    QMutexLocker lock(&Store::dataLock());
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
        pattern.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('%'), QStringLiteral("\\%"))
            .replace(QLatin1Char('_'), QStringLiteral("\\_"));
        values << QLatin1Char('%') + pattern + QLatin1Char('%');
    }
    return Sql::readAll(sql + QStringLiteral(" order by id desc ;"), values, db, rows,
                        +[](const QSqlQuery& q, QStringList& row) {
                            for (int c = 0; c < 6; ++c)
                                row << q.value(c).toString();
                        });
}

bool AuditLog::layOut(const QSqlDatabase& db)
{
    return Sql::execAll(layout(db), db);
}
