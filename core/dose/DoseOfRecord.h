#pragma once

// The monthly dose of record: the one rule that turns a person's attributed
// readings into the figures every screen, report, alert and dosectl adds up.

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

#include "core/wear/WearAttribution.h"

class Store;

class DoseOfRecord
{
public:
    // One calendar month (or the part of it a window covers): the net dose
    // in hundredths of a μSv, and whether any reading of the person lies in
    // it. A month that was not monitored counts as 0 but is shown as "—".
    struct Month
    {
        qint64 cents = 0;
        bool monitored = false;

        double dose() const { return cents / 100.0; }
    };
    // "yyyyMM" -> the month's dose of record, every month of a window, in order.
    using Months = QMap<QString, Month>;

    // The rule itself: max(0, dose − background × readings), rounded to
    // 0.01 μSv; not monitored when the month has neither a reading nor a
    // stored total of the person.
    static Month of(double dose, int readings, bool stored, double background);

    // Each calendar month's part of [from, to), netted on its own. False
    // when anything it depends on cannot be read.
    static bool months(Store& database, QSqlDatabase db, const QString& idCard, const QDateTime& from,
                       const QDateTime& to, double background, Months& months);
    // The same from the person's spans, as WearAttribution::effectiveSpans
    // gives them (read once for several windows).
    static bool months(Store& database, QSqlDatabase db, const QList<WearAttribution::Span>& spans,
                       const QList<int>& slaveIds, const QDateTime& from, const QDateTime& to, double background,
                       Months& months);

    // The sum of the months from "yyyyMM" first on (all when empty), in
    // hundredths of a μSv.
    static qint64 sum(const Months& months, const QString& first = QString());
    // Whether any of those months was monitored.
    static bool monitored(const Months& months, const QString& first = QString());
};
