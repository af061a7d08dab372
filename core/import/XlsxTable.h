#pragma once

// An Office Open XML workbook (.xlsx) as a table: the first sheet's rows, taken out of the zip with libzip and read with
// QXmlStreamReader.

#include <QSet>
#include <QStringList>

#include "core/import/TableFile.h"

class XlsxTable : public TableFile
{
public:
    bool read(const QByteArray& bytes, QList<Row>& rows, QString* why) override;
    bool workbook() const override { return true; }

    // Whether a number format's code shows a date (days, months, years).
    static bool isDateFormat(const QString& code);

private:
    bool readSheet(const QByteArray& xml, QList<Row>& rows, QString* why) const;

    QStringList shared;     // the shared strings, by index
    QSet<int> dateStyles;   // the cell styles (xf indexes) that show dates
};
