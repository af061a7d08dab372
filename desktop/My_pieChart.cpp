// The pie painted: its coloured top, the side as stacked darker layers, and a grey pie when there are no shares.

#include "desktop/My_pieChart.h"

#include <QPainter>

#include <cmath>

namespace {

const Qt::GlobalColor topColors[My_pieChart::maxSlices] = {
    Qt::red, Qt::blue, Qt::yellow, Qt::green, Qt::cyan, Qt::gray, Qt::magenta,
};
const Qt::GlobalColor sideColors[My_pieChart::maxSlices] = {
    Qt::darkRed, Qt::darkBlue, Qt::darkYellow, Qt::darkGreen, Qt::darkCyan, Qt::darkGray, Qt::darkMagenta,
};

} // namespace

My_pieChart::My_pieChart(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(929, 530);
}

void My_pieChart::setPosition(int x, int y)
{
    posX = x;
    posY = y;
}

void My_pieChart::setSize(int width, int height)
{
    pieWidth = width;
    pieHeight = height;
}

void My_pieChart::setDepth(int layers)
{
    depth = layers;
}

void My_pieChart::setData(const QList<double>& shares)
{
    data = shares;
}

void My_pieChart::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);

    spans.clear();
    starts.clear();
    starts.append(60);
    for (int i = 0; i < data.size(); ++i) {
        // Rounded up so that no share, however small, vanishes.
        spans.append(static_cast<int>(std::ceil(360.0 * data.at(i))));
        if (i > 0)
            starts.append(starts.at(i - 1) + spans.at(i - 1));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    // No shares: nobody is shown, and the pie says nothing but its outline in grey.
    if (data.isEmpty()) {
        painter.setBrush(QColor(Qt::darkGray));
        for (int k = 0; k < depth; ++k)
            painter.drawEllipse(QRect(posX, posY - k, pieWidth, pieHeight));
        painter.setBrush(QColor(Qt::lightGray));
        painter.drawEllipse(QRect(posX, posY - depth, pieWidth, pieHeight));
        return;
    }

    const int drawn = qMin(data.size(), maxSlices);
    // The side: the same pie drawn one pixel higher for each layer.
    for (int k = 0; k < depth; ++k) {
        const QRect rect(posX, posY - k, pieWidth, pieHeight);
        for (int i = 0; i < drawn; ++i) {
            painter.setBrush(QBrush(sideColors[i], Qt::SolidPattern));
            painter.drawPie(rect, starts.at(i) * 16, spans.at(i) * 16);
        }
    }
    const QRect top(posX, posY - depth, pieWidth, pieHeight);
    for (int i = 0; i < drawn; ++i) {
        painter.setBrush(QBrush(topColors[i], Qt::SolidPattern));
        painter.drawPie(top, starts.at(i) * 16, spans.at(i) * 16);
    }
}
