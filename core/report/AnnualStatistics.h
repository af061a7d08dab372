#pragma once

// The annual dose statistics a regulator asks for: people monitored, collective dose and the dose bands of a year.

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class Store;

// The statistics of one year: a row per department and type of person
// (职业/非职业), a row per type over all departments and one for everyone.
// Each person's year dose is the dose of record of the year (the figure
// dosectl status --date YYYY-12-31 prints as year_uSv), kept in hundredths
// of a μSv so that the band edges are exact. Only people with at least one
// monitored month in the year are counted.
class AnnualStatistics
{
public:
    // The dose bands in mSv, each including its upper bound: ≤1, (1, 5],
    // (5, 10], (10, 15], (15, 20], (20, 50], > 50.
    static constexpr int kBands = 7;

    // The rows over all of something: department or type.
    static QString everything() { return QStringLiteral("全部"); }

    struct Row
    {
        QString department; // everything() over all departments
        int type = -1;      // 0 职业, 1 非职业, -1 both
        int monitored = 0;
        qint64 collectiveCents = 0; // the sum of the year doses, hundredths of a μSv
        qint64 maxCents = 0;
        int bands[kBands] = {};

        QString typeText() const;
        // Adds one monitored person's year dose.
        void add(qint64 cents);
        int bandSum() const;
        // The figures as the CSV and the documents show them: mSv with three
        // decimals; mean and max are empty when nobody was monitored.
        QString collective() const;
        QString mean() const;
        QString max() const;
        // The row's fields in the order of csvHeader(), unquoted.
        QStringList fields() const;
    };

    int year = 0;
    QString department; // empty: every department
    QList<Row> rows;
    QDateTime generated;

    // The band (0 .. kBands-1) of a year dose in hundredths of a μSv.
    static int band(qint64 cents);
    // "le_1" … "gt_50" and their labels for people ("≤1" … ">50").
    static QStringList bandColumns();
    static QStringList bandLabels();
    static QString csvHeader();
    // The row over everything: the last one.
    const Row& everyone() const { return rows.last(); }

    // The statistics of year for one department (all when empty). False
    // with why when the department is unknown or anything cannot be read.
    static bool load(Store& database, QSqlDatabase db, const QString& department, int year,
                     AnnualStatistics& statistics, QString* why);
};
