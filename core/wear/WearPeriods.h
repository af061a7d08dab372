#pragma once

// Who wore which dosimeter when (table "Wearing": address, ID card, start,
// end; keys "yyyyMMddhhmmss", an open period ends ""). Binding, moving and
// unbinding a dosimeter change its Device row and its periods in one
// transaction; a refusal writes nothing and says why, in words for the
// operator. "now" is the start of the current hour, handed in by the caller.

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "core/register/Devicedata.h"
#include "core/wear/Wearingdata.h"

class Store;

class WearPeriods
{
public:
    explicit WearPeriods(Store& store);

    bool selectBySlaveId(QList<Wearingdata>& list, int slaveId, QSqlDatabase db);
    bool selectByIdCard(QList<Wearingdata>& list, const QString& idCard, QSqlDatabase db);
    // True when two periods of one address cover the same hour (only a
    // hand-written database has them).
    bool hasOverlapping(QSqlDatabase db);

    // 添加: the Device row and a period from now, or from "00000000000000"
    // when the address never had one (from the end of the person's last
    // period if they wore another dosimeter before).
    bool bind(const Devicedata& device, const QString& now, QString* refusal, QSqlDatabase db);
    // 修改: the device's open period closes at now, the same person's opens
    // on the new address.
    bool changeAddress(int deviceId, int newSlaveId, const QString& now, QString* refusal, QSqlDatabase db);
    // A dosimeter took a new bus address: its Device row and its wearer's
    // period follow. True with nothing changed when no row names oldSlaveId.
    bool followAddressChange(int oldSlaveId, int newSlaveId, const QString& now, QString* refusal, QSqlDatabase db);
    // 删除: the period closes at now and the Device row goes.
    bool unbind(int deviceId, const QString& now, QString* refusal, QSqlDatabase db);
    // 分配读数: a closed period [from, to) of the address for idCard.
    bool assign(int slaveId, const QString& idCard, const QString& from, const QString& to, QString* refusal,
                QSqlDatabase db);

    // The table and its indexes, when missing (an older file gains it here).
    bool ensureTable(const QSqlDatabase& db);
    // At start-up: the table where the register has dosimeters (a shared
    // store has it from the start), and for a database from before the wear
    // periods one open period from the beginning per dosimeter, so that its
    // readings stay with today's wearer.
    bool layOut(const QSqlDatabase& db);

    // A row of "select id, slaveId, ID_card, startTime, endTime".
    static void read(const QSqlQuery& q, Wearingdata& w);

private:
    // The parts of a change; they run with the lock held inside the caller's
    // transaction.
    QString collision(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& start,
                      const QString& end);
    bool closeOpen(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& now, QString* refusal);
    bool open(const QSqlDatabase& db, int slaveId, const QString& idCard, const QString& start, QString* refusal);
    bool move(const QSqlDatabase& db, const Devicedata& device, int newSlaveId, const QString& now, QString* refusal);
    bool readPeriods(const QString& where, const QVariant& key, const QSqlDatabase& db, QList<Wearingdata>& list);
    bool giveToOldDevices(const QSqlDatabase& db);
    // True with an empty list when the register has neither periods nor
    // dosimeters yet.
    bool noPeriodsYet(const QSqlDatabase& db, QList<Wearingdata>& list);

    Store& store;
};
