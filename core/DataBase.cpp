// The facade: each operation hands its job to the part of core that does it.

#include "core/DataBase.h"

#include <QMutexLocker>

#include "core/audit/AuditLog.h"
#include "core/dose/AdjustmentStore.h"
#include "core/readings/PassiveStore.h"
#include "core/dose/AlertStore.h"
#include "core/dose/PolicyStore.h"
#include "core/readings/ReadingStore.h"
#include "core/register/DepartmentRegister.h"
#include "core/register/DeviceRegister.h"
#include "core/register/StaffRegister.h"
#include "core/store/Dialect.h"
#include "core/store/Schema.h"
#include "core/store/StoreSchema.h"
#include "core/wear/StaffRemoval.h"
#include "core/wear/WearPeriods.h"

DataBase::DataBase(QObject* parent)
    : DataBase(StoreConfig(), parent)
{
}

DataBase::DataBase(const QString& fileName, QObject* parent)
    : DataBase(StoreConfig::file(fileName), parent)
{
}

DataBase::DataBase(const StoreConfig& store, QObject* parent)
    : Store(store, parent)
{
    ReadingStore::registerTypes();
}

DataBase::~DataBase() = default;

bool DataBase::createTables()
{
    QMutexLocker lock(&dataLock());
    // Without a file nothing was laid out; saying so beats a silent true.
    lacking.clear();
    const QSqlDatabase db = defaultConnection();
    if (!db.isOpen())
        return false;
    // A station of a shared store may not make tables or triggers: it finds
    // them made by the store's owner, or says what is missing.
    station = !StoreSchema::mayLayOut(db);
    if (station) {
        lacking = StoreSchema::missing(db,
                                       {deviceTable, realdataTable, monthdataTable, yeardataTable, seqYeardataTable,
                                        staffTable, departmentTable, QStringLiteral("DosePolicy"),
                                        QStringLiteral("DoseAlert"), QStringLiteral("AuditLog"), wearingTable,
                                        QLatin1String(AdjustmentStore::kTable),
                                        QLatin1String(PassiveStore::kImports), QLatin1String(PassiveStore::kResults)},
                                       {realdataTable, monthdataTable, yeardataTable});
        // With the tables there, the audit trail's triggers ("触发器 X").
        if (lacking.isEmpty()) {
            for (const QString& t : AuditLog::lacking(db))
                lacking << QStringLiteral("触发器 ") + t;
            // The guards that keep settled adjustments as they are.
            QHash<QString, QString> kept;
            if (!Dialect::triggers(db, QString(), kept))
                lacking << QStringLiteral("（无法读取触发器）");
            for (const QString& t : AdjustmentStore::guardNames(db) + PassiveStore::guardNames(db)) {
                if (!kept.contains(t.toLower()))
                    lacking << QStringLiteral("触发器 ") + t;
            }
        }
        return lacking.isEmpty();
    }
    // The seven tables, then those added since (an older file gains them on
    // its next start); the policy's defaults once the trail is there to sign
    // them. The triggers that record the register's changes belong to the
    // tables; an older store gains them here, and those of an earlier
    // version are made anew.
    PolicyStore policy(*this);
    return Schema(*this).layOut(db) && policy.createTable(db) && AlertStore(*this).layOut(db) && AuditLog::layOut(db)
        && AdjustmentStore(*this).layOut(db) && PassiveStore(*this).layOut(db) && policy.addDefaults(db) && AuditLog::watch(db, true);
}

bool DataBase::createAddedTables()
{
    QMutexLocker lock(&dataLock());
    // The owner of a shared store made the tables; createTables checked them.
    if (station)
        return lacking.isEmpty();
    return WearPeriods(*this).layOut(defaultConnection());
}

bool DataBase::ensureWearingTable(QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    return db.isOpen() && WearPeriods(*this).ensureTable(db);
}

bool DataBase::insertStaff(const Staffdata& data, QSqlDatabase db)
{
    return StaffRegister(*this).insert(data, db);
}

bool DataBase::updateStaff(const Staffdata& data, QSqlDatabase db)
{
    return StaffRegister(*this).update(data, db);
}

bool DataBase::selectStaffById(Staffdata& data, int id, QSqlDatabase db)
{
    return StaffRegister(*this).selectById(data, id, db);
}

bool DataBase::selectStaffByIdCard(Staffdata& data, const QString& idCard, QSqlDatabase db)
{
    return StaffRegister(*this).selectByIdCard(data, idCard, db);
}

bool DataBase::selectStaffByDepartment(QList<Staffdata>& list, const QString& department, QSqlDatabase db)
{
    return StaffRegister(*this).selectByDepartment(list, department, db);
}

bool DataBase::insertDepartment(const Departdata& data, QSqlDatabase db)
{
    return DepartmentRegister(*this).insert(data, db);
}

bool DataBase::updateDepartment(const Departdata& data, QSqlDatabase db)
{
    return DepartmentRegister(*this).update(data, db);
}

bool DataBase::selectDepartmentById(Departdata& data, int id, QSqlDatabase db)
{
    return DepartmentRegister(*this).selectById(data, id, db);
}

bool DataBase::selectAllDepartments(QList<Departdata>& list, QSqlDatabase db)
{
    return DepartmentRegister(*this).selectAll(list, db);
}

bool DataBase::insertDevice(const Devicedata& data, QSqlDatabase db)
{
    return DeviceRegister(*this).insert(data, db);
}

bool DataBase::updateDevice(const Devicedata& data, QSqlDatabase db)
{
    return DeviceRegister(*this).update(data, db);
}

bool DataBase::selectDeviceById(Devicedata& data, int id, QSqlDatabase db)
{
    return DeviceRegister(*this).selectById(data, id, db);
}

bool DataBase::selectDeviceBySlaveId(Devicedata& data, int slaveId, QSqlDatabase db)
{
    return DeviceRegister(*this).selectBySlaveId(data, slaveId, db);
}

bool DataBase::selectDeviceByIdCard(Devicedata& data, const QString& idCard, QSqlDatabase db)
{
    return DeviceRegister(*this).selectByIdCard(data, idCard, db);
}

bool DataBase::insertRealdata(const Realdata& data, QSqlDatabase db)
{
    return ReadingStore(*this).insertRealdata(data, db);
}

bool DataBase::selectRealdataByTime(Realdata& data, const QString& dataTime, int slaveId, QSqlDatabase db)
{
    return ReadingStore(*this).selectRealdataByTime(data, dataTime, slaveId, db);
}

bool DataBase::insertMonthdata(const totaldata_mon& data, QSqlDatabase db)
{
    return ReadingStore(*this).insertMonthdata(data, db);
}

bool DataBase::updateMonthdata(const totaldata_mon& data, QSqlDatabase db)
{
    return ReadingStore(*this).updateMonthdata(data, db);
}

bool DataBase::insertYeardata(const totaldata_year& data, QSqlDatabase db)
{
    return ReadingStore(*this).insertYeardata(data, db);
}

bool DataBase::updateYeardata(const totaldata_year& data, QSqlDatabase db)
{
    return ReadingStore(*this).updateYeardata(data, db);
}

bool DataBase::selectDataByTime(int kind, QList<QVariant>& list, int slaveId, const QString& begin,
                                const QString& end, QSqlDatabase db)
{
    return ReadingStore(*this).selectDataByTime(kind, list, slaveId, begin, end, db);
}

bool DataBase::deleteDataBySlaveId(int kind, int slaveId, const QString& unused1, const QString& unused2,
                                   QSqlDatabase db)
{
    return ReadingStore(*this).deleteDataBySlaveId(kind, slaveId, unused1, unused2, db);
}

bool DataBase::selectDepartmentByName(Departdata& data, const QString& name, QSqlDatabase db)
{
    return DepartmentRegister(*this).selectByName(data, name, db);
}

bool DataBase::updateStaffAndDevice(const Staffdata& data, QSqlDatabase db)
{
    return StaffRegister(*this).updateWithDevice(data, db);
}

bool DataBase::updateDepartmentAndStaff(const Departdata& data, QSqlDatabase db)
{
    return DepartmentRegister(*this).updateWithStaff(data, db);
}

bool DataBase::selectWearingBySlaveId(QList<Wearingdata>& list, int slaveId, QSqlDatabase db)
{
    return WearPeriods(*this).selectBySlaveId(list, slaveId, db);
}

bool DataBase::selectWearingByIdCard(QList<Wearingdata>& list, const QString& idCard, QSqlDatabase db)
{
    return WearPeriods(*this).selectByIdCard(list, idCard, db);
}

bool DataBase::hasOverlappingPeriods(QSqlDatabase db)
{
    return WearPeriods(*this).hasOverlapping(db);
}

int DataBase::countReadings(int slaveId, const QString& from, const QString& toExclusive, QSqlDatabase db)
{
    return ReadingStore(*this).countReadings(slaveId, from, toExclusive, db);
}

int DataBase::readingRange(int slaveId, const QString& from, const QString& toExclusive, QString& first,
                           QString& last, QSqlDatabase db)
{
    return ReadingStore(*this).readingRange(slaveId, from, toExclusive, first, last, db);
}

bool DataBase::addDeviceBinding(const Devicedata& device, const QString& now, QString* refusal, QSqlDatabase db)
{
    return WearPeriods(*this).bind(device, now, refusal, db);
}

bool DataBase::changeDeviceAddress(int deviceId, int newSlaveId, const QString& now, QString* refusal,
                                   QSqlDatabase db)
{
    return WearPeriods(*this).changeAddress(deviceId, newSlaveId, now, refusal, db);
}

bool DataBase::followAddressChange(int oldSlaveId, int newSlaveId, const QString& now, QString* refusal,
                                   QSqlDatabase db)
{
    return WearPeriods(*this).followAddressChange(oldSlaveId, newSlaveId, now, refusal, db);
}

bool DataBase::removeDeviceBinding(int deviceId, const QString& now, QString* refusal, QSqlDatabase db)
{
    return WearPeriods(*this).unbind(deviceId, now, refusal, db);
}

bool DataBase::assignReadings(int slaveId, const QString& idCard, const QString& from, const QString& to,
                              QString* refusal, QSqlDatabase db)
{
    return WearPeriods(*this).assign(slaveId, idCard, from, to, refusal, db);
}

bool DataBase::deleteStaffWithHistory(int staffId, QSqlDatabase db)
{
    return StaffRemoval(*this).removeWithHistory(staffId, db);
}

bool DataBase::selectStaffForStatus(QList<Staffdata>& list, const QString& department, QSqlDatabase db)
{
    return StaffRegister(*this).selectForStatus(list, department, db);
}

bool DataBase::selectPolicy(QMap<QString, QVariant>& rows, QSqlDatabase db)
{
    return PolicyStore(*this).select(rows, db);
}

bool DataBase::updatePolicy(const QList<QPair<QString, double>>& rows, QSqlDatabase db)
{
    return PolicyStore(*this).update(rows, db);
}

int DataBase::insertAlertOnce(const DoseAlertdata& alert, QSqlDatabase db)
{
    return AlertStore(*this).insertOnce(alert, db);
}

bool DataBase::selectAlerts(QList<DoseAlertdata>& list, bool unackedOnly, QSqlDatabase db)
{
    return AlertStore(*this).select(list, unackedOnly, db);
}

bool DataBase::acknowledgeAlert(int id, const QString& ackAt, const QString& ackBy, const QString& comment,
                                QSqlDatabase db)
{
    return AlertStore(*this).acknowledge(id, ackAt, ackBy, comment, db);
}

bool DataBase::recordAudit(const QString& action, const QString& tableName, const QString& rowKey,
                           const QString& detail, QSqlDatabase db)
{
    return AuditLog::record(db, action, tableName, rowKey, detail);
}

bool DataBase::selectAuditLog(QList<QStringList>& rows, const QString& from, const QString& to, const QString& action,
                              const QString& text, QSqlDatabase db)
{
    return AuditLog::select(rows, from, to, action, text, db);
}
