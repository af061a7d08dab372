// The policy's rows with their defaults and labels, the checks of a change, and the policy loaded and saved.

#include "core/dose/DosePolicy.h"

#include "core/log/QsLog.h"
#include "core/store/Store.h"
#include "core/dose/PolicyStore.h"

#include <QSqlError>

const QVector<DosePolicy::Row>& DosePolicy::rows()
{
    static const QVector<Row> all = {
        {QStringLiteral("background_per_hour"), 0.23, QStringLiteral("本底 (μSv/小时)")},
        {QStringLiteral("annual_limit_occupational"), 20000, QStringLiteral("年剂量限值 · 职业")},
        {QStringLiteral("annual_limit_other"), 1000, QStringLiteral("年剂量限值 · 非职业")},
        {QStringLiteral("single_year_limit_occupational"), 50000, QStringLiteral("单一年份限值 · 职业")},
        {QStringLiteral("single_year_limit_other"), 5000, QStringLiteral("单一年份限值 · 非职业")},
        {QStringLiteral("five_year_limit_occupational"), 100000, QStringLiteral("五年累计限值 · 职业")},
        {QStringLiteral("five_year_limit_other"), 5000, QStringLiteral("五年累计限值 · 非职业")},
        {QStringLiteral("investigation_quarter_occupational"), 1250, QStringLiteral("季度调查水平 · 职业")},
        {QStringLiteral("investigation_quarter_other"), 250, QStringLiteral("季度调查水平 · 非职业")},
        {QStringLiteral("adjustment_needs_approval"), 1, QStringLiteral("剂量更正需他人批准"), true},
        {QStringLiteral("reconcile_tolerance_percent"), 25, QStringLiteral("比对容差 (%)")},
        {QStringLiteral("reconcile_tolerance_uSv"), 100, QStringLiteral("比对容差 (μSv)")},
        {QStringLiteral("minimum_reportable_uSv"), 100, QStringLiteral("最低可报告剂量 (μSv)")},
        {QStringLiteral("dose_of_record_passive"), 0, QStringLiteral("记录剂量取个人剂量计结果"), true},
    };
    return all;
}

DosePolicy::DosePolicy()
{
    for (const Row& r : rows())
        values[r.name] = r.defaultValue;
}

double DosePolicy::byType(const char* stem, int ptype) const
{
    return value(QLatin1String(stem) + (ptype == 0 ? QStringLiteral("_occupational") : QStringLiteral("_other")));
}

QString DosePolicy::label(const QString& name)
{
    for (const Row& r : rows()) {
        if (r.name == name)
            return r.label;
    }
    return name;
}

QStringList DosePolicy::problems() const
{
    QStringList found;
    for (const Row& r : rows()) {
        if (r.onOff && value(r.name) != 0 && value(r.name) != 1)
            found << QStringLiteral("%1 只能是 0 或 1").arg(r.label);
        else if (!r.onOff && !(value(r.name) > 0))
            found << QStringLiteral("%1 必须大于 0").arg(r.label);
    }
    // Each level must lie within the next wider one.
    static const char* const order[] = {"investigation_quarter", "annual_limit", "single_year_limit",
                                        "five_year_limit"};
    for (const char* type : {"_occupational", "_other"}) {
        for (int i = 0; i + 1 < 4; ++i) {
            const QString lower = QLatin1String(order[i]) + QLatin1String(type);
            const QString upper = QLatin1String(order[i + 1]) + QLatin1String(type);
            if (value(lower) > value(upper))
                found << QStringLiteral("%1 (%2 μSv) 不能大于 %3 (%4 μSv)")
                             .arg(label(lower))
                             .arg(value(lower))
                             .arg(label(upper))
                             .arg(value(upper));
        }
    }
    return found;
}

DosePolicy DosePolicy::load(Store& database, QSqlDatabase db, bool* readable)
{
    DosePolicy policy;
    QMap<QString, QVariant> stored;
    const bool read = PolicyStore(database).select(stored, db);
    if (readable)
        *readable = read;
    if (!read) {
        QLOG_ERROR() << "DosePolicy cannot be read:" << db.lastError().text();
    }
    for (const Row& r : rows()) {
        bool ok = false;
        const QVariant v = stored.value(r.name);
        const double d = v.toString().toDouble(&ok);
        if (ok && (r.onOff ? d == 0 || d == 1 : d > 0)) {
            policy.values[r.name] = d;
        } else {
            QLOG_WARN() << "DosePolicy" << r.name << "is" << (v.isValid() ? v.toString() : QStringLiteral("missing"))
                        << ", using the default" << r.defaultValue;
        }
    }
    return policy;
}

bool DosePolicy::save(Store& database, QSqlDatabase db) const
{
    QList<QPair<QString, double>> list;
    for (const Row& r : rows())
        list.append({r.name, value(r.name)});
    return PolicyStore(database).update(list, db);
}
