#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QObject>
#include <QSqlQuery>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "core/register/Departdata.h"
#include "core/store/Store.h"
#include "core/store/StoreConfig.h"
#include "core/dose/DoseAlertdata.h"
#include "core/register/Devicedata.h"
#include "core/readings/Realdata.h"
#include "core/register/Staffdata.h"
#include "core/wear/Wearingdata.h"
#include "core/readings/totaldata_mon.h"
#include "core/readings/totaldata_seqyear.h"
#include "core/readings/totaldata_year.h"

// The register, as one object: the store (connections, the lock) and every
// operation on the register's tables, each delegating to the part of core
// that does the job. Every component works through a named connection of its
// own and hands it to the operations below; all data operations run under
// one process-wide lock, so at most one statement of the program runs at a
// time. Failures never travel as text: false, 0, an empty list or an
// untouched output record.
class DataBase : public Store
{
    Q_OBJECT

public:
    explicit DataBase(QObject* parent = nullptr);
    // The same on another file than "database.db" of the working directory.
    explicit DataBase(const QString& fileName, QObject* parent = nullptr);
    // The same on the store of the settings (an SQLite file or a
    // PostgreSQL database).
    explicit DataBase(const StoreConfig& store, QObject* parent = nullptr);
    ~DataBase() override;

    // Schema: the seven tables, then the indexes the lookups need, and the
    // audit trail's triggers; an SQLite file is switched to write-ahead
    // logging first. On a shared store opened with a station's role (not
    // the database's owner) nothing is made: false when the layout is
    // incomplete, and missingLayout() says what is missing.
    bool createTables();
    QStringList missingLayout() const { return lacking; }
    // The tables added since (the wear periods, "Wearing") with their
    // indexes; run after createTables on every start, harmless when they
    // exist. A database with devices but no periods gets one open period per
    // device from "00000000000000", so its readings stay with today's
    // wearer.
    bool createAddedTables();
    // The table of wear periods and its indexes, when missing.
    bool ensureWearingTable(QSqlDatabase db);

    // Staff, departments, devices.
    bool insertStaff(const Staffdata& data, QSqlDatabase db);
    bool updateStaff(const Staffdata& data, QSqlDatabase db);
    bool selectStaffById(Staffdata& data, int id, QSqlDatabase db);
    bool selectStaffByIdCard(Staffdata& data, const QString& idCard, QSqlDatabase db);
    bool selectStaffByDepartment(QList<Staffdata>& list, const QString& department, QSqlDatabase db);
    bool insertDepartment(const Departdata& data, QSqlDatabase db);
    bool updateDepartment(const Departdata& data, QSqlDatabase db);
    bool selectDepartmentById(Departdata& data, int id, QSqlDatabase db);
    bool selectAllDepartments(QList<Departdata>& list, QSqlDatabase db);
    bool insertDevice(const Devicedata& data, QSqlDatabase db);
    bool updateDevice(const Devicedata& data, QSqlDatabase db);
    bool selectDeviceById(Devicedata& data, int id, QSqlDatabase db);
    bool selectDeviceBySlaveId(Devicedata& data, int slaveId, QSqlDatabase db);
    bool selectDeviceByIdCard(Devicedata& data, const QString& idCard, QSqlDatabase db);

    // Register changes that touch more than one table; each runs in one
    // transaction on db and leaves nothing behind when any step fails.
    // The department of that name (the first one should names repeat).
    bool selectDepartmentByName(Departdata& data, const QString& name, QSqlDatabase db);
    // Updates person data.id; when the ID card changes, the person's device
    // binding follows to the new card. False (nothing changed) when the row
    // is gone, or when the new card already has a device while the person
    // brings one along: a card must never end up with two devices.
    bool updateStaffAndDevice(const Staffdata& data, QSqlDatabase db);
    // Updates department data.id; a rename also renames the department of
    // its staff. False (nothing changed) when the row is gone.
    bool updateDepartmentAndStaff(const Departdata& data, QSqlDatabase db);

    // Dose readings and totals. Kinds: 0 Realdata, 1 Monthdata, 2 Yeardata, 3 SeqYeardata.
    bool insertRealdata(const Realdata& data, QSqlDatabase db);
    bool selectRealdataByTime(Realdata& data, const QString& dataTime, int slaveId, QSqlDatabase db);
    bool insertMonthdata(const totaldata_mon& data, QSqlDatabase db);
    bool updateMonthdata(const totaldata_mon& data, QSqlDatabase db);
    bool insertYeardata(const totaldata_year& data, QSqlDatabase db);
    bool updateYeardata(const totaldata_year& data, QSqlDatabase db);
    bool selectDataByTime(int kind, QList<QVariant>& list, int slaveId, const QString& begin,
                          const QString& end, QSqlDatabase db);
    bool deleteDataBySlaveId(int kind, int slaveId, const QString& unused1, const QString& unused2,
                             QSqlDatabase db);

    // Wear periods. Times are keys "yyyyMMddhhmmss"; "now" is the start of
    // the current hour, handed in by the caller. Every change below runs in
    // one transaction with the Device row it belongs to; on a refusal
    // nothing is written and refusal (when given) says why, in words for
    // the operator.
    bool selectWearingBySlaveId(QList<Wearingdata>& list, int slaveId, QSqlDatabase db);
    bool selectWearingByIdCard(QList<Wearingdata>& list, const QString& idCard, QSqlDatabase db);
    // True when two periods of one address cover the same hour (only a
    // hand-written database has them).
    bool hasOverlappingPeriods(QSqlDatabase db);
    // Hourly readings of an address with from <= dataTime < toExclusive; -1
    // when the count fails.
    int countReadings(int slaveId, const QString& from, const QString& toExclusive, QSqlDatabase db);
    // The first and the last key of an address's hourly readings with from
    // <= dataTime < toExclusive: 1 when there are any, 0 when none, -1 when
    // they cannot be read.
    int readingRange(int slaveId, const QString& from, const QString& toExclusive, QString& first, QString& last,
                     QSqlDatabase db);
    // 添加: the Device row and a period from now, or from "00000000000000"
    // when the address never had one (from the end of the person's last
    // period if they wore another dosimeter before).
    bool addDeviceBinding(const Devicedata& device, const QString& now, QString* refusal, QSqlDatabase db);
    // 修改: the device's open period closes at now, the same person's opens
    // on the new address.
    bool changeDeviceAddress(int deviceId, int newSlaveId, const QString& now, QString* refusal,
                             QSqlDatabase db);
    // 删除: the period closes at now and the Device row goes.
    bool removeDeviceBinding(int deviceId, const QString& now, QString* refusal, QSqlDatabase db);
    // A dosimeter took a new bus address: its Device row and its wearer's
    // period follow. True with nothing changed when no row names oldSlaveId.
    bool followAddressChange(int oldSlaveId, int newSlaveId, const QString& now, QString* refusal,
                             QSqlDatabase db);
    // 分配读数: a closed period [from, to) of the address for idCard.
    bool assignReadings(int slaveId, const QString& idCard, const QString& from, const QString& to,
                        QString* refusal, QSqlDatabase db);
    // Deletes the person, their periods and the readings and totals those
    // periods cover; totals of days and months only partly covered are
    // summed anew from what stays.
    bool deleteStaffWithHistory(int staffId, QSqlDatabase db);

    // Every person (of one department when it is not empty) without the
    // photo, ordered by department, then by id.
    bool selectStaffForStatus(QList<Staffdata>& list, const QString& department, QSqlDatabase db);

    // The dose policy (table "DosePolicy"): every stored row, name -> value as stored.
    bool selectPolicy(QMap<QString, QVariant>& rows, QSqlDatabase db);
    // Writes (inserts or replaces) every row in one transaction.
    bool updatePolicy(const QList<QPair<QString, double>>& rows, QSqlDatabase db);

    // Alerts (table "DoseAlert"). An alert of a person, level and period is
    // stored once: 1 when inserted, 0 when it existed already, -1 on failure.
    int insertAlertOnce(const DoseAlertdata& alert, QSqlDatabase db);
    // Newest first; only those not yet acknowledged when unackedOnly.
    bool selectAlerts(QList<DoseAlertdata>& list, bool unackedOnly, QSqlDatabase db);
    // Acknowledges alert id unless it was acknowledged before; true when it
    // was changed now.
    bool acknowledgeAlert(int id, const QString& ackAt, const QString& ackBy, const QString& comment,
                          QSqlDatabase db);

    // The audit trail: one row of an operation that is no row change of the
    // register (a cleared dosimeter, a backup); the rows with from <= at < to
    // ("yyyy-MM-dd hh:mm:ss"), of one action when given, holding text when
    // given, newest first: at, actor, action, tableName, rowKey, detail.
    bool recordAudit(const QString& action, const QString& tableName, const QString& rowKey, const QString& detail,
                     QSqlDatabase db);
    bool selectAuditLog(QList<QStringList>& rows, const QString& from, const QString& to, const QString& action,
                        const QString& text, QSqlDatabase db);

private:
    // Set by createTables: the store is laid out by another role, and what
    // it lacks.
    bool station = false;
    QStringList lacking;

};
