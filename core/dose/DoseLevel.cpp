// Judging a person's figures against the policy, and how each level is named, coloured and filed.

#include "core/dose/DoseLevel.h"

#include "core/dose/DosePolicy.h"

namespace {

DoseLevel::Verdict verdict(DoseLevel::Level level, const char* window, double dose, const char* relation,
                           double threshold)
{
    DoseLevel::Verdict v;
    v.level = level;
    v.dose = dose;
    v.threshold = threshold;
    v.reason = DoseLevel::label(level) + QStringLiteral(": ") + QString::fromUtf8(window) + QLatin1Char(' ')
        + QString::number(dose) + QStringLiteral("μSv ") + QString::fromUtf8(relation) + QLatin1Char(' ')
        + QString::number(threshold) + QStringLiteral("μSv");
    return v;
}

} // namespace

DoseLevel::Verdict DoseLevel::judge(const DoseFigures& f, const DosePolicy& policy, int ptype)
{
    if (f.year > policy.singleYearLimit(ptype))
        return verdict(Limit, "本年", f.year, ">", policy.singleYearLimit(ptype));
    if (f.fiveYear > policy.fiveYearLimit(ptype))
        return verdict(Limit, "五年", f.fiveYear, ">", policy.fiveYearLimit(ptype));
    if (f.year > policy.annualLimit(ptype))
        return verdict(Warning, "本年", f.year, ">", policy.annualLimit(ptype));
    if (f.quarter >= policy.investigationLevel(ptype))
        return verdict(Investigate, "本季度", f.quarter, "≥", policy.investigationLevel(ptype));
    return Verdict();
}

QString DoseLevel::word(Level level)
{
    switch (level) {
    case Investigate: return QStringLiteral("investigate");
    case Warning: return QStringLiteral("warning");
    case Limit: return QStringLiteral("limit");
    case Normal: break;
    }
    return QStringLiteral("normal");
}

QString DoseLevel::label(Level level)
{
    switch (level) {
    case Investigate: return QStringLiteral("调查");
    case Warning: return QStringLiteral("预警");
    case Limit: return QStringLiteral("超限");
    case Normal: break;
    }
    return QStringLiteral("正常");
}

QColor DoseLevel::color(Level level)
{
    switch (level) {
    case Investigate: return QColor(Qt::yellow);
    case Warning: return QColor(255, 140, 0);
    case Limit: return QColor(Qt::red);
    case Normal: break;
    }
    return QColor();
}

QString DoseLevel::periodKey(Level level, const QDate& at)
{
    const QString year = QString::number(at.year());
    if (level == Investigate)
        return year + QStringLiteral("Q") + QString::number((at.month() - 1) / 3 + 1);
    return year;
}
