#include "desktop/mydisp_plot.h"

#include "core/time/TimeKey.h"

#include <QColor>
#include <QDateTime>
#include <QFontMetrics>
#include <QPen>
#include <QPointF>
#include <QRandomGenerator>
#include <QTime>
#include <QVector>

#include <qwt_legend.h>
#include <qwt_legend_data.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
// Qwt 6.1's layout header uses a QFlags constructor that Qt 5.15 deprecates.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <qwt_plot_layout.h>
#pragma GCC diagnostic pop
#include <qwt_plot_magnifier.h>
#include <qwt_scale_widget.h>

#include "core/readings/Realdata.h"
#include "core/readings/totaldata_mon.h"
#include "core/readings/totaldata_year.h"
#include "desktop/Disp_DateScaleDraw.h"
#include "desktop/Disp_MonScaleDraw.h"
#include "desktop/Disp_TimeScaleDraw.h"

namespace {

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// The time text and dose of a record, whatever its kind.
template <typename Record>
void readRecord(const QVariant& v, QString& dataTime, double& value)
{
    const Record r = v.value<Record>();
    dataTime = r.dataTime;
    value = r.probeValue;
}

} // namespace

mydisp_plot::mydisp_plot(QwtPlot* plot, SettingsAdpater* settings, QObject* parent)
    : QObject(parent)
    , qwtPlot(plot)
    , settings(settings)
{
    auto* canvas = new QwtPlotCanvas();
    canvas->setBorderRadius(10);
    qwtPlot->setCanvas(canvas); // the plot takes the canvas
    qwtPlot->plotLayout()->setAlignCanvasToScales(true);

    new QwtPlotMagnifier(qwtPlot->canvas()); // child of the canvas

    auto* legend = new QwtLegend();
    legend->setDefaultItemMode(QwtLegendData::Checkable);
    qwtPlot->insertLegend(legend, QwtPlot::RightLegend, -1); // the plot takes the legend

    qwtPlot->setAxisTitle(QwtPlot::xBottom, QStringLiteral("时间 [时:分]"));
    auto* timeDraw = new Disp_TimeScaleDraw(QTime::currentTime());
    timeDraw->setLabelAlignment(Qt::AlignLeft | Qt::AlignBottom);
    qwtPlot->setAxisScaleDraw(QwtPlot::xBottom, timeDraw); // the plot takes the draw
    qwtPlot->setAxisScale(QwtPlot::xBottom, 0, 60);
    QwtScaleWidget* xAxis = qwtPlot->axisWidget(QwtPlot::xBottom);
    const int fontHeight = QFontMetrics(xAxis->font()).height();
    xAxis->setMinBorderDist(0, fontHeight / 2);

    qwtPlot->setAxisTitle(QwtPlot::yLeft, QStringLiteral("剂量(μSv)"));
    qwtPlot->setAxisScale(QwtPlot::yLeft, 0, 50);

    auto* grid = new QwtPlotGrid();
    grid->enableXMin(true);
    grid->setMajorPen(QPen(QBrush(Qt::white), 0, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
    grid->setMinorPen(QPen(QBrush(Qt::gray), 0, Qt::DotLine, Qt::SquareCap, Qt::BevelJoin));
    grid->attach(qwtPlot); // attached items go with the plot

    connect(legend, &QwtLegend::checked, this, &mydisp_plot::legendChecked);

    curves.fill(nullptr);

    // A curve left detached by a failed refresh is ours to delete; an
    // attached one the plot deletes itself.
    connect(qwtPlot, &QObject::destroyed, this, [this] {
        if (curves[0] && !curveAttached)
            delete curves[0];
        curves[0] = nullptr;
        curveAttached = false;
    });
}

mydisp_plot::~mydisp_plot()
{
    if (qwtPlot && curves[0] && !curveAttached)
        delete curves[0];
}

void mydisp_plot::attachCurve(bool on)
{
    curves[0]->attach(on ? qwtPlot.data() : nullptr);
    curveAttached = on;
}

void mydisp_plot::updateCurve(int mode, int slaveId, const QString& begin, const QString& end,
                              const QList<QVariant>& records, int count)
{
    updateCurve(mode, QString::asprintf("%d号设备", slaveId), begin, end, records, count);
}

void mydisp_plot::updateCurve(int mode, const QString& legendText, const QString& begin, const QString& end,
                              const QList<QVariant>& records, int count)
{
    if (!qwtPlot)
        return;

    if (curves[0]) {
        attachCurve(false);
        qwtPlot->replot();
    }

    // The title and the time axis say what is shown now, also when there is
    // nothing to draw: nothing of the previous view stays.
    static const struct
    {
        const char* keyFormat;
        const char* shownFormat;
        const char* what;
        const char* axis;
    } views[] = {{TimeKey::kFormat, "yyyy-MM-dd", "每小时剂量", "时间 [时:分]"},
                 {"yyyyMMdd", "yyyy-MM", "每日剂量", "日期"},
                 {"yyyyMM", "yyyy", "每月剂量", "月份"}};
    const bool known = mode >= 0 && mode <= 2;
    // An unparsable bound would compare unpredictably: treat it as no range.
    const QDateTime beginTime = known ? QDateTime::fromString(begin, QLatin1String(views[mode].keyFormat)) : QDateTime();
    const int available = qMin(count, records.size());
    qwtPlot->setAxisTitle(QwtPlot::xBottom, known ? QString::fromUtf8(views[mode].axis) : QString());
    qwtPlot->setTitle(beginTime.isValid()
                          ? beginTime.toString(QLatin1String(views[mode].shownFormat)) + QLatin1Char(' ')
                              + QString::fromUtf8(views[mode].what)
                              + (legendText.isEmpty() ? QString() : QStringLiteral("（%1）").arg(legendText))
                              + (available > 0 ? QString() : QStringLiteral(" — 无读数"))
                          : QString());
    // A count beyond the list would read past its end: use what is there.
    if (available <= 0 || !beginTime.isValid())
        return;
    const QString inFormat = QLatin1String(views[mode].keyFormat);
    // The month view reads 29 February of every fourth year, century years
    // included, so the end key can name a day the calendar lacks; keys of the
    // same width and digits only still order like the times they name.
    const QDateTime endTime = QDateTime::fromString(end, inFormat);
    bool ordered = false;
    if (endTime.isValid()) {
        ordered = beginTime < endTime;
    } else {
        bool digits = end.size() == begin.size() && !end.isEmpty();
        for (const QChar c : end)
            digits = digits && c.isDigit();
        ordered = digits && begin < end;
    }
    if (!ordered)
        return;

    int slotCount = 0;
    double yTop = 0.0;
    switch (mode) {
    case 0:
        qwtPlot->setAxisScaleDraw(QwtPlot::xBottom,
            new Disp_TimeScaleDraw(QTime::fromString(begin.mid(8, 6), QStringLiteral("hhmmss"))));
        yTop = 10;
        slotCount = 24;
        break;
    case 1:
    {
        // Full dates five days apart do not fit side by side: slant them.
        auto* dateDraw = new Disp_DateScaleDraw(QDate::fromString(begin.left(8), QStringLiteral("yyyyMMdd")));
        dateDraw->setLabelRotation(-30);
        dateDraw->setLabelAlignment(Qt::AlignLeft | Qt::AlignBottom);
        qwtPlot->setAxisScaleDraw(QwtPlot::xBottom, dateDraw);
    }
        yTop = 100;
        slotCount = 31;
        break;
    default:
        qwtPlot->setAxisScaleDraw(QwtPlot::xBottom,
            new Disp_MonScaleDraw(QDate::fromString(begin.left(6), QStringLiteral("yyyyMM"))));
        yTop = 100;
        slotCount = 12;
        break;
    }
    qwtPlot->setAxisScale(QwtPlot::xBottom, 0, slotCount);

    const QString& name = legendText;

    if (curves[0]) {
        curves[0]->setSamples(QVector<QPointF>());
        attachCurve(false);
        qwtPlot->replot();
        // The person, and so the device, may have changed since last time.
        curves[0]->setTitle(name);
    } else {
        auto* curve = new QwtPlotCurve(name); // owned by the plot once attached
        curves[0] = curve;
        curve->setZ(curve->z() - 1);
        QRandomGenerator* rng = QRandomGenerator::global();
        const int r = static_cast<int>(rng->bounded(255u));
        const int g = static_cast<int>(rng->bounded(255u));
        const int b = static_cast<int>(rng->bounded(255u));
        curve->setPen(QColor(r, g, b, 255));
        curve->setCurveAttribute(QwtPlotCurve::Fitted, false);
        showCurve(curve, true);
    }

    // Each slot takes at most the next record, and only if it belongs there.
    const QString dayPrefix = begin.left(8);
    const QString monthPrefix = begin.left(6);
    const QString yearPrefix = begin.left(4);
    QVector<QPointF> points;
    points.reserve(slotCount);
    int j = 0;
    for (int i = 0; i < slotCount; ++i) {
        QString dataTime;
        double value = 0.0;
        if (j < available) {
            switch (mode) {
            case 0: readRecord<Realdata>(records.at(j), dataTime, value); break;
            case 1: readRecord<totaldata_mon>(records.at(j), dataTime, value); break;
            default: readRecord<totaldata_year>(records.at(j), dataTime, value); break;
            }
        }
        bool match = false;
        if (!dataTime.isEmpty()) {
            switch (mode) {
            case 0: {
                const QString hour = dayPrefix + twoDigits(i);
                match = dataTime >= hour + QStringLiteral("0000")
                    && dataTime <= hour + QStringLiteral("5900");
                break;
            }
            case 1: match = dataTime == monthPrefix + twoDigits(i + 1); break;
            default: match = dataTime == yearPrefix + twoDigits(i + 1); break;
            }
        }
        if (match) {
            points.append(QPointF(i, value));
            ++j;
        } else {
            points.append(QPointF(i, 0.0));
        }
        if (j >= available)
            break;
    }

    // A month's total easily exceeds the usual scale: let the axis grow so
    // that no point is drawn off the plot.
    for (const QPointF& point : points)
        yTop = qMax(yTop, point.y() * 1.1);
    qwtPlot->setAxisScale(QwtPlot::yLeft, 0, yTop);

    curves[0]->setSamples(points);
    attachCurve(true);
    // A re-created legend entry starts unchecked; match it to the curve.
    showCurve(curves[0], curves[0]->isVisible());
}

void mydisp_plot::legendChecked(const QVariant& itemInfo, bool on)
{
    if (!qwtPlot)
        return;
    if (QwtPlotItem* item = qwtPlot->infoToItem(itemInfo))
        showCurve(item, on);
}

void mydisp_plot::showCurve(QwtPlotItem* item, bool on)
{
    if (!qwtPlot || !item)
        return;
    item->setVisible(on);
    if (auto* legend = qobject_cast<QwtLegend*>(qwtPlot->legend())) {
        const QList<QWidget*> widgets = legend->legendWidgets(qwtPlot->itemToInfo(item));
        if (widgets.size() == 1) {
            if (auto* label = qobject_cast<QwtLegendLabel*>(widgets.first()))
                label->setChecked(on);
        }
    }
    qwtPlot->replot();
}
