// The mean of a person's last monitored months and the median of their co-workers' month, for a notional dose.

#include "core/dose/NotionalDose.h"

#include <QDate>
#include <QSet>
#include <QVector>

#include <algorithm>

#include "core/dose/DoseOfRecord.h"
#include "core/dose/DosePolicy.h"
#include "core/register/StaffRegister.h"
#include "core/store/Store.h"
#include "core/wear/WearAttribution.h"

namespace {

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

QDateTime startOf(const QString& month)
{
    return QDateTime(QDate::fromString(month + QStringLiteral("01"), QStringLiteral("yyyyMMdd")), QTime(0, 0));
}

} // namespace

bool NotionalDose::value(Store& database, QSqlDatabase db, const QString& idCard, const QString& month,
                         const QString& method, double& value, QString* why)
{
    if (!startOf(month).isValid())
        return fail(why, QStringLiteral("月份应为 yyyyMM: ") + month);
    if (method == QLatin1String("mean12"))
        return mean12(database, db, idCard, month, value, why);
    if (method == QLatin1String("dept_median"))
        return departmentMedian(database, db, idCard, month, value, why);
    return fail(why, QStringLiteral("方法 %1 不计算剂量, 请给出数值").arg(method));
}

bool NotionalDose::mean12(Store& database, QSqlDatabase db, const QString& idCard, const QString& month,
                          double& value, QString* why)
{
    const QDateTime end = startOf(month);
    bool readable = false;
    const DosePolicy policy = DosePolicy::load(database, db, &readable);
    // The first month with readings bounds how far back to look.
    WearAttribution::Figures all;
    if (!end.isValid() || !readable
        || !WearAttribution::collect(&database, db, idCard, WearAttribution::Months,
                                     QDateTime(QDate(1900, 1, 1), QTime(0, 0)), end, all))
        return fail(why, QStringLiteral("无法读取读数"));
    if (all.values.isEmpty())
        return fail(why, QStringLiteral("%1 在 %2 之前没有监测月份, 无法计算近12个月均值").arg(idCard, month));
    DoseOfRecord::Months months;
    if (!DoseOfRecord::originalMonths(database, db, idCard, startOf(all.values.firstKey().left(6)), end,
                                      policy.background(), months))
        return fail(why, QStringLiteral("无法读取读数"));
    QVector<qint64> last;
    for (auto it = months.cend(); it != months.cbegin() && last.size() < 12;) {
        --it;
        if (it->originalMonitored)
            last << it->originalCents;
    }
    if (last.isEmpty())
        return fail(why, QStringLiteral("%1 在 %2 之前没有监测月份, 无法计算近12个月均值").arg(idCard, month));
    qint64 sum = 0;
    for (qint64 c : qAsConst(last))
        sum += c;
    value = qRound64(double(sum) / last.size()) / 100.0;
    return true;
}

bool NotionalDose::departmentMedian(Store& database, QSqlDatabase db, const QString& idCard, const QString& month,
                                    double& value, QString* why)
{
    const QDateTime from = startOf(month);
    Staffdata person;
    QList<Staffdata> staff;
    StaffRegister people(database);
    if (!people.selectByIdCard(person, idCard, db) || person.ID_card != idCard)
        return fail(why, QStringLiteral("没有身份证号为 %1 的人员").arg(idCard));
    bool readable = false;
    const DosePolicy policy = DosePolicy::load(database, db, &readable);
    if (!from.isValid() || !readable || !people.selectByDepartment(staff, person.department, db))
        return fail(why, QStringLiteral("无法读取数据库"));
    QVector<qint64> doses;
    QSet<QString> seen{idCard};
    for (const Staffdata& s : qAsConst(staff)) {
        if (s.ptype != 0 || seen.contains(s.ID_card))
            continue;
        seen.insert(s.ID_card);
        DoseOfRecord::Months months;
        if (!DoseOfRecord::months(database, db, s.ID_card, from, from.addMonths(1), policy, months))
            return fail(why, QStringLiteral("无法读取读数"));
        const auto m = months.constFind(month);
        if (m != months.cend() && m->originalMonitored)
            doses << m->cents;
    }
    if (doses.isEmpty())
        return fail(why, QStringLiteral("%1 没有其他职业人员在 %2 有读数, 无法计算中位数").arg(person.department, month));
    std::sort(doses.begin(), doses.end());
    const int n = doses.size();
    const qint64 cents = n % 2 ? doses[n / 2] : qRound64((doses[n / 2 - 1] + doses[n / 2]) / 2.0);
    value = cents / 100.0;
    return true;
}
