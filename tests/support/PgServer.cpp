#include "support/PgServer.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <unistd.h>

PgServer& PgServer::instance()
{
    static PgServer server;
    return server;
}

PgServer::PgServer() : port(20000 + int(getpid() % 20000))
{
    const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (versions.isEmpty() || !dir.isValid())
        qFatal("PostgreSQL is not installed");
    bin = QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(versions.last());
    if (getuid() == 0 && !run(QStringLiteral("chown"), {QStringLiteral("postgres:"), dir.path()}))
        qFatal("cannot hand the server directory to postgres");
    if (!run(bin + QStringLiteral("initdb"), {QStringLiteral("-D"), dir.filePath(QStringLiteral("data")),
                                              QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-A"),
                                              QStringLiteral("trust"), QStringLiteral("--no-sync"),
                                              QStringLiteral("-E"), QStringLiteral("UTF8")})
        || !start())
        qFatal("the private PostgreSQL server does not start");
}

PgServer::~PgServer()
{
    stop();
}

bool PgServer::run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(dir.path()); // the test's own directory may be gone by now
    if (getuid() == 0 && !program.endsWith(QLatin1String("chown")))
        p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                       QStringLiteral("--"), program} + args);
    else
        p.start(program, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        qWarning("%s: %s", qPrintable(program), p.readAll().constData());
    return ok;
}

bool PgServer::start()
{
    return run(bin + QStringLiteral("pg_ctl"),
               {QStringLiteral("-D"), dir.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                dir.filePath(QStringLiteral("log")), QStringLiteral("-w"), QStringLiteral("-o"),
                QStringLiteral("-c listen_addresses='' -k %1 -p %2 -c fsync=off").arg(dir.path()).arg(port),
                QStringLiteral("start")});
}

bool PgServer::stop()
{
    return run(bin + QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dir.filePath(QStringLiteral("data")),
                                                QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                                                QStringLiteral("stop")});
}

StoreConfig PgServer::store() const
{
    // The database initdb makes: nobody else uses this server.
    StoreConfig c;
    c.driver = QLatin1String(StoreConfig::kPostgres);
    c.host = dir.path();
    c.port = port;
    c.user = QStringLiteral("postgres");
    c.name = QStringLiteral("postgres");
    c.options = QStringLiteral("options=-cclient_min_messages=warning");
    return c;
}

void PgServer::reset()
{
    {
        QSqlDatabase db = store().addConnection(QStringLiteral("pg-reset"));
        QSqlQuery q(db);
        if (!db.open() || !q.exec(QStringLiteral("drop schema public cascade")) || !q.exec(QStringLiteral("create schema public")))
            qWarning("reset: %s", qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("pg-reset"));
}
