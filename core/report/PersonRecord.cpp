// A person's dose record gathered, and its months added up into quarters, years, five years and a lifetime.

#include "core/report/PersonRecord.h"

#include "core/time/Clock.h"
#include "core/time/TimeKey.h"
#include "core/store/Store.h"
#include "core/wear/WearPeriods.h"
#include "core/register/StaffRegister.h"
#include "core/dose/AlertStore.h"
#include "core/dose/DoseAdjustmentdata.h"
#include "core/dose/DoseStatus.h"
#include "core/wear/WearAttribution.h"

namespace {

QString monthKey(int year, int month)
{
    return QStringLiteral("%1%2").arg(year, 4, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0'));
}

} // namespace

void PersonRecord::setMonth(int y, int m, const DoseOfRecord::Month& dose)
{
    months.insert(monthKey(y, m), dose);
}

QString PersonRecord::mark(int y, int m) const
{
    const auto found = months.constFind(monthKey(y, m));
    return found != months.cend() && found->adjusted() ? DoseAdjustmentdata::mark(found->kind) : QString();
}

QString PersonRecord::source(int y, int m) const
{
    const auto found = months.constFind(monthKey(y, m));
    if (found == months.cend() || found->adjusted() || found->source == DoseOfRecord::Electronic)
        return QString();
    return DoseOfRecord::sourceText(found->source);
}

bool PersonRecord::anyPassive() const
{
    for (int y = fromYear; y <= toYear; ++y) {
        for (int m = 1; m <= 12; ++m) {
            if (!source(y, m).isEmpty())
                return true;
        }
    }
    return false;
}

QList<PersonRecord::Adjusted> PersonRecord::adjustedMonths() const
{
    QList<Adjusted> list;
    const QString last = monthKey(toYear, 12);
    for (auto it = months.lowerBound(monthKey(fromYear, 1)); it != months.cend() && it.key() <= last; ++it) {
        if (it->adjusted())
            list.append({it.key(), it->original(), it->originalMonitored, it->dose(), DoseAdjustmentdata::mark(it->kind),
                         DoseAdjustmentdata::methodText(it->method), it->reason});
    }
    return list;
}

QStringList PersonRecord::pendingMonths() const
{
    QStringList list;
    const QString last = monthKey(toYear, 12);
    for (auto it = months.lowerBound(monthKey(fromYear, 1)); it != months.cend() && it.key() <= last; ++it) {
        if (it->pending)
            list << it.key();
    }
    return list;
}

qint64 PersonRecord::cents(int y0, int m0, int y1, int m1) const
{
    qint64 sum = 0;
    const QString last = monthKey(y1, m1);
    for (auto it = months.lowerBound(monthKey(y0, m0)); it != months.cend() && it.key() <= last; ++it)
        sum += it->cents;
    return sum;
}

bool PersonRecord::anyMonitored(int y0, int m0, int y1, int m1) const
{
    const QString last = monthKey(y1, m1);
    for (auto it = months.lowerBound(monthKey(y0, m0)); it != months.cend() && it.key() <= last; ++it) {
        if (it->monitored)
            return true;
    }
    return false;
}

double PersonRecord::month(int y, int m) const
{
    return cents(y, m, y, m) / 100.0;
}

double PersonRecord::quarter(int y, int q) const
{
    return cents(y, 3 * q - 2, y, 3 * q) / 100.0;
}

double PersonRecord::year(int y) const
{
    return cents(y, 1, y, 12) / 100.0;
}

bool PersonRecord::monitored(int y, int m) const
{
    return anyMonitored(y, m, y, m);
}

bool PersonRecord::quarterMonitored(int y, int q) const
{
    return anyMonitored(y, 3 * q - 2, y, 3 * q);
}

bool PersonRecord::yearMonitored(int y) const
{
    return anyMonitored(y, 1, y, 12);
}

double PersonRecord::fiveYear() const
{
    return cents(toYear - 4, 1, toYear, 12) / 100.0;
}

double PersonRecord::lifetime() const
{
    return cents(0, 1, toYear, 12) / 100.0;
}

bool PersonRecord::load(Store& database, QSqlDatabase db, const QString& idCard, int fromYear, int toYear,
                        PersonRecord& record, QString* why)
{
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    record = PersonRecord();
    record.generated = Clock::now();
    if (!StaffRegister(database).selectByIdCard(record.person, idCard, db) || record.person.ID_card != idCard)
        return fail(QStringLiteral("没有身份证号为 %1 的人员").arg(idCard));
    if (!WearPeriods(database).selectByIdCard(record.wearing, idCard, db))
        return fail(QStringLiteral("无法读取 %1 的佩戴记录").arg(idCard));

    // The first month with readings decides the default start and how far
    // back the lifetime sum reaches.
    const int thisYear = record.generated.date().year();
    const int lastYear = toYear > 0 ? toYear : thisYear;
    WearAttribution::Figures all;
    if (!WearAttribution::collect(&database, db, idCard, WearAttribution::Months, QDateTime(QDate(1900, 1, 1), QTime(0, 0)),
                                  QDateTime(QDate(qMax(lastYear, thisYear) + 1, 1, 1), QTime(0, 0)), all))
        return fail(QStringLiteral("无法读取 %1 的剂量读数").arg(idCard));
    const int firstYear = all.values.isEmpty() ? thisYear : all.values.firstKey().left(4).toInt();
    record.fromYear = fromYear > 0 ? fromYear : qMin(firstYear, lastYear);
    record.toYear = lastYear;
    if (record.fromYear > record.toYear)
        return fail(QStringLiteral("第一年 %1 晚于最后一年 %2").arg(record.fromYear).arg(record.toYear));

    // The same months of record dosectl status and the overview add up.
    const int start = qMin(qMin(firstYear, record.fromYear), record.toYear - 4);
    DoseStatus status(database, db);
    if (!status.months(idCard, QDateTime(QDate(start, 1, 1), QTime(0, 0)),
                       QDateTime(QDate(record.toYear + 1, 1, 1), QTime(0, 0)), record.months))
        return fail(QStringLiteral("无法读取 %1 的剂量读数").arg(idCard));

    QList<DoseAlertdata> alerts;
    if (!AlertStore(database).select(alerts, false, db))
        return fail(QStringLiteral("无法读取剂量告警"));
    for (const DoseAlertdata& a : qAsConst(alerts)) {
        const int y = a.periodKey.left(4).toInt();
        if (a.ID_card == idCard && y >= record.fromYear && y <= record.toYear)
            record.alerts.prepend(a);
    }
    return true;
}

QString PersonRecord::typeText(int ptype)
{
    return ptype == 0 ? QStringLiteral("职业") : QStringLiteral("非职业");
}

QString PersonRecord::periodTime(const QString& key, const QString& none)
{
    return TimeKey::shown(key, none, QStringLiteral("yyyy-MM-dd hh:mm"));
}
