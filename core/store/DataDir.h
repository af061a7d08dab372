#pragma once

#include <QString>

// The folder the program keeps database.db, zudovi.ini, log.txt and backup/
// in. Started from a terminal that is the current directory; the menu entry
// names the user's data folder with --data-dir (packaging/dosemanager-menu).
namespace DataDir {

// Makes sure path is a folder this user can write to. A missing folder
// (and any missing parent) is created with mode 0700 when create is true;
// if it then proves unusable, what was created is removed again. Returns
// an empty string when the folder is usable, otherwise the reason.
QString prepare(const QString& path, bool create);

} // namespace DataDir
