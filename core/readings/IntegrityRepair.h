#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "core/readings/IntegrityFinding.h"

// What `dosectl check --repair` did to the totals, and what it left as it was.
struct IntegrityRepair
{
    struct Counts
    {
        int inserted = 0;
        int updated = 0;
        int deleted = 0;

        int changed() const { return inserted + updated + deleted; }
        QString text() const
        {
            return QStringLiteral("%1 inserted, %2 updated, %3 deleted").arg(inserted).arg(updated).arg(deleted);
        }
        // The same for the officer; text() is what the audit trail keeps.
        QString shown() const
        {
            return QStringLiteral("插入 %1 行，更新 %2 行，删除 %3 行").arg(inserted).arg(updated).arg(deleted);
        }
    };

    Counts days;   // Monthdata
    Counts months; // Yeardata
    // One line per row inserted, updated or deleted.
    QStringList changes;
    // The findings a repair does not mend: totals without readings (history
    // of years whose readings are gone), duplicate readings, overlapping
    // periods.
    QList<IntegrityFinding> left;
};
