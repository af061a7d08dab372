// The parts of an .xlsx workbook read in turn: the first sheet named in the workbook, its file through the
// relationships, the shared strings, the date styles, then the sheet's cells.

#include "core/import/XlsxTable.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <zip.h>

#include <cmath>

namespace {

// No part of a laboratory's workbook comes near this; a larger one is a damaged or hostile file.
const zip_uint64_t kLargestPart = 512u * 1024u * 1024u;

class Archive
{
public:
    explicit Archive(const QByteArray& bytes)
    {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.constData(), bytes.size(), 0, &error);
        if (source) {
            zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
            if (!zip)
                zip_source_free(source);
        }
        if (!zip)
            problem = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
    }
    ~Archive()
    {
        if (zip)
            zip_discard(zip);
    }

    // The part's bytes; false when the archive lacks it or it cannot be read.
    bool part(const QString& name, QByteArray& bytes, bool* missing = nullptr) const
    {
        const QByteArray path = name.toUtf8();
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat(zip, path.constData(), ZIP_FL_NOCASE, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
            if (missing)
                *missing = true;
            return false;
        }
        if (st.size > kLargestPart)
            return false;
        zip_file_t* file = zip_fopen(zip, path.constData(), ZIP_FL_NOCASE);
        if (!file)
            return false;
        bytes.resize(static_cast<int>(st.size));
        const zip_int64_t got = zip_fread(file, bytes.data(), st.size);
        zip_fclose(file);
        return got == static_cast<zip_int64_t>(st.size);
    }

    zip_t* zip = nullptr;
    QString problem;
};

bool fail(QString* why, const QString& reason)
{
    *why = reason;
    return false;
}

QString damaged(const QString& part)
{
    return QStringLiteral("不是可读的 .xlsx 工作簿（%1 无法读取）").arg(part);
}

// The text of the element the reader stands on, with every <t> inside it
// (phonetic runs left out); the reader ends on its end element.
QString textOf(QXmlStreamReader& xml)
{
    QString text;
    const QString endName = xml.name().toString();
    int phonetic = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("rPh"))
            ++phonetic;
        else if (xml.isEndElement() && xml.name() == QLatin1String("rPh"))
            --phonetic;
        else if (xml.isStartElement() && xml.name() == QLatin1String("t") && phonetic == 0)
            text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
        else if (xml.isEndElement() && xml.name() == endName)
            break;
    }
    return text;
}

// "BC12" -> column 54 (from 0); -1 when there are no letters.
int columnOf(const QStringRef& reference)
{
    int column = 0, letters = 0;
    for (const QChar c : reference) {
        if (c.isLetter()) {
            column = column * 26 + (c.toUpper().unicode() - 'A' + 1);
            ++letters;
        } else {
            break;
        }
    }
    return letters == 0 || letters > 3 ? -1 : column - 1;
}

} // namespace

bool XlsxTable::isDateFormat(const QString& code)
{
    QString plain = code;
    // Quoted text, escaped characters and [colours]/[conditions] show no date.
    plain.remove(QRegularExpression(QStringLiteral("\"[^\"]*\"|\\\\.|\\[[^\\]]*\\]")));
    plain = plain.section(QLatin1Char(';'), 0, 0).toLower();
    return plain.contains(QLatin1Char('y')) || plain.contains(QLatin1Char('d'))
        || (plain.contains(QLatin1Char('m')) && !plain.contains(QLatin1Char('h')) && !plain.contains(QLatin1Char('s')));
}

bool XlsxTable::read(const QByteArray& bytes, QList<Row>& rows, QString* why)
{
    rows.clear();
    shared.clear();
    dateStyles.clear();
    Archive archive(bytes);
    if (!archive.zip)
        return fail(why, QStringLiteral("不是可读的 .xlsx 工作簿（%1）").arg(archive.problem));

    // The first sheet of the workbook, and the part its relationship names.
    QByteArray part;
    if (!archive.part(QStringLiteral("xl/workbook.xml"), part))
        return fail(why, damaged(QStringLiteral("xl/workbook.xml")));
    QString relation;
    {
        QXmlStreamReader xml(part);
        while (!xml.atEnd() && relation.isEmpty()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("sheet")) {
                for (const QXmlStreamAttribute& a : xml.attributes()) {
                    if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                        relation = a.value().toString();
                }
                if (relation.isEmpty())
                    return fail(why, damaged(QStringLiteral("xl/workbook.xml")));
            }
        }
        if (relation.isEmpty())
            return fail(why, xml.hasError() ? damaged(QStringLiteral("xl/workbook.xml"))
                                            : QStringLiteral("工作簿中没有工作表"));
    }
    if (!archive.part(QStringLiteral("xl/_rels/workbook.xml.rels"), part))
        return fail(why, damaged(QStringLiteral("xl/_rels/workbook.xml.rels")));
    QString sheetPart;
    {
        QXmlStreamReader xml(part);
        while (!xml.atEnd() && sheetPart.isEmpty()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("Relationship")
                && xml.attributes().value(QLatin1String("Id")) == relation)
                sheetPart = xml.attributes().value(QLatin1String("Target")).toString();
        }
    }
    if (sheetPart.isEmpty())
        return fail(why, damaged(QStringLiteral("xl/_rels/workbook.xml.rels")));
    sheetPart = sheetPart.startsWith(QLatin1Char('/')) ? sheetPart.mid(1) : QStringLiteral("xl/") + sheetPart;

    // Shared strings and styles are optional parts; present, they must read.
    bool missing = false;
    if (archive.part(QStringLiteral("xl/sharedStrings.xml"), part, &missing)) {
        QXmlStreamReader xml(part);
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("si"))
                shared << textOf(xml);
        }
        if (xml.hasError())
            return fail(why, damaged(QStringLiteral("xl/sharedStrings.xml")));
    } else if (!missing) {
        return fail(why, damaged(QStringLiteral("xl/sharedStrings.xml")));
    }
    missing = false;
    if (archive.part(QStringLiteral("xl/styles.xml"), part, &missing)) {
        QXmlStreamReader xml(part);
        QSet<int> dateFormats{14, 15, 16, 17, 18, 19, 20, 21, 22, 27, 28, 29, 30, 31, 36, 50, 51, 52, 53, 54, 55, 56, 57, 58};
        bool inCellXfs = false;
        int xf = 0;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("numFmt")) {
                const int id = xml.attributes().value(QLatin1String("numFmtId")).toInt();
                if (isDateFormat(xml.attributes().value(QLatin1String("formatCode")).toString()))
                    dateFormats << id;
                else
                    dateFormats.remove(id);
            } else if (xml.isStartElement() && xml.name() == QLatin1String("cellXfs")) {
                inCellXfs = true;
            } else if (xml.isEndElement() && xml.name() == QLatin1String("cellXfs")) {
                inCellXfs = false;
            } else if (inCellXfs && xml.isStartElement() && xml.name() == QLatin1String("xf")) {
                if (dateFormats.contains(xml.attributes().value(QLatin1String("numFmtId")).toInt()))
                    dateStyles << xf;
                ++xf;
            }
        }
        if (xml.hasError())
            return fail(why, damaged(QStringLiteral("xl/styles.xml")));
    } else if (!missing) {
        return fail(why, damaged(QStringLiteral("xl/styles.xml")));
    }

    if (!archive.part(sheetPart, part))
        return fail(why, damaged(sheetPart));
    return readSheet(part, rows, why);
}

bool XlsxTable::readSheet(const QByteArray& bytes, QList<Row>& rows, QString* why) const
{
    QXmlStreamReader xml(bytes);
    Row row;
    int nextRow = 1, nextColumn = 0;
    const auto finish = [&] {
        bool any = false;
        for (const QString& c : qAsConst(row.cells))
            any = any || !c.trimmed().isEmpty();
        if (any)
            rows << row;
    };
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("row")) {
            bool numbered = false;
            const int r = xml.attributes().value(QLatin1String("r")).toInt(&numbered);
            row = Row();
            row.line = numbered && r > 0 ? r : nextRow;
            nextRow = row.line + 1;
            nextColumn = 0;
        } else if (xml.isEndElement() && xml.name() == QLatin1String("row")) {
            finish();
        } else if (xml.isStartElement() && xml.name() == QLatin1String("c")) {
            const QXmlStreamAttributes a = xml.attributes();
            int column = a.hasAttribute(QLatin1String("r")) ? columnOf(a.value(QLatin1String("r"))) : nextColumn;
            if (column < 0 || column > 16383)
                return fail(why, QStringLiteral("第 %1 行：单元格位置无法读取").arg(row.line));
            nextColumn = column + 1;
            const QString type = a.value(QLatin1String("t")).toString();
            const bool dated = dateStyles.contains(a.value(QLatin1String("s")).toInt());
            QString value, inline_;
            bool hasValue = false;
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isStartElement() && xml.name() == QLatin1String("v")) {
                    value = xml.readElementText();
                    hasValue = true;
                } else if (xml.isStartElement() && xml.name() == QLatin1String("is")) {
                    inline_ = textOf(xml);
                } else if (xml.isEndElement() && xml.name() == QLatin1String("c")) {
                    break;
                }
            }
            QString text;
            if (type == QLatin1String("s")) {
                bool isIndex = false;
                const int i = value.toInt(&isIndex);
                if (!isIndex || i < 0 || i >= shared.size())
                    return fail(why, QStringLiteral("第 %1 行：共享字符串 %2 不存在").arg(row.line).arg(value));
                text = shared.at(i);
            } else if (type == QLatin1String("inlineStr")) {
                text = inline_;
            } else if (type == QLatin1String("b")) {
                text = value == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
            } else if (type == QLatin1String("d")) {
                text = value.left(10);
            } else if (type == QLatin1String("n") || type.isEmpty()) {
                text = value;
                bool isNumber = false;
                const double number = value.toDouble(&isNumber);
                if (hasValue && dated && isNumber && TableFile::serialDate(number).isValid())
                    text = TableFile::serialDate(number).toString(QStringLiteral("yyyy-MM-dd"));
            } else {
                text = value; // "str" (a formula's text), "e" (an error such as #N/A)
            }
            while (row.cells.size() < column)
                row.cells << QString();
            if (row.cells.size() == column)
                row.cells << text;
            else
                row.cells[column] = text;
        }
    }
    if (xml.hasError())
        return fail(why, QStringLiteral("不是可读的 .xlsx 工作簿（工作表：%1）").arg(xml.errorString()));
    return true;
}
