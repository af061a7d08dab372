// The department report gathered: each person's dose of the period, year to date and level, grouped by department.

#include "core/report/PeriodReport.h"

#include "core/time/Clock.h"
#include "core/store/Store.h"
#include "core/register/DepartmentRegister.h"
#include "core/dose/DoseAdjustmentdata.h"
#include "core/dose/DoseStatus.h"

int PeriodReport::people() const
{
    int n = 0;
    for (const Group& g : groups)
        n += g.rows.size();
    return n;
}

QString PeriodReport::periodProblem(const QDate& from, const QDate& to)
{
    if (!from.isValid() || !to.isValid())
        return QStringLiteral("期间须有开始和结束两个日期（yyyy-MM-dd）");
    if (to < from)
        return QStringLiteral("期间的结束日 %1 早于开始日 %2")
            .arg(to.toString(Qt::ISODate), from.toString(Qt::ISODate));
    if (from.addYears(10) <= to)
        return QStringLiteral("期间 %1 至 %2 超过 10 年")
            .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate));
    return QString();
}

bool PeriodReport::load(Store& database, QSqlDatabase db, const QString& department, const QDate& from,
                        const QDate& to, PeriodReport& report, QString* why)
{
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    report = PeriodReport();
    report.from = from;
    report.to = to;
    report.department = department;
    report.generated = Clock::now();
    const QString problem = periodProblem(from, to);
    if (!problem.isEmpty())
        return fail(problem);
    Departdata found;
    if (!department.isEmpty() && !DepartmentRegister(database).selectByName(found, department, db))
        return fail(QStringLiteral("没有部门“%1”").arg(department));

    // Year so far and level as dosectl status has them at the period's end.
    DoseStatus status(database, db);
    QList<PersonStatus> people;
    if (!status.evaluate(people, QDateTime(to, QTime(23, 0)), department))
        return fail(QStringLiteral("无法读取数据库"));
    const QDateTime begin(from, QTime(0, 0));
    const QDateTime end(to.addDays(1), QTime(0, 0));
    for (const PersonStatus& p : qAsConst(people)) {
        Row row{p.ID_card, p.name, p.ptype, 0.0, p.figures.year, p.verdict.level, false, {}};
        // Each month's part of the period netted on its own, as the record has it.
        DoseOfRecord::Months months;
        if (!status.months(p.ID_card, begin, end, months))
            return fail(QStringLiteral("无法读取数据库"));
        row.period = DoseOfRecord::sum(months) / 100.0;
        row.monitored = DoseOfRecord::monitored(months);
        for (const DoseOfRecord::Month& m : qAsConst(months)) {
            if (m.adjusted() && !row.marks.contains(DoseAdjustmentdata::mark(m.kind)))
                row.marks << DoseAdjustmentdata::mark(m.kind);
        }
        if (report.groups.isEmpty() || report.groups.last().department != p.department)
            report.groups.append(Group{p.department, {}, 0.0, 0.0});
        Group& g = report.groups.last();
        g.rows.append(row);
        g.period += row.period;
        g.yearToDate += row.yearToDate;
        report.period += row.period;
        report.yearToDate += row.yearToDate;
    }
    return true;
}
