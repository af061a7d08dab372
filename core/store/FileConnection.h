#pragma once

#include <QSqlDatabase>
#include <QString>

// A private connection to one SQLite file, gone with the object: the backup,
// the restore and the checks of a file read it behind the back of the
// register's own connections. Names are unique across threads, so the
// start-up backup can run beside the window.
class FileConnection
{
public:
    // path opened for reading and writing, or for reading only.
    FileConnection(const QString& path, bool readOnly);
    // A database name and connect options as QSQLITE takes them (a file:
    // URI with QSQLITE_OPEN_URI).
    FileConnection(const QString& name, const QString& options);
    ~FileConnection();
    FileConnection(const FileConnection&) = delete;
    FileConnection& operator=(const FileConnection&) = delete;

    // A copy waits for the register's commits rather than fail beside them.
    static QString busyTimeout() { return QStringLiteral("QSQLITE_BUSY_TIMEOUT=60000"); }

    const QString name;
    QSqlDatabase db;
};
