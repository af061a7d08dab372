// The documents as HTML, painted page by page with their footers, their bar charts, and the PDF files.

#include "core/export/ReportDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

#include <functional>

#include "core/export/OutputFile.h"
#include "core/report/AnnualStatistics.h"
#include "core/report/PeriodReport.h"
#include "core/report/PersonRecord.h"

namespace {

const QString kChart = QStringLiteral("chart://months");
const QString kBandChart = QStringLiteral("chart://bands");

QString dose(double v)
{
    return QString::number(v, 'f', 2);
}

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

QString cells(const QStringList& texts, const QString& tag = QStringLiteral("td"))
{
    QString row = QStringLiteral("<tr>");
    for (const QString& t : texts)
        row += QStringLiteral("<%1>%2</%1>").arg(tag, t);
    return row + QStringLiteral("</tr>");
}

QString head()
{
    return QStringLiteral("<html><head><style>"
                          "body { font-family: '%1'; font-size: 9pt; }"
                          "h1 { font-size: 16pt; text-align: center; }"
                          "h3 { font-size: 11pt; margin-top: 10px; }"
                          "table { border-collapse: collapse; }"
                          "td, th { border: 1px solid #555; padding: 3px; }"
                          "th { background-color: #e4e4e4; }"
                          "td.n { text-align: right; }"
                          "tr.sum td { font-weight: bold; }"
                          "</style></head><body>")
        .arg(ReportDocument::fontFamily());
}

QString table(const QString& rows)
{
    return QStringLiteral("<table width=\"100%\" cellspacing=\"0\">") + rows + QStringLiteral("</table>");
}

QString number(double v)
{
    return QStringLiteral("<td class=\"n\">") + dose(v) + QStringLiteral("</td>");
}

// A figure of months nobody was monitored in: a dash, never 0.00.
QString number(double v, bool monitored)
{
    return monitored ? number(v) : QStringLiteral("<td class=\"n\">—</td>");
}

// Lays doc out on the device's pages and paints it page by page, with the footer.
bool paint(QTextDocument& doc, const std::function<void(QTextDocument&)>& fill, QPagedPaintDevice& device,
           QPageLayout::Orientation orientation, const QDateTime& generated, QString* why)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), orientation, QMarginsF(15, 15, 15, 12),
                                     QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&device)) {
        if (why)
            *why = QStringLiteral("无法在输出上绘制");
        return false;
    }
    doc.documentLayout()->setPaintDevice(&device);
    doc.setDocumentMargin(0);
    doc.setDefaultFont(QFont(ReportDocument::fontFamily(), 9));
    fill(doc);
    const QFont footerFont(ReportDocument::fontFamily(), 8);
    const QFontMetricsF metrics(footerFont, &device);
    const double width = device.width();
    const double pageHeight = device.height() - 2 * metrics.height();
    doc.setPageSize(QSizeF(width, pageHeight));
    const int pages = doc.pageCount();
    const QString stamp = QStringLiteral("生成时间 ") + generated.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !device.newPage()) {
            if (why)
                *why = QStringLiteral("无法开始第 %1 页").arg(i + 1);
            return false;
        }
        painter.save();
        painter.translate(0, -i * pageHeight);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, i * pageHeight, width, pageHeight);
        context.palette.setColor(QPalette::Text, Qt::black);
        painter.setClipRect(context.clip);
        doc.documentLayout()->draw(&painter, context);
        painter.restore();
        painter.setFont(footerFont);
        const QRectF line(0, device.height() - metrics.height(), width, metrics.height());
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, stamp);
        painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("第 %1 页 共 %2 页").arg(i + 1).arg(pages));
    }
    return painter.end();
}

// A bar per value over its label, the value's text above the bar.
QImage bars(const QStringList& labels, const QList<double>& values, const QStringList& texts, const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(ReportDocument::fontFamily());
    font.setPixelSize(qMax(8, size.height() / 22));
    p.setFont(font);
    const QFontMetrics fm(font);
    double top = 0;
    for (double v : values)
        top = qMax(top, v);
    const QRectF plot(fm.height() * 0.5, fm.height() * 1.6, size.width() - fm.height(),
                      size.height() - fm.height() * 3.2);
    p.setPen(QPen(Qt::black, qMax(1, size.height() / 300)));
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    const double slot = plot.width() / qMax(1, values.size());
    for (int i = 0; i < values.size(); ++i) {
        const double h = top > 0 ? plot.height() * values[i] / top : 0;
        const QRectF bar(plot.left() + slot * i + slot * 0.2, plot.bottom() - h, slot * 0.6, h);
        p.fillRect(bar, QColor(0x3a, 0x6e, 0xb5));
        p.drawText(QRectF(bar.left() - slot * 0.2, plot.bottom() + 2, slot, fm.height()), Qt::AlignCenter,
                   labels.value(i));
        p.drawText(QRectF(bar.left() - slot * 0.2, bar.top() - fm.height() - 2, slot, fm.height()),
                   Qt::AlignCenter, texts.value(i));
    }
    return image;
}

bool pdf(const OutputFile::Target& target, QString* why, const std::function<bool(QPdfWriter&, QString*)>& render)
{
    return OutputFile::save(
        target, OutputFile::Format::Pdf,
        [&render](QIODevice& file, QString* reason) {
            QPdfWriter writer(&file);
            writer.setCreator(QStringLiteral("个人剂量管理系统"));
            writer.setResolution(600);
            return render(writer, reason);
        },
        why);
}

} // namespace

QString ReportDocument::fontFamily()
{
    return QStringLiteral("WenQuanYi Zen Hei");
}

QString ReportDocument::html(const PersonRecord& r)
{
    const Staffdata& p = r.person;
    QString h = head() + QStringLiteral("<h1>个人剂量档案</h1>");
    h += table(cells({QStringLiteral("姓名"), esc(p.name), QStringLiteral("性别"), esc(p.gender)})
               + cells({QStringLiteral("身份证号"), esc(p.ID_card), QStringLiteral("部门"), esc(p.department)})
               + cells({QStringLiteral("类型"), PersonRecord::typeText(p.ptype), QStringLiteral("联系电话"),
                        esc(p.teleNo)}));

    h += QStringLiteral("<h3>佩戴的剂量计</h3>");
    QString rows = cells({QStringLiteral("设备地址"), QStringLiteral("开始"), QStringLiteral("结束")},
                         QStringLiteral("th"));
    for (const Wearingdata& w : r.wearing)
        rows += cells({QString::number(w.slaveId), PersonRecord::periodTime(w.startTime, QString()),
                       PersonRecord::periodTime(w.endTime, QStringLiteral("至今"))});
    if (r.wearing.isEmpty())
        rows += QStringLiteral("<tr><td colspan=\"3\">未绑定设备</td></tr>");
    h += table(rows);

    h += QStringLiteral("<h3>年度剂量 (μSv)</h3><p>每月剂量为该月读数之和减去每小时本底后的剂量 (不低于 0); "
                        "“—”表示该月未监测。</p>");
    static const char* const quarters[] = {"第一季度", "第二季度", "第三季度", "第四季度"};
    for (int y = r.fromYear; y <= r.toYear; ++y) {
        rows = QStringLiteral("<tr><th colspan=\"5\">%1年</th></tr>").arg(y);
        rows += cells({QStringLiteral("季度"), QStringLiteral("第1月"), QStringLiteral("第2月"),
                       QStringLiteral("第3月"), QStringLiteral("季度合计")},
                      QStringLiteral("th"));
        for (int q = 1; q <= 4; ++q) {
            rows += QStringLiteral("<tr><td>%1 (%2–%3月)</td>")
                        .arg(QString::fromUtf8(quarters[q - 1]))
                        .arg(3 * q - 2)
                        .arg(3 * q);
            for (int m = 3 * q - 2; m <= 3 * q; ++m) {
                const QString mark = r.mark(y, m).isEmpty() ? r.source(y, m) : r.mark(y, m);
                rows += mark.isEmpty() ? number(r.month(y, m), r.monitored(y, m))
                                       : QStringLiteral("<td class=\"n\">%1 %2</td>").arg(dose(r.month(y, m)), mark);
            }
            rows += number(r.quarter(y, q), r.quarterMonitored(y, q)) + QStringLiteral("</tr>");
        }
        rows += QStringLiteral("<tr class=\"sum\"><td colspan=\"4\">%1年合计</td>").arg(y)
            + number(r.year(y), r.yearMonitored(y)) + QStringLiteral("</tr>");
        h += table(rows) + QStringLiteral("<p></p>");
    }

    if (r.anyPassive())
        h += QStringLiteral("<p>“个人剂量计”: 该月记录剂量取自个人剂量计 (实验室测读) 结果; “部分个人剂量计”: "
                            "该月部分日期取自个人剂量计结果, 其余日期为电子剂量计扣除本底后的剂量。</p>");
    // Adjusted months: the original kept beside the dose of record.
    const QList<PersonRecord::Adjusted> adjusted = r.adjustedMonths();
    if (!adjusted.isEmpty()) {
        h += QStringLiteral("<h3>剂量更正与估算</h3><p>标有“更正”或“估算”的月份, 其记录剂量为经批准的更正或估算剂量; "
                            "原始读数保留不变。</p>");
        rows = cells({QStringLiteral("月份"), QStringLiteral("原始剂量 (μSv)"), QStringLiteral("记录剂量 (μSv)"),
                      QStringLiteral("标记"), QStringLiteral("方法"), QStringLiteral("原因")},
                     QStringLiteral("th"));
        for (const PersonRecord::Adjusted& a : adjusted)
            rows += QStringLiteral("<tr><td>%1</td>").arg(a.month) + number(a.original, a.originalMonitored)
                + number(a.dose) + QStringLiteral("<td>%1</td><td>%2</td><td>%3</td></tr>").arg(a.mark, a.method, esc(a.reason));
        h += table(rows);
    }
    const QStringList pending = r.pendingMonths();
    if (!pending.isEmpty())
        h += QStringLiteral("<p>待批准的剂量更正（未计入以上剂量）：%1</p>").arg(pending.join(QStringLiteral("、")));

    h += QStringLiteral("<h3>累计剂量 (μSv)</h3>");
    h += table(QStringLiteral("<tr><td>五年合计 (%1–%2年)</td>").arg(r.toYear - 4).arg(r.toYear)
               + number(r.fiveYear()) + QStringLiteral("</tr><tr><td>终身合计 (至%1年)</td>").arg(r.toYear)
               + number(r.lifetime()) + QStringLiteral("</tr>"));

    h += QStringLiteral("<h3>告警记录</h3>");
    rows = cells({QStringLiteral("期间"), QStringLiteral("级别"), QStringLiteral("剂量 (μSv)"),
                  QStringLiteral("限值 (μSv)"), QStringLiteral("发生时间"), QStringLiteral("确认时间"),
                  QStringLiteral("确认人"), QStringLiteral("说明")},
                 QStringLiteral("th"));
    for (const DoseAlertdata& a : r.alerts) {
        const DoseLevel::Level level = a.level == QLatin1String("limit")   ? DoseLevel::Limit
            : a.level == QLatin1String("warning")                          ? DoseLevel::Warning
                                                                           : DoseLevel::Investigate;
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td>").arg(esc(a.periodKey), DoseLevel::label(level))
            + number(a.dose) + number(a.threshold)
            + QStringLiteral("<td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                  .arg(PersonRecord::periodTime(a.raisedAt, QString()),
                       PersonRecord::periodTime(a.ackAt, QStringLiteral("未确认")), esc(a.ackBy), esc(a.comment));
    }
    if (r.alerts.isEmpty())
        rows += QStringLiteral("<tr><td colspan=\"8\">无</td></tr>");
    h += table(rows);

    h += QStringLiteral("<h3>%1年逐月剂量 (μSv)</h3><p align=\"center\"><img src=\"%2\" width=\"620\" "
                        "height=\"250\"></p>")
             .arg(r.toYear)
             .arg(kChart);
    return h + QStringLiteral("</body></html>");
}

QString ReportDocument::html(const PeriodReport& r)
{
    QString h = head() + QStringLiteral("<h1>部门剂量报表</h1>");
    h += QStringLiteral("<p>部门: %1&nbsp;&nbsp;&nbsp;&nbsp;期间: %2 至 %3&nbsp;&nbsp;&nbsp;&nbsp;人数: %4</p>")
             .arg(r.department.isEmpty() ? QStringLiteral("全部") : esc(r.department),
                  r.from.toString(QStringLiteral("yyyy-MM-dd")), r.to.toString(QStringLiteral("yyyy-MM-dd")))
             .arg(r.people());
    QString rows = cells({QStringLiteral("姓名"), QStringLiteral("身份证号"), QStringLiteral("类型"),
                          QStringLiteral("期间剂量 (μSv)"),
                          QStringLiteral("本年累计至%1 (μSv)").arg(r.to.toString(QStringLiteral("yyyy-MM-dd"))),
                          QStringLiteral("级别")},
                         QStringLiteral("th"));
    for (const PeriodReport::Group& g : r.groups) {
        rows += QStringLiteral("<tr><th colspan=\"6\" align=\"left\">%1</th></tr>").arg(esc(g.department));
        for (const PeriodReport::Row& p : g.rows)
            rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td>").arg(esc(p.name), esc(p.idCard),
                                                                               PersonRecord::typeText(p.ptype))
                + (p.marks.isEmpty() ? number(p.period, p.monitored)
                                     : QStringLiteral("<td class=\"n\">%1 %2</td>")
                                           .arg(dose(p.period), p.marks.join(QStringLiteral("、"))))
                + number(p.yearToDate)
                + QStringLiteral("<td>%1</td></tr>").arg(DoseLevel::label(p.level));
        rows += QStringLiteral("<tr class=\"sum\"><td colspan=\"3\">%1 小计 (%2人)</td>")
                    .arg(esc(g.department))
                    .arg(g.rows.size())
            + number(g.period) + number(g.yearToDate) + QStringLiteral("<td></td></tr>");
    }
    rows += QStringLiteral("<tr class=\"sum\"><td colspan=\"3\">合计 (%1人)</td>").arg(r.people()) + number(r.period)
        + number(r.yearToDate) + QStringLiteral("<td></td></tr>");
    bool marked = false;
    for (const PeriodReport::Group& g : r.groups) {
        for (const PeriodReport::Row& p : g.rows)
            marked = marked || !p.marks.isEmpty();
    }
    const QString legend = marked ? QStringLiteral("<p>“更正”“估算”: 期间剂量含经批准的剂量更正或估算剂量, "
                                                   "原始读数保留不变, 详见个人剂量档案。</p>")
                                  : QString();
    return h + table(rows) + legend + QStringLiteral("</body></html>");
}

QString ReportDocument::html(const AnnualStatistics& s)
{
    QString h = head() + QStringLiteral("<h1>%1年度剂量统计</h1>").arg(s.year);
    h += QStringLiteral("<p>部门: %1&nbsp;&nbsp;&nbsp;&nbsp;期间: %2-01-01 至 %2-12-31&nbsp;&nbsp;&nbsp;&nbsp;"
                        "监测人数: %3</p><p>每人年剂量为该年的记录剂量 (mSv); 只统计该年至少有一个月受监测的人员。"
                        "各剂量区间含其上限。</p>")
             .arg(s.department.isEmpty() ? AnnualStatistics::everything() : esc(s.department))
             .arg(s.year)
             .arg(s.rows.isEmpty() ? 0 : s.everyone().monitored);
    QStringList heading{QStringLiteral("部门"),           QStringLiteral("类型"),          QStringLiteral("监测人数"),
                        QStringLiteral("集体剂量 (人·mSv)"), QStringLiteral("人均 (mSv)"), QStringLiteral("最大 (mSv)")};
    for (const QString& band : AnnualStatistics::bandLabels())
        heading << band + QStringLiteral(" mSv");
    QString rows = cells(heading, QStringLiteral("th"));
    for (const AnnualStatistics::Row& r : s.rows) {
        const QStringList f = r.fields();
        rows += QStringLiteral("<tr%1><td>%2</td><td>%3</td>")
                    .arg(r.type < 0 || r.department == AnnualStatistics::everything() ? QStringLiteral(" class=\"sum\"")
                                                                                      : QString(),
                         esc(f[0]), esc(f[1]));
        for (int i = 2; i < f.size(); ++i)
            rows += QStringLiteral("<td class=\"n\">%1</td>").arg(f[i].isEmpty() ? QStringLiteral("—") : f[i]);
        rows += QStringLiteral("</tr>");
    }
    h += table(rows);
    h += QStringLiteral("<h3>年剂量分布: 各区间 (mSv) 的人数 · %1</h3><p align=\"center\"><img src=\"%2\" width=\"620\" "
                        "height=\"250\"></p>")
             .arg(s.department.isEmpty() ? QStringLiteral("全部人员") : esc(s.department))
             .arg(kBandChart);
    return h + QStringLiteral("</body></html>");
}

QImage ReportDocument::monthChart(const PersonRecord& r, const QSize& size)
{
    QStringList labels, texts;
    QList<double> values;
    for (int m = 1; m <= 12; ++m) {
        labels << QStringLiteral("%1月").arg(m);
        values << r.month(r.toYear, m);
        texts << dose(values.last());
    }
    return bars(labels, values, texts, size);
}

QImage ReportDocument::bandChart(const AnnualStatistics& statistics, const QSize& size)
{
    const QStringList labels = AnnualStatistics::bandLabels();
    QStringList texts;
    QList<double> values;
    for (int b = 0; b < AnnualStatistics::kBands; ++b) {
        const int count = statistics.rows.isEmpty() ? 0 : statistics.everyone().bands[b];
        values << count;
        texts << QString::number(count);
    }
    return bars(labels, values, texts, size);
}

bool ReportDocument::render(const PersonRecord& record, QPagedPaintDevice& device, QString* why)
{
    QTextDocument doc;
    return paint(
        doc,
        [&record](QTextDocument& d) {
            d.addResource(QTextDocument::ImageResource, QUrl(kChart), monthChart(record, QSize(2480, 1000)));
            d.setHtml(html(record));
        },
        device, QPageLayout::Portrait, record.generated, why);
}

bool ReportDocument::render(const PeriodReport& report, QPagedPaintDevice& device, QString* why)
{
    QTextDocument doc;
    return paint(
        doc, [&report](QTextDocument& d) { d.setHtml(html(report)); }, device, QPageLayout::Landscape,
        report.generated, why);
}

bool ReportDocument::writePdf(const PersonRecord& record, const OutputFile::Target& target, QString* why)
{
    return pdf(target, why, [&record](QPdfWriter& w, QString* reason) { return render(record, w, reason); });
}

bool ReportDocument::writePdf(const PeriodReport& report, const OutputFile::Target& target, QString* why)
{
    return pdf(target, why, [&report](QPdfWriter& w, QString* reason) { return render(report, w, reason); });
}

bool ReportDocument::render(const AnnualStatistics& statistics, QPagedPaintDevice& device, QString* why)
{
    QTextDocument doc;
    return paint(
        doc,
        [&statistics](QTextDocument& d) {
            d.addResource(QTextDocument::ImageResource, QUrl(kBandChart), bandChart(statistics, QSize(2480, 1000)));
            d.setHtml(html(statistics));
        },
        device, QPageLayout::Landscape, statistics.generated, why);
}

bool ReportDocument::writePdf(const AnnualStatistics& statistics, const OutputFile::Target& target, QString* why)
{
    return pdf(target, why,
               [&statistics](QPdfWriter& w, QString* reason) { return render(statistics, w, reason); });
}
