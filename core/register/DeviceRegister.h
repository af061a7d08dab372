#pragma once

// The dosimeter bindings of the register (table "Device"): a bus address
// bound to a person's ID card. Binding and unbinding with their wear periods
// are the wear periods' job (WearPeriods); these are the plain rows.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include "core/register/Devicedata.h"

class Store;

class DeviceRegister
{
public:
    explicit DeviceRegister(Store& store);

    bool insert(const Devicedata& data, QSqlDatabase db);
    bool update(const Devicedata& data, QSqlDatabase db);
    bool selectById(Devicedata& data, int id, QSqlDatabase db);
    bool selectBySlaveId(Devicedata& data, int slaveId, QSqlDatabase db);
    bool selectByIdCard(Devicedata& data, const QString& idCard, QSqlDatabase db);

    // The dosimeter table the officer browses: id, address, ID card and the
    // wearer's name of the bindings, of one address when addressFilter is
    // not empty (a text that is no whole number matches none), the filter
    // appended to values.
    static QString listStatement(const QString& addressFilter, QVariantList* values);

    // The row as "select *" gives it.
    static void read(const QSqlQuery& q, Devicedata& d);

private:
    Store& store;
};
