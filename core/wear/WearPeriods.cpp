// The table "Wearing" at work: dosimeters bound, moved, unbound and assigned, so that no address and no
// person wears two periods in the same hour.

#include "core/wear/WearPeriods.h"

#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>
#include <QSet>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/register/DeviceRegister.h"
#include "core/store/Sql.h"
#include "core/store/Dialect.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"
#include "core/time/TimeKey.h"

namespace {

const char* const kColumns = "select id, slaveId, ID_card, startTime, endTime from %s ";

// A key of the whole hour: 14 digits, minutes and seconds "0000", a real
// time (or the beginning of all records).
bool isHourKey(const QString& key)
{
    if (key == TimeKey::kBeginning)
        return true;
    return key.size() == 14 && key.endsWith(QLatin1String("0000")) && TimeKey::parse(key).isValid();
}

void say(QString* refusal, const QString& text)
{
    if (refusal)
        *refusal = text;
}

} // namespace

WearPeriods::WearPeriods(Store& store)
    : store(store)
{
}

void WearPeriods::read(const QSqlQuery& q, Wearingdata& w)
{
    w = Wearingdata{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toString(),
                    q.value(4).toString()};
}

bool WearPeriods::readPeriods(const QString& where, const QVariant& key, const QSqlDatabase& db,
                              QList<Wearingdata>& list)
{
    list.clear();
    return Sql::readAll(Sql::format(kColumns, store.wearingTable) + where, {key}, db, list, read);
}

bool WearPeriods::selectBySlaveId(QList<Wearingdata>& list, int slaveId, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen() && Sql::isPlainName(store.wearingTable)
        && (readPeriods(QStringLiteral("where slaveId = ? order by startTime, id ;"), slaveId, db, list)
            || noPeriodsYet(db, list));
}

bool WearPeriods::selectByIdCard(QList<Wearingdata>& list, const QString& idCard, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen() && Sql::isPlainName(store.wearingTable)
        && (readPeriods(QStringLiteral("where ID_card = ? order by startTime, id ;"), idCard, db, list)
            || noPeriodsYet(db, list));
}

bool WearPeriods::noPeriodsYet(const QSqlDatabase& db, QList<Wearingdata>& list)
{
    // The table of periods comes with the first dosimeter; before that nobody
    // wore one. Without it, a register with dosimeters cannot say who wore
    // them: that stays an error.
    QString devices;
    list.clear();
    return !Dialect::hasTable(db, store.wearingTable)
        && Sql::firstText(Sql::format("select count(*) from %s ;", store.deviceTable), {}, db, devices)
        && devices.toInt() == 0;
}

bool WearPeriods::hasOverlapping(QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    QString found;
    return db.isOpen() && Sql::isPlainName(store.wearingTable)
        && Sql::firstText(Sql::format("select a.id from %s a, %s b where a.slaveId = b.slaveId and a.id < b.id "
                                      "and (b.endTime = '' or a.startTime < b.endTime) "
                                      "and (a.endTime = '' or b.startTime < a.endTime) limit 1;",
                                      store.wearingTable, store.wearingTable),
                          {}, db, found);
}

QString WearPeriods::collision(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& start,
                               const QString& end)
{
    // One address, and one person, wear at most one period at any hour.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(Sql::format("select slaveId, ID_card, startTime, endTime from %s "
                               "where (slaveId = ? or ID_card = ?) and (endTime = '' or endTime > ?) "
                               "and (? = '' or startTime < ?) order by startTime limit 1;",
                               store.wearingTable)))
        return QStringLiteral("佩戴记录无法读取");
    for (const QVariant& v : QVariantList{slaveId, idCard, start, end, end})
        q.addBindValue(v);
    if (!q.exec())
        return QStringLiteral("佩戴记录无法读取");
    if (!q.next())
        return Sql::complete(q) ? QString() : QStringLiteral("佩戴记录无法读取");
    return QStringLiteral("与已有佩戴记录冲突：%1号设备，身份证号 %2，从 %3 到 %4")
        .arg(q.value(0).toInt())
        .arg(q.value(1).toString(), TimeKey::shown(q.value(2).toString(), QString()),
             TimeKey::shown(q.value(3).toString(), QStringLiteral("至今")));
}

bool WearPeriods::closeOpen(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& now,
                            QString* refusal)
{
    QList<Wearingdata> open;
    if (!readPeriods(QStringLiteral("where slaveId = ? and endTime = '' ;"), slaveId, db, open)) {
        say(refusal, QStringLiteral("佩戴记录无法读取"));
        return false;
    }
    for (const Wearingdata& w : qAsConst(open)) {
        if (w.ID_card != idCard)
            continue;
        if (w.startTime > now) {
            say(refusal, QStringLiteral("结束时间早于开始时间：%1号设备的佩戴从 %2 开始")
                             .arg(slaveId)
                             .arg(TimeKey::shown(w.startTime, QString())));
            return false;
        }
        // A period begun this very hour would end empty: it goes.
        const bool ok = w.startTime == now
            ? Sql::exec(Sql::format("delete from %s where id = ? ;", store.wearingTable), {w.id}, db)
            : Sql::exec(Sql::format("update %s set endTime = ? where id = ? ;", store.wearingTable), {now, w.id}, db);
        if (!ok) {
            say(refusal, QStringLiteral("佩戴记录无法保存"));
            return false;
        }
    }
    return true;
}

bool WearPeriods::open(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& start,
                       QString* refusal)
{
    const QString clash = collision(db, slaveId, idCard, start, QString());
    if (!clash.isEmpty()) {
        say(refusal, clash);
        return false;
    }
    if (!Sql::exec(Sql::format("insert into %s(slaveId,ID_card,startTime,endTime) values(?,?,?,'');",
                               store.wearingTable),
                   {slaveId, idCard, start}, db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    return true;
}

bool WearPeriods::bind(const Devicedata& device, const QString& now, QString* refusal, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (db.isOpen() && !ensureTable(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!db.isOpen() || !Sql::isPlainName(store.wearingTable) || !Sql::isPlainName(store.deviceTable)) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    if (device.slaveId < 0 || device.slaveId > 65535 || !isHourKey(now)) {
        say(refusal, QStringLiteral("设备号无效!"));
        return false;
    }
    Transaction change(db);
    if (!change.begun()) {
        say(refusal, QStringLiteral("数据库忙"));
        return false;
    }
    QString bound;
    if (Sql::firstText(Sql::format("select id from %s where slaveId = ? or ID_card = ? ;", store.deviceTable),
                       {device.slaveId, device.ID_card}, db, bound)) {
        say(refusal, QStringLiteral("设备ID已绑定!"));
        return false;
    }
    // A dosimeter new to the register: its earlier readings belong to its
    // first wearer, except where that person wore another dosimeter.
    QString start = now;
    QString worn;
    if (!Sql::firstText(Sql::format("select count(*) from %s where slaveId = ? ;", store.wearingTable),
                        {device.slaveId}, db, worn))
        return false;
    if (worn.toInt() == 0) {
        QString lastEnd;
        Sql::firstText(Sql::format("select max(endTime) from %s where ID_card = ? ;", store.wearingTable),
                       {device.ID_card}, db, lastEnd);
        start = lastEnd.isEmpty() ? TimeKey::kBeginning : qMin(lastEnd, now);
    }
    if (!open(db, device.slaveId, device.ID_card, start, refusal))
        return false;
    if (!Sql::exec(Sql::format("insert into %s(slaveId,ID_card,dataTime) values(?,?,?);", store.deviceTable),
                   {device.slaveId, device.ID_card, device.dataTime}, db)
        || !change.commit()) {
        say(refusal, QStringLiteral("设备无法保存"));
        return false;
    }
    return true;
}

bool WearPeriods::move(const QSqlDatabase& db, const Devicedata& device, int newSlaveId, const QString& now,
                       QString* refusal)
{
    if (newSlaveId < 0 || newSlaveId > 65535 || !isHourKey(now)) {
        say(refusal, QStringLiteral("设备号无效!"));
        return false;
    }
    if (newSlaveId == device.slaveId)
        return true;
    QString holder;
    if (Sql::firstText(Sql::format("select id from %s where slaveId = ? and id <> ? ;", store.deviceTable),
                       {newSlaveId, device.id}, db, holder)) {
        say(refusal, QStringLiteral("设备ID已绑定!"));
        return false;
    }
    if (!closeOpen(db, device.slaveId, device.ID_card, now, refusal)
        || !open(db, newSlaveId, device.ID_card, now, refusal))
        return false;
    if (Sql::execCounted(Sql::format("update %s set slaveId = ? where id = ? ;", store.deviceTable),
                         {newSlaveId, device.id}, db)
        != 1) {
        say(refusal, QStringLiteral("设备无法保存"));
        return false;
    }
    return true;
}

bool WearPeriods::changeAddress(int deviceId, int newSlaveId, const QString& now, QString* refusal, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (db.isOpen() && !ensureTable(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    Transaction change(db);
    if (!Sql::isPlainName(store.wearingTable) || !Sql::isPlainName(store.deviceTable) || !change.begun()) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    Devicedata device;
    if (!Sql::readFirst(Sql::format("select * from %s where id = ? ;", store.deviceTable), {deviceId}, db, device,
                        DeviceRegister::read)) {
        say(refusal, QStringLiteral("设备已被删除"));
        return false;
    }
    return move(db, device, newSlaveId, now, refusal) && change.commit();
}

bool WearPeriods::followAddressChange(int oldSlaveId, int newSlaveId, const QString& now, QString* refusal,
                                      QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (db.isOpen() && !ensureTable(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    Transaction change(db);
    if (!Sql::isPlainName(store.wearingTable) || !Sql::isPlainName(store.deviceTable) || !change.begun()) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    Devicedata device;
    if (!Sql::readFirst(Sql::format("select * from %s where slaveId = ? order by id ;", store.deviceTable),
                        {oldSlaveId}, db, device, DeviceRegister::read)) {
        // Nobody is bound to the dosimeter: there is nothing to carry over,
        // but the address change is recorded all the same.
        if (!AuditLog::write(db, QStringLiteral("setid"), store.deviceTable, QString::number(newSlaveId),
                             QStringLiteral("slaveId: %1 → %2").arg(oldSlaveId).arg(newSlaveId))
            || !change.commit()) {
            say(refusal, QStringLiteral("操作日志无法保存"));
            return false;
        }
        return true;
    }
    return move(db, device, newSlaveId, now, refusal) && change.commit();
}

bool WearPeriods::unbind(int deviceId, const QString& now, QString* refusal, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (db.isOpen() && !ensureTable(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!isHourKey(now)) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    Transaction change(db);
    if (!Sql::isPlainName(store.wearingTable) || !Sql::isPlainName(store.deviceTable) || !change.begun()) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    Devicedata device;
    if (!Sql::readFirst(Sql::format("select * from %s where id = ? ;", store.deviceTable), {deviceId}, db, device,
                        DeviceRegister::read)) {
        say(refusal, QStringLiteral("设备已被删除"));
        return false;
    }
    return closeOpen(db, device.slaveId, device.ID_card, now, refusal)
        && Sql::execCounted(Sql::format("delete from %s where id = ? ;", store.deviceTable), {deviceId}, db) == 1
        && change.commit();
}

bool WearPeriods::assign(int slaveId, const QString& idCard, const QString& from, const QString& to,
                         QString* refusal, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (db.isOpen() && !ensureTable(db)) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    if (!db.isOpen() || !Sql::isPlainName(store.wearingTable) || !Sql::isPlainName(store.staffTable)) {
        say(refusal, QStringLiteral("数据库未打开"));
        return false;
    }
    if (slaveId < 0 || slaveId > 65535) {
        say(refusal, QStringLiteral("设备号无效!"));
        return false;
    }
    if (!isHourKey(from) || !isHourKey(to) || to == TimeKey::kBeginning || !(from < to)) {
        say(refusal, QStringLiteral("结束时间必须晚于开始时间，且都在整点!"));
        return false;
    }
    QString found;
    if (idCard.isEmpty()
        || !Sql::firstText(Sql::format("select id from %s where ID_card = ? ;", store.staffTable), {idCard}, db,
                           found)) {
        say(refusal, QStringLiteral("没有身份证号为 %1 的人员!").arg(idCard));
        return false;
    }
    Transaction change(db);
    if (!change.begun()) {
        say(refusal, QStringLiteral("数据库忙"));
        return false;
    }
    const QString clash = collision(db, slaveId, idCard, from, to);
    if (!clash.isEmpty()) {
        say(refusal, clash);
        return false;
    }
    if (!Sql::exec(Sql::format("insert into %s(slaveId,ID_card,startTime,endTime) values(?,?,?,?);",
                               store.wearingTable),
                   {slaveId, idCard, from, to}, db)
        || !change.commit()) {
        say(refusal, QStringLiteral("佩戴记录无法保存"));
        return false;
    }
    return true;
}

bool WearPeriods::ensureTable(const QSqlDatabase& db)
{
    const QString& w = store.wearingTable;
    if (!Sql::isPlainName(w))
        return false;
    if (Dialect::hasTable(db, w))
        return !db.isOpen() || AuditLog::watch(db);
    // Who wore which dosimeter when; an existing file gains the table here.
    QSqlQuery q(db);
    if (!q.exec(Dialect::createTable(db, Sql::format("CREATE TABLE IF NOT EXISTS %s (id INTEGER PRIMARY KEY, "
                                                        "slaveId integer, ID_card varchar, startTime varchar, "
                                                        "endTime varchar);",
                                                        w)))
        || !q.exec(Sql::format("CREATE INDEX IF NOT EXISTS idx_%s_slaveId_startTime ON %s(slaveId, startTime);", w, w))
        || !q.exec(Sql::format("CREATE INDEX IF NOT EXISTS idx_%s_ID_card ON %s(ID_card);", w, w)))
        return false;
    return !db.isOpen() || AuditLog::watch(db);
}

bool WearPeriods::layOut(const QSqlDatabase& db)
{
    if (!db.isOpen() || !Sql::isPlainName(store.wearingTable))
        return false;
    // A register without devices has no periods to keep yet: the table comes
    // with the first binding, and a fresh file holds the seven tables only. A
    // shared store has it from the start: its stations may not make tables.
    QString devices;
    if (!Dialect::hasTable(db, store.wearingTable) && !store.isShared()
        && (!Sql::firstText(Sql::format("select count(*) from %s ;", store.deviceTable), {}, db, devices)
            || devices.toInt() == 0))
        return true;
    return ensureTable(db) && giveToOldDevices(db);
}

// A database from before the wear periods: every device gets one open
// period from the beginning, so that its readings stay with today's wearer.
// An address (or an ID card) bound twice goes to the row of the lowest id;
// the others are logged. Periods that overlap (written by hand) are logged
// once here; the attribution gives such hours to the period started last.
bool WearPeriods::giveToOldDevices(const QSqlDatabase& db)
{
    const QString& w = store.wearingTable;
    QString periods;
    if (Sql::firstText(Sql::format("select count(*) from %s ;", w), {}, db, periods) && periods.toInt() == 0) {
        QList<Devicedata> rows;
        Sql::readAll(Sql::format("select id, slaveId, ID_card, '' from %s order by id ;", store.deviceTable), {}, db,
                     rows, DeviceRegister::read);
        if (!rows.isEmpty()) {
            QSet<int> addresses;
            QSet<QString> cards;
            Transaction change(db);
            bool ok = change.begun();
            for (const Devicedata& d : qAsConst(rows)) {
                if (addresses.contains(d.slaveId) || cards.contains(d.ID_card)) {
                    qWarning().noquote() << "wear periods: device row" << d.id << "(address" << d.slaveId
                                         << ", ID card" << d.ID_card
                                         << ") conflicts with an earlier binding and gets no period";
                    continue;
                }
                addresses.insert(d.slaveId);
                cards.insert(d.ID_card);
                ok = ok
                    && Sql::exec(Sql::format("insert into %s(slaveId,ID_card,startTime,endTime) values(?,?,?,'');", w),
                                 {d.slaveId, d.ID_card, TimeKey::kBeginning}, db);
            }
            if (!ok || !change.commit())
                return false;
        }
    }
    QSqlQuery overlap(db);
    overlap.setForwardOnly(true);
    if (overlap.exec(Sql::format("select a.id, b.id, a.slaveId from %s a, %s b where a.slaveId = b.slaveId and a.id < b.id "
                                 "and (b.endTime = '' or a.startTime < b.endTime) "
                                 "and (a.endTime = '' or b.startTime < a.endTime) limit 1;",
                                 w, w))
        && overlap.next()) {
        qWarning().noquote() << "wear periods" << overlap.value(0).toInt() << "and" << overlap.value(1).toInt()
                             << "of address" << overlap.value(2).toInt()
                             << "overlap; each hour goes to the period that started later";
    }
    return true;
}
