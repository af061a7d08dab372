#pragma once

// The passive dosimeters' results as the dose of record of the months they cover, where the policy says so.

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include "core/dose/DoseOfRecord.h"
#include "core/wear/WearAttribution.h"

class Store;
struct PassiveResultdata;

// With dose_of_record_passive = 1, a month covered by passive results takes
// its dose from them. Each result that counts (not replaced) with a dose
// (Hp(10); "M" is 0) is split over its days by the person's gross
// electronic dose: a part of the period gets the share of the period's gross
// electronic dose that falls in it, or its share of the period's time where
// the electronic dosimeter recorded nothing. Not returned and unused
// dosimeters give no dose: their days keep the electronic dose.
// A month only partly covered adds the electronic dose of its other days,
// netted by the monthly rule on those days together (dose − background ×
// readings, not below 0). A period inside the window is split to the
// hundredth of a μSv so that its parts add up to the laboratory's figure.
class PassiveDose
{
public:
    PassiveDose(Store& database, QSqlDatabase db, const QList<WearAttribution::Span>& spans,
                const QList<int>& slaveIds, double background);

    // The passive dose of a result, in μSv; false when it has none (not
    // returned, unused, or no Hp(10) given).
    static bool doseOf(const PassiveResultdata& result, double& dose);
    // The days of a result as a window: its first day 00:00 to the day after its last.
    static QDateTime startOf(const PassiveResultdata& result);
    static QDateTime endOf(const PassiveResultdata& result);

    // Puts the person's passive results on months the electronic rule
    // worked out for [from, to). False when anything cannot be read.
    bool apply(const QString& idCard, const QDateTime& from, const QDateTime& to, DoseOfRecord::Months& months);

private:
    // The person's gross electronic dose of [a, b), whether any figure was
    // stored there, and the number of hourly readings.
    bool gross(const QDateTime& a, const QDateTime& b, double& dose, bool* stored = nullptr);
    bool readings(const QDateTime& a, const QDateTime& b, int& count);

    Store& database;
    QSqlDatabase db;
    QList<WearAttribution::Span> spans;
    QList<int> slaveIds;
    double background;
};
