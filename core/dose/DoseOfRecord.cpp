// The monthly dose of record worked out: each month's net dose, and the sums over a window.

#include "core/dose/DoseOfRecord.h"

#include "core/time/TimeKey.h"

#include <QStringList>
#include <QVector>

#include "core/dose/AdjustmentStore.h"
#include "core/dose/DosePolicy.h"
#include "core/dose/PassiveDose.h"
#include "core/store/Store.h"

namespace {

QString key(const QDateTime& t)
{
    return TimeKey::of(t);
}

} // namespace

DoseOfRecord::Month DoseOfRecord::of(double dose, int readings, bool stored, double background)
{
    Month m;
    m.monitored = stored || readings > 0;
    const double net = dose - background * readings;
    if (m.monitored && net > 0)
        m.cents = qRound64(net * 100.0);
    m.originalCents = m.cents;
    m.originalMonitored = m.monitored;
    return m;
}

bool DoseOfRecord::months(Store& database, QSqlDatabase db, const QString& idCard, const QDateTime& from,
                          const QDateTime& to, const DosePolicy& policy, Months& result)
{
    if (!policy.passiveOfRecord())
        return electronicMonths(database, db, idCard, from, to, policy.background(), result);
    result.clear();
    QList<WearAttribution::Span> spans;
    QList<int> slaveIds;
    return WearAttribution::effectiveSpans(&database, db, idCard, spans, &slaveIds)
        && months(database, db, spans, slaveIds, from, to, policy.background(), result)
        && PassiveDose(database, db, spans, slaveIds, policy.background()).apply(idCard, from, to, result)
        && adjust(db, idCard, result);
}

bool DoseOfRecord::electronicMonths(Store& database, QSqlDatabase db, const QString& idCard, const QDateTime& from,
                                    const QDateTime& to, double background, Months& result)
{
    return originalMonths(database, db, idCard, from, to, background, result) && adjust(db, idCard, result);
}

bool DoseOfRecord::adjust(QSqlDatabase db, const QString& idCard, Months& result)
{
    if (result.isEmpty())
        return true;
    QList<DoseAdjustmentdata> found;
    if (!AdjustmentStore::forMonths(found, idCard, result.firstKey(), result.lastKey(), db))
        return false;
    // Approved ones come in the order of their approval: the last one counts.
    for (const DoseAdjustmentdata& a : qAsConst(found)) {
        const auto m = result.find(a.month);
        if (m == result.end())
            continue;
        if (a.state != QLatin1String("approved")) {
            m->pending = true;
            continue;
        }
        m->cents = qRound64(a.value_uSv * 100.0);
        m->monitored = true;
        m->adjustment = a.id;
        m->kind = a.kind;
        m->method = a.method;
        m->reason = a.reason;
    }
    return true;
}

bool DoseOfRecord::originalMonths(Store& database, QSqlDatabase db, const QString& idCard, const QDateTime& from,
                                  const QDateTime& to, double background, Months& result)
{
    result.clear();
    QList<WearAttribution::Span> spans;
    QList<int> slaveIds;
    return WearAttribution::effectiveSpans(&database, db, idCard, spans, &slaveIds)
        && months(database, db, spans, slaveIds, from, to, background, result);
}

bool DoseOfRecord::months(Store& database, QSqlDatabase db, const QList<WearAttribution::Span>& spans,
                          const QList<int>& slaveIds, const QDateTime& from, const QDateTime& to, double background,
                          Months& result)
{
    result.clear();
    if (!from.isValid() || !to.isValid())
        return false;
    if (!(from < to))
        return true;
    // The window cut at every month's first hour: one segment per month.
    QStringList bounds{key(from)};
    for (QDate m = QDate(from.date().year(), from.date().month(), 1).addMonths(1); QDateTime(m, QTime(0, 0)) < to;
         m = m.addMonths(1))
        bounds << key(QDateTime(m, QTime(0, 0)));
    bounds << key(to);
    WearAttribution::Figures doses;
    QVector<int> readings;
    if (!WearAttribution::collect(&database, db, spans, slaveIds, WearAttribution::Months, from, to, doses)
        || !WearAttribution::countSegments(&database, db, spans, slaveIds, bounds, readings))
        return false;
    for (int i = 0; i + 1 < bounds.size(); ++i) {
        const QString month = bounds[i].left(6);
        const auto found = doses.values.constFind(month);
        const bool stored = found != doses.values.cend();
        result.insert(month, of(stored ? found.value() : 0.0, readings.value(i), stored, background));
    }
    return true;
}

qint64 DoseOfRecord::sum(const Months& months, const QString& first)
{
    qint64 cents = 0;
    for (auto it = months.lowerBound(first); it != months.cend(); ++it)
        cents += it->cents;
    return cents;
}

bool DoseOfRecord::monitored(const Months& months, const QString& first)
{
    for (auto it = months.lowerBound(first); it != months.cend(); ++it) {
        if (it->monitored)
            return true;
    }
    return false;
}

QStringList DoseOfRecord::adjustedMonths(const Months& months, const QString& first)
{
    QStringList found;
    for (auto it = months.lowerBound(first); it != months.cend(); ++it) {
        if (it->adjusted())
            found << it.key();
    }
    return found;
}

QStringList DoseOfRecord::passiveMonths(const Months& months, const QString& first)
{
    QStringList found;
    for (auto it = months.lowerBound(first); it != months.cend(); ++it) {
        if (it->source != Electronic && !it->adjusted())
            found << it.key();
    }
    return found;
}

QString DoseOfRecord::sourceText(Source source)
{
    switch (source) {
    case Passive:
        return QStringLiteral("个人剂量计");
    case PartlyPassive:
        return QStringLiteral("部分个人剂量计");
    case Electronic:
        break;
    }
    return QStringLiteral("电子");
}

bool DoseOfRecord::pending(const Months& months, const QString& first)
{
    for (auto it = months.lowerBound(first); it != months.cend(); ++it) {
        if (it->pending)
            return true;
    }
    return false;
}
