#include "support/FreeXlReader.h"

#include <QFile>

#include <freexl.h>

QVector<FreeXlReader::Sheet> FreeXlReader::read(const QString& path, QString* error)
{
    QVector<Sheet> sheets;
    const void* handle = nullptr;
    int rc = freexl_open(QFile::encodeName(path).constData(), &handle);
    if (rc != FREEXL_OK) {
        *error = QStringLiteral("freexl_open: %1").arg(rc);
        return sheets;
    }
    unsigned int count = 0;
    if ((rc = freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count)) != FREEXL_OK || count == 0) {
        *error = QStringLiteral("no sheets: %1").arg(rc);
        freexl_close(handle);
        return sheets;
    }
    for (unsigned short s = 0; s < count; ++s) {
        Sheet sheet;
        const char* name = nullptr;
        freexl_get_worksheet_name(handle, s, &name);
        sheet.name = QString::fromUtf8(name);
        unsigned int rows = 0;
        unsigned short cols = 0;
        if ((rc = freexl_select_active_worksheet(handle, s)) != FREEXL_OK
            || (rc = freexl_worksheet_dimensions(handle, &rows, &cols)) != FREEXL_OK) {
            *error = QStringLiteral("sheet %1: %2").arg(s).arg(rc);
            break;
        }
        for (unsigned int r = 0; r < rows; ++r) {
            QStringList row;
            for (unsigned short c = 0; c < cols; ++c) {
                FreeXL_CellValue v;
                if ((rc = freexl_get_cell_value(handle, r, c, &v)) != FREEXL_OK) {
                    *error = QStringLiteral("cell %1,%2: %3").arg(r).arg(c).arg(rc);
                    freexl_close(handle);
                    return sheets;
                }
                if (v.type == FREEXL_CELL_TEXT || v.type == FREEXL_CELL_SST_TEXT)
                    row << QString::fromUtf8(v.value.text_value);
                else if (v.type == FREEXL_CELL_NULL)
                    row << QString();
                else
                    row << QStringLiteral("<non-text %1>").arg(v.type);
            }
            sheet.rows << row;
        }
        sheets << sheet;
    }
    freexl_close(handle);
    return sheets;
}

QStringList FreeXlReader::names() const
{
    QStringList list;
    for (const Sheet& s : sheets)
        list << s.name;
    return list;
}

QVector<QStringList> FreeXlReader::rows(const QString& sheet) const
{
    for (const Sheet& s : sheets) {
        if (s.name == sheet)
            return s.rows;
    }
    return {};
}
