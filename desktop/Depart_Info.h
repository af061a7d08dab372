#pragma once

#include <QString>

// Identifies one person of the main window's tree: the row under its
// department item, the ID card (the key into the database), the department
// text, the staff type and the stored total.
struct Depart_Info
{
    int index = -1;
    QString ID_card;
    QString department;
    int ptype = -1;
    double totalValue = -1.0;
};
