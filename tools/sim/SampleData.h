#pragma once

#include <QDateTime>
#include <QString>

class DataBase;
class SettingsAdpater;

// Fills a database with a small sample register (departments, staff with
// photos, bound dosimeters) and a year of hourly readings stored through the
// program's own storage path, so that totals are what a synchronisation
// would have produced. Used by the screenshot tool and the demos.
class SampleData
{
public:
    // Readings cover the year that ends at the hour before `now`.
    static bool fill(DataBase* database, SettingsAdpater* settings, const QDateTime& now);

    static QByteArray readReply(int address, const QDateTime& from, int hours, int seed);
};
