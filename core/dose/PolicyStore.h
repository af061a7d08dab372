#pragma once

// The stored dose policy (table "DosePolicy": name, value): every row the
// program knows starts with its default, and a change writes all of them in
// one audited transaction.

#include <QList>
#include <QMap>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

class Store;

class PolicyStore
{
public:
    explicit PolicyStore(Store& store);

    // The table; then, once the audit trail is there to sign the change,
    // the rows that are missing with their defaults.
    bool createTable(const QSqlDatabase& db);
    bool addDefaults(const QSqlDatabase& db);
    // Every stored row, name -> value as stored.
    bool select(QMap<QString, QVariant>& rows, QSqlDatabase db);
    // Writes (inserts or replaces) every row in one transaction.
    bool update(const QList<QPair<QString, double>>& rows, QSqlDatabase db);

private:
    Store& store;
};
