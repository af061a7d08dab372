#pragma once

// The query dialog's result rows exported into an .xlsx workbook.

#include <QObject>
#include <QString>

#include "core/export/OutputFile.h"

class QSqlQuery;

// Writes the query dialog's result rows (time key, name, department, device,
// dose) into an Excel 2007+ workbook (.xlsx) through libxlsxwriter.
//
// The time keys become date cells: an hour key "yyyyMMddhhmmss" shows as
// "yyyy-mm-dd hh:mm", a day key "yyyyMMdd" as "yyyy-mm-dd", a month key
// "yyyyMM" as "yyyy-mm" (the first of the month). Doses and device numbers are
// numeric cells, names and departments text. Every sheet starts with the
// column names, frozen, and its columns are sized to their widest cell; a full
// sheet continues on the next one, "mydata0", "mydata1", … as in the .xls
// export.
//
// The rows stream straight from the statement into the workbook (constant
// memory), which OutputFile writes under a temporary name beside the target
// and renames into place only when complete: a cancelled or failed export
// leaves no file behind, and an existing file under the name stays as it was.
class XlsxExport : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxSheetRows = 1048576; // the column-name row included

    explicit XlsxExport(const OutputFile::Target& target, QObject* parent = nullptr);

    // Rows a sheet takes, the column-name row included (at least 2).
    void setSheetRows(int rows);

    // Writes every row still ahead of rows, an executed query. Returns the
    // number of rows written, or -1 when cancelled (wasCancelled()) or failed
    // (errorString() says why).
    int write(QSqlQuery& rows);

    bool wasCancelled() const { return m_cancelled; }
    QString errorString() const { return m_error; }

    // A time key as an Excel serial date and the number format that shows
    // it; false for anything else (or before 1900, which Excel cannot show).
    struct TimeCell
    {
        double serial = 0;
        const char* format = nullptr;
    };
    static bool timeCell(const QString& key, TimeCell* cell);

public slots:
    // Stops the export at the next progress report.
    void cancel() { m_cancelled = true; }

signals:
    // Rows written so far: 0 at the start, then every few thousand, then all.
    void exportedRowCount(int row);

private:
    int fill(const QString& path, QSqlQuery& rows);

    OutputFile::Target m_target;
    int m_sheetRows = kMaxSheetRows;
    bool m_cancelled = false;
    QString m_error;
};
