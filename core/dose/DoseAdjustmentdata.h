#pragma once

// One row of the table "DoseAdjustment": a corrected or notional dose of a person's month, with who filed,
// approved or withdrew it and why.

#include <QString>

struct DoseAdjustmentdata
{
    int id = 0;
    QString ID_card;
    QString name; // of the person, where a listing joins it
    QString month; // "yyyyMM"
    QString kind;  // replace or notional
    double value_uSv = 0;
    QString method; // stated, mean12 or dept_median
    QString reason;
    QString createdBy;
    QString createdAt; // "yyyy-MM-dd hh:mm:ss"
    QString approvedBy;
    QString approvedAt;
    QString withdrawnBy;
    QString withdrawnAt;
    QString withdrawReason;
    QString state; // pending, approved or withdrawn

    // 更正 for a replace, 估算 for a notional dose.
    static QString mark(const QString& kind)
    {
        return kind == QLatin1String("notional") ? QStringLiteral("估算") : QStringLiteral("更正");
    }
    // The method as the officer reads it.
    static QString methodText(const QString& method)
    {
        if (method == QLatin1String("mean12"))
            return QStringLiteral("本人近12个监测月均值");
        if (method == QLatin1String("dept_median"))
            return QStringLiteral("同部门职业人员同月中位数");
        return QStringLiteral("给定值");
    }
    static QString stateText(const QString& state)
    {
        if (state == QLatin1String("approved"))
            return QStringLiteral("已批准");
        if (state == QLatin1String("withdrawn"))
            return QStringLiteral("已撤回");
        return QStringLiteral("待批准");
    }
};
