#pragma once

// The dose policy: the hourly background and the limits and levels doses are judged by.

#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>

class Store;

// The limits and levels the doses are judged by, one row each of the table
// "DosePolicy" (doses in μSv). "Occupational" is staff type 0; every other
// type is judged by the "_other" rows.
class DosePolicy
{
public:
    struct Row
    {
        QString name;
        double defaultValue;
        QString label; // as the policy dialog and its refusals name it
        bool onOff = false; // a switch: 0 or 1, not a dose above 0
    };
    // Every row the program knows, in the order the policy dialog shows them.
    static const QVector<Row>& rows();

    DosePolicy(); // the defaults

    double value(const QString& name) const { return values.value(name); }
    void setValue(const QString& name, double v) { values[name] = v; }

    double background() const { return value(QStringLiteral("background_per_hour")); }
    double annualLimit(int ptype) const { return byType("annual_limit", ptype); }
    double singleYearLimit(int ptype) const { return byType("single_year_limit", ptype); }
    double fiveYearLimit(int ptype) const { return byType("five_year_limit", ptype); }
    double investigationLevel(int ptype) const { return byType("investigation_quarter", ptype); }
    // A dose adjustment waits for a second account's approval (1), or is
    // approved when filed (0, an office of one).
    bool adjustmentNeedsApproval() const { return value(QStringLiteral("adjustment_needs_approval")) != 0; }
    // A passive result and the electronic dose of its days differ when they
    // are further apart than the larger of these two (percent of the
    // passive dose, μSv); a result below the laboratory's reporting level
    // ("M") when the electronic dose exceeds minimumReportable.
    double reconcilePercent() const { return value(QStringLiteral("reconcile_tolerance_percent")); }
    double reconcileMicroSv() const { return value(QStringLiteral("reconcile_tolerance_uSv")); }
    double minimumReportable() const { return value(QStringLiteral("minimum_reportable_uSv")); }
    // The months the passive dosimeters' results cover take their dose of
    // record from them (1), or every month from the electronic readings (0).
    bool passiveOfRecord() const { return value(QStringLiteral("dose_of_record_passive")) != 0; }

    // The row's name as people read it ("年剂量限值 · 非职业").
    static QString label(const QString& name);
    // What is wrong with these values, one text each, in the dialog's words;
    // empty when they may be saved.
    QStringList problems() const;

    // The stored policy; a row that is missing, not a number or not above 0
    // (a switch: neither 0 nor 1) counts with its default, and says so in the log. readable (when given)
    // is false when the table could not be read at all: the figures judged
    // by such a policy must not be shown.
    static DosePolicy load(Store& database, QSqlDatabase db, bool* readable = nullptr);
    // Writes every row in one transaction.
    bool save(Store& database, QSqlDatabase db) const;

private:
    double byType(const char* stem, int ptype) const;

    QMap<QString, double> values;
};
