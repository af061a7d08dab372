#pragma once

#include <QByteArray>
#include <QString>

// One row of the table "Staff". totalValue stands between ptype and
// department in the table; the record keeps it last.
struct Staffdata
{
    int id = 0;
    QString ID_card;
    QString name;
    QString gender;
    int ptype = 0;
    QString department;
    QString teleNo;
    QString adress;
    QByteArray photo;
    double totalValue = 0.0;
};
