#pragma once

// An Excel 97-2003 workbook held in memory as plain text tables: every sheet
// has a name, its column names (the first row) and rows of text cells. It is
// saved as a BIFF8 "Workbook" stream inside a compound file; loading takes the
// cell texts (shared strings, inline strings, numbers) of simple BIFF8 files.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class XlsWorkbook
{
public:
    struct Sheet
    {
        QString name;
        QStringList columns;
        QVector<QStringList> rows; // data rows, below the column-name row
    };

    static constexpr int kMaxRows = 65536; // including the column-name row
    static constexpr int kMaxColumns = 256;
    static constexpr int kMaxCellChars = 32767;
    static constexpr int kMaxSheetNameChars = 31;
    static constexpr int kMaxRecordData = 8224;

    int sheetCount() const { return m_sheets.size(); }
    const Sheet& sheet(int index) const { return m_sheets.at(index); }
    QStringList sheetNames() const;
    // Sheet names compare without regard to case, as in the spreadsheet itself.
    int indexOf(const QString& name) const;

    // Why a name can't be a sheet name, or an empty string when it can.
    static QString sheetNameProblem(const QString& name);

    bool addSheet(const QString& name, const QStringList& columns, QString* error);
    bool removeSheet(const QString& name);
    // Appends a data row; missing trailing cells are empty.
    bool appendRow(int sheetIndex, const QStringList& cells, QString* error);
    int totalRows() const;

    QByteArray toBiff() const;
    bool fromBiff(const QByteArray& stream, QString* error);

    bool save(const QString& path, QString* error) const;
    bool load(const QString& path, QString* error);

private:
    QVector<Sheet> m_sheets;
};
