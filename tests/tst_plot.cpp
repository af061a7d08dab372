// The dose curve plot: its set-up, the x-axis label classes, the slot walk of
// the three views, refreshes that must leave no curve, and the legend.

#include <QtTest>

#include <QPointer>

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>
#include <qwt_scale_draw.h>

#include "db/Realdata.h"
#include "db/totaldata_mon.h"
#include "db/totaldata_year.h"
#include "ui/Disp_DateScaleDraw.h"
#include "ui/Disp_MonScaleDraw.h"
#include "ui/Disp_TimeScaleDraw.h"
#include "ui/mydisp_plot.h"

namespace {

QVariant hourly(const QString& dataTime, double value, int slaveId = 5)
{
    Realdata r;
    r.slaveId = slaveId;
    r.dataTime = dataTime;
    r.probeValue = value;
    return QVariant::fromValue(r);
}

QVariant daily(const QString& dataTime, double value)
{
    totaldata_mon r;
    r.slaveId = 5;
    r.dataTime = dataTime;
    r.probeValue = value;
    return QVariant::fromValue(r);
}

QVariant monthly(const QString& dataTime, double value)
{
    totaldata_year r;
    r.slaveId = 5;
    r.dataTime = dataTime;
    r.probeValue = value;
    return QVariant::fromValue(r);
}

QVector<QPointF> samplesOf(const QwtPlotCurve* curve)
{
    QVector<QPointF> points;
    for (size_t i = 0; i < curve->dataSize(); ++i)
        points.append(curve->sample(static_cast<int>(i)));
    return points;
}

QString xLabel(const QwtPlot& plot, double v)
{
    return plot.axisScaleDraw(QwtPlot::xBottom)->label(v).text();
}

QwtLegendLabel* legendLabelOf(const QwtPlot& plot, QwtPlotItem* item)
{
    auto* legend = qobject_cast<const QwtLegend*>(plot.legend());
    if (!legend)
        return nullptr;
    const QList<QWidget*> widgets = legend->legendWidgets(plot.itemToInfo(item));
    return widgets.size() == 1 ? qobject_cast<QwtLegendLabel*>(widgets.first()) : nullptr;
}

bool attached(const QwtPlot& plot, const QwtPlotCurve* curve)
{
    return curve && curve->plot() == &plot
        && plot.itemList(QwtPlotItem::Rtti_PlotCurve).contains(const_cast<QwtPlotCurve*>(curve));
}

const QString day = QStringLiteral("20160414");

} // namespace

class TestPlot : public QObject
{
    Q_OBJECT

private slots:
    // Scale draws
    void timeLabelsCountHoursFromTheBase();
    void dateLabelsCountDaysFromTheBase();
    void monthLabelsCountMonthsFromTheBase();

    // Set-up
    void setUpGivesTitlesScalesGridLegendAndNoCurve();

    // Day, month and year views
    void dayViewFillsHoursUpToTheLastReading();
    void dayViewMatchesAnyTimeWithinTheHour();
    void monthViewDrawsDayTenAtNine();
    void yearViewStartsWithJanuary();
    void countBeyondTheListUsesTheList();

    // Refreshes that leave no curve
    void emptyListRemovesCurveAndKeepsTitleAndAxes();
    void beginNotBeforeEndDrawsNothing_data();
    void beginNotBeforeEndDrawsNothing();
    void unknownModeOrUnparsableRangeDrawsNothing();
    void curveComesBackAfterAnEmptyRefresh();

    // Legend
    void legendLabelClickHidesAndShows();
    void unknownLegendItemIsIgnored();
    void hiddenCurveStaysHiddenAcrossRefreshes();
    void curveTitleFollowsTheDevice();

    // Lifetime
    void plotMayGoFirst();
};

void TestPlot::timeLabelsCountHoursFromTheBase()
{
    const Disp_TimeScaleDraw draw(QTime(0, 0, 0));
    QCOMPARE(draw.label(0).text(), QStringLiteral("00:00"));
    QCOMPARE(draw.label(8).text(), QStringLiteral("08:00"));
    QCOMPARE(draw.label(1.5).text(), QStringLiteral("01:30"));
    QCOMPARE(draw.label(23).text(), QStringLiteral("23:00"));
    // 0.0166 h is 59.76 s: truncated, not rounded up to a minute.
    QCOMPARE(draw.label(0.0166).text(), QStringLiteral("00:00"));

    const Disp_TimeScaleDraw later(QTime(22, 30, 0));
    QCOMPARE(later.label(2).text(), QStringLiteral("00:30")); // wraps past midnight
}

void TestPlot::dateLabelsCountDaysFromTheBase()
{
    const Disp_DateScaleDraw draw(QDate(2016, 4, 1));
    QCOMPARE(draw.label(0).text(), QStringLiteral("2016-04-01"));
    QCOMPARE(draw.label(9).text(), QStringLiteral("2016-04-10"));
    QCOMPARE(draw.label(9.9).text(), QStringLiteral("2016-04-10"));
    QCOMPARE(draw.label(30).text(), QStringLiteral("2016-05-01"));
}

void TestPlot::monthLabelsCountMonthsFromTheBase()
{
    const Disp_MonScaleDraw draw(QDate(2016, 1, 1));
    QCOMPARE(draw.label(0).text(), QStringLiteral("2016-01"));
    QCOMPARE(draw.label(11.7).text(), QStringLiteral("2016-12"));
    QCOMPARE(draw.label(12).text(), QStringLiteral("2017-01"));
}

void TestPlot::setUpGivesTitlesScalesGridLegendAndNoCurve()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    plot.updateAxes(); // fixed scales take effect with the next layout

    QCOMPARE(plot.axisTitle(QwtPlot::xBottom).text() + plot.axisTitle(QwtPlot::yLeft).text(),
             QStringLiteral("时间[hh:mm]剂量(μSv)"));
    QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom).upperBound(), 60.0);
    QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 50.0);
    QVERIFY(dynamic_cast<const Disp_TimeScaleDraw*>(plot.axisScaleDraw(QwtPlot::xBottom)));
    auto* legend = qobject_cast<QwtLegend*>(plot.legend());
    QVERIFY(legend);
    QCOMPARE(legend->defaultItemMode(), QwtLegendData::Checkable);
    QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotGrid).size(), 1);
    QVERIFY(!dp.curve());
    QVERIFY(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
}

void TestPlot::dayViewFillsHoursUpToTheLastReading()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    const QList<QVariant> records { hourly(day + "080000", 2.5), hourly(day + "100000", 4.25) };
    dp.updateCurve(0, 5, day + "000000", day + "235900", records, records.size());

    QVERIFY(attached(plot, dp.curve()));
    QVector<QPointF> expected;
    for (int i = 0; i < 8; ++i)
        expected.append(QPointF(i, 0));
    expected << QPointF(8, 2.5) << QPointF(9, 0) << QPointF(10, 4.25);
    QCOMPARE(samplesOf(dp.curve()), expected);

    QCOMPARE(plot.title().text(), QStringLiteral("起始于2016-04-14"));
    QVERIFY(dynamic_cast<const Disp_TimeScaleDraw*>(plot.axisScaleDraw(QwtPlot::xBottom)));
    QCOMPARE(xLabel(plot, 8), QStringLiteral("08:00"));
    QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom).upperBound(), 24.0);
    QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 10.0);
}

void TestPlot::dayViewMatchesAnyTimeWithinTheHour()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    const QList<QVariant> records { hourly(day + "000000", 1), hourly(day + "015900", 2),
                                    hourly(day + "023000", 3) };
    dp.updateCurve(0, 5, day + "000000", day + "235900", records, records.size());
    const QVector<QPointF> expected { { 0, 1 }, { 1, 2 }, { 2, 3 } };
    QCOMPARE(samplesOf(dp.curve()), expected);
}

void TestPlot::monthViewDrawsDayTenAtNine()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    const QList<QVariant> records { daily("20160410", 12.5) };
    dp.updateCurve(1, 5, "20160401", "20160430", records, 1);

    const QVector<QPointF> points = samplesOf(dp.curve());
    QCOMPARE(points.size(), 10);
    QCOMPARE(points.last(), QPointF(9, 12.5));
    for (int i = 0; i < 9; ++i)
        QCOMPARE(points.at(i), QPointF(i, 0));

    QCOMPARE(xLabel(plot, 9), QStringLiteral("2016-04-10"));
    QCOMPARE(plot.title().text(), QStringLiteral("起始于2016-04-01"));
    QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom).upperBound(), 31.0);
    QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 100.0);
}

void TestPlot::yearViewStartsWithJanuary()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    const QList<QVariant> records { monthly("201601", 30), monthly("201603", 45) };
    dp.updateCurve(2, 5, "201601", "201612", records, records.size());

    const QVector<QPointF> expected { { 0, 30 }, { 1, 0 }, { 2, 45 } };
    QCOMPARE(samplesOf(dp.curve()), expected);
    QCOMPARE(xLabel(plot, 0), QStringLiteral("2016-01"));
    QCOMPARE(xLabel(plot, 11), QStringLiteral("2016-12"));
    QCOMPARE(plot.title().text(), QStringLiteral("起始于2016-01"));
    QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom).upperBound(), 12.0);
    QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 100.0);

    // Totals above the usual scale widen the axis instead of leaving the plot.
    const QList<QVariant> high { monthly("201601", 30), monthly("201602", 400) };
    dp.updateCurve(2, 5, "201601", "201612", high, high.size());
    QVERIFY(plot.axisScaleDiv(QwtPlot::yLeft).upperBound() >= 400.0);
    dp.updateCurve(2, 5, "201601", "201612", records, records.size());
    QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).upperBound(), 100.0);
}

void TestPlot::countBeyondTheListUsesTheList()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    const QList<QVariant> records { monthly("201602", 7) };
    dp.updateCurve(2, 5, "201601", "201612", records, 5);
    const QVector<QPointF> expected { { 0, 0 }, { 1, 7 } };
    QCOMPARE(samplesOf(dp.curve()), expected);
}

void TestPlot::emptyListRemovesCurveAndKeepsTitleAndAxes()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    dp.updateCurve(1, 5, "20160401", "20160430", { daily("20160402", 3) }, 1);
    QwtPlotCurve* curve = dp.curve();
    QVERIFY(attached(plot, curve));
    const QString title = plot.title().text();

    dp.updateCurve(1, 5, "20160501", "20160531", {}, 0);
    QCOMPARE(dp.curve(), curve); // kept for reuse, but off the plot
    QVERIFY(!attached(plot, curve));
    QVERIFY(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
    QCOMPARE(plot.title().text(), title);
    QCOMPARE(xLabel(plot, 9), QStringLiteral("2016-04-10"));
    QCOMPARE(plot.axisScaleDiv(QwtPlot::xBottom).upperBound(), 31.0);
    QCOMPARE(plot.axisTitle(QwtPlot::xBottom).text(), QStringLiteral("时间[hh:mm]"));
    QCOMPARE(plot.axisTitle(QwtPlot::yLeft).text(), QStringLiteral("剂量(μSv)"));

    // An empty begin is the same as no records.
    dp.updateCurve(1, 5, "20160401", "20160430", { daily("20160402", 3) }, 1);
    QVERIFY(attached(plot, curve));
    dp.updateCurve(1, 5, QString(), QString(), { daily("20160402", 3) }, 1);
    QVERIFY(!attached(plot, curve));
}

void TestPlot::beginNotBeforeEndDrawsNothing_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("begin");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QVariant>("record");
    QTest::newRow("day, equal") << 0 << day + "000000" << day + "000000" << hourly(day + "000000", 1);
    QTest::newRow("day, reversed") << 0 << day + "235900" << day + "000000" << hourly(day + "000000", 1);
    QTest::newRow("month, reversed") << 1 << "20160430" << "20160401" << daily("20160401", 1);
    QTest::newRow("year, equal") << 2 << "201601" << "201601" << monthly("201601", 1);
}

void TestPlot::beginNotBeforeEndDrawsNothing()
{
    QFETCH(int, mode);
    QFETCH(QString, begin);
    QFETCH(QString, end);
    QFETCH(QVariant, record);

    // Never drawn before: no curve at all.
    {
        QwtPlot plot;
        mydisp_plot dp(&plot, nullptr);
        dp.updateCurve(mode, 5, begin, end, { record }, 1);
        QVERIFY(!dp.curve());
        QVERIFY(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
    }
    // Drawn before: the old curve goes.
    {
        QwtPlot plot;
        mydisp_plot dp(&plot, nullptr);
        dp.updateCurve(2, 5, "201601", "201612", { monthly("201601", 1) }, 1);
        QVERIFY(attached(plot, dp.curve()));
        dp.updateCurve(mode, 5, begin, end, { record }, 1);
        QVERIFY(!attached(plot, dp.curve()));
        QVERIFY(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
    }
}

void TestPlot::unknownModeOrUnparsableRangeDrawsNothing()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    dp.updateCurve(3, 5, "201601", "201612", { monthly("201601", 1) }, 1);
    QVERIFY(!dp.curve());
    dp.updateCurve(-1, 5, "201601", "201612", { monthly("201601", 1) }, 1);
    QVERIFY(!dp.curve());
    // A month text without "-" reaches us as begin "01" and an empty end.
    dp.updateCurve(1, 5, "01", QString(), { daily("20160101", 1) }, 1);
    QVERIFY(!dp.curve());
    dp.updateCurve(0, 5, day + "000000", "garbage", { hourly(day + "000000", 1) }, 1);
    QVERIFY(!dp.curve());
    QVERIFY(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
}

void TestPlot::curveComesBackAfterAnEmptyRefresh()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    dp.updateCurve(0, 5, day + "000000", day + "235900", { hourly(day + "030000", 1) }, 1);
    QwtPlotCurve* curve = dp.curve();
    dp.updateCurve(0, 5, day + "000000", day + "235900", {}, 0);
    dp.updateCurve(2, 5, "201601", "201612", { monthly("201602", 9) }, 1);
    QCOMPARE(dp.curve(), curve); // one curve, reused
    QVERIFY(attached(plot, curve));
    QCOMPARE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
    const QVector<QPointF> expected { { 0, 0 }, { 1, 9 } };
    QCOMPARE(samplesOf(curve), expected); // old points do not linger
    QCOMPARE(xLabel(plot, 1), QStringLiteral("2016-02"));
}

void TestPlot::legendLabelClickHidesAndShows()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    dp.updateCurve(2, 5, "201601", "201612", { monthly("201601", 1) }, 1);
    QwtPlotCurve* curve = dp.curve();
    QwtLegendLabel* label = legendLabelOf(plot, curve);
    QVERIFY(label);

    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(!curve->isVisible());
    QVERIFY(!label->isChecked());

    QTest::mouseClick(label, Qt::LeftButton);
    QVERIFY(curve->isVisible());
    QVERIFY(label->isChecked());

    // showCurve directly keeps the check box in step as well.
    dp.showCurve(curve, false);
    QVERIFY(!curve->isVisible());
    QVERIFY(!label->isChecked());
}

void TestPlot::unknownLegendItemIsIgnored()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    dp.updateCurve(2, 5, "201601", "201612", { monthly("201601", 1) }, 1);
    dp.legendChecked(QVariant(), false);
    dp.showCurve(nullptr, false);
    QVERIFY(dp.curve()->isVisible());
}

void TestPlot::hiddenCurveStaysHiddenAcrossRefreshes()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    dp.updateCurve(2, 5, "201601", "201612", { monthly("201601", 1) }, 1);
    dp.showCurve(dp.curve(), false);
    dp.updateCurve(2, 5, "201601", "201612", { monthly("201601", 2) }, 1);
    QVERIFY(!dp.curve()->isVisible());
    QwtLegendLabel* label = legendLabelOf(plot, dp.curve());
    QVERIFY(label);
    QVERIFY(!label->isChecked()); // one click on it shows the curve again
}

void TestPlot::curveTitleFollowsTheDevice()
{
    QwtPlot plot;
    mydisp_plot dp(&plot, nullptr);
    dp.updateCurve(0, 5, day + "000000", day + "235900", { hourly(day + "010000", 1, 5) }, 1);
    QwtLegendLabel* label = legendLabelOf(plot, dp.curve());
    QVERIFY(label);
    QVERIFY(label->isChecked());
    QCOMPARE(label->text().text(), QStringLiteral("5号设备"));
    // Re-attaching makes a fresh legend entry: checked too, with the new name.
    dp.updateCurve(0, 17, day + "000000", day + "235900", { hourly(day + "010000", 1, 17) }, 1);
    QCOMPARE(dp.curve()->title().text(), QStringLiteral("17号设备"));
    label = legendLabelOf(plot, dp.curve());
    QVERIFY(label);
    QVERIFY(label->isChecked());
    QCOMPARE(label->text().text(), QStringLiteral("17号设备"));
}

void TestPlot::plotMayGoFirst()
{
    // Detached curve, plot deleted first: the controller must neither crash
    // nor touch the curve afterwards.
    auto* plot = new QwtPlot();
    auto dp = std::make_unique<mydisp_plot>(plot, nullptr);
    dp->updateCurve(2, 5, "201601", "201612", { monthly("201601", 1) }, 1);
    dp->updateCurve(2, 5, "201601", "201612", {}, 0);
    delete plot;
    QVERIFY(!dp->curve());
    dp->updateCurve(2, 5, "201601", "201612", { monthly("201601", 1) }, 1); // no plot: no-op
    dp.reset();

    // Attached curve, controller deleted first: the plot still owns it.
    QwtPlot other;
    {
        mydisp_plot dp2(&other, nullptr);
        dp2.updateCurve(2, 5, "201601", "201612", { monthly("201601", 1) }, 1);
    }
    QCOMPARE(other.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
}

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
