// Passive results reconciled with the electronic dose of their days: the figures, the flag, the order, the closing.

#include "core/dose/Reconciliation.h"

#include <QMap>

#include <algorithm>

#include "core/dose/DoseOfRecord.h"
#include "core/dose/PassiveDose.h"
#include "core/readings/PassiveStore.h"
#include "core/register/StaffRegister.h"
#include "core/register/Staffdata.h"
#include "core/store/Store.h"

namespace {

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

QString cents(qint64 c)
{
    return QString::number(c / 100.0, 'f', 2);
}

QString day(const QString& yyyyMMdd)
{
    const QDate d = QDate::fromString(yyyyMMdd, QStringLiteral("yyyyMMdd"));
    return d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd")) : yyyyMMdd;
}

} // namespace

const char* const Reconciliation::kHeader = "ID_card,name,department,periodStart,periodEnd,passive_uSv,code,"
                                            "electronic_uSv,difference_uSv,difference_percent,flag";

QStringList Reconciliation::fields(const Row& r)
{
    return {r.result.ID_card,
            r.result.name,
            r.department,
            day(r.result.periodStart),
            day(r.result.periodEnd),
            r.hasPassive ? cents(r.passiveCents) : QString(),
            r.result.code,
            cents(r.electronicCents),
            r.hasDifference() ? cents(r.differenceCents()) : QString(),
            r.hasPercent() ? QString::number(r.percent(), 'f', 2) : QString(),
            r.flag};
}

QString Reconciliation::resultText(const Row& r)
{
    QString text = r.flag == QLatin1String("ok")             ? QStringLiteral("一致")
        : r.flag == QLatin1String("not_returned")             ? QStringLiteral("未返回")
        : r.flag == QLatin1String("unused")                   ? QStringLiteral("未使用")
                                                              : QStringLiteral("不一致");
    if (r.closed())
        text += QStringLiteral(" (已关闭)");
    return text;
}

QString Reconciliation::flagOf(const PassiveResultdata& result, bool hasPassive, qint64 passive, qint64 electronic,
                               const DosePolicy& policy)
{
    if (result.code == QLatin1String("not_returned"))
        return QStringLiteral("not_returned");
    if (result.code == QLatin1String("unused"))
        return QStringLiteral("unused");
    if (!hasPassive)
        return QStringLiteral("differs"); // a result without a dose confirms nothing
    const qint64 difference = qAbs(electronic - passive);
    if (result.code == QLatin1String("M"))
        return difference > qRound64(policy.minimumReportable() * 100.0) ? QStringLiteral("differs")
                                                                         : QStringLiteral("ok");
    // In hundredths throughout, so that a difference exactly at the
    // tolerance is never flagged by a rounding: percent in hundredths of a
    // percent against cents.
    const bool beyondPercent = difference * 10000 > qRound64(policy.reconcilePercent() * 100.0) * passive;
    const bool beyondAbsolute = difference > qRound64(policy.reconcileMicroSv() * 100.0);
    return beyondPercent && beyondAbsolute ? QStringLiteral("differs") : QStringLiteral("ok");
}

Reconciliation::Reconciliation(Store& database, QSqlDatabase db, const DosePolicy& policy)
    : database(database)
    , db(db)
    , policy(policy)
{
}

bool Reconciliation::check(const PassiveResultdata& result, Row& row, QString* why)
{
    row.result = result;
    double passive = 0;
    row.hasPassive = PassiveDose::doseOf(result, passive);
    row.passiveCents = row.hasPassive ? qRound64(passive * 100.0) : 0;
    const QDateTime from = PassiveDose::startOf(result);
    const QDateTime to = PassiveDose::endOf(result);
    if (!from.isValid() || !to.isValid())
        return fail(why, QStringLiteral("个人剂量计结果 %1 的期间无效: %2–%3")
                             .arg(result.id)
                             .arg(result.periodStart, result.periodEnd));
    DoseOfRecord::Months months;
    if (!DoseOfRecord::originalMonths(database, db, result.ID_card, from, to, policy.background(), months))
        return fail(why, QStringLiteral("无法读取 %1 的剂量读数").arg(result.ID_card));
    row.electronicCents = DoseOfRecord::sum(months);
    row.flag = flagOf(result, row.hasPassive, row.passiveCents, row.electronicCents, policy);
    return true;
}

bool Reconciliation::run(const QDate& from, const QDate& to, const QString& department, QList<Row>& rows,
                         QString* why)
{
    rows.clear();
    if (!from.isValid() || !to.isValid() || to < from)
        return fail(why, QStringLiteral("比对期间无效"));
    QList<Staffdata> staff;
    if (!StaffRegister(database).selectForStatus(staff, department, db))
        return fail(why, QStringLiteral("无法读取人员"));
    QMap<QString, QString> departments;
    for (const Staffdata& s : qAsConst(staff))
        departments.insert(s.ID_card, s.department);
    QList<PassiveResultdata> results;
    if (!PassiveStore(database).selectCurrent(results, from.toString(QStringLiteral("yyyyMMdd")),
                                              to.toString(QStringLiteral("yyyyMMdd")), QString(), db))
        return fail(why, QStringLiteral("无法读取个人剂量计结果"));
    for (const PassiveResultdata& r : qAsConst(results)) {
        const auto found = departments.constFind(r.ID_card);
        if (!department.isEmpty() && found == departments.cend())
            continue;
        Row row;
        row.department = found != departments.cend() ? found.value() : QString();
        if (!check(r, row, why))
            return false;
        rows.append(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.flagged() != b.flagged())
            return a.flagged();
        if (a.result.ID_card != b.result.ID_card)
            return a.result.ID_card < b.result.ID_card;
        return a.result.periodStart < b.result.periodStart;
    });
    return true;
}

bool Reconciliation::close(int id, const QString& comment, const QString& actor, QString* why)
{
    if (comment.trimmed().isEmpty())
        return fail(why, QStringLiteral("关闭标记须填写说明"));
    PassiveStore store(database);
    PassiveResultdata result;
    if (!store.selectOne(result, id, db))
        return fail(why, QStringLiteral("没有编号为 %1 的个人剂量计结果").arg(id));
    if (result.replacedBy != 0)
        return fail(why, QStringLiteral("个人剂量计结果 %1 已被第 %2 次导入替换, 不再比对").arg(id).arg(result.replacedBy));
    if (!result.closedAt.isEmpty())
        return fail(why, QStringLiteral("个人剂量计结果 %1 的标记已于 %2 由 %3 关闭")
                             .arg(id)
                             .arg(result.closedAt, result.closedBy));
    Row row;
    if (!check(result, row, why))
        return false;
    if (!row.flagged())
        return fail(why, QStringLiteral("个人剂量计结果 %1 与电子剂量一致, 没有标记可关闭").arg(id));
    return store.close(id, comment, actor, why, db);
}
