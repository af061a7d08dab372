#pragma once

// The shared string table of an .xls workbook: every distinct cell text once,
// referred to by its index from the cells of all sheets.

#include <QHash>
#include <QString>
#include <QVector>

#include <cstdint>

class BiffRecordWriter;

class XlsSharedStrings
{
public:
    // The most data one record holds; longer tables go on in CONTINUE records.
    static constexpr int kMaxRecordData = 8224;

    // The index of s, taken by one more cell.
    uint32_t add(const QString& s);
    int count() const { return m_strings.size(); }

    // The SST record with its CONTINUE records, then the EXTSST index of it.
    // w holds the stream from its start: the index gives stream positions.
    void write(BiffRecordWriter& w) const;

private:
    QHash<QString, uint32_t> m_index;
    QVector<QString> m_strings;
    uint32_t m_references = 0;
};
