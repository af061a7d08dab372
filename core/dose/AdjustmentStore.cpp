// The table "DoseAdjustment" at work: its layout and guards, an adjustment filed, approved and withdrawn, and read back.

#include "core/dose/AdjustmentStore.h"

#include <algorithm>

#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "core/audit/AuditLog.h"
#include "core/dose/DosePolicy.h"
#include "core/dose/DoseStatus.h"
#include "core/log/QsLog.h"
#include "core/register/StaffRegister.h"
#include "core/store/Dialect.h"
#include "core/store/Sql.h"
#include "core/store/Store.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"

namespace {

const char* const kColumns = "id, ID_card, month, kind, value_uSv, method, reason, createdBy, createdAt, approvedBy, "
                             "approvedAt, withdrawnBy, withdrawnAt, withdrawReason, state";

void readRow(const QSqlQuery& q, DoseAdjustmentdata& a)
{
    a.id = q.value(0).toInt();
    a.ID_card = q.value(1).toString();
    a.month = q.value(2).toString();
    a.kind = q.value(3).toString();
    a.value_uSv = q.value(4).toDouble();
    a.method = q.value(5).toString();
    a.reason = q.value(6).toString();
    a.createdBy = q.value(7).toString();
    a.createdAt = q.value(8).toString();
    a.approvedBy = q.value(9).toString();
    a.approvedAt = q.value(10).toString();
    a.withdrawnBy = q.value(11).toString();
    a.withdrawnAt = q.value(12).toString();
    a.withdrawReason = q.value(13).toString();
    a.state = q.value(14).toString();
}

void readNamedRow(const QSqlQuery& q, DoseAdjustmentdata& a)
{
    readRow(q, a);
    a.name = q.value(15).toString();
}

QString stamp(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

// The filing columns never change; the rest only while the row is pending;
// and nobody approves what they filed.
QString refusedUpdate()
{
    QStringList fixed, settled;
    for (const char* c : {"id", "month", "kind", "value_uSv", "method", "reason", "createdBy", "createdAt"})
        fixed << QStringLiteral("old.%1 IS DISTINCT FROM new.%1").arg(QLatin1String(c));
    for (const char* c : {"approvedBy", "approvedAt", "withdrawnBy", "withdrawnAt", "withdrawReason", "state"})
        settled << QStringLiteral("old.%1 IS DISTINCT FROM new.%1").arg(QLatin1String(c));
    return QStringLiteral("(%1) OR (old.state <> 'pending' AND (%2)) OR (old.state = 'pending' AND new.state = "
                          "'approved' AND new.approvedBy = old.createdBy)")
        .arg(fixed.join(QStringLiteral(" OR ")), settled.join(QStringLiteral(" OR ")));
}

Dialect::Trigger personGuard(const QSqlDatabase& db)
{
    // A person whose card no other row holds takes their adjustments along
    // only by a deletion, which is refused.
    const QString held = QStringLiteral("EXISTS (SELECT 1 FROM DoseAdjustment WHERE ID_card = old.ID_card) AND NOT "
                                        "EXISTS (SELECT 1 FROM Staff WHERE ID_card = old.ID_card AND id <> old.id)");
    return Dialect::refusingTrigger(db, QStringLiteral("Staff_adjusted_delete"), QStringLiteral("Staff"),
                                    QStringLiteral("delete"), held, QLatin1String(AdjustmentStore::kInUse));
}

} // namespace

const char* const AdjustmentStore::kTable = "DoseAdjustment";
const char* const AdjustmentStore::kKept = "an approved or withdrawn dose adjustment is never changed";
const char* const AdjustmentStore::kInUse = "the person has dose adjustments and cannot be deleted";

AdjustmentStore::AdjustmentStore(Store& store)
    : store(store)
{
}

QStringList AdjustmentStore::layout(const QSqlDatabase& db)
{
    const QString create = Dialect::createTable(
        db, QStringLiteral("CREATE TABLE IF NOT EXISTS DoseAdjustment (id INTEGER PRIMARY KEY, ID_card varchar NOT NULL, "
                           "month varchar NOT NULL, kind varchar NOT NULL CHECK (kind IN ('replace', 'notional')), "
                           "value_uSv double NOT NULL CHECK (value_uSv >= 0), method varchar NOT NULL CHECK (method IN "
                           "('stated', 'mean12', 'dept_median')), reason varchar NOT NULL CHECK (length(trim(reason)) "
                           ">= 10), createdBy varchar NOT NULL, createdAt varchar NOT NULL, approvedBy varchar, "
                           "approvedAt varchar, withdrawnBy varchar, withdrawnAt varchar, withdrawReason varchar, "
                           "state varchar NOT NULL CHECK (state IN ('pending', 'approved', 'withdrawn')))"));
    QStringList all{create,
                    QStringLiteral("CREATE INDEX IF NOT EXISTS idx_DoseAdjustment_card ON DoseAdjustment(ID_card, month)")};
    all += Dialect::guardRows(db, QLatin1String(kTable), refusedUpdate(), QLatin1String(kKept)).statements;
    all += personGuard(db).statements;
    return all;
}

QStringList AdjustmentStore::guardNames(const QSqlDatabase& db)
{
    return Dialect::guardRows(db, QLatin1String(kTable), refusedUpdate(), QLatin1String(kKept)).names
        << personGuard(db).name;
}

bool AdjustmentStore::layOut(const QSqlDatabase& db)
{
    return Sql::execAll(layout(db), db);
}

QString AdjustmentStore::problem(const Filing& f, const QString& thisMonth)
{
    const QDate first = QDate::fromString(f.month + QStringLiteral("01"), QStringLiteral("yyyyMMdd"));
    if (f.month.size() != 6 || !first.isValid())
        return QStringLiteral("月份应为 yyyyMM: ") + f.month;
    if (f.month > thisMonth)
        return QStringLiteral("不能更正将来的月份 %1").arg(f.month);
    if (f.kind != QLatin1String("replace") && f.kind != QLatin1String("notional"))
        return QStringLiteral("类型只能是 replace 或 notional: ") + f.kind;
    if (f.method != QLatin1String("stated") && f.method != QLatin1String("mean12")
        && f.method != QLatin1String("dept_median"))
        return QStringLiteral("方法只能是 stated、mean12 或 dept_median: ") + f.method;
    if (!(f.value >= 0))
        return QStringLiteral("剂量不能为负");
    if (f.reason.trimmed().size() < 10)
        return QStringLiteral("请写明原因 (至少 10 个字)");
    return QString();
}

int AdjustmentStore::file(const Filing& f, const QString& actor, QString* why, QSqlDatabase db, int* raised)
{
    const QDateTime now = Clock::now();
    const QString refused = problem(f, now.toString(QStringLiteral("yyyyMM")));
    if (!refused.isEmpty())
        return fail(why, refused);
    bool readable = false;
    const DosePolicy policy = DosePolicy::load(store, db, &readable);
    if (!readable)
        return fail(why, QStringLiteral("无法读取剂量政策, 未保存"));
    const bool atOnce = !policy.adjustmentNeedsApproval();
    int id = 0;
    {
        QMutexLocker lock(&Store::dataLock());
        if (!db.isOpen() || !AuditLog::watch(db))
            return fail(why, QStringLiteral("无法写入数据库"));
        Transaction change(db);
        QString people, worn;
        if (!change.begun()
            || !Sql::firstText(Sql::format("select count(*) from %s where ID_card = ? ;", store.staffTable),
                               {f.idCard}, db, people))
            return fail(why, QStringLiteral("无法读取数据库"));
        if (people.toInt() == 0)
            return fail(why, QStringLiteral("没有身份证号为 %1 的人员").arg(f.idCard));
        if (f.kind == QLatin1String("replace")) {
            // A month none of the person's periods touches has no reading to correct.
            const QDate first = QDate::fromString(f.month + QStringLiteral("01"), QStringLiteral("yyyyMMdd"));
            const QString from = first.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("000000");
            const QString to = first.addMonths(1).toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("000000");
            if (!Sql::isPlainName(store.wearingTable)
                || !Sql::firstText(Sql::format("select count(*) from %s where ID_card = ? and startTime < ? and "
                                               "(endTime = '' or endTime > ?) ;",
                                               store.wearingTable),
                                   {f.idCard, to, from}, db, worn))
                return fail(why, QStringLiteral("无法读取佩戴记录"));
            if (worn.toInt() == 0)
                return fail(why, QStringLiteral("%1 在 %2 没有佩戴期, 不能更正 (可登记估算剂量 notional)")
                                     .arg(f.idCard, f.month));
        }
        const QVariant none(QVariant::String);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("insert into DoseAdjustment(ID_card, month, kind, value_uSv, method, reason, createdBy, "
                                 "createdAt, approvedBy, approvedAt, state) values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                 "returning id"));
        for (const QVariant& v :
             {QVariant(f.idCard), QVariant(f.month), QVariant(f.kind), QVariant(qRound64(f.value * 100.0) / 100.0),
              QVariant(f.method), QVariant(f.reason.trimmed()), QVariant(actor), QVariant(stamp(now)),
              atOnce ? QVariant(actor) : none, atOnce ? QVariant(stamp(now)) : none,
              QVariant(atOnce ? QStringLiteral("approved") : QStringLiteral("pending"))})
            q.addBindValue(v);
        if (!q.exec() || !q.next())
            return fail(why, QStringLiteral("保存失败: ") + q.lastError().text());
        id = q.value(0).toInt();
        q.finish();
        if (atOnce
            && !AuditLog::write(db, QStringLiteral("approve"), QLatin1String(kTable),
                                QStringLiteral("%1 %2 %3").arg(id).arg(f.idCard, f.month),
                                QStringLiteral("approved when filed: adjustment_needs_approval = 0")))
            return fail(why, QStringLiteral("无法写入审计日志"));
        if (!change.commit())
            return fail(why, QStringLiteral("保存失败"));
    }
    const int alerts = atOnce ? judgeAnew(f.idCard, db) : 0;
    if (raised)
        *raised = alerts;
    return id;
}

bool AdjustmentStore::approve(int id, const QString& actor, QString* why, QSqlDatabase db, int* raised)
{
    DoseAdjustmentdata row;
    {
        QMutexLocker lock(&Store::dataLock());
        if (!db.isOpen() || !AuditLog::watch(db))
            return fail(why, QStringLiteral("无法写入数据库"));
        Transaction change(db);
        if (!change.begun())
            return fail(why, QStringLiteral("无法写入数据库"));
        if (!Sql::readFirst(QStringLiteral("select %1 from DoseAdjustment where id = ?").arg(QLatin1String(kColumns)),
                            {id}, db, row, readRow))
            return fail(why, QStringLiteral("没有编号为 %1 的剂量更正").arg(id));
        if (row.state != QLatin1String("pending"))
            return fail(why, QStringLiteral("剂量更正 %1 %2, 只能批准待批准的").arg(id).arg(
                                 DoseAdjustmentdata::stateText(row.state)));
        if (row.createdBy == actor)
            return fail(why, QStringLiteral("不能批准自己提交的剂量更正 (%1 由 %2 提交), 须由另一账户批准")
                                 .arg(id)
                                 .arg(actor));
        // The later approval counts: it never carries the time of an earlier one.
        QDateTime at = Clock::now();
        QString latest;
        if (!Sql::firstText(QStringLiteral("select coalesce(max(approvedAt), '') from DoseAdjustment where ID_card = ? "
                                           "and month = ? and state = 'approved'"),
                            {row.ID_card, row.month}, db, latest))
            return fail(why, QStringLiteral("无法读取数据库"));
        const QDateTime previous = QDateTime::fromString(latest, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        if (previous.isValid() && previous >= at)
            at = previous.addSecs(1);
        if (Sql::execCounted(QStringLiteral("update DoseAdjustment set state = 'approved', approvedBy = ?, approvedAt = ? "
                                            "where id = ? and state = 'pending'"),
                             {actor, stamp(at), id}, db)
                != 1
            || !change.commit())
            return fail(why, QStringLiteral("批准失败"));
    }
    const int alerts = judgeAnew(row.ID_card, db);
    if (raised)
        *raised = alerts;
    return true;
}

bool AdjustmentStore::withdraw(int id, const QString& reason, const QString& actor, QString* why, QSqlDatabase db)
{
    if (reason.trimmed().isEmpty())
        return fail(why, QStringLiteral("请写明撤回的原因"));
    QMutexLocker lock(&Store::dataLock());
    if (!db.isOpen() || !AuditLog::watch(db))
        return fail(why, QStringLiteral("无法写入数据库"));
    Transaction change(db);
    DoseAdjustmentdata row;
    if (!change.begun())
        return fail(why, QStringLiteral("无法写入数据库"));
    if (!Sql::readFirst(QStringLiteral("select %1 from DoseAdjustment where id = ?").arg(QLatin1String(kColumns)), {id},
                        db, row, readRow))
        return fail(why, QStringLiteral("没有编号为 %1 的剂量更正").arg(id));
    if (row.state != QLatin1String("pending"))
        return fail(why, QStringLiteral("剂量更正 %1 %2, 只能撤回待批准的; 已批准的更正可由新的更正取代")
                             .arg(id)
                             .arg(DoseAdjustmentdata::stateText(row.state)));
    return (Sql::execCounted(QStringLiteral("update DoseAdjustment set state = 'withdrawn', withdrawnBy = ?, "
                                            "withdrawnAt = ?, withdrawReason = ? where id = ? and state = 'pending'"),
                             {actor, stamp(Clock::now()), reason.trimmed(), id}, db)
                == 1
            && change.commit())
        || fail(why, QStringLiteral("撤回失败"));
}

bool AdjustmentStore::select(QList<DoseAdjustmentdata>& list, bool pendingOnly, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    list.clear();
    QStringList columns = QString::fromLatin1(kColumns).split(QStringLiteral(", "));
    for (QString& c : columns)
        c.prepend(QStringLiteral("a."));
    return db.isOpen()
        && Sql::readAll(QStringLiteral("select %1, coalesce((select min(s.name) from Staff s where s.ID_card = a.ID_card), "
                                       "'') from DoseAdjustment a %2 order by a.id")
                            .arg(columns.join(QStringLiteral(", ")),
                                 pendingOnly ? QStringLiteral("where a.state = 'pending'") : QString()),
                        {}, db, list, readNamedRow);
}

bool AdjustmentStore::selectByCard(QList<DoseAdjustmentdata>& list, const QString& idCard, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    list.clear();
    return db.isOpen()
        && Sql::readAll(QStringLiteral("select %1 from DoseAdjustment where ID_card = ? order by month, id")
                            .arg(QLatin1String(kColumns)),
                        {idCard}, db, list, readRow);
}

bool AdjustmentStore::selectById(DoseAdjustmentdata& row, int id, QSqlDatabase db)
{
    QMutexLocker lock(&Store::dataLock());
    return db.isOpen()
        && Sql::readFirst(QStringLiteral("select %1 from DoseAdjustment where id = ?").arg(QLatin1String(kColumns)), {id},
                          db, row, readRow);
}

bool AdjustmentStore::forMonths(QList<DoseAdjustmentdata>& list, const QString& idCard, const QString& first,
                                const QString& last, const QSqlDatabase& db)
{
    list.clear();
    return Sql::readAll(QStringLiteral("select %1 from DoseAdjustment where ID_card = ? and month >= ? and month <= ? "
                                       "and state <> 'withdrawn' order by coalesce(approvedAt, ''), id")
                            .arg(QLatin1String(kColumns)),
                        {idCard, first, last}, db, list, readRow);
}

int AdjustmentStore::judgeAnew(const QString& idCard, QSqlDatabase db)
{
    // The adjustment stands; alerts it calls for and cannot raise now are
    // raised by the next regular judgement.
    Staffdata person;
    if (!StaffRegister(store).selectByIdCard(person, idCard, db)) {
        QLOG_ERROR() << "the levels of" << idCard << "cannot be judged after an adjustment";
        return 0;
    }
    DoseStatus status(store, db);
    QList<PersonStatus> rows, theirs;
    const QDateTime now = Clock::now();
    if (!status.evaluate(rows, now, person.department)) {
        QLOG_ERROR() << "the levels of" << idCard << "cannot be judged after an adjustment";
        return 0;
    }
    for (const PersonStatus& p : qAsConst(rows)) {
        if (p.ID_card == idCard)
            theirs << p;
    }
    const int raised = status.raiseAlerts(theirs, now);
    if (raised < 0) {
        QLOG_ERROR() << "the alerts of" << idCard << "cannot be raised after an adjustment";
    }
    return std::max(raised, 0);
}
