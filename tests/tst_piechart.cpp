// The pie chart: angles from shares, and what lands on screen with the main
// window's geometry (position 40,25, size 260x180, depth 20).

#include <QtTest>

#include <QImage>
#include <QtMath>

#include "ui/My_pieChart.h"

Q_DECLARE_METATYPE(QList<double>)

namespace {

const QColor paper(10, 200, 30); // a colour the chart never uses

QImage render(My_pieChart& pie)
{
    QImage image(pie.size(), QImage::Format_ARGB32);
    image.fill(paper);
    // Without DrawWindowBackground only what paintEvent draws reaches the image.
    pie.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void placeAsMainWindow(My_pieChart& pie)
{
    pie.setPosition(40, 25);
    pie.setSize(260, 180);
    pie.setDepth(20);
}

// A point of the top face (rectangle 40,5 260x180) at the given angle
// (degrees, counter-clockwise from 3 o'clock) and fraction of the radius.
QPoint topFace(double degrees, double fraction = 0.6)
{
    const double cx = 40 + 130.0;
    const double cy = 5 + 90.0;
    const double a = qDegreesToRadians(degrees);
    return QPoint(qRound(cx + fraction * 130 * qCos(a)), qRound(cy - fraction * 90 * qSin(a)));
}

} // namespace

class TestPieChart : public QObject
{
    Q_OBJECT

private slots:
    // State and angles
    void anglesComeWithThePaint();
    void sharesGiveCeilingSpansFromSixty_data();
    void sharesGiveCeilingSpansFromSixty();
    void emptyListPaintsNothing();

    // Pixels
    void topFaceShowsRedThenBlueOverDarkSides();
    void negativeShareIsDrawnClockwise();
    void moreThanSevenSlicesDrawSevenWithoutCrashing();
};

void TestPieChart::anglesComeWithThePaint()
{
    My_pieChart pie(nullptr);
    QVERIFY(pie.getData().isEmpty() && pie.getSpans().isEmpty() && pie.getStarts().isEmpty());
    pie.setData({ 0.5, 0.5 });
    QVERIFY(pie.getSpans().isEmpty());
    // Nothing placed yet: even with data there is no area to fill.
    QCOMPARE(render(pie).pixelColor(0, 0), paper);
    QCOMPARE(pie.getSpans(), QList<int>({ 180, 180 }));
}

void TestPieChart::sharesGiveCeilingSpansFromSixty_data()
{
    QTest::addColumn<QList<double>>("shares");
    QTest::addColumn<QList<int>>("spans");
    QTest::addColumn<QList<int>>("starts");
    QTest::newRow("0.1/0.9") << QList<double>{ 0.1, 0.9 } << QList<int>{ 36, 324 } << QList<int>{ 60, 96 };
    QTest::newRow("small share rounded up") << QList<double>{ 0.001, 0.101, 0.898 } << QList<int>{ 1, 37, 324 }
                                            << QList<int>{ 60, 61, 98 };
    QTest::newRow("1/0") << QList<double>{ 1.0, 0.0 } << QList<int>{ 360, 0 } << QList<int>{ 60, 420 };
    QTest::newRow("negative") << QList<double>{ -0.5, 1.5 } << QList<int>{ -180, 540 } << QList<int>{ 60, -120 };
}

void TestPieChart::sharesGiveCeilingSpansFromSixty()
{
    QFETCH(QList<double>, shares);
    QFETCH(QList<int>, spans);
    QFETCH(QList<int>, starts);
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData(shares);
    // Recomputed, not accumulated, on every paint.
    for (int paint = 0; paint < 2; ++paint) {
        render(pie);
        QCOMPARE(pie.getSpans(), spans);
        QCOMPARE(pie.getStarts(), starts);
    }
}

void TestPieChart::emptyListPaintsNothing()
{
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData({ 0.1, 0.9 });
    render(pie);
    pie.setData({});
    const QImage image = render(pie);

    QImage untouched(pie.size(), QImage::Format_ARGB32);
    untouched.fill(paper);
    QCOMPARE(image, untouched);
    QVERIFY(pie.getSpans().isEmpty());
    QCOMPARE(pie.getStarts(), QList<int>({ 60 }));
}

void TestPieChart::topFaceShowsRedThenBlueOverDarkSides()
{
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData({ 0.1, 0.9 });
    const QImage image = render(pie);

    // Slice 0 covers 60..96 degrees, slice 1 the rest.
    QCOMPARE(image.pixelColor(topFace(78)), QColor(Qt::red));
    QCOMPARE(image.pixelColor(topFace(78, 0.3)), QColor(Qt::red));
    QCOMPARE(image.pixelColor(topFace(240)), QColor(Qt::blue));
    QCOMPARE(image.pixelColor(topFace(0)), QColor(Qt::blue));
    QCOMPARE(image.pixelColor(topFace(50)), QColor(Qt::blue));
    QCOMPARE(image.pixelColor(topFace(110)), QColor(Qt::blue));

    // Outside the pie the widget is left alone.
    QCOMPARE(image.pixelColor(170, 2), paper);   // above the top face
    QCOMPARE(image.pixelColor(20, 95), paper);   // left of it
    QCOMPARE(image.pixelColor(600, 300), paper); // far right
    QCOMPARE(image.pixelColor(170, 215), paper); // below the bottom layer

    // The top face ends at y = 185, the bottom layer at y = 205; the side
    // in between, straight below the centre, belongs to slice 1 (270 degrees).
    QCOMPARE(image.pixelColor(170, 195), QColor(Qt::darkBlue));
    QCOMPARE(image.pixelColor(170, 203), QColor(Qt::darkBlue));
    QCOMPARE(image.pixelColor(170, 180), QColor(Qt::blue));
}

void TestPieChart::negativeShareIsDrawnClockwise()
{
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData({ -0.25 }); // from 60 degrees clockwise to -30
    const QImage image = render(pie);
    QCOMPARE(image.pixelColor(topFace(15)), QColor(Qt::red));
    QCOMPARE(image.pixelColor(topFace(-15)), QColor(Qt::red));
    QCOMPARE(image.pixelColor(topFace(120)), paper);
    QCOMPARE(image.pixelColor(topFace(240)), paper);
}

void TestPieChart::moreThanSevenSlicesDrawSevenWithoutCrashing()
{
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData(QList<double>({ 0.125, 0.125, 0.125, 0.125, 0.125, 0.125, 0.125, 0.125 }));
    const QImage image = render(pie);
    QCOMPARE(pie.getSpans().size(), 8);
    QCOMPARE(pie.getStarts().last(), 60 + 7 * 45);

    QCOMPARE(image.pixelColor(topFace(60 + 22)), QColor(Qt::red));
    QCOMPARE(image.pixelColor(topFace(60 + 6 * 45 + 22)), QColor(Qt::magenta));
    // The eighth slice (15..60 degrees) has no colour and stays empty.
    QCOMPARE(image.pixelColor(topFace(37)), paper);
}

QTEST_MAIN(TestPieChart)
#include "tst_piechart.moc"
