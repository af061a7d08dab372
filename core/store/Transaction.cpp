// A register write's transaction or savepoint, signed with the operating-system account that makes it.

#include "core/store/Transaction.h"

#include <pwd.h>
#include <unistd.h>

#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>

#include "core/store/Dialect.h"

const char* const Transaction::kActorTable = "AuditActor";
const char* const Transaction::kActorSetting = "dosemanager.actor";

Transaction::Transaction(const QSqlDatabase& db)
    : db(db)
{
    if (!db.isOpen())
        return;
    switch (Dialect::beginUnit(db, QStringLiteral("unit"))) {
    case Dialect::Unit::Savepoint:
        open = Savepoint;
        break;
    case Dialect::Unit::Transaction:
        open = Own;
        break;
    case Dialect::Unit::None:
        return;
    }
    signedOk = sign(db);
}

Transaction::~Transaction()
{
    QSqlQuery q(db);
    if (open == Savepoint) {
        q.exec(QStringLiteral("ROLLBACK TO unit"));
        q.exec(QStringLiteral("RELEASE unit"));
    } else if (open == Own) {
        q.exec(QStringLiteral("ROLLBACK"));
    }
}

bool Transaction::commit()
{
    if (!begun() || !unsign(db)
        || !QSqlQuery(db).exec(open == Savepoint ? QStringLiteral("RELEASE unit") : QStringLiteral("COMMIT")))
        return false;
    open = None;
    return true;
}

QString Transaction::actor()
{
    // The account the process runs as, whatever its environment says: a
    // service, cron or "env -i" still names who it is.
    const uid_t uid = geteuid();
    const passwd* account = getpwuid(uid);
    const QString login = account && account->pw_name && *account->pw_name ? QString::fromLocal8Bit(account->pw_name)
                                                                           : QStringLiteral("uid%1").arg(uid);
    return login + QLatin1Char('@') + QSysInfo::machineHostName();
}

bool Transaction::sign(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (Dialect::isPostgres(db))
        q.prepare(QStringLiteral("select set_config('%1', ?, true)").arg(QLatin1String(kActorSetting)));
    else
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO %1(id, actor) VALUES(1, ?)").arg(QLatin1String(kActorTable)));
    q.addBindValue(actor());
    return q.exec();
}

bool Transaction::unsign(const QSqlDatabase& db)
{
    return QSqlQuery(db).exec(Dialect::isPostgres(db)
                                  ? QStringLiteral("select set_config('%1', '', true)").arg(QLatin1String(kActorSetting))
                                  : QStringLiteral("DELETE FROM %1").arg(QLatin1String(kActorTable)));
}

QStringList Transaction::layout(const QSqlDatabase& db)
{
    // A trigger of the file cannot read a connection's temporary table.
    if (Dialect::isPostgres(db))
        return {};
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (id INTEGER PRIMARY KEY CHECK (id = 1), actor varchar)")
                .arg(QLatin1String(kActorTable))};
}

QString Transaction::actorExpression(const QSqlDatabase& db, const QString& fallback)
{
    if (!Dialect::isPostgres(db))
        return QStringLiteral("coalesce((SELECT actor FROM %1), %2)").arg(QLatin1String(kActorTable), fallback);
    return QStringLiteral("coalesce(nullif(current_setting('%1', true), ''), %2)")
        .arg(QLatin1String(kActorSetting), fallback);
}
