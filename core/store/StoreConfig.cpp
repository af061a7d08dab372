// The group "database" of "zudovi.ini" read and written, and connections pointed at the store it names.

#include "core/store/StoreConfig.h"

#include <QStringList>

#include "core/store/RegisterFile.h"

const char* const StoreConfig::kSqlite = "QSQLITE";
const char* const StoreConfig::kPostgres = "QPSQL";

StoreConfig StoreConfig::file(const QString& path)
{
    StoreConfig c;
    c.path = path;
    return c;
}

bool StoreConfig::read(QSettings& settings, StoreConfig& config, QString* error)
{
    StoreConfig c;
    settings.beginGroup(QStringLiteral("database"));
    c.driver = settings.value(QStringLiteral("driver"), c.driver).toString().trimmed();
    c.path = settings.value(QStringLiteral("path"), c.path).toString();
    c.host = settings.value(QStringLiteral("host")).toString();
    c.port = settings.value(QStringLiteral("port"), c.port).toInt();
    c.name = settings.value(QStringLiteral("name")).toString();
    c.user = settings.value(QStringLiteral("user")).toString();
    c.options = settings.value(QStringLiteral("options")).toString();
    settings.endGroup();
    if (c.path.isEmpty())
        c.path = QStringLiteral("database.db");
    if (c.port <= 0 || c.port > 65535)
        c.port = 5432;
    config = c;
    if (c.driver == QLatin1String(kSqlite) || c.isShared())
        return true;
    if (error)
        *error = QStringLiteral("zudovi.ini 中 [database] driver=%1 无效：只能是 %2 或 %3")
                     .arg(c.driver, QLatin1String(kSqlite), QLatin1String(kPostgres));
    return false;
}

void StoreConfig::write(QSettings& settings) const
{
    settings.beginGroup(QStringLiteral("database"));
    settings.remove(QString());
    settings.setValue(QStringLiteral("driver"), driver);
    if (isShared()) {
        settings.setValue(QStringLiteral("host"), host);
        settings.setValue(QStringLiteral("port"), port);
        settings.setValue(QStringLiteral("name"), name);
        settings.setValue(QStringLiteral("user"), user);
        settings.setValue(QStringLiteral("options"), options);
    } else {
        settings.setValue(QStringLiteral("path"), path);
    }
    settings.endGroup();
}

QString StoreConfig::describe() const
{
    if (!isShared())
        return path;
    return QStringLiteral("%1:%2/%3").arg(host.isEmpty() ? QStringLiteral("localhost") : host).arg(port).arg(name);
}

QSqlDatabase StoreConfig::addConnection(const QString& connName) const
{
    QSqlDatabase db = connName.isEmpty() ? QSqlDatabase::addDatabase(driver)
                                         : QSqlDatabase::addDatabase(driver, connName);
    apply(db);
    return db;
}

QString StoreConfig::sqliteOptions(const QString& extra)
{
    const QString timeout = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    return extra.isEmpty() ? timeout : timeout + QLatin1Char(';') + extra;
}

void StoreConfig::apply(QSqlDatabase& db) const
{
    if (!isShared()) {
        // A connection taken over from a read-only use forgets its options.
        // Two processes (the program and dosectl) write the same file: the
        // second waits for the first's commit rather than fail at once.
        QString opts;
        db.setDatabaseName(readOnly ? RegisterFile::readOnlyName(path, &opts) : path);
        db.setConnectOptions(readOnly ? opts : sqliteOptions());
        return;
    }
    db.setHostName(host);
    db.setPort(port);
    db.setDatabaseName(name);
    db.setUserName(user);
    // A lost server is noticed within seconds rather than after the
    // system's TCP timeout.
    QStringList opts{QStringLiteral("connect_timeout=10")};
    // The server's notices ("relation ... already exists, skipping" on every
    // start) are no news to anyone; libpq would print them on stderr.
    // Options of the settings that say otherwise come later and win.
    opts << QStringLiteral("options=-cclient_min_messages=warning");
    if (!options.trimmed().isEmpty())
        opts << options.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    db.setConnectOptions(opts.join(QLatin1Char(';')));
}
