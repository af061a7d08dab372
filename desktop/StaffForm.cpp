// The fields and the photo file the two person forms share.
#include "desktop/StaffForm.h"

#include <QByteArray>
#include <QComboBox>
#include <QFile>

#include "desktop/AddStaff.h"

QString StaffForm::choosePhoto(QWidget* parent)
{
    return AddStaff::imageChooser ? AddStaff::imageChooser(parent) : QString();
}

bool StaffForm::readPhoto(const QString& path, QFile& file, QByteArray& bytes)
{
    if (path.isEmpty())
        return false;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Stored as the file's own bytes, never re-encoded.
    bytes = file.readAll();
    file.close();
    return true;
}
