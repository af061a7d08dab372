#include "report/PersonRecord.h"

#include "app/Clock.h"
#include "db/DataBase.h"
#include "dose/DoseStatus.h"
#include "dose/WearAttribution.h"

double PersonRecord::month(int y, int m) const
{
    const QVector<double> v = months.value(y);
    return m >= 1 && m <= v.size() ? v[m - 1] : 0.0;
}

double PersonRecord::quarter(int y, int q) const
{
    return month(y, 3 * q - 2) + month(y, 3 * q - 1) + month(y, 3 * q);
}

double PersonRecord::year(int y) const
{
    double sum = 0;
    for (int q = 1; q <= 4; ++q)
        sum += quarter(y, q);
    return sum;
}

double PersonRecord::fiveYear() const
{
    double sum = 0;
    for (int y = toYear - 4; y <= toYear; ++y)
        sum += year(y);
    return sum;
}

double PersonRecord::lifetime() const
{
    double sum = 0;
    for (auto it = months.cbegin(); it != months.cend() && it.key() <= toYear; ++it)
        sum += year(it.key());
    return sum;
}

bool PersonRecord::load(DataBase& database, QSqlDatabase db, const QString& idCard, int fromYear, int toYear,
                        PersonRecord& record, QString* why)
{
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    record = PersonRecord();
    record.generated = Clock::now();
    if (!database.selectStaffByIdCard(record.person, idCard, db) || record.person.ID_card != idCard)
        return fail(QStringLiteral("no person with ID card ") + idCard);
    if (!database.selectWearingByIdCard(record.wearing, idCard, db))
        return fail(QStringLiteral("cannot read the wear periods"));

    // The first month with readings decides the default start and how far
    // back the lifetime sum reaches.
    const int thisYear = record.generated.date().year();
    const int lastYear = toYear > 0 ? toYear : thisYear;
    WearAttribution::Figures all;
    if (!WearAttribution::collect(&database, db, idCard, WearAttribution::Months, QDateTime(QDate(1900, 1, 1), QTime(0, 0)),
                                  QDateTime(QDate(qMax(lastYear, thisYear) + 1, 1, 1), QTime(0, 0)), all))
        return fail(QStringLiteral("cannot read the readings"));
    const int firstYear = all.values.isEmpty() ? thisYear : all.values.firstKey().left(4).toInt();
    record.fromYear = fromYear > 0 ? fromYear : qMin(firstYear, lastYear);
    record.toYear = lastYear;
    if (record.fromYear > record.toYear)
        return fail(QStringLiteral("the first year %1 is after the last %2").arg(record.fromYear).arg(record.toYear));

    const int start = qMin(qMin(firstYear, record.fromYear), record.toYear - 4);
    QMap<QString, double> net;
    DoseStatus status(database, db);
    if (!status.monthlyNet(idCard, QDate(start, 1, 1), QDate(record.toYear + 1, 1, 1), net))
        return fail(QStringLiteral("cannot read the readings"));
    for (auto it = net.cbegin(); it != net.cend(); ++it)
        record.setMonth(it.key().left(4).toInt(), it.key().mid(4).toInt(), it.value());

    QList<DoseAlertdata> alerts;
    if (!database.selectAlerts(alerts, false, db))
        return fail(QStringLiteral("cannot read the alerts"));
    for (const DoseAlertdata& a : qAsConst(alerts)) {
        const int y = a.periodKey.left(4).toInt();
        if (a.ID_card == idCard && y >= record.fromYear && y <= record.toYear)
            record.alerts.prepend(a);
    }
    return true;
}

QString PersonRecord::typeText(int ptype)
{
    return ptype == 0 ? QStringLiteral("职业") : QStringLiteral("非职业");
}

QString PersonRecord::periodTime(const QString& key, const QString& none)
{
    if (key.isEmpty())
        return none;
    if (key == QStringLiteral("00000000000000"))
        return QStringLiteral("最初");
    const QDateTime t = QDateTime::fromString(key, QStringLiteral("yyyyMMddhhmmss"));
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd hh:mm")) : key;
}
