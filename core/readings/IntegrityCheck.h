#pragma once

// Checking a dose register for consistency, and repairing its day and month totals.

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include "core/readings/IntegrityFinding.h"
#include "core/readings/IntegrityRepair.h"

class Store;
class QSqlQuery;

// The consistency of a dose register: the file itself, the day totals
// (Monthdata) and month totals (Yeardata) against the hourly readings
// (Realdata), readings stored twice, wear periods that share an hour, and
// time keys that are no time (such rows count towards no total).
// Each table is read with one grouped statement, so that millions of
// readings take seconds, not one query per row.
//
// It runs on the caller's connection and outside the program's data lock;
// it is meant for `dosectl`, not for the running program's threads.
class IntegrityCheck
{
public:
    IntegrityCheck(Store& database, QSqlDatabase db);
    ~IntegrityCheck();

    // Every finding, in this order: the file, the malformed time keys of
    // Monthdata, Yeardata, Realdata and Wearing (one finding per table), then
    // Monthdata, Yeardata, Realdata, Wearing; within a table by device and
    // key. A damaged file is reported
    // alone, as nothing read from it could be trusted. False (and error()
    // says why) when the database cannot be read.
    bool check(QList<IntegrityFinding>& findings);

    // Sets Monthdata and Yeardata to the sums of the readings for every day
    // and month that has readings: missing rows are inserted, wrong ones
    // updated, second rows of a key deleted. Totals without readings stay
    // (the history of years whose readings are gone) and are listed in
    // result.left with everything else a repair cannot mend; rows whose time
    // key is malformed are left as they are, count towards no total, and
    // are listed there too. Readings are
    // never written. All of it, with one audit row per table changed,
    // happens in one transaction; a damaged file is not touched. False,
    // with nothing changed, when any step fails.
    bool repair(IntegrityRepair& result);

    QString error() const { return problem; }

private:
    struct Totals;

    bool fileFindings(QList<IntegrityFinding>& findings);
    bool load(Totals& totals);
    bool duplicateReadings(QList<IntegrityFinding>& findings);
    bool malformedKeys(QList<IntegrityFinding>& findings);
    bool overlappingPeriods(QList<IntegrityFinding>& findings);
    bool mend(const QString& table, bool months, const Totals& totals, IntegrityRepair::Counts& counts,
              QStringList& changes);
    bool failed(const QSqlQuery& q, const QString& what);

    Store& database;
    QSqlDatabase db;
    QString problem;
};
