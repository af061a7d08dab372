// The dose curve plot: axis labels, the three views, refreshes that leave no curve, the legend.

#include <QtTest>

#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_draw.h>

#include "core/readings/Realdata.h"
#include "core/readings/totaldata_mon.h"
#include "core/readings/totaldata_year.h"
#include "desktop/mydisp_plot.h"

using Points = QVector<QPointF>;

// Records of the kind a view reads (0 hourly, 1 daily, 2 monthly) of device 5, valued v, v + 1, ...
static QList<QVariant> recs(int mode, const QStringList& keys, double v = 1)
{
    QList<QVariant> list;
    for (const QString& k : keys)
        list << (mode == 0   ? QVariant::fromValue(Realdata{0, 5, k, v++})
                 : mode == 1 ? QVariant::fromValue(totaldata_mon{0, 5, k, v++})
                             : QVariant::fromValue(totaldata_year{0, 5, k, v++}));
    return list;
}

static Points points(const QwtPlotCurve* c)
{
    return c && c->plot() ? static_cast<const QwtPointSeriesData*>(c->data())->samples() : Points();
}

static double top(const QwtPlot& plot, int axis) { return plot.axisScaleDiv(axis).upperBound(); }

static QwtLegendLabel* legendOf(const QwtPlot& p, QwtPlotItem* c)
{
    return qobject_cast<QwtLegendLabel*>(static_cast<const QwtLegend*>(p.legend())->legendWidget(p.itemToInfo(c)));
}

class TestPlot : public QObject
{
    Q_OBJECT

private slots:
    void views_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("keys"); // begin, end, then the records
        QTest::addColumn<Points>("expected");
        QTest::addColumn<QString>("texts"); // title, label of slot 9
        QTest::addColumn<QPointF>("tops");  // of the x and y axes
        QTest::newRow("day") << 0 << QStringList{"20160414000000", "20160414235900", "20160414000000", "20160414015900",
                                                 "20160414023000"}
            << Points{{0, 1}, {1, 2}, {2, 3}} << "2016-04-14 每小时剂量（5号设备） 09:00" << QPointF(24, 10);
        QTest::newRow("month") << 1 << QStringList{"20160401", "20160430", "20160403", "20160410"}
            << Points{{0, 0}, {1, 0}, {2, 1}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 2}}
            << "2016-04 每日剂量（5号设备） 2016-04-10" << QPointF(31, 100);
        QTest::newRow("year") << 2 << QStringList{"201601", "201612", "201602"} << Points{{0, 0}, {1, 1}}
            << "2016 每月剂量（5号设备） 2016-10" << QPointF(12, 100);
        // An end key naming a day the calendar lacks is compared as text.
        QTest::newRow("February 2100") << 1 << QStringList{"21000201", "21000229", "21000201"} << Points{{0, 1}}
            << "2100-02 每日剂量（5号设备） 2100-02-10" << QPointF(31, 100);
        // No range, no curve.
        for (const char* range : {"20160430 20160401 20160401", "20160432 20160501 20160501",
                                  "21000201 2100022 21000201", "21000201 2100022x 21000201", "21000301 21000229 21000301"})
            QTest::newRow(range) << 1 << QString(range).split(' ') << Points() << QString() << QPointF();
    }
    void views()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, keys);
        QFETCH(QPointF, tops);
        QwtPlot plot;
        mydisp_plot dp(&plot, nullptr);
        dp.updateCurve(2, 5, "201601", "201612", recs(2, {"201601"}), 1); // replaced or taken off
        dp.updateCurve(mode, 5, keys[0], keys[1], recs(qMin(mode, 2), keys.mid(2)), 5); // more than the list holds
        QTEST(points(dp.curve()), "expected");
        if (tops.isNull()) { // nothing of the year view before stays
            QVERIFY(!plot.title().text().contains("2016 每月剂量"));
            return;
        }
        QTEST(plot.title().text() + " " + plot.axisScaleDraw(QwtPlot::xBottom)->label(9).text(), "texts");
        QCOMPARE(QPointF(top(plot, QwtPlot::xBottom), top(plot, QwtPlot::yLeft)), tops);
    }

    void oneCurveFollowsTheRefreshesAndTheLegend()
    {
        auto* plot = new QwtPlot();
        mydisp_plot dp(plot, nullptr);
        plot->updateAxes(); // fixed scales take effect with the next layout
        QCOMPARE(plot->axisTitle(QwtPlot::yLeft).text() + plot->axisTitle(QwtPlot::xBottom).text(), "剂量(μSv)时间 [时:分]");
        QCOMPARE(QPointF(top(*plot, QwtPlot::xBottom), top(*plot, QwtPlot::yLeft)), QPointF(60, 50));
        QCOMPARE(plot->itemList(QwtPlotItem::Rtti_PlotGrid).size(), 1);
        dp.updateCurve(1, 5, "20160401", "20160430", recs(1, {"20160402"}), 1);
        QwtPlotCurve* curve = dp.curve();
        QwtLegendLabel* label = legendOf(*plot, curve);
        QVERIFY(label && label->isChecked());
        QTest::mouseClick(label, Qt::LeftButton);
        QVERIFY(!curve->isVisible() && !label->isChecked());
        dp.showCurve(nullptr, false);

        // Hidden and renamed it comes back the same; a total above the scale widens the axis.
        dp.updateCurve(1, 5, "20160501", "20160531", {}, 0);
        QVERIFY(!curve->plot());
        dp.updateCurve(2, 17, "201601", "201612", recs(2, {"201601", "201602"}, 399), 2);
        QCOMPARE(points(curve), (Points{{0, 399}, {1, 400}}));
        QVERIFY(top(*plot, QwtPlot::yLeft) >= 400);
        QVERIFY(!curve->isVisible() && !legendOf(*plot, curve)->isChecked());
        dp.showCurve(curve, true);
        dp.updateCurve(2, 17, "201601", "201612", recs(2, {"201601"}), 1);
        QCOMPARE(top(*plot, QwtPlot::yLeft), 100.0);
        QCOMPARE(legendOf(*plot, curve)->text().text(), QStringLiteral("17号设备"));
        QVERIFY(legendOf(*plot, curve)->isChecked());

        QwtPlot other; // the plot may go first; a curve on it is the plot's, one off it ours to delete
        mydisp_plot(&other, nullptr).updateCurve(2, 5, "201601", "201612", recs(2, {"201601"}), 1);
        QCOMPARE(other.itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
        dp.updateCurve(2, 5, "201601", "201612", {}, 0);
        delete plot;
        QVERIFY(!dp.curve());
    }
};

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
