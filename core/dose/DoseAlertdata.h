#pragma once

#include <QString>

// One row of the table "DoseAlert": a level a person reached in a period,
// and the officer's acknowledgement of it (empty until acknowledged).
struct DoseAlertdata
{
    int id = 0;
    QString ID_card;
    QString level;     // investigate, warning or limit
    QString periodKey; // "yyyyQn" or "yyyy"
    double dose = 0;
    double threshold = 0;
    QString raisedAt;  // "yyyyMMddhhmmss"
    QString ackAt;
    QString ackBy;
    QString comment;
};
