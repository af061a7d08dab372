// The tables "PassiveResult" and "PassiveImport" at work: their layout and guards, a file stored with its rows, and
// the rows read back.

#include "core/readings/PassiveStore.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/store/Dialect.h"
#include "core/store/Sql.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"

namespace {

const char* const kColumns = "r.id, r.ID_card, r.periodStart, r.periodEnd, r.hp10_uSv, r.hp007_uSv, r.code, "
                             "r.importId, r.line, r.replacedBy, r.closedBy, r.closedAt, r.closeComment, "
                             "coalesce((select min(s.name) from %2 s where s.ID_card = r.ID_card), '')";

void readRow(const QSqlQuery& q, PassiveResultdata& r)
{
    r.id = q.value(0).toInt();
    r.ID_card = q.value(1).toString();
    r.periodStart = q.value(2).toString();
    r.periodEnd = q.value(3).toString();
    r.hasHp10 = !q.value(4).isNull();
    r.hp10_uSv = q.value(4).toDouble();
    r.hasHp007 = !q.value(5).isNull();
    r.hp007_uSv = q.value(5).toDouble();
    r.code = q.value(6).toString();
    r.importId = q.value(7).toInt();
    r.line = q.value(8).toInt();
    r.replacedBy = q.value(9).toInt();
    r.closedBy = q.value(10).toString();
    r.closedAt = q.value(11).toString();
    r.closeComment = q.value(12).toString();
    r.name = q.value(13).toString();
}

void readImport(const QSqlQuery& q, PassiveImportdata& f)
{
    f.id = q.value(0).toInt();
    f.fileName = q.value(1).toString();
    f.sha256 = q.value(2).toString();
    f.importedBy = q.value(3).toString();
    f.importedAt = q.value(4).toString();
    f.rows = q.value(5).toInt();
    f.content = q.value(6).toByteArray();
}

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

QString changed(std::initializer_list<const char*> columns)
{
    QStringList any;
    for (const char* c : columns)
        any << QStringLiteral("old.%1 IS DISTINCT FROM new.%1").arg(QLatin1String(c));
    return any.join(QStringLiteral(" OR "));
}

// A result's figures never change; its replacement and the closing of its
// flag are each written once. Its ID card follows the person's.
QString refusedUpdate()
{
    return QStringLiteral("(%1) OR (old.replacedBy IS NOT NULL AND old.replacedBy IS DISTINCT FROM new.replacedBy) "
                          "OR (old.closedAt IS NOT NULL AND (%2))")
        .arg(changed({"id", "periodStart", "periodEnd", "hp10_uSv", "hp007_uSv", "code", "importId", "line"}),
             changed({"closedBy", "closedAt", "closeComment"}));
}

Dialect::Trigger personGuard(const QSqlDatabase& db)
{
    const QString held = QStringLiteral("EXISTS (SELECT 1 FROM PassiveResult WHERE ID_card = old.ID_card) AND NOT "
                                        "EXISTS (SELECT 1 FROM Staff WHERE ID_card = old.ID_card AND id <> old.id)");
    return Dialect::refusingTrigger(db, QStringLiteral("Staff_passive_delete"), QStringLiteral("Staff"),
                                    QStringLiteral("delete"), held, QLatin1String(PassiveStore::kInUse));
}

QString stamp()
{
    return Clock::now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

const char* const PassiveStore::kResults = "PassiveResult";
const char* const PassiveStore::kImports = "PassiveImport";
const char* const PassiveStore::kKept = "an imported laboratory file and its results are never changed";
const char* const PassiveStore::kInUse = "the person has passive dosimeter results and cannot be deleted";

PassiveStore::PassiveStore(Store& store)
    : store(store)
{
}

QStringList PassiveStore::layout(const QSqlDatabase& db)
{
    QStringList all{
        Dialect::createTable(
            db, QStringLiteral("CREATE TABLE IF NOT EXISTS PassiveImport (id INTEGER PRIMARY KEY, fileName varchar NOT "
                               "NULL, sha256 varchar NOT NULL UNIQUE, importedBy varchar NOT NULL, importedAt varchar "
                               "NOT NULL, rows integer NOT NULL, content blob NOT NULL)")),
        Dialect::createTable(
            db, QStringLiteral("CREATE TABLE IF NOT EXISTS PassiveResult (id INTEGER PRIMARY KEY, ID_card varchar NOT "
                               "NULL, periodStart varchar NOT NULL, periodEnd varchar NOT NULL CHECK (periodEnd >= "
                               "periodStart), hp10_uSv double CHECK (hp10_uSv >= 0), hp007_uSv double CHECK "
                               "(hp007_uSv >= 0), code varchar NOT NULL DEFAULT '' CHECK (code IN ('', 'M', "
                               "'not_returned', 'unused')), importId integer NOT NULL REFERENCES PassiveImport(id), "
                               "line integer NOT NULL DEFAULT 0, replacedBy integer REFERENCES PassiveImport(id), "
                               "closedBy varchar, closedAt varchar, closeComment varchar)")),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_PassiveResult_card ON PassiveResult(ID_card, periodStart)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_PassiveResult_period ON PassiveResult(periodEnd, periodStart)")};
    all += Dialect::keepRows(db, QLatin1String(kImports), QLatin1String(kKept)).statements;
    all += Dialect::guardRows(db, QLatin1String(kResults), refusedUpdate(), QLatin1String(kKept)).statements;
    all += personGuard(db).statements;
    return all;
}

QStringList PassiveStore::guardNames(const QSqlDatabase& db)
{
    return Dialect::keepRows(db, QLatin1String(kImports), QLatin1String(kKept)).names
        + Dialect::guardRows(db, QLatin1String(kResults), refusedUpdate(), QLatin1String(kKept)).names
        << personGuard(db).name;
}

bool PassiveStore::layOut(const QSqlDatabase& db)
{
    return Sql::execAll(layout(db), db);
}

int PassiveStore::add(PassiveImportdata file, const QList<PassiveResultdata>& rows, const QList<int>& replaced,
                        QString* why, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return fail(why, QStringLiteral("无法写入数据库"));
    Transaction change(db);
    if (!change.begun())
        return fail(why, QStringLiteral("无法写入数据库"));
    if (file.importedBy.isEmpty())
        file.importedBy = Transaction::actor();
    if (file.importedAt.isEmpty())
        file.importedAt = stamp();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into PassiveImport(fileName, sha256, importedBy, importedAt, rows, content) "
                             "values(?, ?, ?, ?, ?, ?) returning id"));
    for (const QVariant& v : {QVariant(file.fileName), QVariant(file.sha256), QVariant(file.importedBy),
                              QVariant(file.importedAt), QVariant(rows.size()), QVariant(file.content)})
        q.addBindValue(v);
    if (!q.exec() || !q.next())
        return fail(why, QStringLiteral("保存失败: ") + q.lastError().text());
    const int id = q.value(0).toInt();
    q.finish();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("insert into PassiveResult(ID_card, periodStart, periodEnd, hp10_uSv, hp007_uSv, "
                                  "code, importId, line) values(?, ?, ?, ?, ?, ?, ?, ?)"));
    const QVariant none(QVariant::Double);
    for (const PassiveResultdata& r : rows) {
        insert.bindValue(0, r.ID_card);
        insert.bindValue(1, r.periodStart);
        insert.bindValue(2, r.periodEnd);
        insert.bindValue(3, r.hasHp10 ? QVariant(r.hp10_uSv) : none);
        insert.bindValue(4, r.hasHp007 ? QVariant(r.hp007_uSv) : none);
        // A result without a code has the empty one, never NULL.
        insert.bindValue(5, r.code.isNull() ? QStringLiteral("") : r.code);
        insert.bindValue(6, id);
        insert.bindValue(7, r.line);
        if (!insert.exec())
            return fail(why, QStringLiteral("第 %1 行保存失败: %2").arg(r.line).arg(insert.lastError().text()));
    }
    for (int old : replaced) {
        if (Sql::execCounted(QStringLiteral("update PassiveResult set replacedBy = ? where id = ? and replacedBy is null"),
                             {id, old}, db)
            != 1)
            return fail(why, QStringLiteral("无法标记被替换的结果 %1").arg(old));
    }
    // The replacement in the log in words as well as in the rows' changes.
    if (!replaced.isEmpty()) {
        QStringList ids;
        for (int old : replaced)
            ids << QString::number(old);
        if (!AuditLog::write(db, QStringLiteral("replace"), QLatin1String(kResults), QString::number(id),
                             QStringLiteral("%1 replaces results %2").arg(file.fileName, ids.join(QLatin1Char(',')))))
            return fail(why, QStringLiteral("无法记入审计日志"));
    }
    if (!change.commit())
        return fail(why, QStringLiteral("保存失败"));
    return id;
}

int PassiveStore::importOf(const QString& sha256, QSqlDatabase db)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("select id from PassiveImport where sha256 = ?"));
    q.addBindValue(sha256);
    if (!q.exec())
        return -1;
    return q.next() ? q.value(0).toInt() : 0;
}

bool PassiveStore::selectImport(PassiveImportdata& file, int id, QSqlDatabase db)
{
    return Sql::readFirst(QStringLiteral("select id, fileName, sha256, importedBy, importedAt, rows, content from "
                                         "PassiveImport where id = ?"),
                          {id}, db, file, readImport);
}

bool PassiveStore::selectCurrent(QList<PassiveResultdata>& list, const QString& first, const QString& last,
                                 const QString& idCard, QSqlDatabase db)
{
    if (!Sql::isPlainName(store.staffTable))
        return false;
    QString sql = QStringLiteral("select %1 from PassiveResult r where "
                                 "r.replacedBy is null and r.periodStart <= ? and r.periodEnd >= ?")
                      .arg(QString::fromLatin1(kColumns).arg(store.staffTable));
    QVariantList values{last, first};
    if (!idCard.isEmpty()) {
        sql += QStringLiteral(" and r.ID_card = ?");
        values << idCard;
    }
    return Sql::readAll(sql + QStringLiteral(" order by r.ID_card, r.periodStart, r.id"), values, db, list, readRow);
}

bool PassiveStore::selectByCard(QList<PassiveResultdata>& list, const QString& idCard, QSqlDatabase db)
{
    if (!Sql::isPlainName(store.staffTable))
        return false;
    return Sql::readAll(QStringLiteral("select %1 from PassiveResult r where "
                                       "r.ID_card = ? order by r.periodStart, r.id")
                            .arg(QString::fromLatin1(kColumns).arg(store.staffTable)),
                        {idCard}, db, list, readRow);
}

bool PassiveStore::selectOne(PassiveResultdata& result, int id, QSqlDatabase db)
{
    if (!Sql::isPlainName(store.staffTable))
        return false;
    return Sql::readFirst(QStringLiteral("select %1 from PassiveResult r where r.id = ?")
                              .arg(QString::fromLatin1(kColumns).arg(store.staffTable)),
                          {id}, db, result, readRow);
}

bool PassiveStore::close(int id, const QString& comment, const QString& actor, QString* why, QSqlDatabase db)
{
    if (comment.trimmed().isEmpty())
        return fail(why, QStringLiteral("关闭标记须填写说明"));
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return fail(why, QStringLiteral("无法写入数据库"));
    Transaction change(db);
    if (!change.begun())
        return fail(why, QStringLiteral("无法写入数据库"));
    QSqlQuery q(db);
    q.prepare(QStringLiteral("select closedAt from PassiveResult where id = ?"));
    q.addBindValue(id);
    if (!q.exec())
        return fail(why, QStringLiteral("无法读取个人剂量计结果: ") + q.lastError().text());
    if (!q.next())
        return fail(why, QStringLiteral("没有编号为 %1 的个人剂量计结果").arg(id));
    if (!q.value(0).isNull())
        return fail(why, QStringLiteral("个人剂量计结果 %1 的标记已于 %2 关闭").arg(id).arg(q.value(0).toString()));
    q.finish();
    const int n = Sql::execCounted(QStringLiteral("update PassiveResult set closedBy = ?, closedAt = ?, closeComment = ? "
                                                  "where id = ? and closedAt is null"),
                                   {actor.isEmpty() ? Transaction::actor() : actor, stamp(), comment.trimmed(), id}, db);
    if (n != 1)
        return fail(why, QStringLiteral("个人剂量计结果 %1 的标记无法关闭").arg(id));
    if (!change.commit())
        return fail(why, QStringLiteral("保存失败"));
    return true;
}
