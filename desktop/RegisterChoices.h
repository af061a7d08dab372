#pragma once

// Fills the pickers of the register dialogs with what the register holds:
// the departments to put a person in, the ID cards to bind or search.

#include <QSqlDatabase>
#include <QString>

class DataBase;
class QComboBox;

class RegisterChoices
{
public:
    // Each opens the connection, reads and closes it, and puts the names in
    // box in place of what it held. When the register cannot be read it
    // says so in a message box over box's window and returns false: an
    // empty picker must not pass for an empty register.
    static bool departments(QComboBox* box, DataBase* database, const QString& connName, const QSqlDatabase& db);
    // The cards' items show the person's name beside the card and hold the
    // card as their value: card(box) reads it.
    static bool cards(QComboBox* box, DataBase* database, const QString& connName, const QSqlDatabase& db);
    static QString card(const QComboBox* box);
};
