#pragma once

// Moving a register from its SQLite file into an empty PostgreSQL database.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>

#include "core/store/StoreConfig.h"

class DataBase;

// Moves a register from its SQLite file into an empty PostgreSQL database:
// the layout first, then every table the file has with its ids, in one
// transaction. The copied rows are history, so the audit triggers stay
// silent while they go in; one "migrate" row of the audit trail records the
// move. The rows and dose sums of both sides are compared before the commit,
// and nothing is kept unless all of them agree.
class StoreMigration
{
public:
    // One table on both sides.
    struct Tally
    {
        QString table;
        qint64 sourceRows = 0;
        qint64 targetRows = 0;
        bool summed = false; // whether the table has a dose column
        double sourceSum = 0;
        double targetSum = 0;

        bool matches() const;
    };

    // Every table a register may have, in the order they are copied.
    static const QStringList& tables();
    // The column summed for the comparison, or an empty string.
    static QString doseColumn(const QString& table);

    StoreMigration(const QString& sourcePath, const StoreConfig& target);

    // Told the copied and total rows of a big table every progressStep rows.
    void setProgress(const std::function<void(const QString& table, qint64 copied, qint64 total)>& progress);
    static const qint64 progressStep = 100000;

    // The whole move. False with error() when anything was refused or failed:
    // then the target holds no row of the source.
    bool run();
    QString error() const { return problem; }
    // The comparison, one entry per table of the source (empty when the copy
    // did not get that far).
    const QList<Tally>& tallies() const { return counted; }
    qint64 copiedRows() const { return copied; }

private:
    bool migrate(const QSqlDatabase& source, DataBase& target, const QSqlDatabase& db);
    bool openSource(QSqlDatabase& source);
    bool targetIsEmpty(const QSqlDatabase& db);
    bool layOut(DataBase& target, const QSqlDatabase& db);
    bool copy(const QSqlDatabase& source, const QSqlDatabase& db);
    bool copyTable(const QSqlDatabase& source, const QSqlDatabase& db, const QString& table, qint64 total);
    bool compare(const QSqlDatabase& source, const QSqlDatabase& db);
    bool fail(const QString& why);

    QString sourcePath;
    StoreConfig target;
    std::function<void(const QString&, qint64, qint64)> progress;
    QStringList present; // the tables of the source
    QList<Tally> counted;
    qint64 copied = 0;
    QString problem;
};
