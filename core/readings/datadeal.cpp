// A data reply decoded and stored in one transaction: its new hourly readings, then the day and month totals.

#include "core/readings/datadeal.h"

#include <algorithm>

#include <QDate>
#include <QMap>
#include <QMutexLocker>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <QtDebug>

#include "core/store/Store.h"
#include "core/readings/ReadingStore.h"
#include "core/device/HexByte.h"

QMutex datadeal::mutex;
std::function<void(datadeal::Step)> datadeal::probe;

namespace {

constexpr int HeaderLength = 8;  // address and record count
constexpr int RecordLength = 14; // one 7-byte record
constexpr int DayKeyLength = 8;  // "yyyyMMdd"
constexpr int MonthKeyLength = 6; // "yyyyMM"
constexpr int KindRealdata = 0;
constexpr int KindMonthdata = 1; // day totals
constexpr int KindYeardata = 2;  // month totals

bool isLowerHex(const QString& text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
}

// A BCD byte must be two decimal digits; anything else means the record is
// damaged and its time cannot be trusted.
int bcdValue(const QString& text, int pos)
{
    const ushort high = text.at(pos).unicode();
    const ushort low = text.at(pos + 1).unicode();
    if (high < '0' || high > '9' || low < '0' || low > '9')
        return -1;
    return (high - '0') * 10 + (low - '0');
}

// The key "20yyMMddhh0000" of the record at pos, or an empty text when the
// record does not name a real calendar hour.
QString readingTime(const QString& rdata, int pos)
{
    const int year = bcdValue(rdata, pos);
    const int month = bcdValue(rdata, pos + 2);
    const int day = bcdValue(rdata, pos + 4);
    const int hour = bcdValue(rdata, pos + 6);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23)
        return QString();
    if (!QDate::isValid(2000 + year, month, day))
        return QString();
    return QLatin1String("20") + rdata.mid(pos, 8) + QLatin1String("0000");
}

// Writes the total of one key: update when the row exists, insert otherwise.
template <typename Row>
bool writeTotal(Store* database, QSqlDatabase db, bool exists, int slaveId, const QString& key,
                double value, bool (ReadingStore::*insertRow)(const Row&, QSqlDatabase),
                bool (ReadingStore::*updateRow)(const Row&, QSqlDatabase))
{
    Row row;
    row.slaveId = slaveId;
    row.dataTime = key;
    row.probeValue = value;
    ReadingStore readings(*database);
    return exists ? (readings.*updateRow)(row, db) : (readings.*insertRow)(row, db);
}

// Sets the total of one key to value, creating the row if needed.
template <typename Row>
bool setTotal(Store* database, QSqlDatabase db, int kind, int slaveId, const QString& key,
              double value, bool (ReadingStore::*insertRow)(const Row&, QSqlDatabase),
              bool (ReadingStore::*updateRow)(const Row&, QSqlDatabase))
{
    QList<QVariant> rows;
    if (!ReadingStore(*database).selectDataByTime(kind, rows, slaveId, key, key, db))
        return false;
    return writeTotal<Row>(database, db, !rows.isEmpty(), slaveId, key, value, insertRow,
                           updateRow);
}

} // namespace

void datadeal::setProbe(std::function<void(Step)> probe)
{
    datadeal::probe = std::move(probe);
}

datadeal::datadeal(Store* database, SettingsAdpater* settings)
    : settings(settings), database(database)
{
    pending.clear();
}

// The connection is created by the thread that stores the replies (the
// processing thread), so that it is only ever used where it was made.
bool datadeal::ensureConnection()
{
    if (!database)
        return false;
    if (connThread) {
        if (connThread != QThread::currentThread()) {
            qWarning() << "datadeal: \"deal_db\" belongs to another thread; reply refused";
            return false;
        }
        return true;
    }
    if (!database->createConnection(connName))
        return false;
    db = database->getConnection(connName);
    connThread = QThread::currentThread();
    return true;
}

void datadeal::releaseConnection()
{
    QMutexLocker locker(&mutex);
    if (!database || connThread != QThread::currentThread())
        return;
    db = QSqlDatabase();
    database->removeConnection(connName);
    connThread = nullptr;
}

void datadeal::receiveData(const QString& rdata)
{
    // Outside the lock: a receiver may well hand us the next reply at once.
    emit dataStored(store(rdata));
}

bool datadeal::store(const QString& rdata)
{
    QMutexLocker locker(&mutex);
    const bool ok = storeReply(rdata);
    pending.clear();
    return ok;
}

bool datadeal::storeReply(const QString& rdata)
{
    // Only a whole, well-formed reply is stored: positions beyond the text,
    // or characters that are not hex digits, would silently read as zero.
    const int size = rdata.size();
    if (size < HeaderLength || !isLowerHex(rdata)) {
        qWarning() << "datadeal: malformed reply refused:" << rdata.left(64);
        return false;
    }
    const int count = hexWord(rdata, 4);
    if (size != HeaderLength + RecordLength * count) {
        qWarning() << "datadeal: reply of" << size << "characters announces" << count
                   << "records; refused";
        return false;
    }
    if (count == 0)
        return true;
    if (!ensureConnection())
        return false;

    const int slaveId = hexWord(rdata, 0);
    database->openConnection(connName);
    if (!database->beginTransaction(db)) {
        qWarning() << "datadeal: cannot begin a transaction on \"deal_db\"";
        database->closeConnection(connName);
        return false;
    }

    if (probe)
        probe(Step::Begun);
    bool ok = storeReadings(rdata, slaveId, count) && updateTotals(slaveId);
    if (ok) {
        if (probe)
            probe(Step::Committing);
        ok = database->commitTransaction(db);
        if (!ok)
            qWarning() << "datadeal: commit failed; reply of device" << slaveId << "not stored";
    } else {
        qWarning() << "datadeal: storing failed; reply of device" << slaveId << "not stored";
    }
    if (!ok && !database->rollbackTransaction(db))
        qWarning() << "datadeal: rollback failed";
    database->closeConnection(connName);
    return ok;
}

bool datadeal::storeReadings(const QString& rdata, int slaveId, int count)
{
    QList<PendingReading> readings;
    readings.reserve(count);
    for (int k = 0; k < count; ++k) {
        const int pos = HeaderLength + RecordLength * k;
        const QString dataTime = readingTime(rdata, pos);
        if (dataTime.isEmpty()) {
            qWarning() << "datadeal: device" << slaveId << "record" << k
                       << "has no valid hour:" << rdata.mid(pos, 8) << "- skipped";
            continue;
        }
        readings.append(PendingReading{hexWord(rdata, pos + 10) / 100.0, dataTime});
    }
    // The first record of an hour wins, also within one reply. Rows are
    // written in key order, so two stations storing the same dosimeter lock
    // them in the same order and never wait for each other in a circle.
    std::stable_sort(readings.begin(), readings.end(),
                     [](const PendingReading& a, const PendingReading& b) { return a.dataTime < b.dataTime; });
    readings.erase(std::unique(readings.begin(), readings.end(),
                               [](const PendingReading& a, const PendingReading& b) { return a.dataTime == b.dataTime; }),
                   readings.end());
    if (readings.isEmpty())
        return true;
    // Hours already stored are stored and counted already. They are looked
    // up with one range query over the reply's hours: unlike a per-hour
    // lookup, a failing query is told apart from "not stored" and stops the
    // reply instead of letting a stored hour be inserted twice.
    ReadingStore store(*database);
    QList<QVariant> rows;
    if (!store.selectDataByTime(KindRealdata, rows, slaveId, readings.first().dataTime, readings.last().dataTime, db))
        return false;
    QSet<QString> stored;
    stored.reserve(rows.size());
    for (const QVariant& row : qAsConst(rows)) {
        if (row.userType() != qMetaTypeId<Realdata>())
            return false;
        stored.insert(row.value<Realdata>().dataTime);
    }
    // Only the readings this transaction inserted count towards the totals.
    for (const PendingReading& reading : qAsConst(readings)) {
        if (stored.contains(reading.dataTime))
            continue;
        const int inserted = store.insertUnstored(slaveId, reading.dataTime, reading.probeValue, db);
        if (inserted < 0)
            return false;
        if (probe)
            probe(Step::Written);
        if (inserted > 0)
            pending.append(reading);
    }
    return true;
}

bool datadeal::updateTotals(int slaveId)
{
    ReadingStore store(*database);
    for (const auto& kind : {std::make_pair(KindYeardata, MonthKeyLength), std::make_pair(KindMonthdata, DayKeyLength)}) {
        QMap<QString, double> sums;
        for (const PendingReading& reading : qAsConst(pending))
            sums[reading.dataTime.left(kind.second)] += reading.probeValue;
        for (auto it = sums.cbegin(); it != sums.cend(); ++it) {
            if (!store.addToTotal(kind.first, slaveId, it.key(), it.value(), db))
                return false;
        }
    }
    return true;
}

void datadeal::testcaldata()
{
    QMutexLocker locker(&mutex);
    if (!ensureConnection())
        return;
    const int slaveId = 20;
    database->openConnection(connName);
    if (!database->beginTransaction(db)) {
        qWarning() << "datadeal: cannot begin a transaction on \"deal_db\"";
        database->closeConnection(connName);
        return;
    }
    bool ok = recomputeTotals(slaveId, QStringLiteral("20160414"));
    if (ok)
        ok = database->commitTransaction(db);
    if (!ok) {
        qWarning() << "datadeal: recomputing the totals of device" << slaveId << "failed";
        database->rollbackTransaction(db);
    }
    database->closeConnection(connName);
    pending.clear();
}

// Adding the day's readings once more to totals that already hold them would
// count them twice; the totals are therefore set to the sums of the stored
// readings, so running this any number of times gives the same rows.
bool datadeal::recomputeTotals(int slaveId, const QString& day)
{
    const QString month = day.left(MonthKeyLength);
    double daySum = 0.0;
    double monthSum = 0.0;
    QList<QVariant> rows;
    if (!ReadingStore(*database).selectDataByTime(KindRealdata, rows, slaveId, day + QLatin1String("000000"),
                                    day + QLatin1String("235900"), db))
        return false;
    pending.clear();
    for (const QVariant& row : qAsConst(rows)) {
        const Realdata reading = row.value<Realdata>();
        pending.append(PendingReading{reading.probeValue, reading.dataTime});
        daySum += reading.probeValue;
    }
    if (!ReadingStore(*database).selectDataByTime(KindRealdata, rows, slaveId, month + QLatin1String("00000000"),
                                    month + QLatin1String("99999999"), db))
        return false;
    for (const QVariant& row : qAsConst(rows))
        monthSum += row.value<Realdata>().probeValue;

    if (pending.isEmpty())
        return true; // nothing stored for that day: nothing to correct
    return setTotal<totaldata_mon>(database, db, KindMonthdata, slaveId, day, daySum,
                                   &ReadingStore::insertMonthdata, &ReadingStore::updateMonthdata)
        && setTotal<totaldata_year>(database, db, KindYeardata, slaveId, month, monthSum,
                                    &ReadingStore::insertYeardata, &ReadingStore::updateYeardata);
}
