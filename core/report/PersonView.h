#pragma once

// What the main window shows of one person, as data: the dose curve of a
// day, a month or a year, and the dose of record of the last twelve months
// against the annual limit.

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "core/register/Staffdata.h"

class Store;

class PersonView
{
public:
    // The curve's view: the hours of a day, the days of a month, the
    // months of a year; None draws nothing.
    enum Mode { None = -1, Day = 0, Month = 1, Year = 2 };

    // Reads the person of idCard (ptype picks the limit) for the view of
    // the period around shown, the used dose as of now. False when anything
    // could not be read: no figure of it may be shown then.
    bool load(Store& store, QSqlDatabase db, const QString& idCard, int ptype, Mode mode, const QDate& shown,
              const QDateTime& now);

    // Never wore a dosimeter: there is no curve and no dose to show.
    bool bound = true;
    Staffdata staff;
    // The curve's mode for the plot (None draws as Day), its axis ends,
    // points and legend.
    int curveMode = 0;
    QString begin;
    QString end;
    QList<QVariant> points;
    QString legend;
    // μSv: the dose of record of the last twelve months, the annual limit,
    // and what is left of it.
    double used = 0.0;
    double limit = 0.0;
    // The months of the last twelve whose dose of record is an approved
    // adjustment, and whether one of them waits for approval.
    QStringList adjusted;
    bool pending = false;
    QStringList passive; // months of the last-year figure taken from passive results
    double left() const { return limit - used; }
    // The shares of the limit for the pie: left, then used.
    QList<double> shares() const;
};
