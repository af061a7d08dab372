#pragma once

// The staff of the register (table "Staff"): reading, adding and changing
// people. A change of a person's ID card takes their dosimeter binding and
// wear periods along, in the same transaction.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include "core/register/Staffdata.h"

class Store;

class StaffRegister
{
public:
    explicit StaffRegister(Store& store);

    bool insert(const Staffdata& data, QSqlDatabase db);
    bool update(const Staffdata& data, QSqlDatabase db);
    bool selectById(Staffdata& data, int id, QSqlDatabase db);
    bool selectByIdCard(Staffdata& data, const QString& idCard, QSqlDatabase db);
    bool selectByDepartment(QList<Staffdata>& list, const QString& department, QSqlDatabase db);
    // Every person (of one department when it is not empty) without the
    // photo, ordered by department, then by id.
    bool selectForStatus(QList<Staffdata>& list, const QString& department, QSqlDatabase db);
    // Every person without the photo in id order: the people to pick from.
    bool selectAll(QList<Staffdata>& list, QSqlDatabase db);
    // The staff table the officer browses: id, ID card, name, gender,
    // department, telephone and address of the people whose name contains
    // nameFilter (everyone when empty), the filter appended to values.
    static QString listStatement(const QString& nameFilter, QVariantList* values);
    // Updates person data.id; when the ID card changes, the person's device
    // binding and wear periods follow to the new card. False (nothing
    // changed) when the row is gone, or when the new card already has a
    // device while the person brings one along: a card must never end up
    // with two devices.
    bool updateWithDevice(const Staffdata& data, QSqlDatabase db);

private:
    Store& store;
};
