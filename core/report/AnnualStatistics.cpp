// The annual dose statistics gathered: each person's dose of record of the year, counted into bands per department and type.

#include "core/report/AnnualStatistics.h"

#include <QDate>
#include <QMap>

#include "core/dose/DoseStatus.h"
#include "core/register/DepartmentRegister.h"
#include "core/register/StaffRegister.h"
#include "core/store/Store.h"
#include "core/time/Clock.h"

namespace {

// The bands' upper bounds in hundredths of a μSv: 1, 5, 10, 15, 20, 50 mSv.
const qint64 kUpper[AnnualStatistics::kBands - 1] = {100000, 500000, 1000000, 1500000, 2000000, 5000000};

// Thousandths of a mSv (rounded half up, the figures are never negative) as "0.000".
QString milli(qint64 thousandths)
{
    return QStringLiteral("%1.%2").arg(thousandths / 1000).arg(thousandths % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

QString AnnualStatistics::Row::typeText() const
{
    return type < 0 ? everything() : type == 0 ? QStringLiteral("职业") : QStringLiteral("非职业");
}

void AnnualStatistics::Row::add(qint64 cents)
{
    ++monitored;
    collectiveCents += cents;
    maxCents = qMax(maxCents, cents);
    ++bands[band(cents)];
}

int AnnualStatistics::Row::bandSum() const
{
    int n = 0;
    for (int b : bands)
        n += b;
    return n;
}

QString AnnualStatistics::Row::collective() const
{
    return milli((collectiveCents + 50) / 100);
}

QString AnnualStatistics::Row::mean() const
{
    return monitored == 0 ? QString() : milli(qRound64(collectiveCents / (monitored * 100.0)));
}

QString AnnualStatistics::Row::max() const
{
    return monitored == 0 ? QString() : milli((maxCents + 50) / 100);
}

QStringList AnnualStatistics::Row::fields() const
{
    QStringList f{department, typeText(), QString::number(monitored), collective(), mean(), max()};
    for (int b : bands)
        f << QString::number(b);
    return f;
}

int AnnualStatistics::band(qint64 cents)
{
    int b = 0;
    while (b < kBands - 1 && cents > kUpper[b])
        ++b;
    return b;
}

QStringList AnnualStatistics::bandColumns()
{
    return {QStringLiteral("le_1"),  QStringLiteral("1_5"),   QStringLiteral("5_10"), QStringLiteral("10_15"),
            QStringLiteral("15_20"), QStringLiteral("20_50"), QStringLiteral("gt_50")};
}

QStringList AnnualStatistics::bandLabels()
{
    return {QStringLiteral("≤1"),    QStringLiteral("1–5"),   QStringLiteral("5–10"), QStringLiteral("10–15"),
            QStringLiteral("15–20"), QStringLiteral("20–50"), QStringLiteral(">50")};
}

QString AnnualStatistics::csvHeader()
{
    return QStringLiteral("department,type,monitored,collective_person_mSv,mean_mSv,max_mSv,")
        + bandColumns().join(QLatin1Char(','));
}

bool AnnualStatistics::load(Store& database, QSqlDatabase db, const QString& department, int year,
                            AnnualStatistics& statistics, QString* why)
{
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    statistics = AnnualStatistics();
    statistics.year = year;
    statistics.department = department;
    statistics.generated = Clock::now();
    const QDate first(year, 1, 1);
    if (!first.isValid())
        return fail(QStringLiteral("不是年份：") + QString::number(year));
    Departdata found;
    if (!department.isEmpty() && !DepartmentRegister(database).selectByName(found, department, db))
        return fail(QStringLiteral("no department ") + department);

    // The same people, in the same order, as dosectl status lists.
    QList<Staffdata> staff;
    if (!StaffRegister(database).selectForStatus(staff, department, db))
        return fail(QStringLiteral("cannot read the database"));
    DoseStatus status(database, db);
    const QDateTime begin(first, QTime(0, 0));
    const QDateTime end(first.addYears(1), QTime(0, 0));
    // department -> its rows by type; the departments in the order met.
    QMap<QString, QMap<int, Row>> byDepartment;
    QStringList departments;
    Row byType[2];
    Row all;
    byType[0].type = 0;
    byType[1].type = 1;
    all.department = department.isEmpty() ? everything() : department;
    for (Row& r : byType)
        r.department = everything();
    // One read transaction: the figures are of one moment of the store.
    const bool reading = db.transaction();
    bool read = true;
    for (const Staffdata& s : qAsConst(staff)) {
        const int type = s.ptype == 0 ? 0 : 1;
        if (!byDepartment.contains(s.department))
            departments << s.department;
        Row& row = byDepartment[s.department][type];
        row.department = s.department;
        row.type = type;
        DoseOfRecord::Months months;
        if (!status.months(s.ID_card, begin, end, months)) {
            read = false;
            break;
        }
        if (!DoseOfRecord::monitored(months))
            continue;
        const qint64 cents = DoseOfRecord::sum(months);
        row.add(cents);
        byType[type].add(cents);
        all.add(cents);
    }
    if (reading)
        db.commit();
    if (!read)
        return fail(QStringLiteral("cannot read the database"));

    for (const QString& d : qAsConst(departments))
        for (const Row& r : byDepartment.value(d))
            statistics.rows << r;
    // Over all departments, by type; a single department's rows by type are already there.
    if (department.isEmpty())
        statistics.rows << byType[0] << byType[1];
    statistics.rows << all;
    return true;
}
