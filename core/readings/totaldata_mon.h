#pragma once

#include <QMetaType>
#include <QString>

// One row of the table "Monthdata".
struct totaldata_mon
{
    int id = 0;
    int slaveId = 0;
    QString dataTime;
    double probeValue = 0.0;
};

Q_DECLARE_METATYPE(totaldata_mon)
