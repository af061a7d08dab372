#pragma once

// A CSV file as a table: UTF-8 (with or without a byte-order mark), else GB18030, quoted fields as RFC 4180 has them.

#include "core/import/TableFile.h"

class CsvTable : public TableFile
{
public:
    // encoding empty: UTF-8 when the bytes are valid UTF-8, else GB18030.
    explicit CsvTable(const QString& encoding = QString());

    bool read(const QByteArray& bytes, QList<Row>& rows, QString* why) override;

    // The bytes as text in the encoding the file is read in; false with why
    // when a forced encoding is unknown.
    bool decode(const QByteArray& bytes, QString& text, QString* why) const;

private:
    QString encoding;
};
