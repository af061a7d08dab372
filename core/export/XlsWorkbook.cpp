#include "core/export/XlsWorkbook.h"
#include "core/export/LittleEndian.h"

#include "core/export/CompoundFile.h"
#include "core/export/OutputFile.h"

#include <QFile>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <cstring>

namespace {

// Record types used here.
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kCodepage = 0x0042;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kDateMode = 0x0022;
constexpr uint16_t kPrecision = 0x000E;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtSst = 0x00FF;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kWindow2 = 0x023E;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kLabel = 0x0204;
constexpr uint16_t kRString = 0x00D6;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kString = 0x0207;
constexpr uint16_t kFilePass = 0x002F;

constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kGlobalsType = 0x0005;
constexpr uint16_t kWorksheetType = 0x0010;
constexpr uint16_t kCellXf = 15;

double getDouble(const char* p)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | uint8_t(p[i]);
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

bool isLatin1(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

// Characters of s[from, from + count) in the 8-bit or UTF-16LE form.
void appendChars(QByteArray& out, const QString& s, int from, int count, bool wide)
{
    const int at = out.size();
    out.resize(at + count * (wide ? 2 : 1));
    char* p = out.data() + at;
    const QChar* c = s.constData() + from;
    if (wide) {
        for (int i = 0; i < count; ++i)
            put16(p + 2 * i, c[i].unicode());
    } else {
        for (int i = 0; i < count; ++i)
            p[i] = char(c[i].unicode());
    }
}

QString numberText(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

double rkValue(uint32_t rk)
{
    double v = 0;
    if (rk & 2) {
        v = double(int32_t(rk) >> 2);
    } else {
        const uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return (rk & 1) ? v / 100.0 : v;
}

class RecordWriter
{
public:
    QByteArray buf;

    int begin(uint16_t type)
    {
        const int at = buf.size();
        buf.append(4, '\0');
        put16(buf.data() + at, type);
        return at;
    }
    void end(int at) { put16(buf.data() + at + 2, uint16_t(buf.size() - at - 4)); }
    void u8(uint8_t v) { buf.append(char(v)); }
    void u16(uint16_t v)
    {
        char b[2];
        put16(b, v);
        buf.append(b, 2);
    }
    void u32(uint32_t v)
    {
        char b[4];
        put32(b, v);
        buf.append(b, 4);
    }
    void record(uint16_t type, std::initializer_list<uint16_t> words)
    {
        const int at = begin(type);
        for (uint16_t w : words)
            u16(w);
        end(at);
    }
    void bof(uint16_t dt)
    {
        const int at = begin(kBof);
        u16(kBiff8);
        u16(dt);
        u16(0x0DBB);
        u16(0x07CC);
        u32(0x00010041);
        u32(0x00000006);
        end(at);
    }
    // A ShortXLUnicodeString: one-byte length, flags, characters.
    void shortString(const QString& s)
    {
        const bool wide = !isLatin1(s);
        u8(uint8_t(s.size()));
        u8(wide ? 1 : 0);
        appendChars(buf, s, 0, s.size(), wide);
    }
    void font()
    {
        const int at = begin(kFont);
        u16(200); // 10 pt
        u16(0);
        u16(0x7FFF);
        u16(400);
        u16(0);
        u8(0);
        u8(0);
        u8(0);
        u8(0);
        shortString(QStringLiteral("Arial"));
        end(at);
    }
    void xf(uint16_t font, uint16_t format, uint16_t flags, uint8_t usedAttributes)
    {
        const int at = begin(kXf);
        u16(font);
        u16(format);
        u16(flags);
        u8(0x20); // general, bottom aligned
        u8(0);
        u8(0);
        u8(usedAttributes);
        u32(0);
        u32(0);
        u16(0x20C0); // default pattern colours
        end(at);
    }
};

// Writes the shared string table, splitting it into CONTINUE records at the
// record size limit. A string's header never straddles a boundary; when its
// characters do, the continued part starts with the string's flags byte.
void writeSst(RecordWriter& w, const QVector<QString>& strings, uint32_t totalRefs)
{
    const int dsst = std::max(8, (strings.size() + 127) / 128);
    QVector<QPair<uint32_t, uint16_t>> buckets;

    int rec = w.begin(kSst);
    w.u32(totalRefs);
    w.u32(uint32_t(strings.size()));
    auto used = [&]() { return w.buf.size() - rec - 4; };
    auto next = [&]() {
        w.end(rec);
        rec = w.begin(kContinue);
    };
    for (int i = 0; i < strings.size(); ++i) {
        const QString& s = strings[i];
        const bool wide = !isLatin1(s);
        const int cs = wide ? 2 : 1;
        if (XlsWorkbook::kMaxRecordData - used() < 3 + (s.isEmpty() ? 0 : cs))
            next();
        if (i % dsst == 0)
            buckets.append({uint32_t(w.buf.size()), uint16_t(w.buf.size() - rec)});
        w.u16(uint16_t(s.size()));
        w.u8(wide ? 1 : 0);
        int pos = 0;
        while (pos < s.size()) {
            int room = (XlsWorkbook::kMaxRecordData - used()) / cs;
            if (room == 0) {
                next();
                w.u8(wide ? 1 : 0);
                room = (XlsWorkbook::kMaxRecordData - used()) / cs;
            }
            const int take = std::min(room, s.size() - pos);
            appendChars(w.buf, s, pos, take, wide);
            pos += take;
        }
    }
    w.end(rec);

    const int at = w.begin(kExtSst);
    w.u16(uint16_t(dsst));
    for (const auto& b : buckets) {
        w.u32(b.first);
        w.u16(b.second);
        w.u16(0);
    }
    w.end(at);
}

// Walks the records of a BIFF stream.
struct Record
{
    uint16_t type = 0;
    int data = 0; // offset of the record data in the stream
    int size = 0;
};

class RecordReader
{
public:
    explicit RecordReader(const QByteArray& s) : m_s(s) {}

    void seek(int pos) { m_pos = pos; }
    bool next(Record* r)
    {
        if (m_pos + 4 > m_s.size())
            return false;
        r->type = get16(m_s.constData() + m_pos);
        r->size = get16(m_s.constData() + m_pos + 2);
        r->data = m_pos + 4;
        if (r->data + r->size > m_s.size())
            return false;
        m_pos = r->data + r->size;
        return true;
    }
    // The record following the current one, without consuming it.
    bool peek(Record* r) const
    {
        RecordReader copy(m_s);
        copy.m_pos = m_pos;
        return copy.next(r);
    }

private:
    const QByteArray& m_s;
    int m_pos = 0;
};

// Reads across a record and its CONTINUE records as one sequence of bytes,
// except for string characters, whose continued parts carry their own flags.
class ContinuedReader
{
public:
    ContinuedReader(const QByteArray& s, QVector<Record> parts) : m_s(s), m_parts(std::move(parts)) {}

    bool bytes(char* dst, int n)
    {
        while (n > 0) {
            if (!settle())
                return false;
            const int take = std::min(n, m_parts[m_part].size - m_pos);
            if (dst) {
                std::memcpy(dst, m_s.constData() + m_parts[m_part].data + m_pos, size_t(take));
                dst += take;
            }
            m_pos += take;
            n -= take;
        }
        return true;
    }
    bool u8(uint8_t* v)
    {
        char b = 0;
        if (!bytes(&b, 1))
            return false;
        *v = uint8_t(b);
        return true;
    }
    bool u16(uint16_t* v)
    {
        char b[2];
        if (!bytes(b, 2))
            return false;
        *v = get16(b);
        return true;
    }
    bool u32(uint32_t* v)
    {
        char b[4];
        if (!bytes(b, 4))
            return false;
        *v = get32(b);
        return true;
    }
    bool chars(int count, bool wide, QString* out)
    {
        out->clear();
        out->reserve(count);
        while (count > 0) {
            if (m_pos >= m_parts[m_part].size) {
                if (++m_part >= m_parts.size())
                    return false;
                m_pos = 0;
                uint8_t flags = 0;
                if (!bytes(reinterpret_cast<char*>(&flags), 1))
                    return false;
                wide = flags & 1;
                continue;
            }
            const int cs = wide ? 2 : 1;
            const int avail = (m_parts[m_part].size - m_pos) / cs;
            if (avail == 0)
                return false;
            const int take = std::min(avail, count);
            const char* p = m_s.constData() + m_parts[m_part].data + m_pos;
            for (int i = 0; i < take; ++i)
                out->append(wide ? QChar(get16(p + 2 * i)) : QChar(uint8_t(p[i])));
            m_pos += take * cs;
            count -= take;
        }
        return true;
    }

private:
    bool settle()
    {
        while (m_part < m_parts.size() && m_pos >= m_parts[m_part].size) {
            ++m_part;
            m_pos = 0;
        }
        return m_part < m_parts.size();
    }

    const QByteArray& m_s;
    QVector<Record> m_parts;
    int m_part = 0;
    int m_pos = 0;
};

// An XLUnicodeString inside a single record: length, flags, characters.
bool readCellString(const QByteArray& s, const Record& r, int offset, QString* out)
{
    if (offset + 3 > r.size)
        return false;
    const char* p = s.constData() + r.data + offset;
    const int count = get16(p);
    const bool wide = uint8_t(p[2]) & 1;
    const int avail = (r.size - offset - 3) / (wide ? 2 : 1);
    const int n = std::min(count, avail);
    out->clear();
    out->reserve(n);
    for (int i = 0; i < n; ++i)
        out->append(wide ? QChar(get16(p + 3 + 2 * i)) : QChar(uint8_t(p[3 + i])));
    return true;
}

struct Grid
{
    QVector<QStringList> rows;
    int width = 0;

    void set(int row, int col, const QString& text)
    {
        if (row >= XlsWorkbook::kMaxRows || col >= XlsWorkbook::kMaxColumns)
            return;
        if (rows.size() <= row)
            rows.resize(row + 1);
        QStringList& r = rows[row];
        while (r.size() <= col)
            r.append(QString());
        r[col] = text;
        width = std::max(width, col + 1);
    }
};

} // namespace

QStringList XlsWorkbook::sheetNames() const
{
    QStringList names;
    for (const Sheet& s : m_sheets)
        names << s.name;
    return names;
}

int XlsWorkbook::indexOf(const QString& name) const
{
    for (int i = 0; i < m_sheets.size(); ++i)
        if (m_sheets[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString XlsWorkbook::sheetNameProblem(const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("sheet name is empty");
    if (name.size() > kMaxSheetNameChars)
        return QStringLiteral("sheet name \"%1\" is longer than %2 characters").arg(name).arg(kMaxSheetNameChars);
    for (QChar c : name)
        if (QStringLiteral("[]:*?/\\").contains(c) || c.unicode() < 0x20)
            return QStringLiteral("sheet name \"%1\" contains the character '%2'").arg(name, c);
    if (name.startsWith(QLatin1Char('\'')) || name.endsWith(QLatin1Char('\'')))
        return QStringLiteral("sheet name \"%1\" starts or ends with an apostrophe").arg(name);
    return QString();
}

bool XlsWorkbook::addSheet(const QString& name, const QStringList& columns, QString* error)
{
    QString problem = sheetNameProblem(name);
    if (problem.isEmpty() && indexOf(name) >= 0)
        problem = QStringLiteral("sheet \"%1\" already exists").arg(name);
    if (problem.isEmpty() && (columns.isEmpty() || columns.size() > kMaxColumns))
        problem = QStringLiteral("a sheet needs 1 to %1 columns, not %2").arg(kMaxColumns).arg(columns.size());
    for (const QString& c : columns)
        if (problem.isEmpty() && c.size() > kMaxCellChars)
            problem = QStringLiteral("column name longer than %1 characters").arg(kMaxCellChars);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    m_sheets.append(Sheet{name, columns, {}});
    return true;
}

bool XlsWorkbook::removeSheet(const QString& name)
{
    const int i = indexOf(name);
    if (i < 0)
        return false;
    m_sheets.remove(i);
    return true;
}

bool XlsWorkbook::appendRow(int sheetIndex, const QStringList& cells, QString* error)
{
    QString problem;
    if (sheetIndex < 0 || sheetIndex >= m_sheets.size())
        problem = QStringLiteral("no such sheet");
    else if (m_sheets[sheetIndex].rows.size() + 1 >= kMaxRows)
        problem = QStringLiteral("sheet \"%1\" is full: a sheet holds at most %2 rows")
                      .arg(m_sheets[sheetIndex].name)
                      .arg(kMaxRows);
    else if (cells.size() > kMaxColumns)
        problem = QStringLiteral("a row holds at most %1 cells").arg(kMaxColumns);
    for (const QString& c : cells)
        if (problem.isEmpty() && c.size() > kMaxCellChars)
            problem = QStringLiteral("a cell holds at most %1 characters").arg(kMaxCellChars);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    m_sheets[sheetIndex].rows.append(cells);
    return true;
}

int XlsWorkbook::totalRows() const
{
    int n = 0;
    for (const Sheet& s : m_sheets)
        n += s.rows.size();
    return n;
}

QByteArray XlsWorkbook::toBiff() const
{
    // Shared strings, and each sheet's cells as string indices in row order.
    QHash<QString, uint32_t> index;
    QVector<QString> strings;
    uint32_t refs = 0;
    QVector<QVector<uint32_t>> cellRefs(m_sheets.size());
    auto intern = [&](const QString& s) {
        auto it = index.constFind(s);
        if (it != index.constEnd())
            return it.value();
        const uint32_t i = uint32_t(strings.size());
        index.insert(s, i);
        strings.append(s);
        return i;
    };
    for (int k = 0; k < m_sheets.size(); ++k) {
        const Sheet& sh = m_sheets[k];
        QVector<uint32_t>& out = cellRefs[k];
        for (int r = -1; r < sh.rows.size(); ++r) {
            const QStringList& cells = r < 0 ? sh.columns : sh.rows[r];
            for (const QString& c : cells) {
                if (!c.isEmpty()) {
                    out.append(intern(c));
                    ++refs;
                }
            }
        }
    }

    RecordWriter g;
    g.bof(kGlobalsType);
    g.record(kCodepage, {1200});
    g.record(kWindow1, {0, 0, 0x4000, 0x2000, 0x0038, 0, 0, 1, 0x0258});
    g.record(kDateMode, {0});
    g.record(kPrecision, {1});
    for (int i = 0; i < 5; ++i) // font 4 is never referenced, but must exist
        g.font();
    g.xf(0, 0, 0xFFF5, 0x00);
    for (int i = 1; i <= 14; ++i)
        g.xf(i <= 2 ? 1 : (i <= 4 ? 2 : 0), 0, 0xFFF5, 0xF4);
    g.xf(0, 0, 0x0001, 0x00); // kCellXf, the one every cell uses
    for (uint16_t fmt : {0x2B, 0x29, 0x2C, 0x2A, 0x09})
        g.xf(1, fmt, 0xFFF5, 0xF8);
    const uint16_t styles[][2] = {{0x8000, 0}, {0x8010, 3}, {0x8011, 6}, {0x8012, 4}, {0x8013, 7}, {0x8014, 5}};
    for (const auto& st : styles) {
        const int at = g.begin(kStyle);
        g.u16(st[0]);
        g.u8(uint8_t(st[1]));
        g.u8(0xFF);
        g.end(at);
    }
    QVector<int> sheetPosFields;
    for (const Sheet& sh : m_sheets) {
        const int at = g.begin(kBoundSheet);
        sheetPosFields.append(g.buf.size());
        g.u32(0); // patched below
        g.u8(0);  // visible
        g.u8(0);  // worksheet
        g.shortString(sh.name);
        g.end(at);
    }
    writeSst(g, strings, refs);
    g.record(kEof, {});

    QByteArray stream = g.buf;
    for (int k = 0; k < m_sheets.size(); ++k) {
        const Sheet& sh = m_sheets[k];
        put32(stream.data() + sheetPosFields[k], uint32_t(stream.size()));
        int width = sh.columns.size();
        for (const QStringList& r : sh.rows)
            width = std::max(width, int(r.size()));
        const int height = width > 0 ? sh.rows.size() + 1 : 0;

        RecordWriter w;
        w.buf.reserve(200 + cellRefs[k].size() * 14);
        w.bof(kWorksheetType);
        const int dim = w.begin(kDimensions);
        w.u32(0);
        w.u32(uint32_t(height));
        w.u16(0);
        w.u16(uint16_t(width));
        w.u16(0);
        w.end(dim);

        const uint32_t* ref = cellRefs[k].constData();
        const int cellsAt = w.buf.size();
        w.buf.resize(cellsAt + cellRefs[k].size() * 14);
        char* p = w.buf.data() + cellsAt;
        for (int r = -1; r < sh.rows.size(); ++r) {
            const QStringList& cells = r < 0 ? sh.columns : sh.rows[r];
            for (int c = 0; c < cells.size(); ++c) {
                if (cells[c].isEmpty())
                    continue;
                put16(p, kLabelSst);
                put16(p + 2, 10);
                put16(p + 4, uint16_t(r + 1));
                put16(p + 6, uint16_t(c));
                put16(p + 8, kCellXf);
                put32(p + 10, *ref++);
                p += 14;
            }
        }

        w.record(kWindow2, {uint16_t(k == 0 ? 0x06B6 : 0x00B6), 0, 0, 0x0040, 0, 0, 0, 0, 0});
        w.record(kEof, {});
        stream.append(w.buf);
    }
    return stream;
}

bool XlsWorkbook::fromBiff(const QByteArray& s, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    RecordReader rd(s);
    Record r;
    if (!rd.next(&r) || r.type != kBof || r.size < 4 || get16(s.constData() + r.data) != kBiff8
        || get16(s.constData() + r.data + 2) != kGlobalsType)
        return fail(QStringLiteral("not a BIFF8 workbook (Excel 97-2003)"));

    struct Bound
    {
        uint32_t pos;
        uint8_t type;
        QString name;
    };
    QVector<Bound> bound;
    QVector<QString> sst;
    bool ended = false;
    while (!ended && rd.next(&r)) {
        const char* d = s.constData() + r.data;
        switch (r.type) {
        case kFilePass:
            return fail(QStringLiteral("the workbook is password protected"));
        case kBoundSheet: {
            if (r.size < 8)
                return fail(QStringLiteral("corrupt sheet list"));
            const int count = uint8_t(d[6]);
            const bool wide = uint8_t(d[7]) & 1;
            if (8 + count * (wide ? 2 : 1) > r.size)
                return fail(QStringLiteral("corrupt sheet list"));
            QString name;
            for (int i = 0; i < count; ++i)
                name.append(wide ? QChar(get16(d + 8 + 2 * i)) : QChar(uint8_t(d[8 + i])));
            bound.append({get32(d), uint8_t(d[5]), name});
            break;
        }
        case kSst: {
            QVector<Record> parts{r};
            Record c;
            while (rd.peek(&c) && c.type == kContinue) {
                rd.next(&c);
                parts.append(c);
            }
            ContinuedReader cr(s, parts);
            uint32_t total = 0;
            uint32_t unique = 0;
            if (!cr.u32(&total) || !cr.u32(&unique))
                return fail(QStringLiteral("corrupt shared string table"));
            sst.reserve(int(std::min<uint32_t>(unique, uint32_t(s.size()))));
            for (uint32_t i = 0; i < unique; ++i) {
                uint16_t count = 0;
                uint8_t flags = 0;
                uint16_t runs = 0;
                uint32_t ext = 0;
                QString text;
                if (!cr.u16(&count) || !cr.u8(&flags) || ((flags & 8) && !cr.u16(&runs))
                    || ((flags & 4) && !cr.u32(&ext)) || !cr.chars(count, flags & 1, &text)
                    || !cr.bytes(nullptr, 4 * runs) || (ext > uint32_t(s.size())) || !cr.bytes(nullptr, int(ext)))
                    return fail(QStringLiteral("corrupt shared string table at string %1").arg(i));
                sst.append(text);
            }
            break;
        }
        case kEof:
            ended = true;
            break;
        default:
            break;
        }
    }
    if (!ended)
        return fail(QStringLiteral("the workbook globals are truncated"));

    QVector<Sheet> sheets;
    for (const Bound& b : bound) {
        if (b.type != 0)
            continue; // charts, macro sheets and modules are not tables
        if (b.pos >= uint32_t(s.size()))
            return fail(QStringLiteral("sheet \"%1\" lies outside the workbook").arg(b.name));
        rd.seek(int(b.pos));
        if (!rd.next(&r) || r.type != kBof || r.size < 4 || get16(s.constData() + r.data + 2) != kWorksheetType)
            return fail(QStringLiteral("sheet \"%1\" does not start with a worksheet header").arg(b.name));
        Grid grid;
        int declaredRows = 0;
        int depth = 1;
        int formulaRow = -1;
        int formulaCol = -1;
        while (depth > 0) {
            if (!rd.next(&r))
                return fail(QStringLiteral("sheet \"%1\" is truncated").arg(b.name));
            const char* d = s.constData() + r.data;
            if (r.type == kBof) {
                ++depth; // an embedded chart
                continue;
            }
            if (r.type == kEof) {
                --depth;
                continue;
            }
            if (depth > 1)
                continue;
            const int row = r.size >= 2 ? get16(d) : 0;
            const int col = r.size >= 4 ? get16(d + 2) : 0;
            QString text;
            switch (r.type) {
            case kDimensions:
                if (r.size >= 8)
                    declaredRows = int(std::min<uint32_t>(get32(d + 4), kMaxRows));
                break;
            case kLabelSst:
                if (r.size >= 10) {
                    const uint32_t i = get32(d + 6);
                    if (i >= uint32_t(sst.size()))
                        return fail(QStringLiteral("sheet \"%1\" refers to a missing string").arg(b.name));
                    grid.set(row, col, sst[int(i)]);
                }
                break;
            case kLabel:
            case kRString:
                if (readCellString(s, r, 6, &text))
                    grid.set(row, col, text);
                break;
            case kNumber:
                if (r.size >= 14)
                    grid.set(row, col, numberText(getDouble(d + 6)));
                break;
            case kRk:
                if (r.size >= 10)
                    grid.set(row, col, numberText(rkValue(get32(d + 6))));
                break;
            case kMulRk:
                for (int k = 0; 4 + 6 * k + 6 <= r.size - 2; ++k)
                    grid.set(row, col + k, numberText(rkValue(get32(d + 4 + 6 * k + 2))));
                break;
            case kBoolErr:
                if (r.size >= 8 && uint8_t(d[7]) == 0)
                    grid.set(row, col, d[6] ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
                break;
            case kFormula:
                // The cached result: a number, or a string in the next STRING record.
                if (r.size >= 14) {
                    if (get16(d + 12) != 0xFFFF)
                        grid.set(row, col, numberText(getDouble(d + 6)));
                    else if (uint8_t(d[6]) == 0) {
                        formulaRow = row;
                        formulaCol = col;
                    } else if (uint8_t(d[6]) == 1)
                        grid.set(row, col, d[8] ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
                }
                break;
            case kString:
                if (formulaRow >= 0 && readCellString(s, r, 0, &text))
                    grid.set(formulaRow, formulaCol, text);
                formulaRow = -1;
                break;
            default:
                break;
            }
        }
        Sheet sh;
        sh.name = b.name;
        if (!grid.rows.isEmpty() || declaredRows > 0) {
            grid.rows.resize(std::max(grid.rows.size(), declaredRows));
            sh.columns = grid.rows.first();
            while (sh.columns.size() < grid.width)
                sh.columns.append(QString());
            sh.rows = grid.rows.mid(1);
        }
        sheets.append(sh);
    }
    m_sheets = sheets;
    return true;
}

bool XlsWorkbook::save(const QString& path, QString* error) const
{
    QByteArray file;
    if (!CompoundFile::build({{QStringLiteral("Workbook"), toBiff()}}, &file, error))
        return false;
    // Replacing is the point: the export's driver saves the workbook it opened.
    return OutputFile::save(
        OutputFile::Target{path, true, QString()}, OutputFile::Format::Xls,
        [&file](QIODevice& out, QString*) { return out.write(file) == file.size(); }, error);
}

bool XlsWorkbook::load(const QString& path, QString* error)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, in.errorString());
        return false;
    }
    const QByteArray bytes = in.readAll();
    if (bytes.isEmpty()) {
        m_sheets.clear();
        return true;
    }
    CompoundFile cf;
    if (!cf.parse(bytes)) {
        if (error)
            *error = QStringLiteral("%1 is not an Excel workbook: %2").arg(path, cf.errorString());
        return false;
    }
    if (!cf.hasStream(QStringLiteral("Workbook"))) {
        if (error)
            *error = QStringLiteral("%1 holds no Excel 97-2003 workbook").arg(path);
        return false;
    }
    return fromBiff(cf.stream(QStringLiteral("Workbook")), error);
}
