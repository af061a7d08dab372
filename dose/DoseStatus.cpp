#include "dose/DoseStatus.h"

#include "db/DataBase.h"
#include "dose/WearAttribution.h"

#include <algorithm>

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
    DoseFigures f;
    if (!compute(idCard, at, false, f))
        return false;
    used = f.last12;
    return true;
}

bool DoseStatus::figures(const QString& idCard, const QDateTime& at, DoseFigures& f)
{
    return compute(idCard, at, true, f);
}

bool DoseStatus::compute(const QString& idCard, const QDateTime& at, bool all, DoseFigures& f)
{
    f = DoseFigures();
    QList<int> slaveIds;
    const QList<WearAttribution::Span> spans = WearAttribution::effectiveSpans(&database, db, idCard, &slaveIds);

    // The used dose of the person panel: the monthly figures from the same
    // month a year before through at's month, less the background of every
    // hourly reading from exactly a year before through at's minute.
    const QDate thisMonth(at.date().year(), at.date().month(), 1);
    WearAttribution::Figures months;
    if (!WearAttribution::collect(&database, db, spans, slaveIds, WearAttribution::Months,
                                  QDateTime(thisMonth.addYears(-1), QTime(0, 0)),
                                  QDateTime(thisMonth.addMonths(1), QTime(0, 0)), months))
        return false;
    double sum12 = 0.0;
    for (double v : qAsConst(months.values))
        sum12 += v;
    const QString t = at.toString(QStringLiteral("yyyyMMddhhmm"));
    QList<WearAttribution::Span> windows{
        {QString::number(t.left(4).toInt() - 1) + t.mid(4) + QStringLiteral("00"), t + QStringLiteral("01")}};

    // Quarter, year and five years, each through at's hour.
    const QDate day = at.date();
    const QDateTime end = hourAfter(at);
    const QDateTime fiveYears(QDate(day.year() - 4, 1, 1), QTime(0, 0));
    const QDateTime year(QDate(day.year(), 1, 1), QTime(0, 0));
    const QDateTime quarter(QDate(day.year(), (day.month() - 1) / 3 * 3 + 1, 1), QTime(0, 0));
    double sumFive = 0.0, sumYear = 0.0, sumQuarter = 0.0;
    if (all) {
        if (!WearAttribution::collect(&database, db, spans, slaveIds, WearAttribution::Months, fiveYears, end, months))
            return false;
        const QString yearKey = year.toString(QStringLiteral("yyyyMM"));
        const QString quarterKey = quarter.toString(QStringLiteral("yyyyMM"));
        for (auto it = months.values.cbegin(); it != months.values.cend(); ++it) {
            sumFive += it.value();
            if (it.key() >= yearKey)
                sumYear += it.value();
            if (it.key() >= quarterKey)
                sumQuarter += it.value();
        }
        for (const QDateTime& from : {fiveYears, year, quarter})
            windows.append({key(from), key(end)});
    }

    // Every reading is counted once: the windows' ends cut the time into
    // segments, and each window adds up the segments it covers.
    QStringList bounds;
    for (const WearAttribution::Span& w : qAsConst(windows))
        bounds << w.first << w.second;
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    QVector<int> segments;
    if (!WearAttribution::countSegments(&database, db, spans, slaveIds, bounds, segments))
        return false;
    QVector<int> readings(windows.size(), 0);
    for (int w = 0; w < windows.size(); ++w) {
        for (int k = 0; k < segments.size(); ++k) {
            if (bounds[k] >= windows[w].first && bounds[k + 1] <= windows[w].second)
                readings[w] += segments[k];
        }
    }
    const double bg = rules.background();
    f.last12 = net(sum12, readings[0], bg);
    if (all) {
        f.fiveYear = net(sumFive, readings[1], bg);
        f.year = net(sumYear, readings[2], bg);
        f.quarter = net(sumQuarter, readings[3], bg);
    }
    return true;
}

bool DoseStatus::monthlyNet(const QString& idCard, const QDate& from, const QDate& to, QMap<QString, double>& months)
{
    months.clear();
    const QDate first(from.year(), from.month(), 1);
    const QDate end(to.year(), to.month(), 1);
    if (!first.isValid() || !(first < end))
        return first.isValid() && first == end;
    QList<int> slaveIds;
    const QList<WearAttribution::Span> spans = WearAttribution::effectiveSpans(&database, db, idCard, &slaveIds);
    WearAttribution::Figures doses;
    if (!WearAttribution::collect(&database, db, spans, slaveIds, WearAttribution::Months,
                                  QDateTime(first, QTime(0, 0)), QDateTime(end, QTime(0, 0)), doses))
        return false;
    QStringList bounds;
    for (QDate m = first; m <= end; m = m.addMonths(1))
        bounds << key(QDateTime(m, QTime(0, 0)));
    QVector<int> readings;
    if (!WearAttribution::countSegments(&database, db, spans, slaveIds, bounds, readings))
        return false;
    for (int i = 0; i + 1 < bounds.size(); ++i) {
        const QString month = bounds[i].left(6);
        months.insert(month, net(doses.values.value(month), readings.value(i), rules.background()));
    }
    return true;
}

bool DoseStatus::windowNet(const QString& idCard, const QDateTime& from, const QDateTime& to, double& dose)
{
    dose = 0;
    QList<int> slaveIds;
    const QList<WearAttribution::Span> spans = WearAttribution::effectiveSpans(&database, db, idCard, &slaveIds);
    WearAttribution::Figures doses;
    QVector<int> readings;
    if (!WearAttribution::collect(&database, db, spans, slaveIds, WearAttribution::Months, from, to, doses)
        || !WearAttribution::countSegments(&database, db, spans, slaveIds, {key(from), key(to)}, readings))
        return false;
    double sum = 0;
    for (double v : qAsConst(doses.values))
        sum += v;
    dose = net(sum, readings.value(0), rules.background());
    return true;
}

bool DoseStatus::evaluate(QList<PersonStatus>& rows, const QDateTime& at, const QString& department)
{
    QList<Staffdata> staff;
    if (!database.selectStaffForStatus(staff, department, db))
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
        const int r = database.insertAlertOnce(alert, db);
        if (r < 0)
            return -1;
        raised += r;
    }
    return raised;
}
