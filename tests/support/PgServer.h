#pragma once

// A private PostgreSQL server for the tests of one program: initdb into a
// temporary directory, reached only through a Unix socket of its own
// (listen_addresses=''), started on first use and stopped and removed when
// the program ends. As root, initdb and the server run as "postgres".

#include <QTemporaryDir>

#include "core/store/StoreConfig.h"

class PgServer
{
public:
    // The server, started on first use; qFatal when it cannot start.
    static PgServer& instance();
    ~PgServer();

    // The store of the server's database.
    StoreConfig store() const;
    // Empties it: every table, function and trigger goes.
    void reset();
    // Stops the server now (a lost server) or starts it again.
    bool stop();
    bool start();

private:
    PgServer();
    bool run(const QString& program, const QStringList& args);

    QTemporaryDir dir;
    QString bin;
    int port = 0;
};
