#pragma once

// The alerts (table "DoseAlert"): one row per person, level and period,
// raised once and acknowledged once, with who did it and why.

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include "core/dose/DoseAlertdata.h"

class Store;

class AlertStore
{
public:
    explicit AlertStore(Store& store);

    bool layOut(const QSqlDatabase& db);
    // 1 when inserted, 0 when it existed already, -1 on failure.
    int insertOnce(const DoseAlertdata& alert, QSqlDatabase db);
    // Newest first; only those not yet acknowledged when unackedOnly.
    bool select(QList<DoseAlertdata>& list, bool unackedOnly, QSqlDatabase db);
    // Acknowledges alert id unless it was acknowledged before; true when it
    // was changed now.
    bool acknowledge(int id, const QString& ackAt, const QString& ackBy, const QString& comment, QSqlDatabase db);

private:
    Store& store;
};
