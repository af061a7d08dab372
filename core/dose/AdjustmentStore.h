#pragma once

// The dose adjustments (table "DoseAdjustment"): a corrected dose (replace)
// or a notional one of a person's month, filed with its reason and value,
// approved by a second account (or when filed, where the policy allows) or
// withdrawn while pending. The originals stay as they are; an approved or
// withdrawn row never changes again, which the database itself enforces.

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "core/dose/DoseAdjustmentdata.h"

class Store;

class AdjustmentStore
{
public:
    explicit AdjustmentStore(Store& store);

    static const char* const kTable;   // "DoseAdjustment"
    static const char* const kKept;    // the error a change of a settled row meets
    static const char* const kInUse;   // the error a deletion of a person with adjustments meets

    // The table, its guards and the guard of the people who have
    // adjustments, in the dialect of db's store; and their trigger names
    // (what a station checks for).
    static QStringList layout(const QSqlDatabase& db);
    static QStringList guardNames(const QSqlDatabase& db);
    bool layOut(const QSqlDatabase& db);

    struct Filing
    {
        QString idCard;
        QString month; // "yyyyMM"
        QString kind;  // replace or notional
        QString method; // stated, mean12 or dept_median
        double value = -1; // μSv, as computed and shown before saving
        QString reason;
    };
    // What is wrong with a filing before anything is read, in the
    // officer's words; empty when none. thisMonth is "yyyyMM" of today.
    static QString problem(const Filing& filing, const QString& thisMonth);

    // Files an adjustment by actor: pending, or approved at once when the
    // policy needs no second account (and the audit trail says so). The new
    // id, or 0 with why. An approval at once raises the alerts it calls for;
    // raised, when given, counts them.
    int file(const Filing& filing, const QString& actor, QString* why, QSqlDatabase db, int* raised = nullptr);
    // Approves pending adjustment id by actor, who must not be its author;
    // the person's levels are judged anew and their alerts raised.
    bool approve(int id, const QString& actor, QString* why, QSqlDatabase db, int* raised = nullptr);
    // Withdraws pending adjustment id, with a reason.
    bool withdraw(int id, const QString& reason, const QString& actor, QString* why, QSqlDatabase db);

    // Every adjustment (only the pending ones when pendingOnly), with the
    // person's name, in order of id.
    bool select(QList<DoseAdjustmentdata>& list, bool pendingOnly, QSqlDatabase db);
    // Those of one person, in order of month, then id.
    bool selectByCard(QList<DoseAdjustmentdata>& list, const QString& idCard, QSqlDatabase db);
    bool selectById(DoseAdjustmentdata& row, int id, QSqlDatabase db);
    // The approved and pending adjustments of a person's months first..last
    // ("yyyyMM"), the approved ones in the order they were approved: the
    // last approved of a month is the one that counts. Without the lock
    // (the dose of record reads it inside its own reads).
    static bool forMonths(QList<DoseAdjustmentdata>& list, const QString& idCard, const QString& first,
                          const QString& last, const QSqlDatabase& db);

private:
    // The person's levels judged as of now and the alerts raised; how many.
    int judgeAnew(const QString& idCard, QSqlDatabase db);

    Store& store;
};
