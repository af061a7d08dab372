// The table "DoseAlert" at work: its layout, an alert raised only once, the alerts read back and acknowledged.

#include "core/dose/AlertStore.h"

#include <QMutexLocker>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/store/Sql.h"
#include "core/store/Dialect.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"

namespace {

void readAlert(const QSqlQuery& q, DoseAlertdata& a)
{
    a.id = q.value(0).toInt();
    a.ID_card = q.value(1).toString();
    a.level = q.value(2).toString();
    a.periodKey = q.value(3).toString();
    a.dose = q.value(4).toDouble();
    a.threshold = q.value(5).toDouble();
    a.raisedAt = q.value(6).toString();
    a.ackAt = q.value(7).toString();
    a.ackBy = q.value(8).toString();
    a.comment = q.value(9).toString();
}

} // namespace

AlertStore::AlertStore(Store& store)
    : store(store)
{
}

bool AlertStore::layOut(const QSqlDatabase& db)
{
    for (const char* statement :
         {"CREATE TABLE IF NOT EXISTS DoseAlert (id INTEGER PRIMARY KEY, ID_card varchar, level varchar, "
          "periodKey varchar, dose double, threshold double, raisedAt varchar, ackAt varchar, ackBy varchar, "
          "comment varchar)",
          "CREATE UNIQUE INDEX IF NOT EXISTS idx_DoseAlert_key ON DoseAlert(ID_card, level, periodKey)"}) {
        if (!QSqlQuery(db).exec(Dialect::createTable(db, QLatin1String(statement))))
            return false;
    }
    return true;
}

int AlertStore::insertOnce(const DoseAlertdata& a, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen())
        return -1;
    return Sql::execCounted(QStringLiteral("insert into DoseAlert(ID_card, level, periodKey, dose, threshold, "
                                           "raisedAt, ackAt, ackBy, comment) values(?, ?, ?, ?, ?, ?, '', '', '') "
                                           "on conflict(ID_card, level, periodKey) do nothing"),
                            {a.ID_card, a.level, a.periodKey, a.dose, a.threshold, a.raisedAt}, db);
}

bool AlertStore::select(QList<DoseAlertdata>& list, bool unackedOnly, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readAll(QStringLiteral("select id, ID_card, level, periodKey, dose, threshold, raisedAt, ackAt, ackBy, "
                                       "comment from DoseAlert %1 order by raisedAt desc, id desc")
                            .arg(unackedOnly ? QStringLiteral("where coalesce(ackAt, '') = ''") : QString()),
                        {}, db, list, readAlert);
}

bool AlertStore::acknowledge(int id, const QString& ackAt, const QString& ackBy, const QString& comment,
                             QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return false;
    Transaction change(db);
    return change.begun()
        && Sql::execCounted(QStringLiteral("update DoseAlert set ackAt = ?, ackBy = ?, comment = ? "
                                           "where id = ? and coalesce(ackAt, '') = ''"),
                            {ackAt, ackBy, comment, id}, db)
            == 1
        && change.commit();
}
