#pragma once

// What the add-person and modify-person dialogs share.

#include <QComboBox>
#include <QString>

#include "core/register/Staffdata.h"

class QByteArray;
class QFile;
class QWidget;

// What adding and modifying a person have in common: the same fields on two
// forms and the photo file.
class StaffForm
{
public:
    // Copies what the form shows into person. Both forms name their fields
    // alike but for the type box, so that one is passed.
    template <class Form>
    static void read(const Form& ui, const QComboBox* type, Staffdata& person)
    {
        person.ID_card = ui.Id_card->text();
        person.name = ui.Name->text();
        person.gender = ui.Gender->currentText();
        person.ptype = type->currentIndex();
        person.department = ui.Depart->currentText();
        person.teleNo = ui.Teleno->text();
        person.adress = ui.Adress->text();
    }

    // Asks for a photo file through AddStaff::imageChooser (empty: none).
    static QString choosePhoto(QWidget* parent);
    // Puts the file at path into bytes; without a path or a readable file
    // bytes keeps what it had.
    static bool readPhoto(const QString& path, QFile& file, QByteArray& bytes);
};
