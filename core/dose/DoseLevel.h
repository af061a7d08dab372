#pragma once

// The dose levels and the figures they are judged on.

#include <QColor>
#include <QDateTime>
#include <QString>

#include "core/dose/DoseFigures.h"

class DosePolicy;

// Where a person's doses stand against the policy: the first level that
// applies, from the most serious down.
class DoseLevel
{
public:
    enum Level { Normal, Investigate, Warning, Limit };

    struct Verdict
    {
        Level level = Normal;
        double dose = 0;      // the figure that reached the level
        double threshold = 0; // the level it reached
        QString reason;       // "超限: 本年 51234.5μSv > 50000μSv"; empty for normal
    };

    static Verdict judge(const DoseFigures& figures, const DosePolicy& policy, int ptype);

    static QString word(Level level);  // normal, investigate, warning, limit
    static QString label(Level level); // 正常, 调查, 预警, 超限
    static QColor color(Level level);  // the tree marker; invalid for normal
    // The period an alert of this level belongs to: "yyyyQn" for an
    // investigation, "yyyy" for the yearly levels.
    static QString periodKey(Level level, const QDate& at);
};
