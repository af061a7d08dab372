#pragma once

// An Excel 97-2003 (.xls) workbook built in memory, a sheet at a time: column
// names, then rows of text cells. It is saved through OutputFile as a BIFF8
// "Workbook" stream inside a compound file, so a failed save leaves no file.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include "core/export/OutputFile.h"
#include "core/export/XlsSheet.h"

class XlsWorkbook
{
public:
    // Adds a sheet after the others; rows go to it from now on. Sheet names
    // compare without regard to case, as in the spreadsheet itself.
    bool addSheet(const QString& name, const QStringList& columns, QString* error);
    // Appends a row to the sheet added last.
    bool appendRow(const QStringList& cells, QString* error);
    int sheetCount() const { return m_sheets.size(); }

    // The whole "Workbook" stream.
    QByteArray toBiff() const;
    // Writes the workbook to target, which OutputFile's rules govern.
    bool save(const OutputFile::Target& target, QString* error) const;

private:
    QVector<XlsSheet> m_sheets;
};
