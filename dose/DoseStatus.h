#pragma once

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

#include "dose/DoseLevel.h"
#include "dose/DosePolicy.h"

class DataBase;
struct Staffdata;

// One person's standing as of a moment.
struct PersonStatus
{
    int id = 0;
    QString ID_card;
    QString name;
    QString department;
    int ptype = 0;
    DoseFigures figures;
    DoseLevel::Verdict verdict;
};

// The dose figures of people, all from their attributed readings: the one
// place that turns readings into net doses, for the person panel, the tree
// markers, the overview, the alerts and dosectl alike.
class DoseStatus
{
public:
    DoseStatus(DataBase& database, QSqlDatabase db); // reads the policy
    DoseStatus(DataBase& database, QSqlDatabase db, const DosePolicy& policy);

    const DosePolicy& policy() const { return rules; }

    // Net dose: the dose less the background of each hourly reading, never below 0.
    static double net(double dose, int readings, double background);

    // The used dose the person panel shows at `at`: the monthly figures from
    // the same month a year before through at's month, less the background
    // of every hourly reading from exactly a year before through at's hour.
    bool lastYearUsed(const QString& idCard, const QDateTime& at, double& used);
    // Quarter, year, five years (each through at's hour) and the above.
    bool figures(const QString& idCard, const QDateTime& at, DoseFigures& figures);
    // The net dose of every month from the month of `from` up to (not
    // including) the month of `to`: "yyyyMM" -> μSv, each month net on its own.
    bool monthlyNet(const QString& idCard, const QDate& from, const QDate& to, QMap<QString, double>& months);
    // The net dose of [from, to).
    bool windowNet(const QString& idCard, const QDateTime& from, const QDateTime& to, double& dose);

    // Every person (of one department, when named), ordered by department,
    // then by their row id, with figures and level as of at.
    bool evaluate(QList<PersonStatus>& rows, const QDateTime& at, const QString& department = QString());
    // Stores an alert for each person's level other than normal, once per
    // person, level and period; the number of new alerts, -1 on failure.
    int raiseAlerts(const QList<PersonStatus>& rows, const QDateTime& at);

private:
    // last12 always, the other figures when all is set.
    bool evaluate(const QList<Staffdata>& staff, QList<PersonStatus>& rows, const QDateTime& at);
    bool compute(const QString& idCard, const QDateTime& at, bool all, DoseFigures& figures);

    DataBase& database;
    QSqlDatabase db;
    DosePolicy rules;
};
