#pragma once

// A fresh working directory with its own "database.db" for one test: the
// process changes into a QTemporaryDir, a DataBase creates the tables there,
// and a private connection lets the test put rows in and check them behind
// the back of the code under test. The destructor closes every connection
// and goes back to the previous working directory. In a program whose
// initTestCase_data() calls bothStores(), every test runs once on SQLite and
// once on an emptied database of a private PostgreSQL server.

#include <QByteArray>
#include <QSqlDatabase>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

#include "core/DataBase.h"

class ScratchDatabase
{
public:
    explicit ScratchDatabase(const QString& checkConnection = QStringLiteral("check.db"));
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    // The global data "postgres": false, then true (only true without sqlite).
    static void bothStores(bool sqlite = true);
    bool postgres() const { return store->isShared(); }

    QString path(const QString& name) const { return dir.filePath(name); }

    // Runs sql with values bound on the checking connection; false (and a
    // warning naming the statement) when it fails.
    bool exec(const QString& sql, const QVariantList& values = {}) const;
    // The first column of the first row, or an invalid QVariant.
    QVariant value(const QString& sql, const QVariantList& values = {}) const;
    int count(const QString& table) const;
    // Every row as its columns' text joined by spaces, the rows joined by
    // commas: the same on both stores (numbers as Qt writes them).
    QString list(const QString& sql, const QVariantList& values = {}) const;
    // Makes the storage fail on table, in the store's own words: "insert" or
    // "update" (where when, a condition on NEW, holds), "commit" (the commit
    // after writing it; on SQLite the write lock, held by another connection
    // beyond the busy timeout), "lookup" (reading it, while inserting works),
    // "drop".
    // repair() undoes all but "lookup" and "drop".
    bool sabotage(const QString& how, const QString& table, const QString& when = {}) const;
    bool repair(const QString& how, const QString& table) const;

    // A person (gender 男) and its id.
    int addPerson(const QString& card, const QString& name, const QString& department = QStringLiteral("放射科"),
                  int ptype = 0, const QByteArray& photo = {});
    // A Device row, and its open wear period from "00000000000000".
    void addDevice(int slaveId, const QString& card);
    // One dose row of table (Realdata, Monthdata, Yeardata, SeqYeardata).
    void addDose(const QString& table, int slaveId, const QString& key, double value);
    // Hourly readings ("yyyyMMddhh" -> μSv) of the address, and its day and month totals made anew from all of
    // its readings, as the storage writes them.
    void addReadings(int slaveId, const QList<QPair<QString, double>>& hours);
    // One hourly reading per month ("yyyyMM" -> net μSv; the reading carries
    // the hour's background of 0.23 on top), with the day and month totals
    // the storage makes of the address's readings.
    void addMonths(int slaveId, const QList<QPair<QString, double>>& months);

    QTemporaryDir dir;
    std::unique_ptr<DataBase> store;
    QSqlDatabase db;

private:
    const QString start;
};

// dosectl run with args: its exit code; what it wrote goes to out and err where given.
int ctl(const QStringList& args, QString* out = nullptr, QString* err = nullptr);
// The first value sql gives in the SQLite file at path, read through a connection of its own.
QVariant valueIn(const QString& path, const QString& sql);
QVariant valueIn(const StoreConfig& store, const QString& sql);
// The lines of the text file at path, empty lines left out; none when it cannot be read.
QStringList fileLines(const QString& path);
// What program wrote to its standard output when run with args (empty when it did not finish within a minute).
QString output(const QString& program, const QStringList& args);
