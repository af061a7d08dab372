// CSV files decoded (UTF-8, GB18030 or a named encoding) and split into records of fields, each with its first line.

#include "core/import/CsvTable.h"

#include <QTextCodec>

CsvTable::CsvTable(const QString& encoding)
    : encoding(encoding.trimmed())
{
}

bool CsvTable::decode(const QByteArray& bytes, QString& text, QString* why) const
{
    static const QByteArray bom("\xEF\xBB\xBF");
    const bool marked = bytes.startsWith(bom);
    if (!encoding.isEmpty() && !marked) {
        QTextCodec* codec = QTextCodec::codecForName(encoding.toLatin1());
        if (!codec) {
            *why = QStringLiteral("未知的编码：") + encoding;
            return false;
        }
        text = codec->toUnicode(bytes);
        return true;
    }
    const QByteArray body = marked ? bytes.mid(bom.size()) : bytes;
    QTextCodec::ConverterState state;
    text = QTextCodec::codecForName("UTF-8")->toUnicode(body.constData(), body.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return true;
    if (marked) {
        *why = QStringLiteral("文件以 UTF-8 标记开头，但内容不是有效的 UTF-8");
        return false;
    }
    text = QTextCodec::codecForName("GB18030")->toUnicode(bytes);
    return true;
}

bool CsvTable::read(const QByteArray& bytes, QList<Row>& rows, QString* why)
{
    QString text;
    if (!decode(bytes, text, why))
        return false;
    rows.clear();
    Row row;
    QString field;
    int line = 1;
    int quoteLine = 0;
    bool quoted = false, fieldStarted = false, afterQuote = false;
    const auto endField = [&] {
        row.cells << field;
        field.clear();
        fieldStarted = afterQuote = false;
    };
    const auto endRecord = [&] {
        endField();
        bool any = false;
        for (const QString& c : qAsConst(row.cells))
            any = any || !c.trimmed().isEmpty();
        if (any)
            rows << row;
        row = Row();
    };
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (row.cells.isEmpty() && !fieldStarted && field.isEmpty() && row.line == 0)
            row.line = line;
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && !fieldStarted && field.trimmed().isEmpty()) {
            field.clear();
            quoted = fieldStarted = true;
            quoteLine = line;
        } else if (c == QLatin1Char(',')) {
            endField();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            endRecord();
            ++line;
        } else if (afterQuote) {
            if (!c.isSpace()) {
                *why = QStringLiteral("第 %1 行：引号后还有文字").arg(line);
                return false;
            }
        } else {
            field += c;
            fieldStarted = fieldStarted || !c.isSpace();
        }
    }
    if (quoted) {
        *why = QStringLiteral("第 %1 行：引号没有结束").arg(quoteLine);
        return false;
    }
    if (!row.cells.isEmpty() || !field.isEmpty() || fieldStarted)
        endRecord();
    return true;
}
