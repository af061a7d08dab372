// The store at work: its connections, the data lock, transactions, query models and the prepared hot statements.

#include "core/store/Store.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQueryModel>
#include <QSqlResult>
#include <QStringList>
#include <QVariant>

#include "core/store/Sql.h"
#include "core/store/Dialect.h"
#include "core/store/Transaction.h"

namespace {

// A statement of the SQLite driver loses its handle when its connection is
// closed (the driver finalizes every statement then); such a query must be
// prepared again before it is used.
bool hasLiveStatement(const QSqlQuery& query)
{
    const QSqlResult* result = query.result();
    if (!result)
        return false;
    const QVariant handle = result->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3_stmt*") != 0)
        return false;
    return *static_cast<void* const*>(handle.constData()) != nullptr;
}

} // namespace

Store::Store(const StoreConfig& store, QObject* parent)
    : QObject(parent)
    , store(store)
    , fileName(store.isShared() ? QString() : store.path)
{
    // A default connection left by an earlier object is taken over and
    // pointed at this store again, rather than replaced while someone may
    // still hold it.
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(name) && QSqlDatabase::database(name, false).driverName() == store.driver) {
        defaultDb = QSqlDatabase::database(name, false);
        defaultDb.close();
        store.apply(defaultDb);
    } else {
        defaultDb = store.addConnection(QString());
    }
    defaultDb.open();
}

// The default connection stays registered and open; only this handle goes.
Store::~Store() = default;

QString Store::openError() const
{
    return defaultDb.lastError().text();
}

QMutex& Store::dataLock()
{
    static QMutex lock;
    return lock;
}

bool Store::withFileReleased(const std::function<bool()>& replace)
{
    QMutexLocker lock(&dataLock());
    if (store.isShared())
        return replace();
    const QString file = QFileInfo(fileName).absoluteFilePath();
    QStringList reopen;
    for (const QString& name : QSqlDatabase::connectionNames()) {
        // A connection of another thread comes back invalid (with Qt's
        // warning); it is not ours to close.
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (!db.isValid() || db.driverName() != QLatin1String(StoreConfig::kSqlite)
            || QFileInfo(db.databaseName()).absoluteFilePath() != file)
            continue;
        dropPrepared(name);
        if (db.isOpen()) {
            db.close();
            reopen << name;
        }
    }
    const bool replaced = replace();
    for (const QString& name : qAsConst(reopen))
        QSqlDatabase::database(name, true);
    return replaced;
}

bool Store::createConnection(const QString& connName)
{
    if (connName.isEmpty())
        return false;
    if (!QSqlDatabase::contains(connName))
        store.addConnection(connName);
    return true;
}

void Store::removeConnection(const QString& connName)
{
    {
        QMutexLocker lock(&dataLock());
        dropPrepared(connName);
    }
    if (!QSqlDatabase::contains(connName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connName);
}

QSqlDatabase Store::getConnection(const QString& connName)
{
    return QSqlDatabase::database(connName, true);
}

void Store::openConnection(const QString& connName)
{
    QSqlDatabase db = QSqlDatabase::database(connName, false);
    if (!db.isValid())
        return;
    if (db.isOpen() && store.isShared()) {
        // A server connection stays open between uses (making one costs
        // tens of milliseconds); one the server has dropped is made anew.
        QMutexLocker lock(&dataLock());
        if (QSqlQuery(db).exec(QStringLiteral("select 1")))
            return;
        dropPrepared(connName);
        db.close();
    }
    if (!db.isOpen())
        db.open();
}

void Store::closeConnection(const QString& connName)
{
    if (store.isShared())
        return; // kept for the next use; openConnection checks it then
    {
        // Statements prepared on the connection go before it closes.
        QMutexLocker lock(&dataLock());
        dropPrepared(connName);
    }
    if (!QSqlDatabase::contains(connName))
        return;
    QSqlDatabase db = QSqlDatabase::database(connName, false);
    if (db.isOpen())
        db.close();
}

bool Store::beginTransaction(QSqlDatabase db)
{
    return db.isOpen() && Dialect::beginWrite(db);
}

bool Store::commitTransaction(QSqlDatabase db)
{
    return db.isOpen() && db.commit();
}

bool Store::rollbackTransaction(QSqlDatabase db)
{
    return db.isOpen() && db.rollback();
}

QSqlQueryModel* Store::getQueryModel(const QString& sql, QSqlDatabase db)
{
    return getQueryModel(sql, {}, db);
}

QSqlQueryModel* Store::getQueryModel(const QString& sql, const QVariantList& values, QSqlDatabase db)
{
    auto* model = new QSqlQueryModel;
    fillQueryModel(*model, sql, values, db);
    return model;
}

void Store::fillQueryModel(QSqlQueryModel& model, const QString& sql, const QVariantList& values, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (db.isOpen()) {
        // Typed text (names, ID cards, filters) travels as bound values,
        // never inside the statement text.
        QSqlQuery q(db);
        if (q.prepare(sql)) {
            for (const QVariant& value : values)
                q.addBindValue(value);
            q.exec();
        }
        model.setQuery(q);
    }
}

int Store::countRows(const QString& tableName, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    QString n;
    if (!db.isOpen() || !Sql::isPlainName(tableName)
        || !Sql::firstText(Sql::format("select count(*) from %s ;", tableName), {}, db, n))
        return 0;
    return n.toInt();
}

bool Store::deleteById(const QString& tableName, int id, QSqlDatabase db)
{
    QMutexLocker lock(&dataLock());
    if (!db.isOpen() || !Sql::isPlainName(tableName))
        return false;
    Transaction change(db);
    return change.begun() && Sql::exec(Sql::format("delete from %s where id = ?;", tableName), {id}, db)
        && change.commit();
}

QSqlQuery* Store::prepared(const QSqlDatabase& db, int key, const QString& table, const char* fmt)
{
    auto& statements = prepared_[db.connectionName()];
    StatementKey statementKey(key, table);
    auto it = statements.find(statementKey);
    if (it != statements.end()) {
        PreparedStatement& p = *it->second;
        // A connection closed and opened again behind our back (or removed
        // and added anew) leaves the cached query without a statement.
        // A server's prepared statement lives as long as its connection,
        // and closing one goes through closeConnection, which drops it here.
        if (p.driver == db.driver() && (Dialect::isPostgres(db) || hasLiveStatement(p.query)))
            return &p.query;
        statements.erase(it);
    }
    auto p = std::make_unique<PreparedStatement>(PreparedStatement{QSqlQuery(db), db.driver()});
    p->query.setForwardOnly(true);
    if (!p->query.prepare(Sql::format(fmt, table, table)))
        return nullptr;
    QSqlQuery* q = &p->query;
    statements.emplace(std::move(statementKey), std::move(p));
    return q;
}

void Store::dropPrepared(const QString& connName)
{
    prepared_.erase(connName);
}
