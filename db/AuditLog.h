#pragma once

#include <QSqlDatabase>
#include <QString>

// The audit trail: who changed what and when, in table "AuditLog". Rows are
// only ever added, each in the same transaction as the change it records.
// Changes of the register tables and of the policy are recorded by triggers
// that every connection of the program carries; the operations that are not
// a row change of those tables (deleted dose rows, a cleared dosimeter, an
// acknowledged alert, a backup, a restore, a repair) call write().
class AuditLog
{
public:
    // "CREATE TABLE IF NOT EXISTS AuditLog ..." and the triggers that keep
    // its rows as written; part of the layout of every database, in the
    // dialect of db's store.
    static QStringList layout(const QSqlDatabase& db);

    // "login@host" of the operating-system account the process runs as
    // ("uid<N>@host" for an account without a name); never from the
    // environment.
    static QString actor();

    // Appends one row, inside the caller's transaction when there is one.
    static bool write(const QSqlDatabase& db, const QString& action, const QString& tableName,
                      const QString& rowKey, const QString& detail);

    // Gives the connection the triggers that record the changes of the
    // register tables made on it (they live as long as the connection; a
    // second call finds them there). False when they cannot be made. On a
    // shared store the triggers belong to the tables and record every
    // station's changes; the connection only tells them who it is.
    static bool watch(const QSqlDatabase& db);
};
