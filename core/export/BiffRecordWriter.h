#pragma once

// Builds BIFF8 records (type, length, little-endian data) into one byte
// buffer: the workbook globals and every worksheet of an .xls file.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <initializer_list>

class BiffRecordWriter
{
public:
    static constexpr uint16_t kBof = 0x0809;
    static constexpr uint16_t kEof = 0x000A;
    static constexpr uint16_t kGlobalsKind = 0x0005;
    static constexpr uint16_t kWorksheetKind = 0x0010;

    // Starts a record; its length is filled in by end(at) with what was appended since.
    int begin(uint16_t type);
    void end(int at);
    // The bytes of the record started at at, without its four-byte header.
    int dataSince(int at) const { return m_buf.size() - at - 4; }

    void u8(uint8_t v) { m_buf.append(char(v)); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    // A whole record of 16-bit words.
    void record(uint16_t type, std::initializer_list<uint16_t> words);
    void bof(uint16_t kind);
    void eof() { record(kEof, {}); }
    // A ShortXLUnicodeString: one-byte length, flags, characters.
    void shortString(const QString& s);
    // Characters s[from, from + count) in the 8-bit or the UTF-16LE form.
    void chars(const QString& s, int from, int count, bool wide);
    // Strings of Latin-1 characters only are stored one byte a character.
    static bool isLatin1(const QString& s);

    QByteArray& bytes() { return m_buf; }
    int size() const { return m_buf.size(); }

private:
    QByteArray m_buf;
};
