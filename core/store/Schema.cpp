// The register laid out: its tables, their indexes and, on a shared store, the unique keys of readings and totals.

#include "core/store/Schema.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

#include "core/store/Sql.h"
#include "core/store/Dialect.h"
#include "core/store/Store.h"

Schema::Schema(Store& store)
    : store(store)
{
}

bool Schema::layOut(const QSqlDatabase& db)
{
    // A register that is worked in runs with a write-ahead log: a long read
    // (a report, a backup) never holds up the storage of a reply. Without it
    // (a read-only folder) writers still wait for each other, so it is no
    // reason to stop.
    if (!Dialect::useWriteAheadLog(db))
        qWarning().noquote() << "cannot switch" << store.filePath()
                             << "to write-ahead logging:" << db.lastError().text();

    struct Table
    {
        const QString* name;
        const char* statement;
    };
    static const char* const doseTable =
        "create table %s (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double );";
    const Table tables[] = {
        {&store.deviceTable, "create table %s (id INTEGER PRIMARY KEY, slaveId integer,ID_card  varchar,dataTime date);"},
        {&store.realdataTable, doseTable},
        {&store.monthdataTable, doseTable},
        {&store.yeardataTable, doseTable},
        {&store.seqYeardataTable,
         "create table %s (id INTEGER PRIMARY KEY, slaveId integer,                 dataTime date,probeValue double ,ID_card  varchar);"},
        {&store.staffTable,
         "create table %s (id INTEGER PRIMARY KEY, ID_card  varchar,                    name varchar,gender varchar,ptype integer,totalValue double,department varchar,                    teleNo varchar,adress varchar,photo blob);"},
        {&store.departmentTable, "create table %s (id INTEGER PRIMARY KEY, department varchar,dname varchar);"},
    };
    // Tables that exist already make their statement fail; that is expected
    // on every start but the first and leaves their rows alone.
    for (const Table& t : tables) {
        if (!Sql::isPlainName(*t.name))
            return false;
        QSqlQuery(db).exec(Dialect::createTable(db, Sql::format(t.statement, *t.name)));
    }

    // The lookups of a reply's readings and of the register go by these
    // columns; an existing file gains the indexes here as well.
    struct Index
    {
        const QString* table;
        const char* columns;
        const char* suffix;
    };
    const Index indexes[] = {
        {&store.realdataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&store.monthdataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&store.yeardataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&store.seqYeardataTable, "slaveId, dataTime", "slaveId_dataTime"},
        {&store.staffTable, "ID_card", "ID_card"},
        {&store.staffTable, "department", "department"},
        {&store.deviceTable, "ID_card", "ID_card"},
        {&store.deviceTable, "slaveId", "slaveId"},
    };
    for (const Index& i : indexes) {
        const QByteArray table = i.table->toLatin1();
        QSqlQuery(db).exec(QString::asprintf("CREATE INDEX IF NOT EXISTS idx_%s_%s ON %s(%s);", table.constData(),
                                             i.suffix, table.constData(), i.columns));
    }
    if (!Dialect::keepsUniqueReadings(db))
        return true;
    // A shared store keeps every reading and total once, whoever stores
    // it; an SQLite file may hold duplicates from before and keeps them.
    for (const QString* t : {&store.realdataTable, &store.monthdataTable, &store.yeardataTable}) {
        const QByteArray table = t->toLatin1();
        const QString exists =
            QString::asprintf("select 1 from pg_constraint where conname = lower('key_%s')", table.constData());
        QString found;
        // Another station starting at the same moment may add it first.
        if (!Sql::firstText(exists, {}, db, found)
            && !QSqlQuery(db).exec(QString::asprintf("ALTER TABLE %s ADD CONSTRAINT key_%s UNIQUE (slaveId, dataTime);",
                                                     table.constData(), table.constData()))
            && !Sql::firstText(exists, {}, db, found))
            return false;
    }
    // The query dialog pages through the readings in time order. The server
    // cannot see that the join leaves one device per period, so without an
    // index of the time alone it sorts every matching reading to show the
    // first ten.
    return QSqlQuery(db).exec(Sql::format("CREATE INDEX IF NOT EXISTS idx_%s_dataTime ON %s(dataTime);",
                                          store.realdataTable, store.realdataTable));
}
