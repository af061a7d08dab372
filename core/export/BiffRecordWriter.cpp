// Builds BIFF8 records (type, length, little-endian data) into one byte buffer.

#include "core/export/BiffRecordWriter.h"
#include "core/export/LittleEndian.h"

namespace {

constexpr uint16_t kBiff8 = 0x0600;

} // namespace

int BiffRecordWriter::begin(uint16_t type)
{
    const int at = m_buf.size();
    m_buf.append(4, '\0');
    put16(m_buf.data() + at, type);
    return at;
}

void BiffRecordWriter::end(int at)
{
    put16(m_buf.data() + at + 2, uint16_t(dataSince(at)));
}

void BiffRecordWriter::u16(uint16_t v)
{
    char b[2];
    put16(b, v);
    m_buf.append(b, 2);
}

void BiffRecordWriter::u32(uint32_t v)
{
    char b[4];
    put32(b, v);
    m_buf.append(b, 4);
}

void BiffRecordWriter::record(uint16_t type, std::initializer_list<uint16_t> words)
{
    const int at = begin(type);
    for (uint16_t w : words)
        u16(w);
    end(at);
}

void BiffRecordWriter::bof(uint16_t kind)
{
    const int at = begin(kBof);
    u16(kBiff8);
    u16(kind);
    u16(0x0DBB); // build and year of the writing application, as Excel 97 gives them
    u16(0x07CC);
    u32(0x00010041);
    u32(0x00000006);
    end(at);
}

void BiffRecordWriter::shortString(const QString& s)
{
    const bool wide = !isLatin1(s);
    u8(uint8_t(s.size()));
    u8(wide ? 1 : 0);
    chars(s, 0, s.size(), wide);
}

void BiffRecordWriter::chars(const QString& s, int from, int count, bool wide)
{
    const int at = m_buf.size();
    m_buf.resize(at + count * (wide ? 2 : 1));
    char* p = m_buf.data() + at;
    const QChar* c = s.constData() + from;
    if (wide) {
        for (int i = 0; i < count; ++i)
            put16(p + 2 * i, c[i].unicode());
    } else {
        for (int i = 0; i < count; ++i)
            p[i] = char(c[i].unicode());
    }
}

bool BiffRecordWriter::isLatin1(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}
