// A person's passive results spread over the months they cover, each month's uncovered days netted from the readings.

#include "core/dose/PassiveDose.h"

#include <QMap>
#include <QVector>

#include <algorithm>
#include <cmath>

#include "core/readings/PassiveResultdata.h"
#include "core/readings/PassiveStore.h"
#include "core/store/Store.h"
#include "core/time/TimeKey.h"

namespace {

using Piece = QPair<QDateTime, QDateTime>;

// One month's part of the window, with what the passive results put on it.
struct Part
{
    QDateTime a;
    QDateTime b;
    qint64 passiveCents = 0;
    QList<Piece> covered;
};

// [a, b) less the covered pieces.
QList<Piece> uncovered(const QDateTime& a, const QDateTime& b, QList<Piece> covered)
{
    std::sort(covered.begin(), covered.end(), [](const Piece& x, const Piece& y) { return x.first < y.first; });
    QList<Piece> rest;
    QDateTime at = a;
    for (const Piece& c : qAsConst(covered)) {
        if (at < c.first)
            rest.append({at, c.first});
        at = qMax(at, c.second);
    }
    if (at < b)
        rest.append({at, b});
    return rest;
}

} // namespace

PassiveDose::PassiveDose(Store& database, QSqlDatabase db, const QList<WearAttribution::Span>& spans,
                         const QList<int>& slaveIds, double background)
    : database(database)
    , db(db)
    , spans(spans)
    , slaveIds(slaveIds)
    , background(background)
{
}

bool PassiveDose::doseOf(const PassiveResultdata& r, double& dose)
{
    dose = 0;
    if (r.code == QLatin1String("M"))
        return true;
    if (!r.code.isEmpty() || !r.hasHp10)
        return false;
    dose = r.hp10_uSv;
    return true;
}

QDateTime PassiveDose::startOf(const PassiveResultdata& r)
{
    return QDateTime(QDate::fromString(r.periodStart, QStringLiteral("yyyyMMdd")), QTime(0, 0));
}

QDateTime PassiveDose::endOf(const PassiveResultdata& r)
{
    return QDateTime(QDate::fromString(r.periodEnd, QStringLiteral("yyyyMMdd")).addDays(1), QTime(0, 0));
}

bool PassiveDose::gross(const QDateTime& a, const QDateTime& b, double& dose, bool* stored)
{
    dose = 0;
    if (stored)
        *stored = false;
    if (!(a < b))
        return true;
    WearAttribution::Figures figures;
    if (!WearAttribution::collect(&database, db, spans, slaveIds, WearAttribution::Months, a, b, figures))
        return false;
    for (double v : qAsConst(figures.values))
        dose += v;
    if (stored)
        *stored = !figures.values.isEmpty();
    return true;
}

bool PassiveDose::readings(const QDateTime& a, const QDateTime& b, int& count)
{
    QVector<int> counts;
    if (!WearAttribution::countSegments(&database, db, spans, slaveIds, {TimeKey::of(a), TimeKey::of(b)}, counts))
        return false;
    count = counts.value(0);
    return true;
}

bool PassiveDose::apply(const QString& idCard, const QDateTime& from, const QDateTime& to,
                        DoseOfRecord::Months& months)
{
    if (!from.isValid() || !to.isValid())
        return false;
    if (!(from < to))
        return true;
    QList<PassiveResultdata> results;
    if (!PassiveStore(database).selectCurrent(results, from.date().toString(QStringLiteral("yyyyMMdd")),
                                              to.addSecs(-1).date().toString(QStringLiteral("yyyyMMdd")), idCard, db))
        return false;
    if (results.isEmpty())
        return true;

    // The window cut at every month's first hour, as the electronic rule cuts it.
    QMap<QString, Part> parts;
    for (QDateTime a = from; a < to;) {
        const QDate next = QDate(a.date().year(), a.date().month(), 1).addMonths(1);
        const QDateTime b = qMin(QDateTime(next, QTime(0, 0)), to);
        parts.insert(a.toString(QStringLiteral("yyyyMM")), Part{a, b, 0, {}});
        a = b;
    }

    for (const PassiveResultdata& r : qAsConst(results)) {
        double dose = 0;
        const QDateTime ps = startOf(r);
        const QDateTime pe = endOf(r);
        if (!doseOf(r, dose) || !ps.isValid() || !pe.isValid() || !(ps < pe))
            continue;
        QList<QString> keys;
        QList<Piece> pieces;
        for (auto it = parts.cbegin(); it != parts.cend(); ++it) {
            const QDateTime a = qMax(it->a, ps);
            const QDateTime b = qMin(it->b, pe);
            if (a < b) {
                keys << it.key();
                pieces << Piece{a, b};
            }
        }
        if (pieces.isEmpty())
            continue;
        // Each piece's share of the period: of its gross electronic dose, or of its time.
        // A period inside the window is the sum of its pieces.
        const bool inside = from <= ps && pe <= to;
        QVector<double> share(pieces.size(), 1.0);
        if (!(pieces.size() == 1 && pieces[0] == Piece{ps, pe})) {
            QVector<double> parts(pieces.size());
            double whole = 0;
            for (int i = 0; i < pieces.size(); ++i) {
                if (!gross(pieces[i].first, pieces[i].second, parts[i]))
                    return false;
                whole += parts[i];
            }
            if (!inside && !gross(ps, pe, whole))
                return false;
            for (int i = 0; i < pieces.size(); ++i)
                share[i] = whole > 0 ? parts[i] / whole
                                     : double(pieces[i].first.secsTo(pieces[i].second)) / double(ps.secsTo(pe));
        }
        const qint64 total = qRound64(dose * 100.0);
        QVector<qint64> cents(pieces.size());
        if (inside) {
            // Largest remainder: the parts add up to the result.
            qint64 given = 0;
            QVector<int> order(pieces.size());
            for (int i = 0; i < pieces.size(); ++i) {
                cents[i] = qint64(std::floor(share[i] * total));
                given += cents[i];
                order[i] = i;
            }
            std::sort(order.begin(), order.end(), [&](int x, int y) {
                return share[x] * total - cents[x] > share[y] * total - cents[y];
            });
            for (int k = 0; given < total && !order.isEmpty(); k = (k + 1) % order.size(), ++given)
                ++cents[order[k]];
        } else {
            for (int i = 0; i < pieces.size(); ++i)
                cents[i] = qRound64(share[i] * total);
        }
        for (int i = 0; i < pieces.size(); ++i) {
            Part& p = parts[keys[i]];
            p.passiveCents += cents[i];
            p.covered << pieces[i];
        }
    }

    for (auto it = parts.cbegin(); it != parts.cend(); ++it) {
        if (it->covered.isEmpty())
            continue;
        const QList<Piece> rest = uncovered(it->a, it->b, it->covered);
        double dose = 0;
        int count = 0;
        bool stored = false;
        for (const Piece& piece : rest) {
            double d = 0;
            int n = 0;
            bool s = false;
            if (!gross(piece.first, piece.second, d, &s) || !readings(piece.first, piece.second, n))
                return false;
            dose += d;
            count += n;
            stored = stored || s;
        }
        const DoseOfRecord::Month electronic = DoseOfRecord::of(dose, count, stored, background);
        DoseOfRecord::Month& m = months[it.key()];
        m.cents = it->passiveCents + electronic.cents;
        m.monitored = true;
        m.source = rest.isEmpty() ? DoseOfRecord::Passive : DoseOfRecord::PartlyPassive;
        m.originalCents = m.cents;
        m.originalMonitored = true;
    }
    return true;
}
