#pragma once

// The dosimeters' hourly readings (table "Realdata") and the totals made
// from them: day totals ("Monthdata", key yyyyMMdd) and month totals
// ("Yeardata", key yyyyMM). The statements of a reply's storage are kept
// prepared per connection: a full memory is 65,535 readings.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include "core/readings/Realdata.h"
#include "core/readings/totaldata_mon.h"
#include "core/readings/totaldata_seqyear.h"
#include "core/readings/totaldata_year.h"

class Store;

class ReadingStore
{
public:
    // Kinds of rows: 0 Realdata, 1 Monthdata, 2 Yeardata, 3 SeqYeardata.
    explicit ReadingStore(Store& store);

    // The record types the range query wraps in QVariant.
    static void registerTypes();

    bool insertRealdata(const Realdata& data, QSqlDatabase db);
    bool selectRealdataByTime(Realdata& data, const QString& dataTime, int slaveId, QSqlDatabase db);
    bool insertMonthdata(const totaldata_mon& data, QSqlDatabase db);
    bool updateMonthdata(const totaldata_mon& data, QSqlDatabase db);
    bool insertYeardata(const totaldata_year& data, QSqlDatabase db);
    bool updateYeardata(const totaldata_year& data, QSqlDatabase db);
    // Rows of a kind with begin <= dataTime <= end, in time order; the list
    // stays as it was when they cannot be read, also half-way through.
    bool selectDataByTime(int kind, QList<QVariant>& list, int slaveId, const QString& begin, const QString& end,
                          QSqlDatabase db);
    // Inserts a reading of an hour the caller found unstored, inside its
    // write transaction: 1 when inserted, 0 when another station stored the
    // hour meanwhile (a shared store's unique key), -1 on failure.
    int insertUnstored(int slaveId, const QString& dataTime, double probeValue, QSqlDatabase db);
    // Adds value to the total of key (kind 1 day, 2 month), creating it; on
    // a shared store in one statement that concurrent writers cannot split.
    bool addToTotal(int kind, int slaveId, const QString& key, double value, QSqlDatabase db);
    bool deleteDataBySlaveId(int kind, int slaveId, const QString& unused1, const QString& unused2, QSqlDatabase db);
    // Hourly readings of an address with from <= dataTime < toExclusive; -1
    // when the count fails.
    int countReadings(int slaveId, const QString& from, const QString& toExclusive, QSqlDatabase db);
    // The first and the last key of an address's hourly readings with from
    // <= dataTime < toExclusive: 1 when there are any, 0 when none, -1 when
    // they cannot be read.
    int readingRange(int slaveId, const QString& from, const QString& toExclusive, QString& first, QString& last,
                     QSqlDatabase db);

private:
    const QString* tableForKind(int kind) const;
    bool insertDoseRow(const QString& table, int slaveId, const QString& dataTime, double probeValue, QSqlDatabase db);
    bool updateDoseRow(int statement, const QString& table, int slaveId, const QString& dataTime, double probeValue,
                       QSqlDatabase db);

    Store& store;
};
