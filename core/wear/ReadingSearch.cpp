// The statements of the data query, in the store's own terms of order.
#include "core/wear/ReadingSearch.h"

#include <QtGlobal>

#include "core/store/Dialect.h"

namespace {

// Time, then address, then name: the order a server is told; a file gives
// its rows in the order it stored them.
const char* const kOrder = " order by 1, 4, 2";

QString timeClause(const char* table, const QString& start, const QString& end)
{
    const QChar q = QLatin1Char('"');
    // No blank before "and": the statement has always read this way and
    // SQLite accepts it.
    return QStringLiteral(",") + QLatin1String(table)
        + QStringLiteral(" a where c.ID_card = b.ID_card and c.slaveId = a.slaveId and a.dataTime >= ") + q + start
        + q + QStringLiteral("and a.dataTime <= ") + q + end + q;
}

} // namespace

QString ReadingSearch::presentBinding(const WearAttribution::Criteria& criteria, QVariantList* values)
{
    QString sql = QStringLiteral("select a.dataTime ,b.name,b.department,c.slaveId, a.probeValue from Staff b ,Device c");
    static const char* const tables[] = {"Realdata", "Monthdata", "Yeardata"};
    if (criteria.timed)
        sql += timeClause(tables[criteria.kind], criteria.from, criteria.to);
    else
        sql += QStringLiteral(",Realdata a where c.ID_card = b.ID_card and c.slaveId = a.slaveId");

    // Typed text travels as bound values, so quotes in a name do no harm.
    QVariantList bound;
    if (criteria.byName) {
        sql += QStringLiteral(" and b.name = ?");
        bound << criteria.name;
    }
    if (criteria.byCard) {
        sql += QStringLiteral(" and c.ID_card = ?");
        bound << criteria.card;
    }
    if (values)
        *values += bound;
    return sql;
}

QString ReadingSearch::count(const QString& query)
{
    return QStringLiteral("select count(*) from (") + query + QStringLiteral(") t;");
}

QString ReadingSearch::page(const QSqlDatabase& db, const QString& query, int offset, int rows, int totalRows)
{
    if (Dialect::keepsStoredOrder(db))
        return query + QStringLiteral(" limit %1 offset %2;").arg(rows).arg(offset);
    if (offset * 2 <= totalRows)
        return query + QLatin1String(kOrder) + QStringLiteral(" limit %1 offset %2;").arg(rows).arg(offset);
    // A page of the back half is counted from the end, so that the last
    // pages skip no more rows than the first ones; its few rows are put
    // back in order.
    const int kept = qBound(0, totalRows - offset, rows);
    return QStringLiteral("select * from (") + query
        + QStringLiteral(" order by 1 desc, 4 desc, 2 desc limit %1 offset %2) t").arg(kept).arg(totalRows - offset - kept)
        + QLatin1String(kOrder) + QStringLiteral(";");
}

QString ReadingSearch::whole(const QSqlDatabase& db, const QString& query)
{
    return query + (Dialect::keepsStoredOrder(db) ? QString() : QLatin1String(kOrder)) + QStringLiteral(";");
}
