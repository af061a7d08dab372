#pragma once

#include <QString>

// One row of the table "Wearing": who wore the dosimeter at an address, from
// startTime (included) to endTime (not included; empty while still worn).
// Both are keys "yyyyMMddhhmmss" at a whole hour.
struct Wearingdata
{
    int id = 0;
    int slaveId = 0;
    QString ID_card;
    QString startTime;
    QString endTime;
};
