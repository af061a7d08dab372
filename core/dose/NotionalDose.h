#pragma once

// The value a dose adjustment's method gives for a person's month, worked out once when it is filed.

#include <QSqlDatabase>
#include <QString>

class Store;

// mean12: the mean of the person's 12 most recent monitored months before
// the month (fewer when there are fewer), from the readings alone, no
// adjustment counted. dept_median: the median of the month's doses of record
// of the department's other occupational staff who have readings that month
// (an even count takes the mean of the two middle ones). Both in μSv rounded
// to 0.01, as the dose of record.
class NotionalDose
{
public:
    // False with why (for the officer) when the method gives no value or
    // the database cannot be read.
    static bool value(Store& database, QSqlDatabase db, const QString& idCard, const QString& month,
                      const QString& method, double& value, QString* why);
    static bool mean12(Store& database, QSqlDatabase db, const QString& idCard, const QString& month, double& value,
                       QString* why);
    static bool departmentMedian(Store& database, QSqlDatabase db, const QString& idCard, const QString& month,
                                 double& value, QString* why);
};
