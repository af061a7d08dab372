// The shared string table of an .xls workbook, and how it is split into records.

#include "core/export/XlsSharedStrings.h"

#include "core/export/BiffRecordWriter.h"

#include <QPair>

#include <algorithm>

namespace {

constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtSst = 0x00FF;

} // namespace

uint32_t XlsSharedStrings::add(const QString& s)
{
    ++m_references;
    auto it = m_index.constFind(s);
    if (it != m_index.constEnd())
        return it.value();
    const uint32_t i = uint32_t(m_strings.size());
    m_index.insert(s, i);
    m_strings.append(s);
    return i;
}

// A string's header never straddles a record boundary; when its characters
// do, the continued part starts with the string's flags byte again.
void XlsSharedStrings::write(BiffRecordWriter& w) const
{
    const int perBucket = std::max(8, (m_strings.size() + 127) / 128);
    QVector<QPair<uint32_t, uint16_t>> buckets;

    int rec = w.begin(kSst);
    w.u32(m_references);
    w.u32(uint32_t(m_strings.size()));
    const auto room = [&](int charSize) { return (kMaxRecordData - w.dataSince(rec)) / charSize; };
    const auto next = [&]() {
        w.end(rec);
        rec = w.begin(kContinue);
    };
    for (int i = 0; i < m_strings.size(); ++i) {
        const QString& s = m_strings[i];
        const bool wide = !BiffRecordWriter::isLatin1(s);
        const int cs = wide ? 2 : 1;
        if (kMaxRecordData - w.dataSince(rec) < 3 + (s.isEmpty() ? 0 : cs))
            next();
        if (i % perBucket == 0) // where the string starts: in the stream, and in its record
            buckets.append({uint32_t(w.size()), uint16_t(w.size() - rec)});
        w.u16(uint16_t(s.size()));
        w.u8(wide ? 1 : 0);
        int pos = 0;
        while (pos < s.size()) {
            if (room(cs) == 0) {
                next();
                w.u8(wide ? 1 : 0);
            }
            const int take = std::min(room(cs), s.size() - pos);
            w.chars(s, pos, take, wide);
            pos += take;
        }
    }
    w.end(rec);

    const int at = w.begin(kExtSst);
    w.u16(uint16_t(perBucket));
    for (const auto& b : buckets) {
        w.u32(b.first);
        w.u16(b.second);
        w.u16(0);
    }
    w.end(at);
}
