// The register's checks (the file, malformed keys, totals against readings, readings stored twice,
// overlapping wear periods) and the repair of its totals.

#include "core/readings/IntegrityCheck.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QtGlobal>

#include <algorithm>
#include <map>
#include <utility>

#include "core/audit/AuditLog.h"
#include "core/store/Dialect.h"
#include "core/store/Dialect.h"
#include "core/store/Store.h"

namespace {

using Key = std::pair<int, QString>; // device, dataTime of the total

// A total row as stored; a key's second and later rows are extras.
struct TotalRow
{
    qint64 id = 0;
    double value = 0.0;
    QList<std::pair<qint64, double>> extras;
};

using Sums = std::map<Key, double>;
using Rows = std::map<Key, TotalRow>;

QString amount(double v)
{
    return QString::number(v, 'f', 3);
}

// Totals agree when they differ by less than 0.001 μSv; the difference is
// rounded first so that 12.341 - 12.34 counts as the 0.001 it is.
bool differs(double a, double b)
{
    return qRound64(qAbs(a - b) * 1e6) >= 1000;
}

// Walks the keys of both maps in order: visit(key, sum or nullptr, row or nullptr).
template <typename Visit>
void walk(const Sums& sums, const Rows& rows, Visit visit)
{
    auto s = sums.cbegin();
    auto r = rows.cbegin();
    while (s != sums.cend() || r != rows.cend()) {
        if (r == rows.cend() || (s != sums.cend() && s->first < r->first)) {
            visit(s->first, &s->second, nullptr);
            ++s;
        } else if (s == sums.cend() || r->first < s->first) {
            visit(r->first, nullptr, &r->second);
            ++r;
        } else {
            visit(s->first, &s->second, &r->second);
            ++s;
            ++r;
        }
    }
}

IntegrityFinding finding(IntegrityFinding::Kind kind, const QString& table, int slaveId, const QString& key,
                         const QString& what, const QString& expected, const QString& stored)
{
    return IntegrityFinding{kind, table, slaveId, key, what, expected, stored};
}

// The findings of one key of a totals table.
void judge(const QString& table, const Key& key, const double* sum, const TotalRow* row,
           QList<IntegrityFinding>& findings)
{
    const QString at = QStringLiteral("dataTime=") + key.second;
    if (row && !row->extras.isEmpty())
        findings << finding(IntegrityFinding::DuplicateTotal, table, key.first, at, QStringLiteral("累计重复"),
                            QStringLiteral("1 行"), QStringLiteral("%1 行").arg(row->extras.size() + 1));
    if (sum && row && differs(*sum, row->value))
        findings << finding(IntegrityFinding::WrongTotal, table, key.first, at, QStringLiteral("累计与读数之和不符"),
                            amount(*sum), amount(row->value));
    else if (sum && !row)
        findings << finding(IntegrityFinding::ReadingsWithoutTotal, table, key.first, at,
                            QStringLiteral("有读数而没有累计"), amount(*sum), QStringLiteral("无"));
    else if (!sum && row)
        findings << finding(IntegrityFinding::TotalWithoutReadings, table, key.first, at,
                            QStringLiteral("有累计而没有读数"), QStringLiteral("无"), amount(row->value));
}

// 1 when the text key k is a time key of its length, else 0: "yyyyMM",
// "yyyyMMdd", or an hour "yyyyMMddhh0000" (hour 00-23). The same on both
// stores; a CASE, so that no text that is not digits reaches the cast.
QString wellFormed(const QString& k, int length)
{
    const QString month = QStringLiteral("substr(%1, 5, 2)").arg(k);
    QStringList refused{QStringLiteral("%1 is null or length(%1) <> %2 or ltrim(%1, '0123456789') <> ''")
                            .arg(k)
                            .arg(length),
                        QStringLiteral("substr(%1, 1, 4) = '0000' or %2 < '01' or %2 > '12'").arg(k, month)};
    if (length >= 8) {
        const QString year = QStringLiteral("cast(substr(%1, 1, 4) as integer)").arg(k);
        const QString last = QStringLiteral("case when %1 in ('04', '06', '09', '11') then '30' when %1 = '02' then "
                                            "case when %2 % 4 = 0 and (%2 % 100 <> 0 or %2 % 400 = 0) then '29' "
                                            "else '28' end else '31' end")
                                 .arg(month, year);
        refused << QStringLiteral("substr(%1, 7, 2) < '01' or substr(%1, 7, 2) > %2").arg(k, last);
    }
    if (length == 14)
        refused << QStringLiteral("substr(%1, 9, 2) > '23' or substr(%1, 11, 4) <> '0000'").arg(k);
    QString expression = QStringLiteral("(case");
    for (const QString& r : qAsConst(refused))
        expression += QStringLiteral(" when ") + r + QStringLiteral(" then 0");
    return expression + QStringLiteral(" else 1 end)");
}

const QString kKeyText = QStringLiteral("cast(dataTime as text)");

QString period(const QSqlQuery& q, int first, const QString& owner)
{
    const QString end = q.value(first + 4).toString();
    const QString start = q.value(first + 3).toString();
    return QStringLiteral("id %1（%2，%3）")
        .arg(q.value(first).toString(), owner,
             end.isEmpty() ? start + QStringLiteral(" 至今") : QStringLiteral("%1 至 %2").arg(start, end));
}

} // namespace

struct IntegrityCheck::Totals
{
    Sums readDays;   // sums of the readings per device and "yyyyMMdd"
    Sums readMonths; // per device and "yyyyMM"
    Rows days;       // Monthdata
    Rows months;     // Yeardata
};

IntegrityCheck::IntegrityCheck(Store& database, QSqlDatabase db)
    : database(database)
    , db(db)
{
}

IntegrityCheck::~IntegrityCheck() = default;

bool IntegrityCheck::failed(const QSqlQuery& q, const QString& what)
{
    problem = QStringLiteral("无法%1：%2").arg(what, q.lastError().text());
    return false;
}

bool IntegrityCheck::fileFindings(QList<IntegrityFinding>& findings)
{
    // A server keeps its own files whole; an SQLite file is checked here.
    QStringList said;
    QSqlError error;
    if (!Dialect::checkFile(db, said, &error)) {
        problem = QStringLiteral("无法检查数据库文件：") + error.text();
        return false;
    }
    for (const QString& s : qAsConst(said))
        findings << finding(IntegrityFinding::DamagedFile, QStringLiteral("database"), -1, QString(),
                            QStringLiteral("文件已损坏（integrity_check）"), QStringLiteral("ok"), s);
    for (const QString& t : {database.realdataTable, database.monthdataTable, database.yeardataTable}) {
        if (!Dialect::hasTable(db, t)) {
            problem = QStringLiteral("不是剂量数据库：没有表 ") + t;
            return false;
        }
    }
    return true;
}

bool IntegrityCheck::load(Totals& totals)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // A day's key is the first eight digits of the reading's key, as the
    // storage takes them.
    const QString day = Dialect::keyPrefix(db, QStringLiteral("dataTime"), 8);
    // A reading whose key is no hour belongs to no day (malformedKeys() lists it).
    if (!q.exec(QStringLiteral("select slaveId, %2, coalesce(sum(probeValue), 0) from %1 where %3 = 1 group by 1, 2")
                    .arg(database.realdataTable, day, wellFormed(kKeyText, 14))))
        return failed(q, QStringLiteral("读取 ") + database.realdataTable);
    while (q.next()) {
        const Key day{q.value(0).toInt(), q.value(1).toString()};
        const double sum = q.value(2).toDouble();
        totals.readDays[day] += sum;
        totals.readMonths[Key{day.first, day.second.left(6)}] += sum;
    }
    if (q.lastError().isValid())
        return failed(q, QStringLiteral("读取 ") + database.realdataTable);
    for (const auto& target : {std::make_pair(&database.monthdataTable, &totals.days),
                               std::make_pair(&database.yeardataTable, &totals.months)}) {
        const int length = target.second == &totals.days ? 8 : 6;
        if (!q.exec(QStringLiteral("select id, slaveId, %2, probeValue from %1 where %3 = 1 order by id")
                        .arg(*target.first, kKeyText, wellFormed(kKeyText, length))))
            return failed(q, QStringLiteral("读取 ") + *target.first);
        while (q.next()) {
            const Key key{q.value(1).toInt(), q.value(2).toString()};
            const qint64 id = q.value(0).toLongLong();
            const double value = q.value(3).toDouble();
            // The lowest id is the row the program finds first; the others are extras.
            auto it = target.second->find(key);
            if (it == target.second->end())
                target.second->emplace(key, TotalRow{id, value, {}});
            else
                it->second.extras.append({id, value});
        }
        if (q.lastError().isValid())
            return failed(q, QStringLiteral("读取 ") + *target.first);
    }
    return true;
}

bool IntegrityCheck::duplicateReadings(QList<IntegrityFinding>& findings)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select slaveId, cast(dataTime as text), count(*) from %1 group by slaveId, dataTime "
                               "having count(*) > 1 order by slaveId, dataTime")
                    .arg(database.realdataTable)))
        return failed(q, QStringLiteral("读取 ") + database.realdataTable);
    while (q.next())
        findings << finding(IntegrityFinding::DuplicateReading, database.realdataTable, q.value(0).toInt(),
                            QStringLiteral("dataTime=") + q.value(1).toString(), QStringLiteral("读数重复"),
                            QStringLiteral("1 行"), QStringLiteral("%1 行").arg(q.value(2).toInt()));
    return !q.lastError().isValid() || failed(q, QStringLiteral("读取 ") + database.realdataTable);
}

bool IntegrityCheck::malformedKeys(QList<IntegrityFinding>& findings)
{
    struct Keyed
    {
        QString table;
        QString key;      // the text of the row's time key(s)
        QString valid;    // 1 when they are well formed
        const char* form; // what they should look like
    };
    // A wear period starts at the beginning of the records or at an hour,
    // and ends at an hour or not yet.
    const QString start = QStringLiteral("(case when startTime = '00000000000000' then 1 else %1 end)")
                              .arg(wellFormed(QStringLiteral("startTime"), 14));
    const QString end = QStringLiteral("(case when coalesce(endTime, '') = '' then 1 else %1 end)")
                            .arg(wellFormed(QStringLiteral("endTime"), 14));
    QList<Keyed> tables{
        {database.monthdataTable, kKeyText, wellFormed(kKeyText, 8), "yyyyMMdd"},
        {database.yeardataTable, kKeyText, wellFormed(kKeyText, 6), "yyyyMM"},
        {database.realdataTable, kKeyText, wellFormed(kKeyText, 14), "yyyyMMddhh0000"},
    };
    if (Dialect::hasTable(db, database.wearingTable))
        tables << Keyed{database.wearingTable,
                        QStringLiteral("coalesce(startTime, 'NULL') || '-' || coalesce(endTime, '')"),
                        QStringLiteral("(%1 * %2)").arg(start, end), "yyyyMMddhh0000-yyyyMMddhh0000"};
    QSqlQuery q(db);
    q.setForwardOnly(true);
    for (const Keyed& t : qAsConst(tables)) {
        if (!q.exec(QStringLiteral("select slaveId, %2, count(*) from %1 where %3 = 0 group by 1, 2 order by 1, 2")
                        .arg(t.table, t.key, t.valid)))
            return failed(q, QStringLiteral("读取 ") + t.table);
        qint64 rows = 0;
        int keys = 0;
        QStringList examples;
        while (q.next()) {
            rows += q.value(2).toLongLong();
            ++keys;
            if (examples.size() < 3)
                examples << QStringLiteral("slaveId=%1 %2").arg(
                    q.value(0).toString(), q.value(1).isNull() ? QStringLiteral("NULL") : q.value(1).toString());
        }
        if (q.lastError().isValid())
            return failed(q, QStringLiteral("读取 ") + t.table);
        if (rows > 0)
            findings << finding(IntegrityFinding::MalformedKeys, t.table, -1, QString(),
                                QStringLiteral("时间键格式错误"), QLatin1String(t.form),
                                QStringLiteral("%1 行：%2%3")
                                    .arg(rows)
                                    .arg(examples.join(QStringLiteral("，")),
                                         keys > examples.size() ? QStringLiteral("，…") : QString()));
    }
    return true;
}

bool IntegrityCheck::overlappingPeriods(QList<IntegrityFinding>& findings)
{
    const QString& w = database.wearingTable;
    if (!Dialect::hasTable(db, w))
        return true;
    // Two periods share an hour when each starts before the other ends (an
    // empty end is open). Pairs of one address, then pairs of one person on
    // two addresses; the program refuses both.
    const QString columns = QStringLiteral("a.id, a.slaveId, a.ID_card, a.startTime, coalesce(a.endTime, ''), "
                                           "b.id, b.slaveId, b.ID_card, b.startTime, coalesce(b.endTime, '')");
    const QString overlap = QStringLiteral("(coalesce(b.endTime, '') = '' or a.startTime < b.endTime) "
                                           "and (coalesce(a.endTime, '') = '' or b.startTime < a.endTime)");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("select %1, 0 from %2 a join %2 b on b.slaveId = a.slaveId and b.id > a.id where %3 "
                               "union all "
                               "select %1, 1 from %2 a join %2 b on b.ID_card = a.ID_card and b.id > a.id "
                               "and b.slaveId <> a.slaveId where %3 "
                               "order by 11, 2, 3, 4, 1, 6")
                    .arg(columns, w, overlap)))
        return failed(q, QStringLiteral("读取 ") + w);
    while (q.next()) {
        if (q.value(10).toInt() == 0)
            findings << finding(IntegrityFinding::OverlappingPeriods, w, q.value(1).toInt(), QString(),
                                QStringLiteral("同一地址的佩戴期间重叠"), QStringLiteral("无"),
                                period(q, 0, QStringLiteral("ID_card ") + q.value(2).toString()) + QStringLiteral("与 ")
                                    + period(q, 5, QStringLiteral("ID_card ") + q.value(7).toString()));
        else
            findings << finding(IntegrityFinding::OverlappingPeriods, w, -1,
                                QStringLiteral("ID_card=") + q.value(2).toString(),
                                QStringLiteral("同一人员的佩戴期间重叠"), QStringLiteral("无"),
                                period(q, 0, QStringLiteral("slaveId ") + q.value(1).toString()) + QStringLiteral("与 ")
                                    + period(q, 5, QStringLiteral("slaveId ") + q.value(6).toString()));
    }
    return !q.lastError().isValid() || failed(q, QStringLiteral("读取 ") + w);
}

bool IntegrityCheck::check(QList<IntegrityFinding>& findings)
{
    problem.clear();
    QList<IntegrityFinding> found;
    if (!fileFindings(found))
        return false;
    if (found.isEmpty()) {
        Totals totals;
        if (!malformedKeys(found) || !load(totals))
            return false;
        const auto judged = [&found](const QString& table) {
            return [&found, table](const Key& key, const double* sum, const TotalRow* row) {
                judge(table, key, sum, row, found);
            };
        };
        walk(totals.readDays, totals.days, judged(database.monthdataTable));
        walk(totals.readMonths, totals.months, judged(database.yeardataTable));
        if (!duplicateReadings(found) || !overlappingPeriods(found))
            return false;
    }
    findings = found;
    return true;
}

bool IntegrityCheck::mend(const QString& table, bool months, const Totals& totals, IntegrityRepair::Counts& counts,
                          QStringList& changes)
{
    QSqlQuery insert(db), update(db), remove(db);
    if (!insert.prepare(QStringLiteral("insert into %1(slaveId, dataTime, probeValue) values(?, ?, ?)").arg(table)))
        return failed(insert, QStringLiteral("写入 ") + table);
    if (!update.prepare(QStringLiteral("update %1 set probeValue = ? where id = ?").arg(table)))
        return failed(update, QStringLiteral("写入 ") + table);
    if (!remove.prepare(QStringLiteral("delete from %1 where id = ?").arg(table)))
        return failed(remove, QStringLiteral("写入 ") + table);
    QSet<int> devices;
    bool ok = true;
    walk(months ? totals.readMonths : totals.readDays, months ? totals.months : totals.days,
         [&](const Key& key, const double* sum, const TotalRow* row) {
             if (!ok || !sum)
                 return; // a total without readings is history, not ours to drop
             const QString at = QStringLiteral("%1 slaveId=%2 dataTime=%3: ").arg(table).arg(key.first).arg(key.second);
             if (!row) {
                 insert.addBindValue(key.first);
                 insert.addBindValue(key.second);
                 insert.addBindValue(*sum);
                 ok = insert.exec() || failed(insert, QStringLiteral("写入 ") + table);
                 changes << at + QStringLiteral("插入 ") + amount(*sum);
                 ++counts.inserted;
                 devices.insert(key.first);
                 return;
             }
             for (const auto& extra : row->extras) {
                 remove.addBindValue(extra.first);
                 ok = ok && (remove.exec() || failed(remove, QStringLiteral("写入 ") + table));
                 changes << at + QStringLiteral("删除第二行（id %1，%2）").arg(extra.first).arg(amount(extra.second));
                 ++counts.deleted;
                 devices.insert(key.first);
             }
             if (differs(*sum, row->value)) {
                 update.addBindValue(*sum);
                 update.addBindValue(row->id);
                 ok = ok && (update.exec() || failed(update, QStringLiteral("写入 ") + table));
                 changes << at + QStringLiteral("更新 %1 → %2").arg(amount(row->value), amount(*sum));
                 ++counts.updated;
                 devices.insert(key.first);
             }
         });
    if (!ok || counts.changed() == 0)
        return ok;
    QList<int> sorted = devices.values();
    std::sort(sorted.begin(), sorted.end());
    QStringList addresses;
    for (int d : qAsConst(sorted))
        addresses << QString::number(d);
    if (!AuditLog::write(db, QStringLiteral("repair"), table, addresses.join(QLatin1Char(' ')), counts.text())) {
        problem = QStringLiteral("无法写入审计日志");
        return false;
    }
    return true;
}

bool IntegrityCheck::repair(IntegrityRepair& result)
{
    problem.clear();
    // The write lock from the start: no reply is stored between reading the
    // readings and writing their totals.
    QSqlQuery transaction(db);
    QSqlError refused;
    if (!Dialect::beginWriteLocked(db, {database.realdataTable, database.monthdataTable, database.yeardataTable},
                                      &refused)) {
        problem = QStringLiteral("无法锁定数据库：") + refused.text();
        return false;
    }
    IntegrityRepair done;
    QList<IntegrityFinding> damage;
    Totals totals;
    bool ok = fileFindings(damage);
    if (ok && !damage.isEmpty()) {
        problem = QStringLiteral("数据库文件已损坏（%1），不能修复；请恢复一个备份").arg(damage.first().stored);
        ok = false;
    }
    // The audit trail an older file lacks comes with the repair it records.
    for (const QString& statement : AuditLog::layout(db)) {
        QSqlQuery q(db);
        ok = ok && (q.exec(statement) || failed(q, QStringLiteral("建立审计日志表")));
    }
    ok = ok && load(totals) && mend(database.monthdataTable, false, totals, done.days, done.changes)
        && mend(database.yeardataTable, true, totals, done.months, done.changes);
    if (ok) {
        const auto unmended = [&done](const QString& table) {
            return [&done, table](const Key& key, const double* sum, const TotalRow* row) {
                if (!sum)
                    judge(table, key, sum, row, done.left);
            };
        };
        QList<IntegrityFinding> malformed;
        ok = malformedKeys(malformed);
        done.left = malformed + done.left;
        walk(totals.readDays, totals.days, unmended(database.monthdataTable));
        walk(totals.readMonths, totals.months, unmended(database.yeardataTable));
        ok = ok && duplicateReadings(done.left) && overlappingPeriods(done.left);
    }
    if (ok && !transaction.exec(QStringLiteral("COMMIT")))
        ok = failed(transaction, QStringLiteral("提交修复"));
    if (!ok) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    result = done;
    return true;
}
