#pragma once

#include <QSqlDatabase>
#include <QStringList>

// Who may lay out a store, and what a store laid out by someone else lacks.
// An SQLite file is laid out by whoever opens it. A shared store is laid out
// and upgraded by the role that owns its database; a station's role reads
// and writes the rows only, so the program started with it checks the
// layout instead of making it.
class StoreSchema
{
public:
    // Whether this connection creates and upgrades the tables and triggers.
    static bool mayLayOut(const QSqlDatabase& db);

    // What the store lacks of the tables the program works on: "table X",
    // "unique key key_X" (a shared store keeps each reading once). Empty
    // when complete.
    static QStringList missing(const QSqlDatabase& db, const QStringList& tables, const QStringList& keyedTables);
};
