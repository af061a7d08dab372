#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

// The one place that knows how the two stores differ; the rest of the
// program asks it by what a store can do, never by its name. Every other statement
// of the program runs unchanged on SQLite and on PostgreSQL: keys are bound
// as values, sums are "coalesce(sum(x), 0)", and names are never quoted, so
// PostgreSQL folds them to lower case on both sides.
class Dialect
{
public:
    static bool isPostgres(const QSqlDatabase& db);
    // The store keeps each reading and total once under unique keys
    // (slaveId, dataTime), which upserts ("on conflict") rely on. An SQLite
    // file may hold duplicates from before and has no such keys.
    static bool keepsUniqueReadings(const QSqlDatabase& db);
    // Rows of a statement without "order by" come in the order they were
    // stored (an SQLite file); a server gives them in no fixed order.
    static bool keepsStoredOrder(const QSqlDatabase& db);
    // What the open store is, read from it: the server's version, or the
    // SQLite version of a file whose schema could be read. False and the
    // error in text when it cannot be read, which is how a file that is no
    // database shows.
    static bool describe(const QSqlDatabase& db, QString* text);
    // Whether the table exists (PostgreSQL lists its names in lower case).
    static bool hasTable(const QSqlDatabase& db, const QString& table);
    // A create statement written with SQLite's types ("INTEGER PRIMARY KEY",
    // "date" time keys, "double", "blob") in the types of db's store.
    static QString createTable(const QSqlDatabase& db, const QString& statement);
    // An expression of the current local time as "yyyy-MM-dd hh:mm:ss".
    static QString now(const QSqlDatabase& db);
    // The columns of table in their order, as the store names them.
    static QStringList columns(const QSqlDatabase& db, const QString& table);
    // Begins a write transaction: on SQLite "BEGIN IMMEDIATE", which takes
    // the write lock at once (waiting the connection's busy timeout for
    // another writer), since a transaction that read first cannot take it
    // later while someone else writes and fails instead of waiting.
    // The statement's error goes to error where given.
    static bool beginWrite(const QSqlDatabase& db, QSqlError* error = nullptr);
    // What beginUnit opened.
    enum class Unit { None, Transaction, Savepoint };
    // A savepoint of that name inside the transaction open on db, or, when
    // none is open, a write transaction of its own as beginWrite.
    static Unit beginUnit(const QSqlDatabase& db, const QString& savepoint);
    // Begins a transaction in which no other station writes dose rows until
    // it ends.
    static bool beginWriteLocked(const QSqlDatabase& db, const QStringList& tables, QSqlError* error = nullptr);
    // Puts an SQLite file in write-ahead-log mode (it stays so), so that a
    // long read never holds up a writer. True on PostgreSQL.
    static bool useWriteAheadLog(const QSqlDatabase& db);
    // Sets every identity sequence of tables past the ids the rows hold (rows
    // copied in with their ids). Nothing to do on SQLite.
    static bool resetIdentities(const QSqlDatabase& db, const QStringList& tables);

    // A trigger that runs body (one statement) after event ("insert",
    // "update", "delete") on each row of table, when when (an expression of
    // old and new) holds: SQLite's trigger of the file, or PostgreSQL's
    // function and trigger of the table. kept is the text the store keeps of
    // it, by which an earlier version's is told apart.
    struct Trigger
    {
        QString name;
        QStringList statements;
        QString kept;
    };
    static Trigger rowTrigger(const QSqlDatabase& db, const QString& name, const QString& table, const QString& event,
                              const QString& when, const QString& body);
    // The triggers that keep the rows of table as written: no update, no
    // delete (nor truncate), no insert of an id that exists; message is the
    // error they raise.
    struct Guard
    {
        QStringList names;
        QStringList statements;
    };
    static Guard keepRows(const QSqlDatabase& db, const QString& table, const QString& message);
    // The same for rows that may still change in part: an update is refused
    // only where refusedWhen (an expression of old and new) holds; a delete,
    // a truncate and an insert of an id that exists always are.
    static Guard guardRows(const QSqlDatabase& db, const QString& table, const QString& refusedWhen,
                           const QString& message);
    // A trigger that refuses event on a row of table with message where
    // when (an expression of old and new, subqueries allowed) holds.
    static Trigger refusingTrigger(const QSqlDatabase& db, const QString& name, const QString& table,
                                   const QString& event, const QString& when, const QString& message);
    // The triggers of the store whose names start with prefix: the name in
    // lower case -> the text kept of it. False when they cannot be read.
    static bool triggers(const QSqlDatabase& db, const QString& prefix, QHash<QString, QString>& kept);
    // What the engine's own check of the file finds, a line each; nothing
    // on a server, which keeps its files whole. False when it cannot run.
    static bool checkFile(const QSqlDatabase& db, QStringList& problems, QSqlError* error);
    // An expression of the first digits of the time key in column (the
    // readings' keys are stored as numbers in an SQLite file).
    static QString keyPrefix(const QSqlDatabase& db, const QString& column, int digits);
};
