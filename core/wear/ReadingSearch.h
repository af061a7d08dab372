#pragma once

// The data query's statements: the readings the officer's criteria select,
// counted, shown a page at a time and streamed whole, in one order.

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include "core/wear/WearAttribution.h"

class ReadingSearch
{
public:
    // The readings of the criteria joined to the staff through the
    // register's present binding, without terminator. Typed values are "?"
    // placeholders, appended to values in order.
    static QString presentBinding(const WearAttribution::Criteria& criteria, QVariantList* values);
    // The number of rows query gives, as one row of one column.
    static QString count(const QString& query);
    // The rows of query from offset, at most rows of them, in the order
    // whole() gives; totalRows is what count() found.
    static QString page(const QSqlDatabase& db, const QString& query, int offset, int rows, int totalRows);
    // Every row of query in the order the pages show them.
    static QString whole(const QSqlDatabase& db, const QString& query);
};
