// An .xls workbook: its sheets, the workbook globals that come before them,
// and the file they are saved in.

#include "core/export/XlsWorkbook.h"

#include "core/export/BiffRecordWriter.h"
#include "core/export/CompoundFile.h"
#include "core/export/LittleEndian.h"
#include "core/export/XlsSharedStrings.h"

#include <QIODevice>

namespace {

constexpr uint16_t kCodepage = 0x0042;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kDateMode = 0x0022;
constexpr uint16_t kPrecision = 0x000E;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kBoundSheet = 0x0085;

bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

void font(BiffRecordWriter& w)
{
    const int at = w.begin(kFont);
    w.u16(200); // 10 pt
    w.u16(0);
    w.u16(0x7FFF);
    w.u16(400);
    w.u16(0);
    w.u8(0);
    w.u8(0);
    w.u8(0);
    w.u8(0);
    w.shortString(QStringLiteral("Arial"));
    w.end(at);
}

void xf(BiffRecordWriter& w, uint16_t font, uint16_t format, uint16_t flags, uint8_t usedAttributes)
{
    const int at = w.begin(kXf);
    w.u16(font);
    w.u16(format);
    w.u16(flags);
    w.u8(0x20); // general, bottom aligned
    w.u8(0);
    w.u8(0);
    w.u8(usedAttributes);
    w.u32(0);
    w.u32(0);
    w.u16(0x20C0); // default pattern colours
    w.end(at);
}

// The fonts, cell formats and styles a spreadsheet expects to find, whether
// the cells use them or not.
void formats(BiffRecordWriter& w)
{
    for (int i = 0; i < 5; ++i) // font 4 is never referenced, but must exist
        font(w);
    xf(w, 0, 0, 0xFFF5, 0x00);
    for (int i = 1; i <= 14; ++i)
        xf(w, i <= 2 ? 1 : (i <= 4 ? 2 : 0), 0, 0xFFF5, 0xF4);
    xf(w, 0, 0, 0x0001, 0x00); // 15, the one every cell uses
    for (uint16_t fmt : {0x2B, 0x29, 0x2C, 0x2A, 0x09})
        xf(w, 1, fmt, 0xFFF5, 0xF8);
    const uint16_t styles[][2] = {{0x8000, 0}, {0x8010, 3}, {0x8011, 6}, {0x8012, 4}, {0x8013, 7}, {0x8014, 5}};
    for (const auto& st : styles) {
        const int at = w.begin(kStyle);
        w.u16(st[0]);
        w.u8(uint8_t(st[1]));
        w.u8(0xFF);
        w.end(at);
    }
}

} // namespace

bool XlsWorkbook::addSheet(const QString& name, const QStringList& columns, QString* error)
{
    QString problem = XlsSheet::nameProblem(name);
    for (const XlsSheet& s : qAsConst(m_sheets))
        if (problem.isEmpty() && s.name().compare(name, Qt::CaseInsensitive) == 0)
            problem = QStringLiteral("已有工作表“%1”").arg(s.name());
    if (problem.isEmpty())
        problem = XlsSheet::columnsProblem(columns);
    if (!problem.isEmpty())
        return fail(error, problem);
    m_sheets.append(XlsSheet(name, columns));
    return true;
}

bool XlsWorkbook::appendRow(const QStringList& cells, QString* error)
{
    if (m_sheets.isEmpty())
        return fail(error, QStringLiteral("工作簿还没有工作表"));
    return m_sheets.last().appendRow(cells, error);
}

QByteArray XlsWorkbook::toBiff() const
{
    // The sheets first: the shared strings, which come before them in the
    // stream, are complete only once every cell has been seen.
    XlsSharedStrings strings;
    QVector<QByteArray> sheets;
    for (int k = 0; k < m_sheets.size(); ++k)
        sheets.append(m_sheets[k].records(strings, k == 0));

    BiffRecordWriter g;
    g.bof(BiffRecordWriter::kGlobalsKind);
    g.record(kCodepage, {1200}); // UTF-16
    g.record(kWindow1, {0, 0, 0x4000, 0x2000, 0x0038, 0, 0, 1, 0x0258});
    g.record(kDateMode, {0});
    g.record(kPrecision, {1});
    formats(g);
    QVector<int> sheetPositions;
    for (const XlsSheet& sh : m_sheets) {
        const int at = g.begin(kBoundSheet);
        sheetPositions.append(g.size());
        g.u32(0); // where the sheet starts, known once the globals end
        g.u8(0);  // visible
        g.u8(0);  // worksheet
        g.shortString(sh.name());
        g.end(at);
    }
    strings.write(g);
    g.eof();

    QByteArray stream = g.bytes();
    for (int k = 0; k < sheets.size(); ++k) {
        put32(stream.data() + sheetPositions[k], uint32_t(stream.size()));
        stream.append(sheets[k]);
        sheets[k].clear(); // a large export need not be held twice
    }
    return stream;
}

bool XlsWorkbook::save(const OutputFile::Target& target, QString* error) const
{
    // A workbook without a sheet is one no spreadsheet opens.
    if (m_sheets.isEmpty())
        return fail(error, QStringLiteral("工作簿没有工作表"));
    QByteArray file;
    if (!CompoundFile::build({{QStringLiteral("Workbook"), toBiff()}}, &file, error))
        return false;
    return OutputFile::save(
        target, OutputFile::Format::Xls,
        [&file](QIODevice& out, QString*) { return out.write(file) == file.size(); }, error);
}
