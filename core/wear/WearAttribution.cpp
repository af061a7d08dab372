// Readings given to the wearers whose periods cover their hours, taken from the stored totals
// wherever a whole day or month allows.

#include "core/wear/WearAttribution.h"

#include <QDebug>
#include <QSet>

#include <algorithm>

#include "core/time/Clock.h"
#include "core/time/TimeKey.h"
#include "core/store/Store.h"
#include "core/wear/WearPeriods.h"
#include "core/readings/ReadingStore.h"
#include "core/readings/Realdata.h"
#include "core/readings/totaldata_mon.h"
#include "core/readings/totaldata_year.h"

namespace {

const QString kNever = QStringLiteral("99999999999999");

QString key(const QDateTime& t)
{
    return TimeKey::of(t);
}

// [start, end) less every span of cuts.
QList<WearAttribution::Span> subtract(const WearAttribution::Span& whole, const QList<WearAttribution::Span>& cuts)
{
    QList<WearAttribution::Span> pieces{whole};
    for (const WearAttribution::Span& cut : cuts) {
        QList<WearAttribution::Span> next;
        for (const WearAttribution::Span& p : qAsConst(pieces)) {
            if (cut.second <= p.first || cut.first >= p.second) {
                next.append(p);
                continue;
            }
            if (p.first < cut.first)
                next.append({p.first, cut.first});
            if (cut.second < p.second)
                next.append({cut.second, p.second});
        }
        pieces = next;
    }
    return pieces;
}

struct Reader
{
    Store* database;
    QSqlDatabase db;
    int slaveId;
    int keyLength;
    WearAttribution::Figures* figures;
    bool ok = true;
    bool contributed = false;

    template <typename Record>
    void read(int table, const QString& from, const QString& to)
    {
        QList<QVariant> rows;
        if (!ReadingStore(*database).selectDataByTime(table, rows, slaveId, from, to, db)) {
            ok = false;
            return;
        }
        for (const QVariant& v : qAsConst(rows)) {
            const Record r = v.value<Record>();
            figures->values[r.dataTime.left(keyLength)] += r.probeValue;
            contributed = true;
        }
    }
    // Bounds [a, b) of each granularity; the stored ranges are inclusive.
    void hours(const QDateTime& a, const QDateTime& b) { read<Realdata>(0, key(a), key(b.addSecs(-1))); }
    void days(const QDate& a, const QDate& b)
    {
        // Up to the end of February, the register reads the 29th in every
        // fourth year, century years included (a key stored for that day
        // is shown).
        const QDate last = b.addDays(-1);
        QString lastKey = last.toString(QStringLiteral("yyyyMMdd"));
        if (b.day() == 1 && last.month() == 2 && last.year() % 4 == 0)
            lastKey = last.toString(QStringLiteral("yyyy")) + QStringLiteral("0229");
        read<totaldata_mon>(1, a.toString(QStringLiteral("yyyyMMdd")), lastKey);
    }
    void months(const QDate& a, const QDate& b)
    {
        read<totaldata_year>(2, a.toString(QStringLiteral("yyyyMM")), b.addMonths(-1).toString(QStringLiteral("yyyyMM")));
    }
};

QDate monthStartOnOrAfter(const QDate& d)
{
    return d.day() == 1 ? d : QDate(d.year(), d.month(), 1).addMonths(1);
}

} // namespace

QString WearAttribution::hourKey(const QDateTime& t)
{
    return TimeKey::hourOf(t);
}

QString WearAttribution::nowKey()
{
    return hourKey(Clock::now());
}

bool WearAttribution::effectiveSpans(Store* database, QSqlDatabase db, const QString& idCard, QList<Span>& spans,
                                     QList<int>* slaveIds)
{
    spans.clear();
    if (slaveIds)
        slaveIds->clear();
    // Periods that cannot be read are an error, never "wore nothing".
    QList<Wearingdata> own;
    if (!WearPeriods(*database).selectByIdCard(own, idCard, db))
        return false;
    QMap<int, QList<Wearingdata>> byAddress;
    for (const Wearingdata& w : qAsConst(own)) {
        if (!byAddress.contains(w.slaveId)) {
            QList<Wearingdata> all;
            if (!WearPeriods(*database).selectBySlaveId(all, w.slaveId, db))
                return false;
            byAddress.insert(w.slaveId, all);
        }
        // Hours a later-started period of the address covers are not ours.
        QList<Span> cuts;
        for (const Wearingdata& o : byAddress.value(w.slaveId)) {
            if (o.startTime > w.startTime || (o.startTime == w.startTime && o.id > w.id))
                cuts.append({o.startTime, o.endTime.isEmpty() ? kNever : o.endTime});
        }
        const Span whole{w.startTime, w.endTime.isEmpty() ? kNever : w.endTime};
        if (!(whole.first < whole.second))
            continue;
        for (const Span& s : subtract(whole, cuts)) {
            spans.append(s);
            if (slaveIds)
                slaveIds->append(w.slaveId);
        }
    }
    return true;
}

bool WearAttribution::collect(Store* database, QSqlDatabase db, const QString& idCard, Kind kind,
                              const QDateTime& from, const QDateTime& to, Figures& figures)
{
    figures = Figures();
    if (!database || !db.isOpen())
        return false;
    QList<int> slaveIds;
    QList<Span> spans;
    return effectiveSpans(database, db, idCard, spans, &slaveIds)
        && collect(database, db, spans, slaveIds, kind, from, to, figures);
}

bool WearAttribution::collect(Store* database, QSqlDatabase db, const QList<Span>& spans,
                              const QList<int>& slaveIds, Kind kind, const QDateTime& from, const QDateTime& to,
                              Figures& figures)
{
    figures = Figures();
    if (!database || !db.isOpen() || !from.isValid() || !to.isValid() || !(from < to))
        return false;
    const QString lo = key(from);
    const QString hi = key(to);
    const int keyLength = kind == Hours ? 14 : kind == Days ? 8 : 6;
    QSet<int> contributors;
    bool ok = true;
    for (int i = 0; i < spans.size(); ++i) {
        const QString s = qMax(spans[i].first, lo);
        const QString e = qMin(spans[i].second, hi);
        if (!(s < e))
            continue;
        const QDateTime a = TimeKey::parse(s);
        const QDateTime b = TimeKey::parse(e);
        if (!a.isValid() || !b.isValid())
            continue; // no time of the calendar: no reading can lie there
        Reader r{database, db, slaveIds[i], keyLength, &figures};
        const QDate d0 = a.time() == QTime(0, 0) ? a.date() : a.date().addDays(1);
        const QDate d1 = b.date();
        if (kind == Hours || !(d0 < d1)) {
            r.hours(a, b);
        } else {
            // Hours of the days cut by the span's ends, totals in between.
            if (a < QDateTime(d0, QTime(0, 0)))
                r.hours(a, QDateTime(d0, QTime(0, 0)));
            if (QDateTime(d1, QTime(0, 0)) < b)
                r.hours(QDateTime(d1, QTime(0, 0)), b);
            const QDate m0 = monthStartOnOrAfter(d0);
            const QDate m1(d1.year(), d1.month(), 1);
            if (kind == Days || !(m0 < m1)) {
                r.days(d0, d1);
            } else {
                if (d0 < m0)
                    r.days(d0, m0);
                if (m1 < d1)
                    r.days(m1, d1);
                r.months(m0, m1);
            }
        }
        ok = ok && r.ok;
        if (r.contributed)
            contributors.insert(slaveIds[i]);
    }
    figures.addresses = contributors.values();
    std::sort(figures.addresses.begin(), figures.addresses.end());
    return ok;
}

bool WearAttribution::countSegments(Store* database, QSqlDatabase db, const QList<Span>& spans,
                                   const QList<int>& slaveIds, const QStringList& bounds, QVector<int>& counts)
{
    counts.fill(0, qMax(0, bounds.size() - 1));
    if (bounds.size() < 2)
        return true;
    for (int i = 0; i < spans.size(); ++i) {
        // Segments outside the span's first and last reading hold none: a
        // five-year window of a person who wore a dosimeter for a year is
        // counted in a dozen queries, not sixty.
        QString first, last;
        const int found = ReadingStore(*database).readingRange(slaveIds[i], qMax(spans[i].first, bounds.first()),
                                                 qMin(spans[i].second, bounds.last()), first, last, db);
        if (found < 0)
            return false;
        if (found == 0)
            continue;
        for (int k = 0; k + 1 < bounds.size(); ++k) {
            const QString s = qMax(spans[i].first, bounds[k]);
            const QString e = qMin(spans[i].second, bounds[k + 1]);
            if (!(s < e) || bounds[k + 1] <= first || last < bounds[k])
                continue;
            const int n = ReadingStore(*database).countReadings(slaveIds[i], s, e, db);
            if (n < 0)
                return false;
            counts[k] += n;
        }
    }
    return true;
}

int WearAttribution::countUnattributed(Store* database, QSqlDatabase db, int slaveId)
{
    const int all = ReadingStore(*database).countReadings(slaveId, QStringLiteral("0"), QStringLiteral("A"), db);
    if (all <= 0)
        return all;
    QList<Wearingdata> periods;
    if (!WearPeriods(*database).selectBySlaveId(periods, slaveId, db))
        return -1;
    // The union of the address's periods, each reading counted once.
    QList<Span> merged;
    for (const Wearingdata& w : qAsConst(periods)) {
        const Span s{w.startTime, w.endTime.isEmpty() ? kNever : w.endTime};
        if (!(s.first < s.second))
            continue;
        if (!merged.isEmpty() && s.first <= merged.last().second)
            merged.last().second = qMax(merged.last().second, s.second);
        else
            merged.append(s);
    }
    int covered = 0;
    for (const Span& s : qAsConst(merged)) {
        const int n = ReadingStore(*database).countReadings(slaveId, s.first, s.second, db);
        if (n < 0)
            return -1;
        covered += n;
    }
    return all - covered;
}

QString WearAttribution::legend(const QList<int>& addresses)
{
    QStringList numbers;
    for (int a : addresses)
        numbers << QString::number(a);
    return numbers.join(QLatin1Char(',')) + QStringLiteral("号设备");
}

namespace {

const char* const kSelect = "select a.dataTime ,b.name,b.department,c.slaveId, a.probeValue";
const char* const kJoin = " from Staff b ,Wearing c ,%1 a where c.ID_card = b.ID_card and c.slaveId = a.slaveId";
const char* const kInPeriod = " and a.dataTime >= c.startTime and (c.endTime = '' or a.dataTime < c.endTime)";
// Another period of the address, started later, covering the reading.
const char* const kLatest =
    " and not exists (select 1 from Wearing w where w.slaveId = c.slaveId and (w.startTime > c.startTime"
    " or (w.startTime = c.startTime and w.id > c.id)) and w.startTime <= a.dataTime"
    " and (w.endTime = '' or a.dataTime < w.endTime))";
const char* const kWholeDay =
    " and c.startTime <= a.dataTime || '000000' and (c.endTime = '' or c.endTime >= a.dataTime || '24')";
const char* const kWholeMonth =
    " and c.startTime <= a.dataTime || '01000000' and (c.endTime = '' or c.endTime >= a.dataTime || '32')";
// Readings' keys are stored as numbers (the column is declared "date"), so
// every bound compared with them has their own length: 14 digits for hours,
// 8 for days.
// The hours of the day on which a period starts, when it starts within the
// day; of the day on which it ends, when it ends within the day and that is
// not its start day too (the first arm has that one).
const char* const kStartDayHours =
    " and substr(c.startTime,9) <> '000000' and a.dataTime >= c.startTime"
    " and a.dataTime < substr(c.startTime,1,8) || '240000' and (c.endTime = '' or a.dataTime < c.endTime)";
const char* const kEndDayHours =
    " and c.endTime <> '' and substr(c.endTime,9) <> '000000' and a.dataTime >= substr(c.endTime,1,8) || '000000'"
    " and a.dataTime >= c.startTime and a.dataTime < c.endTime"
    " and not (substr(c.startTime,9) <> '000000' and substr(c.startTime,1,8) = substr(c.endTime,1,8))";
// The same for the day totals of the months a period cuts.
const char* const kStartMonthDays =
    " and substr(c.startTime,7) <> '01000000' and a.dataTime >= substr(c.startTime,1,6)"
    " and a.dataTime < substr(c.startTime,1,6) || '32'";
const char* const kEndMonthDays =
    " and c.endTime <> '' and substr(c.endTime,7) <> '01000000' and a.dataTime >= substr(c.endTime,1,6)"
    " and a.dataTime < substr(c.endTime,1,6) || '32'"
    " and not (substr(c.startTime,7) <> '01000000' and substr(c.startTime,1,6) = substr(c.endTime,1,6))";

struct Builder
{
    const WearAttribution::Criteria& c;
    QVariantList bound;

    QString filters()
    {
        QString sql;
        if (c.byName) {
            sql += QStringLiteral(" and b.name = ?");
            bound << c.name;
        }
        if (c.byCard) {
            sql += QStringLiteral(" and c.ID_card = ?");
            bound << c.card;
        }
        return sql;
    }
    QString range(const QString& lo, const QString& hi, bool hiIncluded)
    {
        if (!c.timed)
            return QString();
        bound << lo << hi;
        return hiIncluded ? QStringLiteral(" and a.dataTime >= ? and a.dataTime <= ?")
                          : QStringLiteral(" and a.dataTime >= ? and a.dataTime < ?");
    }
    // Hourly readings of the days cut by a period's ends; columns and
    // grouping as given.
    QString cutDays(const QString& select, const QString& lo, const QString& hi, const QString& group)
    {
        const QString head = select + QString::fromLatin1(kJoin).arg(QStringLiteral("Realdata"));
        // One piece at a time: the values are bound in the order of the text.
        QString sql = head + QLatin1String(kStartDayHours);
        sql += range(lo, hi, false);
        sql += filters();
        sql += group + QStringLiteral(" union all ") + head + QLatin1String(kEndDayHours);
        sql += range(lo, hi, false);
        sql += filters();
        return sql + group;
    }
};

} // namespace

QString WearAttribution::queryStatement(const Criteria& c, QVariantList* values)
{
    // Each piece is appended in its own statement, so that the values are
    // bound in the order their placeholders appear.
    Builder b{c, {}};
    const QString select = QLatin1String(kSelect);
    const Kind kind = c.timed ? c.kind : Hours;
    QString sql;
    const QString latest = c.overlapping ? QString::fromLatin1(kLatest) : QString();
    if (kind == Hours) {
        sql = select + QString::fromLatin1(kJoin).arg(QStringLiteral("Realdata")) + QLatin1String(kInPeriod);
        sql += b.range(c.from, c.to, true);
        sql += latest;
        sql += b.filters();
    } else if (c.overlapping) {
        // Every figure summed from the hourly readings, hour by hour to the
        // period that started last.
        const int n = kind == Days ? 8 : 6;
        const QString lo = kind == Days ? c.from + QStringLiteral("000000") : c.from + QStringLiteral("01000000");
        const QString hi = kind == Days ? c.to + QStringLiteral("240000") : c.to + QStringLiteral("32000000");
        sql = QStringLiteral("select substr(a.dataTime,1,%1) ,b.name,b.department,c.slaveId, sum(a.probeValue)").arg(n)
            + QString::fromLatin1(kJoin).arg(QStringLiteral("Realdata")) + QLatin1String(kInPeriod);
        sql += b.range(lo, hi, false);
        sql += latest;
        sql += b.filters();
        sql += QStringLiteral(" group by b.id, c.id, substr(a.dataTime,1,%1)").arg(n);
    } else if (kind == Days) {
        sql = select + QString::fromLatin1(kJoin).arg(QStringLiteral("Monthdata")) + QLatin1String(kWholeDay);
        sql += b.range(c.from, c.to, true);
        sql += b.filters();
        sql += QStringLiteral(" union all ");
        sql += b.cutDays(QStringLiteral("select substr(a.dataTime,1,8) ,b.name,b.department,c.slaveId, sum(a.probeValue)"),
                         c.from + QStringLiteral("000000"), c.to + QStringLiteral("240000"),
                         QStringLiteral(" group by b.id, c.id, substr(a.dataTime,1,8)"));
    } else {
        // Whole months from the month totals; the months a period cuts from
        // their whole days' totals and the hours of their cut days.
        sql = select + QString::fromLatin1(kJoin).arg(QStringLiteral("Yeardata")) + QLatin1String(kWholeMonth);
        sql += b.range(c.from, c.to, true);
        sql += b.filters();
        const QString inner =
            QStringLiteral("select substr(a.dataTime,1,6) m, b.id sid, c.id cid, b.name n, b.department d, c.slaveId s, "
                           "a.probeValue v");
        const QString dayHead = inner + QString::fromLatin1(kJoin).arg(QStringLiteral("Monthdata")) + QLatin1String(kWholeDay);
        const QString lo = c.from + QStringLiteral("01");
        const QString hi = c.to + QStringLiteral("32");
        sql += QStringLiteral(" union all select m ,n,d,s, sum(v) from (") + dayHead + QLatin1String(kStartMonthDays);
        sql += b.range(lo, hi, false);
        sql += b.filters();
        sql += QStringLiteral(" union all ") + dayHead + QLatin1String(kEndMonthDays);
        sql += b.range(lo, hi, false);
        sql += b.filters();
        sql += QStringLiteral(" union all ");
        sql += b.cutDays(inner, c.from + QStringLiteral("01000000"), c.to + QStringLiteral("32000000"), QString());
        sql += QStringLiteral(") t group by sid, cid, m, n, d, s");
    }
    if (values)
        *values += b.bound;
    return sql;
}
