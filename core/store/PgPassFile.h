#pragma once

#include <QString>
#include <QStringList>

#include "core/store/StoreConfig.h"

// The libpq password file: ~/.pgpass, or the file PGPASSFILE names. Each line
// is host:port:database:user:password, with ':' and '\' escaped by '\'. libpq
// ignores the file unless only its owner may read it, so it is written 0600.
class PgPassFile
{
public:
    // The file libpq reads.
    static QString path();
    // The line for store and password.
    static QString line(const StoreConfig& store, const QString& password);
    // Stores password for store's host:port:name:user into file, replacing
    // the line of that key and keeping every other line. False, with the
    // reason in error and the file untouched, when a field holds a line
    // break or the file cannot be read or written.
    static bool save(const QString& file, const StoreConfig& store, const QString& password,
                     QString* error = nullptr);

private:
    // The host libpq looks up for store: "localhost" for a socket.
    static QString host(const StoreConfig& store);
    static QString escape(const QString& field);
    // A line's fields with their escapes undone.
    static QStringList fields(const QString& line);
};
