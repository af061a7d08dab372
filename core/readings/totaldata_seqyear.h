#pragma once

#include <QMetaType>
#include <QString>

// One row of the table "SeqYeardata".
struct totaldata_seqyear
{
    int id = 0;
    int slaveId = 0;
    QString ID_card;
    QString dataTime;
    double probeValue = 0.0;
};

Q_DECLARE_METATYPE(totaldata_seqyear)
