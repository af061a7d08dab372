// The first sheet of an .xls workbook read cell by cell through FreeXL, dates as yyyy-MM-dd, numbers as written.

#include "core/import/XlsTable.h"

#include <QFile>
#include <QTemporaryFile>

#include <freexl.h>

namespace {

// FreeXL reads from a path: the very bytes that are hashed and kept go to a
// private temporary file, so what is read is what is stored.
class Workbook
{
public:
    ~Workbook()
    {
        if (handle)
            freexl_close(handle);
    }
    const void* handle = nullptr;
};

QString cellText(const FreeXL_CellValue& v)
{
    switch (v.type) {
    case FREEXL_CELL_INT:
        return QString::number(v.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return QString::number(v.value.double_value, 'g', 15);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_TIME:
        return QString::fromUtf8(v.value.text_value);
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
        return QString::fromUtf8(v.value.text_value).left(10);
    default:
        return QString();
    }
}

bool refuse(QString* why, int rc)
{
    *why = QStringLiteral("不是可读的 .xls 工作簿（FreeXL 错误 %1）").arg(rc);
    return false;
}

} // namespace

bool XlsTable::read(const QByteArray& bytes, QList<Row>& rows, QString* why)
{
    rows.clear();
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        *why = QStringLiteral("无法写临时文件：") + copy.errorString();
        return false;
    }
    Workbook book;
    int rc = freexl_open(QFile::encodeName(copy.fileName()).constData(), &book.handle);
    if (rc != FREEXL_OK)
        return refuse(why, rc);
    unsigned int sheets = 0;
    if ((rc = freexl_get_info(book.handle, FREEXL_BIFF_SHEET_COUNT, &sheets)) != FREEXL_OK)
        return refuse(why, rc);
    if (sheets == 0) {
        *why = QStringLiteral("工作簿中没有工作表");
        return false;
    }
    unsigned int height = 0;
    unsigned short width = 0;
    if ((rc = freexl_select_active_worksheet(book.handle, 0)) != FREEXL_OK
        || (rc = freexl_worksheet_dimensions(book.handle, &height, &width)) != FREEXL_OK)
        return refuse(why, rc);
    for (unsigned int r = 0; r < height; ++r) {
        Row row;
        row.line = static_cast<int>(r) + 1;
        bool any = false;
        for (unsigned short c = 0; c < width; ++c) {
            FreeXL_CellValue v;
            if ((rc = freexl_get_cell_value(book.handle, r, c, &v)) != FREEXL_OK)
                return refuse(why, rc);
            row.cells << cellText(v);
            any = any || !row.cells.last().trimmed().isEmpty();
        }
        if (any)
            rows << row;
    }
    return true;
}
