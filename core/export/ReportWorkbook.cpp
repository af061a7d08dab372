// Filling the .xlsx sheets of the dose record (a summary, then one per year), the department report and the annual statistics.

#include "core/export/ReportWorkbook.h"

#include <QDateTime>
#include <QStringList>

#include <xlsxwriter.h>

#include <cmath>
#include <functional>

#include "core/export/OutputFile.h"
#include "core/report/AnnualStatistics.h"
#include "core/report/PeriodReport.h"
#include "core/report/PersonRecord.h"
#include "core/dose/PersonStatus.h"

namespace {

// One sheet being filled row by row.
class Sheet
{
public:
    Sheet(lxw_workbook* book, const QString& name, lxw_format* dose, lxw_format* bold)
        : sheet(workbook_add_worksheet(book, name.toUtf8().constData()))
        , dose(dose)
        , bold(bold)
    {
    }
    bool ok() const { return sheet && status == LXW_NO_ERROR; }
    Sheet& text(const QString& t, lxw_format* format = nullptr)
    {
        if (sheet && !t.isEmpty())
            keep(worksheet_write_string(sheet, row, column, t.toUtf8().constData(), format));
        ++column;
        return *this;
    }
    Sheet& heading(const QStringList& texts)
    {
        for (const QString& t : texts)
            text(t, bold);
        return next();
    }
    Sheet& number(double v)
    {
        if (sheet)
            keep(worksheet_write_number(sheet, row, column, std::round(v * 100) / 100, dose));
        ++column;
        return *this;
    }
    // A figure of months nobody was monitored in stays an empty cell.
    Sheet& number(double v, bool monitored)
    {
        if (monitored)
            return number(v);
        ++column;
        return *this;
    }
    // A number as it is, in format.
    Sheet& value(double v, lxw_format* format)
    {
        if (sheet)
            keep(worksheet_write_number(sheet, row, column, v, format));
        ++column;
        return *this;
    }
    Sheet& integer(int v)
    {
        if (sheet)
            keep(worksheet_write_number(sheet, row, column, v, nullptr));
        ++column;
        return *this;
    }
    Sheet& next()
    {
        ++row;
        column = 0;
        return *this;
    }
    lxw_worksheet* worksheet() const { return sheet; }
    lxw_row_t at() const { return row; }
    void widths(double first, double others)
    {
        if (sheet) {
            worksheet_set_column(sheet, 0, 0, first, nullptr);
            worksheet_set_column(sheet, 1, 9, others, nullptr);
        }
    }

private:
    void keep(lxw_error e)
    {
        if (status == LXW_NO_ERROR)
            status = e;
    }
    lxw_worksheet* sheet;
    lxw_format* dose;
    lxw_format* bold;
    lxw_row_t row = 0;
    lxw_col_t column = 0;
    lxw_error status = LXW_NO_ERROR;
};

// Builds the workbook at temporary with fill(), which adds the sheets.
bool build(const QString& temporary, QString* why,
           const std::function<bool(lxw_workbook*, lxw_format*, lxw_format*)>& fill)
{
    lxw_workbook* book = workbook_new(temporary.toUtf8().constData());
    if (!book) {
        if (why)
            *why = QStringLiteral("无法创建工作簿");
        return false;
    }
    lxw_format* dose = workbook_add_format(book);
    format_set_num_format(dose, "0.00");
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    const bool filled = fill(book, dose, bold);
    const lxw_error closed = workbook_close(book);
    if (!filled || closed != LXW_NO_ERROR) {
        if (why)
            *why = QStringLiteral("无法写入工作簿：")
                + (filled ? QString::fromUtf8(lxw_strerror(closed)) : QStringLiteral("有单元格被拒绝"));
        return false;
    }
    return true;
}

} // namespace

bool ReportWorkbook::write(const PersonRecord& r, const OutputFile::Target& target, QString* why)
{
    return OutputFile::write(
        target, OutputFile::Format::Xlsx,
        [&r](const QString& temporary, QString* reason) {
            return build(temporary, reason, [&r](lxw_workbook* book, lxw_format* dose, lxw_format* bold) {
                const Staffdata& p = r.person;
                Sheet s(book, QStringLiteral("汇总"), dose, bold);
                s.widths(22, 14);
                s.text(QStringLiteral("个人剂量档案"), bold).next();
                s.text(QStringLiteral("姓名")).text(p.name).next();
                s.text(QStringLiteral("性别")).text(p.gender).next();
                s.text(QStringLiteral("身份证号")).text(p.ID_card).next();
                s.text(QStringLiteral("部门")).text(p.department).next();
                s.text(QStringLiteral("类型")).text(PersonRecord::typeText(p.ptype)).next();
                s.text(QStringLiteral("联系电话")).text(p.teleNo).next().next();
                s.heading({QStringLiteral("年份"), QStringLiteral("年剂量 (μSv)"), QStringLiteral("第一季度"),
                           QStringLiteral("第二季度"), QStringLiteral("第三季度"), QStringLiteral("第四季度")});
                for (int y = r.fromYear; y <= r.toYear; ++y) {
                    s.integer(y).number(r.year(y), r.yearMonitored(y));
                    for (int q = 1; q <= 4; ++q)
                        s.number(r.quarter(y, q), r.quarterMonitored(y, q));
                    s.next();
                }
                s.text(QStringLiteral("五年合计 (%1–%2年)").arg(r.toYear - 4).arg(r.toYear)).number(r.fiveYear()).next();
                s.text(QStringLiteral("终身合计 (至%1年)").arg(r.toYear)).number(r.lifetime()).next().next();
                s.heading({QStringLiteral("设备地址"), QStringLiteral("开始"), QStringLiteral("结束")});
                for (const Wearingdata& w : r.wearing)
                    s.integer(w.slaveId)
                        .text(PersonRecord::periodTime(w.startTime, QString()))
                        .text(PersonRecord::periodTime(w.endTime, QStringLiteral("至今")))
                        .next();
                s.next().heading({QStringLiteral("告警期间"), QStringLiteral("级别"), QStringLiteral("剂量 (μSv)"),
                                  QStringLiteral("限值 (μSv)"), QStringLiteral("发生时间"), QStringLiteral("确认时间"),
                                  QStringLiteral("确认人"), QStringLiteral("说明")});
                for (const DoseAlertdata& a : r.alerts)
                    s.text(a.periodKey)
                        .text(a.level)
                        .number(a.dose)
                        .number(a.threshold)
                        .text(PersonRecord::periodTime(a.raisedAt, QString()))
                        .text(PersonRecord::periodTime(a.ackAt, QStringLiteral("未确认")))
                        .text(a.ackBy)
                        .text(a.comment)
                        .next();
                bool ok = s.ok();
                for (int y = r.fromYear; y <= r.toYear; ++y) {
                    Sheet year(book, QString::number(y), dose, bold);
                    year.widths(16, 14);
                    year.heading({QStringLiteral("%1年").arg(y), QStringLiteral("剂量 (μSv)")});
                    // An adjusted month carries its mark beside the figure, a
                    // month of passive results its source.
                    for (int m = 1; m <= 12; ++m)
                        year.text(QStringLiteral("%1月").arg(m))
                            .number(r.month(y, m), r.monitored(y, m))
                            .text(r.mark(y, m).isEmpty() ? r.source(y, m) : r.mark(y, m))
                            .next();
                    for (int q = 1; q <= 4; ++q)
                        year.text(QStringLiteral("第%1季度").arg(q)).number(r.quarter(y, q), r.quarterMonitored(y, q)).next();
                    year.text(QStringLiteral("全年"), bold).number(r.year(y), r.yearMonitored(y)).next();
                    ok = ok && year.ok();
                }
                // The originals of the adjusted months, with method and reason.
                const QList<PersonRecord::Adjusted> adjusted = r.adjustedMonths();
                const QStringList pending = r.pendingMonths();
                if (!adjusted.isEmpty() || !pending.isEmpty()) {
                    Sheet notes(book, QStringLiteral("剂量更正"), dose, bold);
                    notes.widths(12, 16);
                    notes.heading({QStringLiteral("月份"), QStringLiteral("原始剂量 (μSv)"), QStringLiteral("记录剂量 (μSv)"),
                                   QStringLiteral("标记"), QStringLiteral("方法"), QStringLiteral("原因")});
                    for (const PersonRecord::Adjusted& a : adjusted)
                        notes.text(a.month)
                            .number(a.original, a.originalMonitored)
                            .number(a.dose)
                            .text(a.mark)
                            .text(a.method)
                            .text(a.reason)
                            .next();
                    for (const QString& month : pending)
                        notes.text(month).text(QString()).text(QString()).text(QStringLiteral("待批准（未计入）")).next();
                    ok = ok && notes.ok();
                }
                return ok;
            });
        },
        why);
}

bool ReportWorkbook::write(const PeriodReport& r, const OutputFile::Target& target, QString* why)
{
    return OutputFile::write(
        target, OutputFile::Format::Xlsx,
        [&r](const QString& temporary, QString* reason) {
            return build(temporary, reason, [&r](lxw_workbook* book, lxw_format* dose, lxw_format* bold) {
                Sheet s(book, QStringLiteral("部门剂量报表"), dose, bold);
                s.widths(16, 20);
                s.text(QStringLiteral("部门剂量报表"), bold).next();
                s.text(QStringLiteral("部门"))
                    .text(r.department.isEmpty() ? QStringLiteral("全部") : r.department)
                    .text(QStringLiteral("期间"))
                    .text(r.from.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 至 ")
                          + r.to.toString(QStringLiteral("yyyy-MM-dd")))
                    .next()
                    .next();
                s.heading({QStringLiteral("部门"), QStringLiteral("姓名"), QStringLiteral("身份证号"),
                           QStringLiteral("类型"), QStringLiteral("期间剂量 (μSv)"), QStringLiteral("本年累计 (μSv)"),
                           QStringLiteral("级别"), QStringLiteral("标记")});
                for (const PeriodReport::Group& g : r.groups) {
                    for (const PeriodReport::Row& p : g.rows)
                        s.text(g.department)
                            .text(p.name)
                            .text(p.idCard)
                            .text(PersonRecord::typeText(p.ptype))
                            .number(p.period, p.monitored)
                            .number(p.yearToDate)
                            .text(DoseLevel::label(p.level))
                            .text(p.marks.join(QStringLiteral("、")))
                            .next();
                    s.text(g.department).text(QStringLiteral("小计"), bold).text(QString()).text(QString());
                    s.number(g.period).number(g.yearToDate).next();
                }
                s.text(QStringLiteral("合计"), bold).text(QString()).text(QString()).text(QString());
                s.number(r.period).number(r.yearToDate).next();
                return s.ok();
            });
        },
        why);
}

const QStringList& ReportWorkbook::overviewColumns()
{
    static const QStringList names{QStringLiteral("身份证号"),       QStringLiteral("姓名"),
                                   QStringLiteral("部门"),           QStringLiteral("类型"),
                                   QStringLiteral("本季度 (μSv)"),   QStringLiteral("本年 (μSv)"),
                                   QStringLiteral("近12个月 (μSv)"), QStringLiteral("五年 (μSv)"),
                                   QStringLiteral("级别"),           QStringLiteral("更正月份")};
    return names;
}

bool ReportWorkbook::write(const QList<PersonStatus>& rows, const QDate& date, const OutputFile::Target& target,
                           QString* why)
{
    return OutputFile::write(
        target, OutputFile::Format::Xlsx,
        [&rows, &date](const QString& temporary, QString* reason) {
            return build(temporary, reason, [&rows, &date](lxw_workbook* book, lxw_format* dose, lxw_format* bold) {
                Sheet s(book, QStringLiteral("剂量概览"), dose, bold);
                s.widths(22, 14);
                s.text(QStringLiteral("剂量概览"), bold).text(date.toString(QStringLiteral("yyyy-MM-dd"))).next().next();
                s.heading(overviewColumns());
                // ID cards stay text: as numbers they would lose digits.
                for (const PersonStatus& p : rows)
                    s.text(p.ID_card)
                        .text(p.name)
                        .text(p.department)
                        .text(PersonRecord::typeText(p.ptype))
                        .number(p.figures.quarter)
                        .number(p.figures.year)
                        .number(p.figures.last12)
                        .number(p.figures.fiveYear)
                        .text(DoseLevel::label(p.verdict.level))
                        .text(p.figures.adjustedText())
                        .next();
                return s.ok();
            });
        },
        why);
}

bool ReportWorkbook::write(const AnnualStatistics& st, const OutputFile::Target& target, QString* why)
{
    return OutputFile::write(
        target, OutputFile::Format::Xlsx,
        [&st](const QString& temporary, QString* reason) {
            return build(temporary, reason, [&st](lxw_workbook* book, lxw_format* dose, lxw_format* bold) {
                lxw_format* milli = workbook_add_format(book);
                format_set_num_format(milli, "0.000");
                const QString name = QStringLiteral("年度剂量统计");
                Sheet s(book, name, dose, bold);
                s.widths(16, 12);
                worksheet_set_column(s.worksheet(), 10, 12, 12, nullptr);
                s.text(QStringLiteral("%1年度剂量统计").arg(st.year), bold).next();
                s.text(QStringLiteral("部门"))
                    .text(st.department.isEmpty() ? AnnualStatistics::everything() : st.department)
                    .text(QStringLiteral("期间"))
                    .text(QStringLiteral("%1-01-01 至 %1-12-31").arg(st.year))
                    .next()
                    .next();
                QStringList heading{QStringLiteral("部门"),          QStringLiteral("类型"),
                                    QStringLiteral("监测人数"),      QStringLiteral("集体剂量 (人·mSv)"),
                                    QStringLiteral("人均 (mSv)"),    QStringLiteral("最大 (mSv)")};
                for (const QString& band : AnnualStatistics::bandLabels())
                    heading << band + QStringLiteral(" mSv");
                const lxw_row_t headingRow = s.at();
                s.heading(heading);
                for (const AnnualStatistics::Row& r : st.rows) {
                    s.text(r.department).text(r.typeText()).integer(r.monitored);
                    // The very figures the CSV prints, as numbers; none when nobody was monitored.
                    for (const QString& figure : {r.collective(), r.mean(), r.max()}) {
                        if (figure.isEmpty())
                            s.text(QString());
                        else
                            s.value(figure.toDouble(), milli);
                    }
                    for (int b : r.bands)
                        s.integer(b);
                    s.next();
                }
                const lxw_row_t everyone = s.at() - 1;
                bool ok = s.ok() && !st.rows.isEmpty();
                // The band counts of everyone as columns under the table.
                lxw_chart* chart = workbook_add_chart(book, LXW_CHART_COLUMN);
                lxw_chart_series* series = chart ? chart_add_series(chart, nullptr, nullptr) : nullptr;
                if (ok && series) {
                    const QByteArray sheet = name.toUtf8();
                    chart_series_set_categories(series, sheet.constData(), headingRow, 6, headingRow, 12);
                    chart_series_set_values(series, sheet.constData(), everyone, 6, everyone, 12);
                    chart_series_set_labels(series);
                    const QByteArray title = QStringLiteral("年剂量分布: 各区间 (mSv) 的人数 · %1")
                                                .arg(st.department.isEmpty() ? QStringLiteral("全部人员") : st.department)
                                                .toUtf8();
                    chart_title_set_name(chart, title.constData());
                    chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
                    ok = worksheet_insert_chart(s.worksheet(), everyone + 2, 0, chart) == LXW_NO_ERROR;
                }
                return ok && series;
            });
        },
        why);
}
