#pragma once

#include <QString>

// One row of the table "Device": a dosimeter's bus address bound to a person.
struct Devicedata
{
    int id = 0;
    int slaveId = 0;
    QString ID_card;
    QString dataTime;
};
