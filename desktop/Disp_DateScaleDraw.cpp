#include "desktop/Disp_DateScaleDraw.h"

Disp_DateScaleDraw::Disp_DateScaleDraw(const QDate& base)
    : baseDate(base)
{
}

QwtText Disp_DateScaleDraw::label(double v) const
{
    return QwtText(baseDate.addDays(static_cast<qint64>(v)).toString(QStringLiteral("yyyy-MM-dd")));
}
