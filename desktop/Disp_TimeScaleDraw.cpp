// The day view's x-axis: each unit an hour after the base time, labelled hh:mm.

#include "desktop/Disp_TimeScaleDraw.h"

Disp_TimeScaleDraw::Disp_TimeScaleDraw(const QTime& base)
    : baseTime(base)
{
}

QwtText Disp_TimeScaleDraw::label(double v) const
{
    // One axis unit is one hour; fractions of a second are dropped.
    const int seconds = static_cast<int>(v * 3600);
    return QwtText(baseTime.addSecs(seconds).toString(QStringLiteral("hh:mm")));
}
