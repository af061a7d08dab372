#include "support/ScratchDatabase.h"

#include <QDebug>
#include <QDir>
#include <QSqlError>
#include <QSqlQuery>

ScratchDatabase::ScratchDatabase(const QString& checkConnection) : start(QDir::currentPath())
{
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        qFatal("no scratch directory");
    store = std::make_unique<DataBase>();
    if (!store->createTables())
        qFatal("scratch database not created");
    store->createConnection(checkConnection);
    db = store->getConnection(checkConnection);
}

ScratchDatabase::~ScratchDatabase()
{
    db = QSqlDatabase();
    store.reset();
    for (const QString& name : QSqlDatabase::connectionNames()) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    QDir::setCurrent(start);
}

bool ScratchDatabase::exec(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q(db);
    bool ok = q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    ok = ok && q.exec();
    if (!ok)
        qWarning() << "failed:" << sql << q.lastError().text();
    return ok;
}

QVariant ScratchDatabase::value(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q.exec() && q.next() ? q.value(0) : QVariant();
}

int ScratchDatabase::count(const QString& table) const
{
    return value(QStringLiteral("select count(*) from ") + table).toInt();
}

int ScratchDatabase::addPerson(const QString& card, const QString& name, const QString& department, int ptype,
                               const QByteArray& photo)
{
    exec(QStringLiteral("insert into Staff(ID_card,name,gender,ptype,totalValue,department,teleNo,adress,photo) "
                        "values(?,?,'男',?,1.5,?,'110','某路',?)"),
         {card, name, ptype, department, photo});
    return value(QStringLiteral("select max(id) from Staff")).toInt();
}

void ScratchDatabase::addDevice(int slaveId, const QString& card)
{
    exec(QStringLiteral("insert into Device(slaveId,ID_card,dataTime) values(?,?,'00000000000000')"), {slaveId, card});
    // The binding as an older database gains it on its first start: worn
    // from the beginning, so every reading of the address is the person's.
    store->ensureWearingTable(db);
    exec(QStringLiteral("insert into Wearing(slaveId,ID_card,startTime,endTime) values(?,?,'00000000000000','')"),
         {slaveId, card});
}

void ScratchDatabase::addDose(const QString& table, int slaveId, const QString& key, double value)
{
    exec(QStringLiteral("insert into %1(slaveId,dataTime,probeValue) values(?,?,?)").arg(table), {slaveId, key, value});
}
