#pragma once

// One worksheet of an .xls workbook: its name, its column-name row and rows
// of text cells, held to the limits of the format as they come in, and the
// records that write it into the workbook stream.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class XlsSharedStrings;

class XlsSheet
{
public:
    static constexpr int kMaxRows = 65536; // including the column-name row
    static constexpr int kMaxColumns = 256;
    static constexpr int kMaxCellChars = 32767;
    static constexpr int kMaxNameChars = 31;

    // Why a name can't be a sheet name, or an empty string when it can.
    static QString nameProblem(const QString& name);
    // Why these can't be a sheet's column names, or an empty string.
    static QString columnsProblem(const QStringList& columns);

    XlsSheet() = default;
    XlsSheet(const QString& name, const QStringList& columns) : m_name(name), m_columns(columns) {}

    QString name() const { return m_name; }
    int rowCount() const { return m_rows.size(); }

    // Appends a data row of at most one cell a column; missing trailing cells are empty.
    bool appendRow(const QStringList& cells, QString* error);

    // The sheet's substream (BOF to EOF); its texts go into strings.
    // The selected sheet is the one a spreadsheet shows first.
    QByteArray records(XlsSharedStrings& strings, bool selected) const;

private:
    QString m_name;
    QStringList m_columns;
    QVector<QStringList> m_rows; // below the column-name row
};
