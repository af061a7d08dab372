#pragma once

#include <QString>

// One reading of the reply being stored, kept until the totals it changes
// have been written in the same transaction.
struct PendingReading
{
    double probeValue = 0.0; // μSv
    QString dataTime;        // "yyyyMMddhhmmss"
};
