// A private, uniquely named connection to one SQLite file, opened and closed with the object.

#include "core/store/FileConnection.h"

#include <QAtomicInt>

namespace {

QString nextName()
{
    static QAtomicInt next;
    return QStringLiteral("file.%1").arg(next.fetchAndAddRelaxed(1));
}

} // namespace

FileConnection::FileConnection(const QString& path, bool readOnly)
    : FileConnection(path, busyTimeout() + (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()))
{
}

FileConnection::FileConnection(const QString& databaseName, const QString& options)
    : name(nextName())
{
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(databaseName);
    db.setConnectOptions(options);
    db.open();
}

FileConnection::~FileConnection()
{
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}
