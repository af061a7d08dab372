#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

// What makes a file this program's register: an SQLite file whose tables
// have the columns the program reads. The start-up, dosectl and the restore
// ask here before they use a file, so that an empty, damaged or foreign one
// is refused with its reason instead of being taken for a new register.
// Reasons are one line for the officer and name the file.
class RegisterFile
{
public:
    // The SQLite header (the first 100 bytes; fewer when the file is shorter).
    static QByteArray header(const QString& path);
    // Empty when path is a file that starts as an SQLite database does, else
    // why not (missing, a folder, empty, something else).
    static QString fileProblem(const QString& path);
    // Empty when db holds the seven tables with the columns the program
    // reads, and the tables added since with theirs where it has them.
    static QString layoutProblem(const QSqlDatabase& db, const QString& path);
    // Both, through a connection of its own (for reading only when this
    // process may not write the file).
    static QString problem(const QString& path);

    // Whether this process may write path and make files beside it (its
    // journal, its -wal and -shm).
    static bool writable(const QString& path);
    // The name and connect options of a connection that only reads path.
    // A WAL file whose -shm cannot be made is read as immutable, which is
    // sound only while nothing has it open; when its -wal holds commits
    // that cannot be read that way, problem says so.
    static QString readOnlyName(const QString& path, QString* options, QString* problem = nullptr);
};
