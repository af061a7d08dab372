#pragma once

// The department report of a period: its rows, department groups and totals.

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "core/dose/DoseLevel.h"

class Store;

// What the department report (部门剂量报表) of a period shows: one row per
// person with the dose of record of the period (each month's part netted on
// its own), the year so far and the level at
// the period's end (as dosectl status judges them), grouped by department
// with subtotals and a total.
class PeriodReport
{
public:
    struct Row
    {
        QString idCard;
        QString name;
        int ptype = 0;
        double period = 0;
        double yearToDate = 0;
        DoseLevel::Level level = DoseLevel::Normal;
        bool monitored = false; // any reading of the person in the period
        // 更正 and/or 估算 when months of the period are approved adjustments.
        QStringList marks;
    };
    struct Group
    {
        QString department;
        QList<Row> rows;
        double period = 0;
        double yearToDate = 0;
    };

    QDate from;
    QDate to;
    QString department; // empty: every department
    QList<Group> groups;
    double period = 0;
    double yearToDate = 0;
    QDateTime generated;

    int people() const;

    // Why the period cannot be reported (to before from, longer than ten
    // years); empty when it can.
    static QString periodProblem(const QDate& from, const QDate& to);
    // The report of one department (all when department is empty), from the
    // first hour of from through the last of to. False with why when the
    // period is refused, the department is unknown or the database cannot
    // be read.
    static bool load(Store& database, QSqlDatabase db, const QString& department, const QDate& from,
                     const QDate& to, PeriodReport& report, QString* why);
};
