// Redraws the images behind ":/data/" (resources/). Run from anywhere:
//   draw_icons <output directory>
// The images are our own simple drawings; keep them small and plain.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

QImage blank(int w, int h, const QColor& fill = Qt::transparent)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(fill);
    return img;
}

// Database query: a stack of three disks with a magnifier.
QImage drawSql()
{
    QImage img = blank(24, 24, Qt::white); // JPG has no alpha
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 60, 120), 1));
    for (int k = 2; k >= 0; --k) {
        p.setBrush(QColor(90, 140, 210));
        p.drawRect(QRectF(3, 5 + k * 5, 12, 4));
        p.drawEllipse(QRectF(3, 3 + k * 5, 12, 4));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(200, 120, 0), 2));
    p.drawEllipse(QRectF(12, 11, 7, 7));
    p.drawLine(QPointF(18, 17), QPointF(22, 21));
    return img;
}

// Synchronise: two arrows chasing each other round a circle.
QImage drawSyn()
{
    QImage img = blank(24, 24);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c(20, 140, 60);
    p.setPen(QPen(c, 2.5, Qt::SolidLine, Qt::RoundCap));
    const QRectF r(4, 4, 16, 16);
    p.drawArc(r, 30 * 16, 140 * 16);
    p.drawArc(r, 210 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(QPolygonF({ QPointF(3, 9), QPointF(9, 10), QPointF(4, 15) }));
    p.drawPolygon(QPolygonF({ QPointF(21, 15), QPointF(15, 14), QPointF(20, 9) }));
    return img;
}

QImage drawRun()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(10, 110, 30), 1));
    p.setBrush(QColor(40, 180, 60));
    p.drawPolygon(QPolygonF({ QPointF(4, 2), QPointF(14, 8), QPointF(4, 14) }));
    return img;
}

QImage drawStop()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(140, 20, 20), 1));
    p.setBrush(QColor(210, 40, 40));
    p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 2, 2);
    return img;
}

QImage drawClose()
{
    QImage img = blank(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 20, 20), 1));
    p.setBrush(QColor(220, 70, 60));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
    p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    return img;
}

// Banner: a three-bladed radiation-safety style mark and the program name.
QImage drawAbout()
{
    QImage img = blank(400, 120, QColor(250, 250, 245));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QPointF c(60, 60);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 200, 30));
    p.drawEllipse(c, 48, 48);
    p.setBrush(QColor(30, 30, 30));
    const QRectF outer(c.x() - 42, c.y() - 42, 84, 84);
    for (int k = 0; k < 3; ++k) {
        QPainterPath blade;
        const double start = 60 + k * 120;
        blade.moveTo(c);
        blade.arcTo(outer, start, 60);
        blade.closeSubpath();
        p.drawPath(blade);
    }
    p.setBrush(QColor(250, 200, 30));
    p.drawEllipse(c, 12, 12);
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(c, 8, 8);

    p.setPen(QPen(QColor(200, 160, 20), 3));
    p.drawLine(QPointF(125, 88), QPointF(385, 88));

    QFont f(QStringLiteral("WenQuanYi Zen Hei"));
    f.setPixelSize(30);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(30, 30, 30));
    p.drawText(QRectF(125, 25, 270, 55), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("个人剂量管理系统"));
    return img;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: draw_icons <output directory>\n";
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        err << "cannot create " << dir.path() << "\n";
        return 1;
    }
    const struct {
        const char* name;
        const char* format;
        QImage image;
    } images[] = {
        { "sql.JPG", "JPG", drawSql() },
        { "syn.PNG", "PNG", drawSyn() },
        { "run-16.png", "PNG", drawRun() },
        { "stop-16.png", "PNG", drawStop() },
        { "close16.png", "PNG", drawClose() },
        { "about.PNG", "PNG", drawAbout() },
    };
    int failures = 0;
    for (const auto& i : images) {
        const QString path = dir.filePath(QString::fromLatin1(i.name));
        const QImage out = qstrcmp(i.format, "JPG") == 0
            ? i.image.convertToFormat(QImage::Format_RGB32) : i.image;
        if (!out.save(path, i.format, qstrcmp(i.format, "JPG") == 0 ? 95 : -1)) {
            err << "cannot write " << path << "\n";
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
