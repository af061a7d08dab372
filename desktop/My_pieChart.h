#pragma once

// The pie of the person panel: the share of the annual limit used and what remains.

#include <QList>
#include <QWidget>

class QPaintEvent;

// A pseudo-three-dimensional pie of a few shares (1.0 is the full circle):
// a stack of `depth` dark layers for the side and a bright top face.
class My_pieChart : public QWidget
{
    Q_OBJECT

public:
    explicit My_pieChart(QWidget* parent);

    // None of the setters repaints; the caller does.
    void setPosition(int x, int y);
    void setSize(int width, int height);
    void setDepth(int layers);
    // An empty list draws the pie empty, in grey.
    void setData(const QList<double>& shares);

    QList<double> getData() const { return data; }
    // Degrees of each slice as of the last paint.
    QList<int> getSpans() const { return spans; }
    QList<int> getStarts() const { return starts; }

    // Slices beyond this many have no colour and are not drawn.
    static constexpr int maxSlices = 7;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int posX = 0;
    int posY = 0;
    int pieWidth = 0;
    int pieHeight = 0;
    int depth = 0;
    QList<double> data;
    QList<int> spans;
    QList<int> starts;
};
