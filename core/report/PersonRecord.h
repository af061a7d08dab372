#pragma once

// The personal dose record: the person, the dosimeters worn, and the monthly doses and sums of the years shown.

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include "core/dose/DoseAlertdata.h"
#include "core/register/Staffdata.h"
#include "core/wear/Wearingdata.h"
#include "core/dose/DoseOfRecord.h"

class Store;

// What a personal dose record (个人剂量档案) shows, without any layout: the
// person, the dosimeters worn, the net dose of every month of the years
// shown (its dose of record) and the sums made from those months, and the
// alerts of those years.
// The PDF, the print-out and the workbook are all drawn from it.
class PersonRecord
{
public:
    Staffdata person;
    QList<Wearingdata> wearing;
    QList<DoseAlertdata> alerts; // of the years shown, oldest first
    int fromYear = 0;
    int toYear = 0;
    QDateTime generated;

    // 职业 or 非职业; a wear period's start or end "yyyyMMddhhmmss" as people
    // read it, with none for an empty one (an open end).
    static QString typeText(int ptype);
    static QString periodTime(const QString& key, const QString& none);

    // The dose of record of month 1..12, quarter 1..4 and the whole year;
    // quarters and years are sums of the months, so the record always adds
    // up. A month that was not monitored counts as 0 and is shown as such
    // (monitored() false); so is a quarter or year without a monitored month.
    double month(int year, int month) const;
    double quarter(int year, int quarter) const;
    double year(int year) const;
    bool monitored(int year, int month) const;
    bool quarterMonitored(int year, int quarter) const;
    bool yearMonitored(int year) const;
    // The five years ending with toYear, and every month through toYear.
    double fiveYear() const;
    double lifetime() const;
    // Months are kept from the first one with readings (or toYear - 4, when
    // earlier) through December of toYear.
    void setMonth(int year, int month, const DoseOfRecord::Month& dose);

    // 更正 or 估算 where the month's dose of record is an approved
    // adjustment, empty otherwise.
    QString mark(int year, int month) const;
    // 个人剂量计 or 部分个人剂量计 where the month's dose of record came, all or
    // part, from passive results (and no adjustment replaced it); empty for
    // the electronic dosimeters' months.
    QString source(int year, int month) const;
    // Whether any month of the years shown shows such a source.
    bool anyPassive() const;
    // The adjusted months of the years shown, in order: the original beside
    // the dose of record, with the method and reason.
    struct Adjusted
    {
        QString month; // "yyyyMM"
        double original = 0;
        bool originalMonitored = false;
        double dose = 0;
        QString mark;
        QString method; // as the officer reads it
        QString reason;
    };
    QList<Adjusted> adjustedMonths() const;
    // The months of the years shown where an adjustment waits for approval
    // (not counted until approved).
    QStringList pendingMonths() const;

    // The record of idCard. fromYear/toYear 0 take the defaults: the first
    // year with readings, and Clock::now()'s year. False with why (for the
    // operator) when the person is unknown, the years are wrong or the
    // database cannot be read.
    static bool load(Store& database, QSqlDatabase db, const QString& idCard, int fromYear, int toYear,
                     PersonRecord& record, QString* why);

private:
    qint64 cents(int fromYear, int fromMonth, int toYear, int toMonth) const;
    bool anyMonitored(int fromYear, int fromMonth, int toYear, int toMonth) const;

    DoseOfRecord::Months months;
};
