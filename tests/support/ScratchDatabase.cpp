#include "support/ScratchDatabase.h"

#include <QDebug>
#include <QDir>
#include <QProcess>
#include <QSqlError>
#include <QSettings>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextStream>
#include <QtTest>

#include "cli/DoseCtl.h"

#include "support/PgServer.h"

namespace {
bool storesDeclared = false;

bool postgresWanted()
{
    return storesDeclared && QTest::currentTestFunction()
        && *static_cast<bool*>(QTest::qGlobalData("postgres", QMetaType::Bool));
}
} // namespace

void ScratchDatabase::bothStores(bool sqlite)
{
    storesDeclared = true;
    QTest::addColumn<bool>("postgres");
    if (sqlite)
        QTest::newRow("sqlite") << false;
    QTest::newRow("postgres") << true;
}

ScratchDatabase::ScratchDatabase(const QString& checkConnection) : start(QDir::currentPath())
{
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        qFatal("no scratch directory");
    if (postgresWanted()) {
        PgServer::instance().reset();
        const StoreConfig config = PgServer::instance().store();
        // dosectl and the program started here find the store as an officer's station would.
        QSettings settings(dir.filePath(QStringLiteral("zudovi.ini")), QSettings::IniFormat);
        config.write(settings);
        store = std::make_unique<DataBase>(config);
    } else {
        store = std::make_unique<DataBase>();
    }
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
    bool ok = values.isEmpty() ? q.exec(sql) : q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    ok = ok && (values.isEmpty() || q.exec());
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

QString ScratchDatabase::list(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    QStringList rows;
    for (q.exec(); q.next();) {
        QStringList columns;
        for (int c = 0; c < q.record().count(); ++c)
            columns << q.value(c).toString();
        rows << columns.join(QLatin1Char(' '));
    }
    return rows.join(QLatin1Char(','));
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

void ScratchDatabase::addReadings(int slaveId, const QList<QPair<QString, double>>& hours)
{
    for (const auto& h : hours)
        addDose(QStringLiteral("Realdata"), slaveId, h.first + QStringLiteral("0000"), h.second);
    for (const char* table : {"Monthdata", "Yeardata"}) {
        const int digits = table[0] == 'M' ? 8 : 6;
        exec(QStringLiteral("delete from %1 where slaveId = ?").arg(QLatin1String(table)), {slaveId});
        exec(QStringLiteral("insert into %1(slaveId, dataTime, probeValue) select slaveId, substr(dataTime, 1, %2), "
                            "sum(probeValue) from Realdata where slaveId = ? group by slaveId, substr(dataTime, 1, %2)")
                 .arg(QLatin1String(table))
                 .arg(digits),
             {slaveId});
    }
}

void ScratchDatabase::addMonths(int slaveId, const QList<QPair<QString, double>>& months)
{
    QList<QPair<QString, double>> hours;
    for (const auto& m : months)
        hours.append({m.first + QStringLiteral("1012"), m.second + 0.23});
    addReadings(slaveId, hours);
}

bool ScratchDatabase::sabotage(const QString& how, const QString& table, const QString& when) const
{
    const bool pg = postgres();
    if (how == QLatin1String("drop"))
        return exec(QStringLiteral("drop table ") + table);
    if (how == QLatin1String("lookup") && pg)
        return exec(QStringLiteral("alter table %1 rename to sabotaged").arg(table))
            && exec(QStringLiteral("create view %1 as select distinct * from sabotaged").arg(table));
    if (how == QLatin1String("lookup"))
        return exec(QStringLiteral("alter table %1 rename to sabotaged").arg(table))
            && exec(QStringLiteral("create view %1 as select * from sabotaged where abs(-9223372036854775807 - 1) >= 0")
                        .arg(table))
            && exec(QStringLiteral("create trigger i instead of insert on %1 begin insert into sabotaged(slaveId,"
                                   "dataTime,probeValue) values(NEW.slaveId,NEW.dataTime,NEW.probeValue); end")
                        .arg(table));
    // With a write-ahead log no reader stops a commit; another writer's lock
    // keeps the reply from writing at all.
    if (how == QLatin1String("commit") && !pg)
        return exec(QStringLiteral("begin immediate")) && value(QStringLiteral("select count(*) from ") + table).isValid();
    const QString condition = when.isEmpty() ? QString() : QStringLiteral(" when (%1)").arg(when);
    if (!pg)
        return exec(QStringLiteral("create trigger t before %1 on %2%3 begin select raise(abort,'x'); end")
                        .arg(how, table, condition));
    return exec(QStringLiteral("create or replace function fail() returns trigger language plpgsql as "
                               "$$begin raise exception 'x'; end$$"))
        && exec(how == QLatin1String("commit")
                    ? QStringLiteral("create constraint trigger t after insert on %1 deferrable initially deferred "
                                     "for each row execute function fail()").arg(table)
                    : QStringLiteral("create trigger t before %1 on %2 for each row%3 execute function fail()")
                          .arg(how, table, condition));
}

bool ScratchDatabase::repair(const QString& how, const QString& table) const
{
    if (how == QLatin1String("commit") && !postgres())
        return exec(QStringLiteral("rollback"));
    return exec(postgres() ? QStringLiteral("drop trigger t on ") + table : QStringLiteral("drop trigger t"));
}

int ctl(const QStringList& args, QString* out, QString* err)
{
    QString o, e;
    QTextStream os(out ? &(*out = QString()) : &o), es(err ? &(*err = QString()) : &e);
    return DoseCtl(os, es).run(QStringList{QStringLiteral("dosectl")} + args);
}

QVariant valueIn(const QString& path, const QString& sql)
{
    return valueIn(StoreConfig::file(path), sql);
}

QVariant valueIn(const StoreConfig& store, const QString& sql)
{
    QVariant v;
    {
        QSqlDatabase db = store.addConnection(QStringLiteral("peek"));
        QSqlQuery q(db);
        v = db.open() && q.exec(sql) && q.next() ? q.value(0) : QVariant();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return v;
}

QString output(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

QStringList fileLines(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                          : QStringList();
}
