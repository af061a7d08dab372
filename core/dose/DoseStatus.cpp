// Each person's dose figures and level worked out as of a moment, and the alerts they call for raised.

#include "core/dose/DoseStatus.h"

#include "core/time/TimeKey.h"

#include "core/store/Store.h"
#include "core/register/StaffRegister.h"
#include "core/dose/AlertStore.h"
#include "core/wear/WearAttribution.h"

#include <algorithm>

namespace {

QString key(const QDateTime& t)
{
    return TimeKey::of(t);
}

QString monthKey(const QDate& d)
{
    return d.toString(QStringLiteral("yyyyMM"));
}

} // namespace

DoseStatus::DoseStatus(Store& database, QSqlDatabase db)
    : DoseStatus(database, db, DosePolicy())
{
    rules = DosePolicy::load(database, db, &readable);
}

DoseStatus::DoseStatus(Store& database, QSqlDatabase db, const DosePolicy& policy)
    : database(database)
    , db(db)
    , rules(policy)
{
}

QDateTime DoseStatus::endOf(const QDateTime& at)
{
    return QDateTime(at.date(), QTime(at.time().hour(), 0)).addSecs(3600);
}

bool DoseStatus::lastYearUsed(const QString& idCard, const QDateTime& at, double& used)
{
    DoseFigures f;
    if (!compute(idCard, at, false, f))
        return false;
    used = f.last12;
    return true;
}

bool DoseStatus::lastYear(const QString& idCard, const QDateTime& at, DoseFigures& f)
{
    return compute(idCard, at, false, f);
}

bool DoseStatus::figures(const QString& idCard, const QDateTime& at, DoseFigures& f)
{
    return compute(idCard, at, true, f);
}

bool DoseStatus::months(const QString& idCard, const QDateTime& from, const QDateTime& to,
                        DoseOfRecord::Months& months)
{
    months.clear();
    return readable && DoseOfRecord::months(database, db, idCard, from, to, rules, months);
}

bool DoseStatus::compute(const QString& idCard, const QDateTime& at, bool all, DoseFigures& f)
{
    f = DoseFigures();
    if (!readable)
        return false;
    // Every window is a sum of the same months: D's month through D's hour
    // and whole calendar months before it.
    const QDate day = at.date();
    const QDate thisMonth(day.year(), day.month(), 1);
    const QDate last12 = thisMonth.addMonths(-11);
    const QDate year(day.year(), 1, 1);
    const QDate quarter(day.year(), (day.month() - 1) / 3 * 3 + 1, 1);
    const QDate fiveYears(day.year() - 4, 1, 1);
    DoseOfRecord::Months months;
    if (!DoseOfRecord::months(database, db, idCard, QDateTime(all ? fiveYears : last12, QTime(0, 0)), endOf(at),
                              rules, months))
        return false;
    f.last12 = DoseOfRecord::sum(months, monthKey(last12)) / 100.0;
    f.adjusted = DoseOfRecord::adjustedMonths(months);
    f.pending = DoseOfRecord::pending(months);
    f.passive = DoseOfRecord::passiveMonths(months);
    if (all) {
        f.fiveYear = DoseOfRecord::sum(months) / 100.0;
        f.year = DoseOfRecord::sum(months, monthKey(year)) / 100.0;
        f.quarter = DoseOfRecord::sum(months, monthKey(quarter)) / 100.0;
    }
    return true;
}

bool DoseStatus::evaluate(QList<PersonStatus>& rows, const QDateTime& at, const QString& department)
{
    QList<Staffdata> staff;
    if (!StaffRegister(database).selectForStatus(staff, department, db))
        return false;
    // One read transaction for all: the figures are of one moment of the
    // file, and the file is locked once instead of per statement.
    const bool reading = db.transaction();
    const bool ok = evaluate(staff, rows, at);
    if (reading)
        db.commit();
    return ok;
}

bool DoseStatus::evaluate(const QList<Staffdata>& staff, QList<PersonStatus>& rows, const QDateTime& at)
{
    for (const Staffdata& s : staff) {
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
        const int r = AlertStore(database).insertOnce(alert, db);
        if (r < 0)
            return -1;
        raised += r;
    }
    return raised;
}
