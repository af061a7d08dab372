#pragma once

// The register's store: where it is kept (an SQLite file or a PostgreSQL
// database), the connections each component names for itself, the one lock
// under which the program runs its statements, and the statements kept
// prepared for the hot paths. It knows the register's table names but
// nothing of what the rows mean; the register, the readings, the wear
// periods and the dose rules build on it.

#include <QMutex>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>
#include <map>
#include <memory>

#include "core/store/StoreConfig.h"

class QSqlQueryModel;

class Store : public QObject
{
    Q_OBJECT

public:
    explicit Store(const StoreConfig& store, QObject* parent = nullptr);
    ~Store() override;

    // The file every connection of this object opens (empty on a server).
    QString filePath() const { return fileName; }
    const StoreConfig& storeConfig() const { return store; }
    // Several stations on a server rather than one file.
    bool isShared() const { return store.isShared(); }
    // Whether the default connection is open, and the driver's (libpq's)
    // reason when it is not.
    bool isOpen() const { return defaultDb.isOpen(); }
    QString openError() const;
    QSqlDatabase defaultConnection() const { return defaultDb; }

    // Closes every connection of this thread to the file (the default one and
    // the named ones the components made), runs replace while nothing of ours
    // holds it, then opens again those that were open: afterwards all of them
    // read whatever replace put under the file's name. The processing
    // thread's connection is closed between replies and opens the new file
    // by itself. Returns what replace returned.
    bool withFileReleased(const std::function<bool()>& replace);

    // Connections. An SQLite file is opened and closed around each use; a
    // server connection stays open, and openConnection makes it anew when
    // the server has dropped it.
    bool createConnection(const QString& connName);
    QSqlDatabase getConnection(const QString& connName);
    void openConnection(const QString& connName);
    void closeConnection(const QString& connName);
    // Closes and forgets the connection, from the thread that made it (a
    // thread that ends takes its connections along).
    void removeConnection(const QString& connName);
    // A write transaction (Dialect::beginWrite): it waits for another
    // writer, up to the connection's busy timeout, instead of failing later.
    bool beginTransaction(QSqlDatabase db);
    bool commitTransaction(QSqlDatabase db);
    // Undoes everything since beginTransaction; a reply that could not be
    // stored completely leaves nothing behind.
    bool rollbackTransaction(QSqlDatabase db);
    // A model of a query with "?" placeholders bound in order to values.
    QSqlQueryModel* getQueryModel(const QString& sql, QSqlDatabase db);
    QSqlQueryModel* getQueryModel(const QString& sql, const QVariantList& values, QSqlDatabase db);
    // Runs sql into model (a model of the caller's kind).
    void fillQueryModel(QSqlQueryModel& model, const QString& sql, const QVariantList& values, QSqlDatabase db);
    // Rows of a table (0 when it cannot be counted), and one row's removal.
    int countRows(const QString& tableName, QSqlDatabase db);
    bool deleteById(const QString& tableName, int id, QSqlDatabase db);

    // The lock every data operation of the program runs under, whichever
    // connection it uses: at most one statement runs at a time.
    static QMutex& dataLock();
    // The statement of fmt ("%s" standing for table) prepared once on db and
    // kept under key; nullptr when it cannot be prepared. With the data lock
    // held only.
    QSqlQuery* prepared(const QSqlDatabase& db, int key, const QString& table, const char* fmt);

    QString departmentTable = QStringLiteral("Department");
    QString staffTable = QStringLiteral("Staff");
    QString deviceTable = QStringLiteral("Device");
    QString realdataTable = QStringLiteral("Realdata");
    QString monthdataTable = QStringLiteral("Monthdata");
    QString yeardataTable = QStringLiteral("Yeardata");
    QString seqYeardataTable = QStringLiteral("SeqYeardata");
    QString wearingTable = QStringLiteral("Wearing");

private:
    void dropPrepared(const QString& connName);

    QSqlDatabase defaultDb;
    StoreConfig store;
    QString fileName;
    // One statement prepared on one connection, kept for the calls that run
    // thousands of times per reply (lookups and inserts of readings, totals).
    struct PreparedStatement
    {
        QSqlQuery query;
        const QSqlDriver* driver = nullptr;
    };
    // Connection name -> (key, table) -> prepared statement. Keyed by number
    // rather than text so that a hit costs no formatting.
    using StatementKey = std::pair<int, QString>;
    std::map<QString, std::map<StatementKey, std::unique_ptr<PreparedStatement>>> prepared_{};
};
