#pragma once

#include <QString>

// One row of the table "Department": the department's name and its head.
struct Departdata
{
    int id = 0;
    QString department;
    QString dname;
};
