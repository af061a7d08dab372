#pragma once

// Which readings belong to whom: a person's figures by hour, day and month, and the query dialog's statement.

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

class Store;

// Which readings belong to whom. A reading (address, hour) belongs to the
// person whose wear period on that address covers the hour; where periods
// of one address overlap (a hand-written database) the one started last
// wins. The curve, the last-year dose and the query dialog all take their
// figures from here.
class WearAttribution
{
public:
    // Granularity of the figures, as the views: hourly readings, day totals
    // ("yyyyMMdd"), month totals ("yyyyMM").
    enum Kind { Hours = 0, Days = 1, Months = 2 };

    struct Figures
    {
        // Key of the granularity -> dose, ascending.
        QMap<QString, double> values;
        // Addresses that contributed at least one figure, ascending.
        QList<int> addresses;
    };

    // [start, end) of "yyyyMMddhhmmss" keys.
    using Span = QPair<QString, QString>;

    // "yyyyMMddhh0000" of the start of t's hour; nowKey() of the clock's now.
    static QString hourKey(const QDateTime& t);
    static QString nowKey();

    // The person's figures of [from, to). Whole days and months inside one
    // period come from the stored totals, hourly readings only on the days
    // where a period starts or ends. False when the database cannot be read.
    static bool collect(Store* database, QSqlDatabase db, const QString& idCard, Kind kind, const QDateTime& from,
                        const QDateTime& to, Figures& figures);
    // The same from the person's spans, as effectiveSpans() gives them.
    static bool collect(Store* database, QSqlDatabase db, const QList<Span>& spans, const QList<int>& slaveIds,
                        Kind kind, const QDateTime& from, const QDateTime& to, Figures& figures);
    // The person's hourly readings in each [bounds[i], bounds[i + 1]), bounds
    // ascending: each reading is counted once, however many windows are
    // asked for. False when the database cannot be read.
    static bool countSegments(Store* database, QSqlDatabase db, const QList<Span>& spans,
                              const QList<int>& slaveIds, const QStringList& bounds, QVector<int>& counts);
    // Hourly readings of an address that no period covers; -1 when they
    // cannot be counted.
    static int countUnattributed(Store* database, QSqlDatabase db, int slaveId);
    // "5号设备", "5,9号设备".
    static QString legend(const QList<int>& addresses);

    // The query dialog's rows (time, name, department, address, dose) of
    // the attributed readings. Without a time filter: every hourly reading.
    // from and to are keys of the kind, both included. Typed values are
    // "?" placeholders, appended to values in order.
    struct Criteria
    {
        Kind kind = Hours;
        bool timed = false;
        QString from;
        QString to;
        bool byName = false;
        QString name;
        bool byCard = false;
        QString card;
        // The database has overlapping periods: everything is summed from
        // the hourly readings, each given to the period started last.
        bool overlapping = false;
    };
    static QString queryStatement(const Criteria& criteria, QVariantList* values);

    // A person's periods of one address, less the hours later-started
    // periods of that address take: [start, end) pairs, end "99999999999999"
    // for open. False when the periods cannot be read.
    static bool effectiveSpans(Store* database, QSqlDatabase db, const QString& idCard, QList<Span>& spans,
                               QList<int>* slaveIds);
};
