// The pie chart with the main window's geometry: slice angles, and the colours a paint leaves where.

#include <QtTest>

#include "desktop/My_pieChart.h"

static const QColor paper(10, 200, 30); // a colour the chart never uses

static QImage paint(My_pieChart& pie, const QList<double>& shares)
{
    pie.setPosition(40, 25);
    pie.setSize(260, 180);
    pie.setDepth(20);
    pie.setData(shares);
    QImage image(pie.size(), QImage::Format_ARGB32);
    image.fill(paper);
    pie.render(&image, QPoint(), QRegion(), QWidget::DrawChildren); // no background: only what paintEvent draws
    return image;
}

// The top face (40,5 260x180) at an angle counter-clockwise from 3 o'clock, 0.6 of the radius out.
static QColor topFace(const QImage& image, double degrees)
{
    const double a = qDegreesToRadians(degrees);
    return image.pixelColor(qRound(170 + 78 * qCos(a)), qRound(95 - 54 * qSin(a)));
}

class TestPieChart : public QObject
{
    Q_OBJECT

private slots:
    void anglesAndColours()
    {
        My_pieChart pie(nullptr);
        paint(pie, {0.001, 0.101, 0.898});
        paint(pie, {0.001, 0.101, 0.898}); // recomputed, not accumulated
        QCOMPARE(pie.getSpans(), QList<int>({1, 37, 324})); // rounded up
        QCOMPARE(pie.getStarts(), QList<int>({60, 61, 98}));
        QImage image = paint(pie, {0.1, 0.9}); // slice 0 covers 60..96 degrees
        QCOMPARE(topFace(image, 78), QColor(Qt::red));
        QCOMPARE(topFace(image, 240), QColor(Qt::blue));
        // Straight below the centre the top face ends at y = 185, the dark side of slice 1 at 205.
        QCOMPARE(image.pixelColor(170, 203), QColor(Qt::darkBlue));
        QCOMPARE(image.pixelColor(170, 208), paper);
        image = paint(pie, {0.125, 0.125, 0.125, 0.125, 0.125, 0.125, 0.125, 0.125});
        QCOMPARE(topFace(image, 60 + 6 * 45 + 22), QColor(Qt::magenta));
        QCOMPARE(topFace(image, 37), paper); // the eighth slice has no colour
    }
};

QTEST_MAIN(TestPieChart)
#include "tst_piechart.moc"
