#pragma once

#include <QString>

// One row of the synchronisation dialog's table: the device that answered
// and the port it answered on.
struct DevRow
{
    int devId = -1;     // bus address shown in the address column
    QString comName;    // port name
};
