#pragma once

// Where people's doses stand as of a moment: their figures, their level and the alerts it raises.

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

#include "core/dose/DoseLevel.h"
#include "core/dose/DoseOfRecord.h"
#include "core/dose/DosePolicy.h"
#include "core/dose/PersonStatus.h"

class Store;
struct Staffdata;

// The dose figures of people as of a moment D, every one a sum of monthly
// doses of record (DoseOfRecord): the person panel, the tree markers, the
// overview, the alerts, the reports and dosectl alike.
class DoseStatus
{
public:
    DoseStatus(Store& database, QSqlDatabase db); // reads the policy
    DoseStatus(Store& database, QSqlDatabase db, const DosePolicy& policy);

    const DosePolicy& policy() const { return rules; }
    // False when the policy could not be read: then every figure fails too.
    bool policyRead() const { return readable; }

    // The used dose the person panel shows at D: last12, D's month through
    // D's hour and the eleven whole months before it.
    bool lastYearUsed(const QString& idCard, const QDateTime& at, double& used);
    // The same with the months of it that are adjusted or wait for approval.
    bool lastYear(const QString& idCard, const QDateTime& at, DoseFigures& figures);
    // Quarter, year, five years and last12, each through D's hour.
    bool figures(const QString& idCard, const QDateTime& at, DoseFigures& figures);
    // The months of [from, to), each month's part netted on its own.
    bool months(const QString& idCard, const QDateTime& from, const QDateTime& to, DoseOfRecord::Months& months);

    // Every person (of one department, when named), ordered by department,
    // then by their row id, with figures and level as of at.
    bool evaluate(QList<PersonStatus>& rows, const QDateTime& at, const QString& department = QString());
    // Stores an alert for each person's level other than normal, once per
    // person, level and period; the number of new alerts, -1 on failure.
    int raiseAlerts(const QList<PersonStatus>& rows, const QDateTime& at);

    // The first hour after D's: the windows run through D's hour.
    static QDateTime endOf(const QDateTime& at);

private:
    bool evaluate(const QList<Staffdata>& staff, QList<PersonStatus>& rows, const QDateTime& at);
    // last12 always, the other figures when all is set.
    bool compute(const QString& idCard, const QDateTime& at, bool all, DoseFigures& figures);

    Store& database;
    QSqlDatabase db;
    DosePolicy rules;
    bool readable = true;
};
