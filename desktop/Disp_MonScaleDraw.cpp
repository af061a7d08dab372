// The year view's x-axis: each unit a month after the base date, labelled yyyy-MM.

#include "desktop/Disp_MonScaleDraw.h"

Disp_MonScaleDraw::Disp_MonScaleDraw(const QDate& base)
    : baseDate(base)
{
}

QwtText Disp_MonScaleDraw::label(double v) const
{
    return QwtText(baseDate.addMonths(static_cast<int>(v)).toString(QStringLiteral("yyyy-MM")));
}
