#pragma once

#include <QTime>

#include <qwt_scale_draw.h>
#include <qwt_text.h>

// x-axis labels of the day view: hours after a base clock time.
class Disp_TimeScaleDraw : public QwtScaleDraw
{
public:
    explicit Disp_TimeScaleDraw(const QTime& base);

    QwtText label(double v) const override;

private:
    QTime baseTime;
};
