// A person deleted with their wear periods and the readings of the hours they wore;
// the day and month totals this cuts are summed again.

#include "core/wear/StaffRemoval.h"

#include <QDate>
#include <QMap>
#include <QMutexLocker>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/store/Sql.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"
#include "core/time/TimeKey.h"
#include "core/wear/WearPeriods.h"

StaffRemoval::StaffRemoval(Store& store)
    : store(store)
{
}

bool StaffRemoval::recomputeTotal(const QSqlDatabase& db, int slaveId, const QString& key, bool month)
{
    const QString& source = month ? store.monthdataTable : store.realdataTable;
    const QString& target = month ? store.yeardataTable : store.monthdataTable;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(Sql::format("select count(*), coalesce(sum(probeValue), 0) from %s where slaveId = ? and "
                               "dataTime like ? ;",
                               source)))
        return false;
    q.addBindValue(slaveId);
    q.addBindValue(key + QLatin1Char('%'));
    if (!q.exec() || !q.next())
        return false;
    const int n = q.value(0).toInt();
    const double sum = q.value(1).toDouble();
    q.finish();
    if (n == 0)
        return Sql::execCounted(Sql::format("delete from %s where slaveId = ? and dataTime = ? ;", target),
                                {slaveId, key}, db)
            >= 0;
    return Sql::execCounted(Sql::format("update %s set probeValue = ? where slaveId = ? and dataTime = ? ;", target),
                            {sum, slaveId, key}, db)
        >= 0;
}

bool StaffRemoval::removeWithHistory(int staffId, QSqlDatabase db)
{
    WearPeriods wearing(store);
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !wearing.ensureTable(db) || !Sql::isPlainName(store.wearingTable))
        return false;
    Transaction change(db);
    QString card;
    if (!change.begun()
        || !Sql::firstText(Sql::format("select ID_card from %s where id = ? ;", store.staffTable), {staffId}, db, card))
        return false;
    // Another staff row with the same card keeps the history.
    QString sharers;
    if (!Sql::firstText(Sql::format("select count(*) from %s where ID_card = ? and id <> ? ;", store.staffTable),
                        {card, staffId}, db, sharers))
        return false;
    QList<Wearingdata> periods;
    if (sharers.toInt() == 0
        && !Sql::readAll(Sql::format("select id, slaveId, ID_card, startTime, endTime from %s where ID_card = ? ;",
                                     store.wearingTable),
                         {card}, db, periods, WearPeriods::read))
        return false;

    // The dose rows that go, by table, for the audit trail.
    QMap<QString, int> gone;
    const auto counted = [&gone](const QString& table, int n) {
        gone[table] += qMax(n, 0);
        return n;
    };
    const QString beginning = QLatin1String(TimeKey::kBeginning);
    for (const Wearingdata& w : qAsConst(periods)) {
        // Only the hours this person wore: the readings of other wearers of
        // the same address stay.
        const QString end = w.endTime.isEmpty() ? QStringLiteral("99999999999999") : w.endTime;
        if (w.startTime == beginning && w.endTime.isEmpty()) {
            // Worn from the beginning and still: the whole address is theirs.
            for (const QString* table :
                 {&store.realdataTable, &store.monthdataTable, &store.yeardataTable, &store.seqYeardataTable}) {
                const int n = Sql::execCounted(Sql::format("delete from %s where slaveId = ? ;", *table), {w.slaveId}, db);
                if (counted(*table, n) < 0)
                    return false;
            }
            continue;
        }
        // The readings' keys are stored as numbers: each bound has the
        // length of the keys it is compared with.
        const QString day0 = w.startTime.left(8);
        const QString day1 = end.left(8);
        const QString month0 = w.startTime.left(6);
        const QString month1 = end.left(6);
        const bool startsMidDay = w.startTime.mid(8) != QLatin1String("000000");
        const bool endsMidDay = end.mid(8) != QLatin1String("000000");
        const bool startsMidMonth = w.startTime.mid(6) != QLatin1String("01000000") && w.startTime != beginning;
        const bool endsMidMonth = end.mid(6) != QLatin1String("01000000");
        const QVariantList range{w.slaveId, w.startTime, end};
        const char* const cut = "delete from %s where slaveId = ? and dataTime >= ? and dataTime < ? ;";
        if (counted(store.realdataTable, Sql::execCounted(Sql::format(cut, store.realdataTable), range, db)) < 0
            || counted(store.seqYeardataTable, Sql::execCounted(Sql::format(cut, store.seqYeardataTable), range, db)) < 0)
            return false;
        // Whole days and months inside the period go; the ones cut by its
        // ends are summed again from what stays.
        const QDate startDay = QDate::fromString(day0, QStringLiteral("yyyyMMdd"));
        const QString firstDay =
            startsMidDay && startDay.isValid() ? startDay.addDays(1).toString(QStringLiteral("yyyyMMdd")) : day0;
        const QString firstMonth = startsMidMonth && startDay.isValid()
            ? QDate(startDay.year(), startDay.month(), 1).addMonths(1).toString(QStringLiteral("yyyyMM"))
            : month0;
        if (counted(store.monthdataTable,
                    Sql::execCounted(Sql::format(cut, store.monthdataTable), {w.slaveId, firstDay, day1}, db))
                < 0
            || counted(store.yeardataTable,
                       Sql::execCounted(Sql::format(cut, store.yeardataTable), {w.slaveId, firstMonth, month1}, db))
                < 0)
            return false;
        if ((startsMidDay && !recomputeTotal(db, w.slaveId, day0, false))
            || (endsMidDay && !recomputeTotal(db, w.slaveId, day1, false))
            || (startsMidMonth && !recomputeTotal(db, w.slaveId, month0, true))
            || (endsMidMonth && !recomputeTotal(db, w.slaveId, month1, true)))
            return false;
    }
    if (sharers.toInt() == 0
        && Sql::execCounted(Sql::format("delete from %s where ID_card = ? ;", store.wearingTable), {card}, db) < 0)
        return false;
    // Dose rows are recorded by their number, not one by one.
    for (auto it = gone.cbegin(); it != gone.cend(); ++it) {
        if (it.value() > 0
            && !AuditLog::write(db, QStringLiteral("delete"), it.key(), card, QStringLiteral("rows: %1").arg(it.value())))
            return false;
    }
    return Sql::execCounted(Sql::format("delete from %s where id = ? ;", store.staffTable), {staffId}, db) == 1
        && change.commit();
}
