#pragma once

// Deleting a person together with their dose history: their wear periods,
// the readings of the hours they wore and the totals made of them. Readings
// of other wearers of the same dosimeter stay; day and month totals cut by
// a period are summed again from what stays. One transaction, audited.

#include <QSqlDatabase>
#include <QString>

class Store;

class StaffRemoval
{
public:
    explicit StaffRemoval(Store& store);

    bool removeWithHistory(int staffId, QSqlDatabase db);

private:
    // A day's total from its hourly readings, a month's from its day totals;
    // a total with nothing left under it goes.
    bool recomputeTotal(const QSqlDatabase& db, int slaveId, const QString& key, bool month);

    Store& store;
};
