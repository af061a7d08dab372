#pragma once

#include <QDate>

#include <qwt_scale_draw.h>
#include <qwt_text.h>

// x-axis labels of the month view: days after a base date.
class Disp_DateScaleDraw : public QwtScaleDraw
{
public:
    explicit Disp_DateScaleDraw(const QDate& base);

    QwtText label(double v) const override;

private:
    QDate baseDate;
};
