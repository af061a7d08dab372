#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The audit trail: who changed what and when, in table "AuditLog". Rows are
// only ever added, each in the same transaction as the change it records.
// Changes of the register tables and of the policy are recorded by triggers
// that belong to the tables, so a change made outside the program is
// recorded too (its actor reads "outside the program"); the operations that
// are not a row change of those tables (deleted dose rows, a cleared
// dosimeter, an acknowledged alert, a backup, a restore, a repair) call
// write().
class AuditLog
{
public:
    // The actor of a change the program did not sign.
    static const char* const kOutside; // "outside the program"
    static const char* const kNeverChanged; // the error a change of an entry meets

    // "CREATE TABLE IF NOT EXISTS AuditLog ..." and the triggers that keep
    // its rows as written; part of the layout of every database, in the
    // dialect of db's store.
    static QStringList layout(const QSqlDatabase& db);
    // Runs the layout on db.
    static bool layOut(const QSqlDatabase& db);

    // Appends one row, inside the caller's transaction when there is one.
    static bool write(const QSqlDatabase& db, const QString& action, const QString& tableName,
                      const QString& rowKey, const QString& detail);
    // The same under the store's lock, for an operation that is no row
    // change of the register (a cleared dosimeter, a backup).
    static bool record(const QSqlDatabase& db, const QString& action, const QString& tableName,
                       const QString& rowKey, const QString& detail);
    // The rows with from <= at < to ("yyyy-MM-dd hh:mm:ss"), of one action
    // when given, holding text when given, newest first: at, actor, action,
    // tableName, rowKey, detail.
    static bool select(QList<QStringList>& rows, const QString& from, const QString& to, const QString& action,
                       const QString& text, const QSqlDatabase& db);

    // Gives the register tables that exist the triggers that record their
    // changes where they lack them; with renew also replaces those an
    // earlier version made differently (the schema upgrade at start-up).
    // False when a missing one cannot be made.
    static bool watch(const QSqlDatabase& db, bool renew = false);
    // The triggers of the trail the store lacks: those that keep its rows,
    // and the recording ones of the register tables that exist.
    static QStringList lacking(const QSqlDatabase& db);
};
