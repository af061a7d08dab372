#pragma once

// The departments of the register (table "Department"). The staff name
// their department by its text, so a rename takes them along.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include "core/register/Departdata.h"

class Store;

class DepartmentRegister
{
public:
    explicit DepartmentRegister(Store& store);

    bool insert(const Departdata& data, QSqlDatabase db);
    bool update(const Departdata& data, QSqlDatabase db);
    bool selectById(Departdata& data, int id, QSqlDatabase db);
    // Every department in id order.
    bool selectAll(QList<Departdata>& list, QSqlDatabase db);
    // The department table the officer browses: id, name and head of the
    // departments whose name contains nameFilter (all when empty), the
    // filter appended to values.
    static QString listStatement(const QString& nameFilter, QVariantList* values);
    // The department of that name (the first one should names repeat).
    bool selectByName(Departdata& data, const QString& name, QSqlDatabase db);
    // Updates department data.id; a rename also renames the department of
    // its staff. False (nothing changed) when the row is gone.
    bool updateWithStaff(const Departdata& data, QSqlDatabase db);

private:
    Store& store;
};
