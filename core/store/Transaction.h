#pragma once

// One write of the register: a write transaction of its own (or a savepoint
// inside the caller's), signed with the account that makes it so that the
// audit trail's triggers name who changed what, and undone unless commit()
// succeeds. Every change of the register goes through one.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class Transaction
{
public:
    explicit Transaction(const QSqlDatabase& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Opened and signed; when false nothing may be written.
    bool begun() const { return open != None && signedOk; }
    // Unsigns and commits (or releases the savepoint); false, with
    // everything undone, when that fails.
    bool commit();

    // "login@host" of the operating-system account the process runs as
    // ("uid<N>@host" for an account without a name), never from the
    // environment.
    static QString actor();
    // Names actor() as the author of the changes that follow on db, until
    // unsign() or the end of the transaction: a row of the table
    // kActorTable on SQLite, the transaction's setting kActorSetting on
    // PostgreSQL. The program unsigns before it commits, so that nothing
    // signed is left for a change from outside the program.
    static bool sign(const QSqlDatabase& db);
    static bool unsign(const QSqlDatabase& db);
    static const char* const kActorTable;
    static const char* const kActorSetting;
    // What a store needs to be signed in (the one-row table of an SQLite
    // file; nothing on a server).
    static QStringList layout(const QSqlDatabase& db);
    // An SQL expression, for a trigger, of the actor the running transaction
    // was signed with, or fallback (quoted text) when it was not.
    static QString actorExpression(const QSqlDatabase& db, const QString& fallback);

private:
    enum Open { None, Savepoint, Own };
    QSqlDatabase db;
    Open open = None;
    bool signedOk = false;
};
