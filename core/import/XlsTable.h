#pragma once

// An Excel 97-2003 workbook (.xls) as a table: the first sheet's rows, read through FreeXL.

#include "core/import/TableFile.h"

class XlsTable : public TableFile
{
public:
    bool read(const QByteArray& bytes, QList<Row>& rows, QString* why) override;
    bool workbook() const override { return true; }
};
