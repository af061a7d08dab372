#pragma once

#include <QSettings>
#include <QSqlDatabase>
#include <QString>

// Where the register lives: the SQLite file of the working directory (the
// default), or a PostgreSQL database shared by several stations. It is the
// group "database" of "zudovi.ini". A password is never part of it: the
// server is reached the way libpq reaches it (~/.pgpass or PGPASSFILE,
// PGPASSWORD, or a trusted or peer login).
class StoreConfig
{
public:
    static const char* const kSqlite;   // "QSQLITE"
    static const char* const kPostgres; // "QPSQL"

    QString driver = QLatin1String(kSqlite);
    QString path = QStringLiteral("database.db"); // SQLite
    QString host;                                 // name, address or socket directory
    int port = 5432;
    QString name;
    QString user;
    QString options; // handed to libpq as they are, e.g. "sslmode=require"
    bool readOnly = false; // SQLite: connections only read the file

    // An SQLite file.
    static StoreConfig file(const QString& path);
    // The group of settings. False, with the reason in error, when the driver
    // is none of the two; the rest is read all the same.
    static bool read(QSettings& settings, StoreConfig& config, QString* error = nullptr);
    void write(QSettings& settings) const;

    bool isShared() const { return driver == QLatin1String(kPostgres); }
    // "host:port/name" or the file, for messages.
    QString describe() const;
    // How long an SQLite connection waits for another writer (or a reader
    // being switched to the write-ahead log) before its statement fails.
    static const int kBusyTimeoutMs = 5000;
    // The connect options of every SQLite connection: the busy timeout, then
    // extra ("QSQLITE_OPEN_READONLY", ...).
    static QString sqliteOptions(const QString& extra = QString());

    // A connection of this store under connName (replacing nothing that
    // exists under that name).
    QSqlDatabase addConnection(const QString& connName) const;
    // Points db at this store.
    void apply(QSqlDatabase& db) const;
};
