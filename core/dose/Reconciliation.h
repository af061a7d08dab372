#pragma once

// The passive dosimeters' results set against the electronic dose of the same days, and their flags.

#include <QDate>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "core/dose/DosePolicy.h"
#include "core/readings/PassiveResultdata.h"

class Store;

// Each passive result that counts is compared with the person's electronic
// dose over its days, both included: each calendar month's part of the
// period netted on its own by the monthly rule from the readings alone
// (neither adjustments nor passive results), the parts added.
// A result differs when |electronic − passive| is greater than the larger of
// reconcile_tolerance_percent % of the passive dose and
// reconcile_tolerance_uSv; one below the laboratory's reporting level ("M")
// counts as 0 and differs when the electronic dose is greater than
// minimum_reportable_uSv. Not returned and unused dosimeters are flagged as
// such. A flag is closed once, with a comment; it keeps its word.
class Reconciliation
{
public:
    struct Row
    {
        PassiveResultdata result;
        QString department;
        bool hasPassive = false; // M counts as 0; not returned, unused or no Hp(10): none
        qint64 passiveCents = 0;
        qint64 electronicCents = 0;
        QString flag; // ok, differs, not_returned, unused

        bool flagged() const { return flag != QLatin1String("ok"); }
        bool closed() const { return !result.closedAt.isEmpty(); }
        bool hasDifference() const { return hasPassive; }
        qint64 differenceCents() const { return electronicCents - passiveCents; }
        // Percent of the passive dose; none where it is 0 or missing.
        bool hasPercent() const { return hasPassive && passiveCents > 0; }
        double percent() const { return differenceCents() * 100.0 / passiveCents; }
    };

    // The CSV columns dosectl reconcile prints, and one row's fields (not yet quoted).
    static const char* const kHeader;
    static QStringList fields(const Row& row);
    // 一致, 不一致, 未返回, 未使用; with "已关闭" once the flag is closed.
    static QString resultText(const Row& row);
    // The flag of a passive figure against an electronic one (hundredths of a μSv).
    static QString flagOf(const PassiveResultdata& result, bool hasPassive, qint64 passiveCents,
                          qint64 electronicCents, const DosePolicy& policy);

    Reconciliation(Store& database, QSqlDatabase db, const DosePolicy& policy);

    // Every result that counts whose period touches [from, to], of the
    // department (all when empty): flagged ones first, then by ID card and
    // start. False with why (for the officer) when anything cannot be read.
    bool run(const QDate& from, const QDate& to, const QString& department, QList<Row>& rows, QString* why);
    // One result reconciled.
    bool check(const PassiveResultdata& result, Row& row, QString* why);
    // Closes the flag of a result that counts and is flagged, with the
    // comment; audited, once.
    bool close(int id, const QString& comment, const QString& actor, QString* why);

private:
    Store& database;
    QSqlDatabase db;
    DosePolicy policy;
};
