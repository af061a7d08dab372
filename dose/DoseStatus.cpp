#include "dose/DoseStatus.h"

#include "db/DataBase.h"
#include "dose/WearAttribution.h"

namespace {

QString key(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyyMMddhhmmss"));
}

// The start of at's hour and of the next one: windows run through at's hour.
QDateTime hourAfter(const QDateTime& at)
{
    return QDateTime(at.date(), QTime(at.time().hour(), 0)).addSecs(3600);
}

} // namespace

DoseStatus::DoseStatus(DataBase& database, QSqlDatabase db)
    : DoseStatus(database, db, DosePolicy::load(database, db))
{
}

DoseStatus::DoseStatus(DataBase& database, QSqlDatabase db, const DosePolicy& policy)
    : database(database)
    , db(db)
    , rules(policy)
{
}

double DoseStatus::net(double dose, int readings, double background)
{
    const double value = dose - background * readings;
    return value > 0 ? value : 0.0;
}

bool DoseStatus::lastYearUsed(const QString& idCard, const QDateTime& at, double& used)
{
    const QDate thisMonth(at.date().year(), at.date().month(), 1);
    WearAttribution::Figures months;
    if (!WearAttribution::collect(&database, db, idCard, WearAttribution::Months,
                                  QDateTime(thisMonth.addYears(-1), QTime(0, 0)),
                                  QDateTime(thisMonth.addMonths(1), QTime(0, 0)), months))
        return false;
    double sum = 0.0;
    for (double v : qAsConst(months.values))
        sum += v;
    const QString t = at.toString(QStringLiteral("yyyyMMddhhmm"));
    const int readings = WearAttribution::countReadings(
        &database, db, idCard, QString::number(t.left(4).toInt() - 1) + t.mid(4) + QStringLiteral("00"),
        t + QStringLiteral("01"));
    used = net(sum, readings, rules.background());
    return true;
}

bool DoseStatus::figures(const QString& idCard, const QDateTime& at, DoseFigures& f)
{
    const QDate day = at.date();
    const QDateTime end = hourAfter(at);
    const QDateTime fiveYears(QDate(day.year() - 4, 1, 1), QTime(0, 0));
    const QDateTime year(QDate(day.year(), 1, 1), QTime(0, 0));
    const QDateTime quarter(QDate(day.year(), (day.month() - 1) / 3 * 3 + 1, 1), QTime(0, 0));

    WearAttribution::Figures months;
    if (!WearAttribution::collect(&database, db, idCard, WearAttribution::Months, fiveYears, end, months))
        return false;
    const QString yearKey = year.toString(QStringLiteral("yyyyMM"));
    const QString quarterKey = quarter.toString(QStringLiteral("yyyyMM"));
    double sumFive = 0.0, sumYear = 0.0, sumQuarter = 0.0;
    for (auto it = months.values.cbegin(); it != months.values.cend(); ++it) {
        sumFive += it.value();
        if (it.key() >= yearKey)
            sumYear += it.value();
        if (it.key() >= quarterKey)
            sumQuarter += it.value();
    }
    const double bg = rules.background();
    const QString to = key(end);
    f.fiveYear = net(sumFive, WearAttribution::countReadings(&database, db, idCard, key(fiveYears), to), bg);
    f.year = net(sumYear, WearAttribution::countReadings(&database, db, idCard, key(year), to), bg);
    f.quarter = net(sumQuarter, WearAttribution::countReadings(&database, db, idCard, key(quarter), to), bg);
    return lastYearUsed(idCard, at, f.last12);
}

bool DoseStatus::evaluate(QList<PersonStatus>& rows, const QDateTime& at, const QString& department)
{
    QList<Staffdata> staff;
    if (!database.selectStaffForStatus(staff, department, db))
        return false;
    for (const Staffdata& s : qAsConst(staff)) {
        PersonStatus p;
        p.id = s.id;
        p.ID_card = s.ID_card;
        p.name = s.name;
        p.department = s.department;
        p.ptype = s.ptype;
        if (!figures(s.ID_card, at, p.figures))
            return false;
        p.verdict = DoseLevel::judge(p.figures, rules, s.ptype);
        rows.append(p);
    }
    return true;
}

int DoseStatus::raiseAlerts(const QList<PersonStatus>& rows, const QDateTime& at)
{
    int raised = 0;
    for (const PersonStatus& p : rows) {
        if (p.verdict.level == DoseLevel::Normal)
            continue;
        DoseAlertdata alert;
        alert.ID_card = p.ID_card;
        alert.level = DoseLevel::word(p.verdict.level);
        alert.periodKey = DoseLevel::periodKey(p.verdict.level, at.date());
        alert.dose = p.verdict.dose;
        alert.threshold = p.verdict.threshold;
        alert.raisedAt = key(at);
        const int r = database.insertAlertOnce(alert, db);
        if (r < 0)
            return -1;
        raised += r;
    }
    return raised;
}
