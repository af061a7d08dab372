#pragma once

// The personal dose record, the department report and the annual statistics laid out for paper, PDF and printer.

#include <QImage>
#include <QString>

#include "core/export/OutputFile.h"

class AnnualStatistics;
class PeriodReport;
class PersonRecord;
class QPagedPaintDevice;

// Lays the documents out for paper: the personal dose record on A4
// portrait, the department report and the annual statistics on A4
// landscape, each page with the
// footer "生成时间 …" and "第 N 页 共 M 页". The same layout goes to a PDF
// file and to a printer.
class ReportDocument
{
public:
    // The font every text is set in; it is embedded in the PDF, so the
    // Chinese comes out as text on any computer.
    static QString fontFamily();

    // Paints onto a printer or a PDF writer that has not been painted on yet.
    static bool render(const PersonRecord& record, QPagedPaintDevice& device, QString* why);
    static bool render(const PeriodReport& report, QPagedPaintDevice& device, QString* why);
    static bool render(const AnnualStatistics& statistics, QPagedPaintDevice& device, QString* why);

    // A complete PDF at the target, or nothing there and why.
    static bool writePdf(const PersonRecord& record, const OutputFile::Target& target, QString* why);
    static bool writePdf(const PeriodReport& report, const OutputFile::Target& target, QString* why);
    static bool writePdf(const AnnualStatistics& statistics, const OutputFile::Target& target, QString* why);

    // The bar chart of the monthly doses of the record's last year.
    static QImage monthChart(const PersonRecord& record, const QSize& size);
    // The bar chart of the band counts of the statistics' row for everyone.
    static QImage bandChart(const AnnualStatistics& statistics, const QSize& size);

    static QString html(const PersonRecord& record);
    static QString html(const PeriodReport& report);
    static QString html(const AnnualStatistics& statistics);
};
