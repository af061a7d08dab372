#pragma once

// The monthly dose of record: the one rule that turns a person's attributed
// readings into the figures every screen, report, alert and dosectl adds up.

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "core/wear/WearAttribution.h"

class DosePolicy;
class Store;

class DoseOfRecord
{
public:
    // One calendar month (or the part of it a window covers): the net dose
    // in hundredths of a μSv, and whether any reading of the person lies in
    // it. A month that was not monitored counts as 0 but is shown as "—".
    //
    // An approved adjustment (DoseAdjustment) of the month replaces its
    // dose of record, whole even where a window takes only part of the
    // month; the original stays beside it. Of two approved for one month
    // the one approved later counts.
    //
    // Where the policy makes the passive dosimeters' results the dose of
    // record (PassiveDose), a month they cover takes its dose from them,
    // and says so in source.
    enum Source { Electronic, Passive, PartlyPassive };
    struct Month
    {
        qint64 cents = 0;
        bool monitored = false;
        Source source = Electronic;
        // Before any adjustment: from the readings, or from the passive
        // results where they count.
        qint64 originalCents = 0;
        bool originalMonitored = false;
        // The approved adjustment that counts (0: none), its kind, method
        // and reason; and whether one waits for approval.
        int adjustment = 0;
        QString kind;
        QString method;
        QString reason;
        bool pending = false;

        double dose() const { return cents / 100.0; }
        double original() const { return originalCents / 100.0; }
        bool adjusted() const { return adjustment != 0; }
    };
    // "yyyyMM" -> the month's dose of record, every month of a window, in order.
    using Months = QMap<QString, Month>;

    // The rule itself: max(0, dose − background × readings), rounded to
    // 0.01 μSv; not monitored when the month has neither a reading nor a
    // stored total of the person.
    static Month of(double dose, int readings, bool stored, double background);

    // The dose of record of each calendar month's part of [from, to) under
    // the policy: netted on its own by its background, the passive results
    // taken where the policy says so, and the approved adjustments applied.
    // False when anything it depends on cannot be read.
    static bool months(Store& database, QSqlDatabase db, const QString& idCard, const QDateTime& from,
                       const QDateTime& to, const DosePolicy& policy, Months& months);
    // The same from the electronic readings alone, whatever the policy says
    // of passive results, with the approved adjustments applied.
    static bool electronicMonths(Store& database, QSqlDatabase db, const QString& idCard, const QDateTime& from,
                                 const QDateTime& to, double background, Months& months);
    // The same from the readings alone, no adjustment applied.
    static bool originalMonths(Store& database, QSqlDatabase db, const QString& idCard, const QDateTime& from,
                               const QDateTime& to, double background, Months& months);
    // The person's adjustments put on months already worked out.
    static bool adjust(QSqlDatabase db, const QString& idCard, Months& months);
    // The same from the person's spans, as WearAttribution::effectiveSpans
    // gives them (read once for several windows), from the readings alone.
    static bool months(Store& database, QSqlDatabase db, const QList<WearAttribution::Span>& spans,
                       const QList<int>& slaveIds, const QDateTime& from, const QDateTime& to, double background,
                       Months& months);

    // The sum of the months from "yyyyMM" first on (all when empty), in
    // hundredths of a μSv.
    static qint64 sum(const Months& months, const QString& first = QString());
    // Whether any of those months was monitored.
    static bool monitored(const Months& months, const QString& first = QString());
    // The adjusted months (approved ones) from first on, in order.
    // The months from first on whose dose came, all or part, from passive
    // results (and no approved adjustment replaced it).
    static QStringList passiveMonths(const Months& months, const QString& first = QString());
    // 电子, 个人剂量计 or 部分个人剂量计, as the record shows a month's source.
    static QString sourceText(Source source);
    static QStringList adjustedMonths(const Months& months, const QString& first = QString());
    // Whether one of those months has an adjustment waiting for approval.
    static bool pending(const Months& months, const QString& first = QString());
};
