#pragma once

// One row of the table "PassiveResult": a laboratory's result for a person's passive dosimeter over a period,
// with the import it came in, the import that replaced it and the closing of its reconciliation flag.

#include <QString>

struct PassiveResultdata
{
    int id = 0;
    QString ID_card;
    QString name; // of the person, where a listing joins it
    QString periodStart; // "yyyyMMdd", included
    QString periodEnd;   // "yyyyMMdd", included
    bool hasHp10 = false;
    double hp10_uSv = 0;
    bool hasHp007 = false;
    double hp007_uSv = 0;
    QString code; // "M", "not_returned", "unused" or empty
    int importId = 0;
    int line = 0;        // the row's line in the imported file
    int replacedBy = 0;  // the import that replaced it; 0 while it counts
    QString closedBy;    // the reconciliation flag's closing
    QString closedAt;
    QString closeComment;
};
