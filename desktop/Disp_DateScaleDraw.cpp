// The month view's x-axis: each unit a day after the base date, labelled yyyy-MM-dd.

#include "desktop/Disp_DateScaleDraw.h"

Disp_DateScaleDraw::Disp_DateScaleDraw(const QDate& base)
    : baseDate(base)
{
}

QwtText Disp_DateScaleDraw::label(double v) const
{
    return QwtText(baseDate.addDays(static_cast<qint64>(v)).toString(QStringLiteral("yyyy-MM-dd")));
}
