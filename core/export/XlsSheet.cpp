// One worksheet of an .xls workbook: its limits, and its records.

#include "core/export/XlsSheet.h"

#include "core/export/BiffRecordWriter.h"
#include "core/export/LittleEndian.h"
#include "core/export/XlsSharedStrings.h"

namespace {

constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kWindow2 = 0x023E;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr int kLabelSstSize = 14; // with its header
constexpr uint16_t kCellXf = 15;  // the cell format of the workbook globals every cell uses

QString tooLong(const QString& what)
{
    return QStringLiteral("%1超过 %2 个字符").arg(what).arg(XlsSheet::kMaxCellChars);
}

} // namespace

QString XlsSheet::nameProblem(const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("工作表名为空");
    if (name.size() > kMaxNameChars)
        return QStringLiteral("工作表名“%1”超过 %2 个字符").arg(name).arg(kMaxNameChars);
    for (QChar c : name)
        if (QStringLiteral("[]:*?/\\").contains(c) || c.unicode() < 0x20)
            return QStringLiteral("工作表名“%1”含有字符 '%2'").arg(name, c);
    if (name.startsWith(QLatin1Char('\'')) || name.endsWith(QLatin1Char('\'')))
        return QStringLiteral("工作表名“%1”以单引号开头或结尾").arg(name);
    return QString();
}

QString XlsSheet::columnsProblem(const QStringList& columns)
{
    if (columns.isEmpty() || columns.size() > kMaxColumns)
        return QStringLiteral("工作表须有 1 到 %1 列，而不是 %2 列").arg(kMaxColumns).arg(columns.size());
    for (const QString& c : columns)
        if (c.size() > kMaxCellChars)
            return tooLong(QStringLiteral("列名"));
    return QString();
}

bool XlsSheet::appendRow(const QStringList& cells, QString* error)
{
    QString problem;
    if (m_rows.size() + 1 >= kMaxRows)
        problem = QStringLiteral("工作表“%1”已满：一个工作表最多 %2 行").arg(m_name).arg(kMaxRows);
    else if (cells.size() > m_columns.size())
        problem = QStringLiteral("一行 %1 个值，而工作表“%2”只有 %3 列")
                      .arg(cells.size())
                      .arg(m_name)
                      .arg(m_columns.size());
    for (const QString& c : cells)
        if (problem.isEmpty() && c.size() > kMaxCellChars)
            problem = tooLong(QStringLiteral("单元格"));
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    m_rows.append(cells);
    return true;
}

QByteArray XlsSheet::records(XlsSharedStrings& strings, bool selected) const
{
    int cells = 0;
    for (int r = -1; r < m_rows.size(); ++r)
        for (const QString& c : r < 0 ? m_columns : m_rows[r])
            cells += c.isEmpty() ? 0 : 1;

    BiffRecordWriter w;
    w.bytes().reserve(200 + cells * kLabelSstSize);
    w.bof(BiffRecordWriter::kWorksheetKind);
    const int dim = w.begin(kDimensions);
    w.u32(0);
    w.u32(uint32_t(m_rows.size() + 1)); // one past the last row
    w.u16(0);
    w.u16(uint16_t(m_columns.size()));
    w.u16(0);
    w.end(dim);

    // Cells are written straight into place: a sheet may hold millions of them.
    QByteArray& out = w.bytes();
    const int cellsAt = out.size();
    out.resize(cellsAt + cells * kLabelSstSize);
    char* p = out.data() + cellsAt;
    for (int r = -1; r < m_rows.size(); ++r) {
        const QStringList& row = r < 0 ? m_columns : m_rows[r];
        for (int c = 0; c < row.size(); ++c) {
            if (row[c].isEmpty())
                continue; // an empty cell is no cell
            put16(p, kLabelSst);
            put16(p + 2, kLabelSstSize - 4);
            put16(p + 4, uint16_t(r + 1));
            put16(p + 6, uint16_t(c));
            put16(p + 8, kCellXf);
            put32(p + 10, strings.add(row[c]));
            p += kLabelSstSize;
        }
    }

    w.record(kWindow2, {uint16_t(selected ? 0x06B6 : 0x00B6), 0, 0, 0x0040, 0, 0, 0, 0, 0});
    w.eof();
    return out;
}
