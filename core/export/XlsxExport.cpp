// The query's rows streamed into .xlsx sheets: time keys as date cells, doses as numbers,
// a full sheet continued on the next.

#include "core/export/XlsxExport.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTime>
#include <QVariant>

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace {

constexpr int kColumns = 5;
// Often enough for a live progress bar and a prompt cancel, rarely enough
// that the dialog's event processing costs nothing noticeable.
constexpr int kProgressStep = 2000;
constexpr int kMaxColumnWidth = 255;
const char* const kHeader[kColumns] = {"时间", "姓名", "部门", "设备号", "剂量 (μSv)"};

// The three time keys of the query views and how their cells show.
struct TimeForm
{
    int length;
    const char* format;
};
constexpr TimeForm kTimeForms[] = {{14, "yyyy-mm-dd hh:mm"}, {8, "yyyy-mm-dd"}, {6, "yyyy-mm"}};
constexpr int kTimeFormCount = int(sizeof kTimeForms / sizeof kTimeForms[0]);

struct WorkbookFree
{
    void operator()(lxw_workbook* book) const { lxw_workbook_free(book); }
};
using Workbook = std::unique_ptr<lxw_workbook, WorkbookFree>;

struct Formats
{
    lxw_format* header = nullptr;
    std::array<lxw_format*, kTimeFormCount> time{};

    lxw_format* timeFormat(const char* format) const
    {
        for (int i = 0; i < kTimeFormCount; ++i) {
            if (kTimeForms[i].format == format)
                return time[size_t(i)];
        }
        return nullptr;
    }
};

using Widths = std::array<int, kColumns>;

// Characters as a spreadsheet measures them: CJK ones take two.
int textWidth(const QString& text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x2E80 ? 2 : 1;
    return width;
}

lxw_error writeRow(lxw_worksheet* sheet, lxw_row_t row, const QSqlQuery& rows, const Formats& formats,
                   Widths& widths)
{
    lxw_error error = LXW_NO_ERROR;
    for (int c = 0; c < kColumns && error == LXW_NO_ERROR; ++c) {
        const QVariant value = rows.value(c);
        if (value.isNull())
            continue;
        const auto col = lxw_col_t(c);
        XlsxExport::TimeCell time;
        bool numeric = false;
        // Device number and dose; a text that is no number stays text.
        const double number = c >= 3 ? value.toDouble(&numeric) : 0.0;
        int width = 0;
        if (c == 0 && XlsxExport::timeCell(value.toString(), &time)) {
            error = worksheet_write_number(sheet, row, col, time.serial, formats.timeFormat(time.format));
            width = int(std::strlen(time.format));
        } else if (numeric) {
            error = worksheet_write_number(sheet, row, col, number, nullptr);
            width = QString::number(number).size();
        } else {
            const QString text = value.toString();
            error = worksheet_write_string(sheet, row, col, text.toUtf8().constData(), nullptr);
            width = textWidth(text);
        }
        widths[size_t(c)] = std::max(widths[size_t(c)], width);
    }
    return error;
}

} // namespace

XlsxExport::XlsxExport(const OutputFile::Target& target, QObject* parent)
    : QObject(parent)
    , m_target(target)
{
}

void XlsxExport::setSheetRows(int rows)
{
    m_sheetRows = std::clamp(rows, 2, kMaxSheetRows);
}

bool XlsxExport::timeCell(const QString& key, TimeCell* cell)
{
    for (const TimeForm& form : kTimeForms) {
        if (key.size() != form.length)
            continue;
        for (const QChar c : key) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        const auto field = [&key](int from, int fallback) {
            return from < key.size() ? key.midRef(from, 2).toInt() : fallback;
        };
        const int year = key.leftRef(4).toInt();
        const int month = field(4, 1);
        const int day = field(6, 1);
        const int hour = field(8, 0);
        const int minute = field(10, 0);
        const int second = field(12, 0);
        if (year < 1900 || !QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second))
            return false;
        lxw_datetime t{year, month, day, hour, minute, double(second)};
        cell->serial = lxw_datetime_to_excel_datetime(&t);
        cell->format = form.format;
        return true;
    }
    return false;
}

int XlsxExport::write(QSqlQuery& rows)
{
    m_error.clear();
    int written = -1;
    QString why;
    // The temporary file is made before a single row is read: an unwritable
    // folder is found at once.
    const bool done = OutputFile::write(
        m_target, OutputFile::Format::Xlsx,
        [&](const QString& path, QString*) { return (written = fill(path, rows)) >= 0; }, &why);
    if (done)
        return written;
    if (!m_cancelled && m_error.isEmpty())
        m_error = tr("无法写入 %1：%2").arg(QDir::toNativeSeparators(m_target.path), why);
    return -1;
}

int XlsxExport::fill(const QString& path, QSqlQuery& rows)
{
    const QByteArray partName = QFile::encodeName(path);

    // Constant memory: each row goes to a temporary file as soon as the next
    // one starts, so a million rows take no more memory than ten.
    lxw_workbook_options options = {LXW_TRUE, nullptr, LXW_FALSE};
    Workbook book(workbook_new_opt(partName.constData(), &options));
    if (!book) {
        m_error = tr("无法创建工作簿");
        return -1;
    }
    Formats formats;
    formats.header = workbook_add_format(book.get());
    format_set_bold(formats.header);
    for (int i = 0; i < kTimeFormCount; ++i) {
        formats.time[size_t(i)] = workbook_add_format(book.get());
        format_set_num_format(formats.time[size_t(i)], kTimeForms[i].format);
    }

    lxw_worksheet* sheet = nullptr;
    Widths widths{};
    int sheets = 0;
    int row = 0;
    lxw_error failure = LXW_NO_ERROR;
    const auto finishSheet = [&] {
        for (int c = 0; c < kColumns; ++c)
            worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c),
                                 std::min(widths[size_t(c)] + 2, kMaxColumnWidth), nullptr);
    };
    const auto startSheet = [&] {
        const QByteArray name = "mydata" + QByteArray::number(sheets++);
        sheet = workbook_add_worksheet(book.get(), name.constData());
        if (!sheet) {
            failure = LXW_ERROR_CREATING_TMPFILE;
            return false;
        }
        worksheet_freeze_panes(sheet, 1, 0);
        for (int c = 0; c < kColumns && failure == LXW_NO_ERROR; ++c) {
            failure = worksheet_write_string(sheet, 0, lxw_col_t(c), kHeader[c], formats.header);
            widths[size_t(c)] = textWidth(QString::fromUtf8(kHeader[c]));
        }
        row = 1;
        return failure == LXW_NO_ERROR;
    };

    int written = 0;
    if (startSheet()) {
        emit exportedRowCount(0);
        while (!m_cancelled && rows.next()) {
            if (row == m_sheetRows) {
                finishSheet();
                if (!startSheet())
                    break;
            }
            failure = writeRow(sheet, lxw_row_t(row), rows, formats, widths);
            if (failure != LXW_NO_ERROR)
                break;
            ++row;
            if (++written % kProgressStep == 0)
                emit exportedRowCount(written);
        }
    }
    if (m_cancelled)
        return -1;
    if (failure != LXW_NO_ERROR) {
        m_error = tr("写入工作簿失败：%1").arg(QString::fromUtf8(lxw_strerror(failure)));
        return -1;
    }
    // A statement that breaks off midway must not pass for a short result.
    if (rows.lastError().isValid()) {
        m_error = tr("读取数据失败：%1").arg(rows.lastError().text());
        return -1;
    }
    finishSheet();
    emit exportedRowCount(written);
    if (m_cancelled)
        return -1;

    // workbook_close frees the workbook whatever it returns.
    const lxw_error closed = workbook_close(book.release());
    if (closed != LXW_NO_ERROR) {
        m_error = tr("写入工作簿失败：%1").arg(QString::fromUtf8(lxw_strerror(closed)));
        return -1;
    }
    return written;
}
