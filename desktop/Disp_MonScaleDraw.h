#pragma once

#include <QDate>

#include <qwt_scale_draw.h>
#include <qwt_text.h>

// x-axis labels of the year view: months after a base date.
class Disp_MonScaleDraw : public QwtScaleDraw
{
public:
    explicit Disp_MonScaleDraw(const QDate& base);

    QwtText label(double v) const override;

private:
    QDate baseDate;
};
