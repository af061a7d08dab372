// The pie chart: angles from shares, and what lands on screen with the main
// window's geometry (position 40,25, size 260x180, depth 20).

#include <QtTest>

#include <QImage>
#include <QtMath>

#include "ui/My_pieChart.h"

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
    // State
    void startsEmptyWithFixedSize();
    void settersOnlyStore();

    // Angles
    void emptyListPaintsNothing();
    void sharesGiveCeilingSpansFromSixty();
    void smallShareIsRoundedUp();
    void wholeAndNothing();
    void negativeShareGivesNegativeSpan();

    // Pixels
    void topFaceShowsRedThenBlue();
    void sideLayersAreDarkAndBelowTheTop();
    void fullShareIsAWholeRedDisc();
    void negativeShareIsDrawnClockwise();
    void moreThanSevenSlicesDrawSevenWithoutCrashing();
};

void TestPieChart::startsEmptyWithFixedSize()
{
    QWidget parent;
    My_pieChart pie(&parent);
    QCOMPARE(pie.parentWidget(), &parent);
    QCOMPARE(pie.size(), QSize(929, 530));
    QCOMPARE(pie.minimumSize(), QSize(929, 530));
    QCOMPARE(pie.maximumSize(), QSize(929, 530));
    QVERIFY(pie.getData().isEmpty());
    QVERIFY(pie.getSpans().isEmpty());
    QVERIFY(pie.getStarts().isEmpty());
    // Nothing placed yet: even with data there is no area to fill.
    pie.setData({ 0.5, 0.5 });
    const QImage image = render(pie);
    QCOMPARE(image.pixelColor(0, 0), paper);
}

void TestPieChart::settersOnlyStore()
{
    My_pieChart pie(nullptr);
    pie.setData({ 0.25, 0.75 });
    QCOMPARE(pie.getData(), QList<double>({ 0.25, 0.75 }));
    QVERIFY(pie.getSpans().isEmpty()); // angles come with the next paint
    render(pie);
    QCOMPARE(pie.getSpans(), QList<int>({ 90, 270 }));
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

void TestPieChart::sharesGiveCeilingSpansFromSixty()
{
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData({ 0.1, 0.9 });
    render(pie);
    QCOMPARE(pie.getSpans(), QList<int>({ 36, 324 }));
    QCOMPARE(pie.getStarts(), QList<int>({ 60, 96 }));

    // Recomputed, not accumulated, on the next paint.
    render(pie);
    QCOMPARE(pie.getSpans(), QList<int>({ 36, 324 }));
    QCOMPARE(pie.getStarts(), QList<int>({ 60, 96 }));
}

void TestPieChart::smallShareIsRoundedUp()
{
    My_pieChart pie(nullptr);
    pie.setData({ 0.001, 0.101, 0.898 });
    render(pie);
    QCOMPARE(pie.getSpans(), QList<int>({ 1, 37, 324 }));
    QCOMPARE(pie.getStarts(), QList<int>({ 60, 61, 98 }));
}

void TestPieChart::wholeAndNothing()
{
    My_pieChart pie(nullptr);
    pie.setData({ 1.0, 0.0 });
    render(pie);
    QCOMPARE(pie.getSpans(), QList<int>({ 360, 0 }));
    QCOMPARE(pie.getStarts(), QList<int>({ 60, 420 }));
}

void TestPieChart::negativeShareGivesNegativeSpan()
{
    My_pieChart pie(nullptr);
    pie.setData({ -0.5, 1.5 });
    render(pie);
    QCOMPARE(pie.getSpans(), QList<int>({ -180, 540 }));
    QCOMPARE(pie.getStarts(), QList<int>({ 60, -120 }));
}

void TestPieChart::topFaceShowsRedThenBlue()
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
}

void TestPieChart::sideLayersAreDarkAndBelowTheTop()
{
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData({ 0.1, 0.9 });
    const QImage image = render(pie);

    // The top face ends at y = 185, the bottom layer at y = 205; the side
    // in between, straight below the centre, belongs to slice 1 (270 degrees).
    QCOMPARE(image.pixelColor(170, 195), QColor(Qt::darkBlue));
    QCOMPARE(image.pixelColor(170, 203), QColor(Qt::darkBlue));
    QCOMPARE(image.pixelColor(170, 180), QColor(Qt::blue));
}

void TestPieChart::fullShareIsAWholeRedDisc()
{
    My_pieChart pie(nullptr);
    placeAsMainWindow(pie);
    pie.setData({ 1.0, 0.0 });
    const QImage image = render(pie);
    for (int degrees = 0; degrees < 360; degrees += 30)
        QCOMPARE(image.pixelColor(topFace(degrees)), QColor(Qt::red));
    QCOMPARE(image.pixelColor(170, 195), QColor(Qt::darkRed));
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
