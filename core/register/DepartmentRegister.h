#pragma once

// The departments of the register (table "Department"). The staff name
// their department by its text, so a rename takes them along.

#include <QList>
#include <QSqlDatabase>
#include <QString>

#include "core/register/Departdata.h"

class Store;

class DepartmentRegister
{
public:
    explicit DepartmentRegister(Store& store);

    bool insert(const Departdata& data, QSqlDatabase db);
    bool update(const Departdata& data, QSqlDatabase db);
    bool selectById(Departdata& data, int id, QSqlDatabase db);
    bool selectAll(QList<Departdata>& list, QSqlDatabase db);
    // The department of that name (the first one should names repeat).
    bool selectByName(Departdata& data, const QString& name, QSqlDatabase db);
    // Updates department data.id; a rename also renames the department of
    // its staff. False (nothing changed) when the row is gone.
    bool updateWithStaff(const Departdata& data, QSqlDatabase db);

private:
    Store& store;
};
