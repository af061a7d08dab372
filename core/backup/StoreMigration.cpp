// The move into PostgreSQL: the layout, every table copied with its ids, and both sides compared before the commit.

#include "core/backup/StoreMigration.h"

#include <QFileInfo>
#include <QLocale>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <cmath>

#include "core/audit/AuditLog.h"
#include "core/DataBase.h"
#include "core/backup/DatabaseBackup.h"
#include "core/store/Dialect.h"

namespace {

const char* const kSourceConnection = "migrate.source";
const char* const kTargetConnection = "migrate.target";
const QString kPolicy = QStringLiteral("DosePolicy");

// SQLite keeps the time keys of its "date" columns as numbers; the server
// keeps them as their digits, "20160414" or "20160414100000".
QVariant asText(const QVariant& v)
{
    if (v.isNull())
        return v;
    switch (v.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QString::number(v.toLongLong());
    case QMetaType::Double: {
        const double d = v.toDouble();
        if (std::floor(d) == d && std::fabs(d) < 1e18)
            return QString::number(qint64(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    default:
        return v;
    }
}

// "INSERT INTO table(columns) VALUES (?, ...), ..." for rows rows.
QString insertStatement(const QString& table, const QStringList& columns, int rows)
{
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    const QString row = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    QStringList values;
    for (int i = 0; i < rows; ++i)
        values << row;
    return QStringLiteral("INSERT INTO %1(%2) VALUES %3")
        .arg(table, columns.join(QLatin1Char(',')), values.join(QLatin1Char(',')));
}

// The rows of table and the sum of column (when given) on db.
bool measure(const QSqlDatabase& db, const QString& table, const QString& column, qint64& rows, double& sum)
{
    QSqlQuery q(db);
    const QString summed = column.isEmpty() ? QStringLiteral("0") : QStringLiteral("coalesce(sum(%1), 0)").arg(column);
    if (!q.exec(QStringLiteral("SELECT count(*), %1 FROM %2").arg(summed, table)) || !q.next())
        return false;
    rows = q.value(0).toLongLong();
    sum = q.value(1).toDouble();
    return true;
}

} // namespace

bool StoreMigration::Tally::matches() const
{
    return sourceRows == targetRows
        && (!summed || std::fabs(sourceSum - targetSum) <= 1e-9 * std::max(1.0, std::fabs(sourceSum)));
}

const QStringList& StoreMigration::tables()
{
    // Parents before the rows that name them, the audit trail last.
    static const QStringList names{
        QStringLiteral("Department"), QStringLiteral("Staff"),     QStringLiteral("Device"),
        QStringLiteral("Wearing"),    QStringLiteral("Realdata"),  QStringLiteral("Monthdata"),
        QStringLiteral("Yeardata"),   QStringLiteral("SeqYeardata"), kPolicy,
        QStringLiteral("DoseAlert"),  QStringLiteral("DoseAdjustment"),
        QStringLiteral("PassiveImport"), QStringLiteral("PassiveResult"), QStringLiteral("AuditLog")};
    return names;
}

QString StoreMigration::doseColumn(const QString& table)
{
    if (table == QLatin1String("Realdata") || table == QLatin1String("Monthdata")
        || table == QLatin1String("Yeardata") || table == QLatin1String("SeqYeardata"))
        return QStringLiteral("probeValue");
    if (table == QLatin1String("Staff"))
        return QStringLiteral("totalValue");
    if (table == QLatin1String("DoseAlert"))
        return QStringLiteral("dose");
    if (table == QLatin1String("DoseAdjustment"))
        return QStringLiteral("value_uSv");
    if (table == QLatin1String("PassiveResult"))
        return QStringLiteral("hp10_uSv");
    if (table == kPolicy)
        return QStringLiteral("value");
    return QString();
}

StoreMigration::StoreMigration(const QString& sourcePath, const StoreConfig& target)
    : sourcePath(sourcePath)
    , target(target)
{
}

void StoreMigration::setProgress(const std::function<void(const QString&, qint64, qint64)>& progress)
{
    this->progress = progress;
}

bool StoreMigration::fail(const QString& why)
{
    problem = why;
    return false;
}

bool StoreMigration::run()
{
    present.clear();
    counted.clear();
    copied = 0;
    problem.clear();
    if (!target.isShared())
        return fail(QStringLiteral("目标不是 PostgreSQL 数据库：%1").arg(target.describe()));
    bool ok = false;
    {
        QSqlDatabase source;
        if (openSource(source)) {
            DataBase store(target);
            if (!store.isOpen()) {
                fail(QStringLiteral("无法连接数据库 %1：%2").arg(target.describe(), store.openError()));
            } else {
                store.createConnection(QLatin1String(kTargetConnection));
                QSqlDatabase db = store.getConnection(QLatin1String(kTargetConnection));
                ok = db.isOpen() ? migrate(source, store, db)
                                 : fail(QStringLiteral("无法连接数据库 %1：%2")
                                            .arg(target.describe(), db.lastError().text()));
                db = QSqlDatabase();
                store.closeConnection(QLatin1String(kTargetConnection));
            }
        }
        source = QSqlDatabase();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kSourceConnection));
    QSqlDatabase::removeDatabase(QLatin1String(kTargetConnection));
    return ok;
}

bool StoreMigration::openSource(QSqlDatabase& source)
{
    // Opening a file that is not there would create an empty database.
    if (!QFileInfo(sourcePath).isFile())
        return fail(QStringLiteral("没有数据库文件 %1").arg(sourcePath));
    source = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kSourceConnection));
    source.setDatabaseName(sourcePath);
    source.setConnectOptions(StoreConfig::sqliteOptions(QStringLiteral("QSQLITE_OPEN_READONLY")));
    if (!source.open())
        return fail(QStringLiteral("无法打开 %1：%2").arg(sourcePath, source.lastError().text()));
    // A file that is no SQLite database lists no tables at all.
    for (const QString& t : DatabaseBackup::tables()) {
        if (!Dialect::hasTable(source, t))
            return fail(QStringLiteral("%1 不是本程序的 SQLite 数据库（没有表 %2）").arg(sourcePath, t));
    }
    for (const QString& t : tables()) {
        if (Dialect::hasTable(source, t))
            present << t;
    }
    return true;
}

bool StoreMigration::migrate(const QSqlDatabase& source, DataBase& store, const QSqlDatabase& db)
{
    if (!targetIsEmpty(db) || !layOut(store, db))
        return false;
    QSqlDatabase connection = db;
    QSqlError refused;
    if (!Dialect::beginWrite(connection, &refused))
        return fail(refused.text());
    if (!copy(source, db)) {
        connection.rollback();
        return false;
    }
    if (!connection.commit()) {
        const QString why = connection.lastError().text();
        connection.rollback();
        return fail(QStringLiteral("提交失败：") + why);
    }
    return true;
}

bool StoreMigration::targetIsEmpty(const QSqlDatabase& db)
{
    for (const QString& t : tables()) {
        // The policy rows are the defaults every new database starts with.
        if (t == kPolicy || !Dialect::hasTable(db, t))
            continue;
        qint64 rows = 0;
        double unused = 0;
        if (!measure(db, t, QString(), rows, unused))
            return fail(QStringLiteral("无法读取 %1 的表 %2：%3").arg(target.describe(), t, db.lastError().text()));
        if (rows > 0)
            return fail(QStringLiteral("%1 已有数据（%2：%3 行）；只能迁移到空的数据库")
                            .arg(target.describe(), t)
                            .arg(rows));
    }
    return true;
}

bool StoreMigration::layOut(DataBase& store, const QSqlDatabase& db)
{
    if (!store.createTables() || !store.createAddedTables()
        || (present.contains(QStringLiteral("Wearing")) && !store.ensureWearingTable(db)))
        return fail(QStringLiteral("无法在 %1 建表").arg(target.describe()));
    // The tables carry their audit triggers from the start, as the stations
    // expect; the copy below keeps them silent.
    if (!AuditLog::watch(db))
        return fail(QStringLiteral("无法在 %1 建立审计触发器").arg(target.describe()));
    for (const QString& t : qAsConst(present)) {
        if (!Dialect::hasTable(db, t))
            return fail(QStringLiteral("%1 没有表 %2").arg(target.describe(), t));
    }
    return true;
}

bool StoreMigration::copy(const QSqlDatabase& source, const QSqlDatabase& db)
{
    QSqlQuery q(db);
    const auto failed = [&](const QString& what) {
        return fail(QStringLiteral("无法%1：%2").arg(what, q.lastError().text()));
    };
    // The copied rows are history, not changes: no trigger records them.
    for (const QString& t : qAsConst(present)) {
        if (!q.exec(QStringLiteral("ALTER TABLE %1 DISABLE TRIGGER USER").arg(t)))
            return failed(QStringLiteral("停用 %1 的触发器").arg(t));
    }
    // The source's policy replaces the defaults.
    if (present.contains(kPolicy) && !q.exec(QStringLiteral("DELETE FROM %1").arg(kPolicy)))
        return failed(kPolicy);
    for (const QString& t : qAsConst(present)) {
        qint64 total = 0;
        double unused = 0;
        if (!measure(source, t, QString(), total, unused))
            return fail(QStringLiteral("无法读取 %1 的表 %2").arg(sourcePath, t));
        if (!copyTable(source, db, t, total))
            return false;
    }
    QStringList identities;
    for (const QString& t : qAsConst(present)) {
        if (!q.exec(QStringLiteral("ALTER TABLE %1 ENABLE TRIGGER USER").arg(t)))
            return failed(QStringLiteral("启用 %1 的触发器").arg(t));
        if (Dialect::columns(db, t).contains(QStringLiteral("id"), Qt::CaseInsensitive))
            identities << t;
    }
    // New rows of the stations take ids after the copied ones.
    if (!Dialect::resetIdentities(db, identities))
        return fail(QStringLiteral("无法设置编号序列：") + db.lastError().text());
    if (!compare(source, db))
        return false;
    const QString detail = QStringLiteral("source: %1; rows: %2")
                               .arg(QFileInfo(sourcePath).absoluteFilePath())
                               .arg(copied);
    if (!AuditLog::write(db, QStringLiteral("migrate"), QString(), target.describe(), detail))
        return fail(QStringLiteral("无法写入审计日志"));
    return true;
}

bool StoreMigration::copyTable(const QSqlDatabase& source, const QSqlDatabase& db, const QString& table,
                               qint64 total)
{
    const QStringList columns = Dialect::columns(source, table);
    const QSqlRecord fields = db.record(table.toLower());
    QList<bool> text;
    for (const QString& c : columns) {
        const int i = fields.indexOf(c);
        if (i < 0)
            return fail(QStringLiteral("%1 的表 %2 没有列 %3").arg(target.describe(), table, c));
        text << (fields.field(i).type() == QVariant::String);
    }
    if (columns.isEmpty())
        return fail(QStringLiteral("无法读取 %1 的表 %2").arg(sourcePath, table));

    QSqlQuery read(source);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(columns.join(QLatin1Char(',')), table)))
        return fail(QStringLiteral("无法读取 %1 的表 %2：%3").arg(sourcePath, table, read.lastError().text()));

    // Many rows go with one statement, prepared once; the server's limit of
    // parameters is far off.
    const int width = columns.size();
    const int batch = qBound(1, 30000 / width, 500);
    QSqlQuery full(db);
    if (!full.prepare(insertStatement(table, columns, batch)))
        return fail(QStringLiteral("无法把表 %1 复制到 %2：%3").arg(table, target.describe(), full.lastError().text()));
    QVariantList pending;
    pending.reserve(batch * width);
    qint64 done = 0;
    const auto insert = [&](QSqlQuery& q) {
        for (int i = 0; i < pending.size(); ++i)
            q.bindValue(i, pending.at(i));
        if (!q.exec())
            return fail(QStringLiteral("无法把表 %1 复制到 %2：%3").arg(table, target.describe(), q.lastError().text()));
        const qint64 before = done;
        done += pending.size() / width;
        pending.clear();
        if (progress && total >= progressStep && done / progressStep > before / progressStep)
            progress(table, done, total);
        return true;
    };
    while (read.next()) {
        for (int c = 0; c < width; ++c)
            pending << (text.at(c) ? asText(read.value(c)) : read.value(c));
        if (pending.size() == batch * width && !insert(full))
            return false;
    }
    if (read.lastError().isValid())
        return fail(QStringLiteral("无法读取 %1 的表 %2：%3").arg(sourcePath, table, read.lastError().text()));
    if (!pending.isEmpty()) {
        QSqlQuery tail(db);
        if (!tail.prepare(insertStatement(table, columns, pending.size() / width)))
            return fail(QStringLiteral("无法把表 %1 复制到 %2：%3").arg(table, target.describe(), tail.lastError().text()));
        if (!insert(tail))
            return false;
    }
    if (progress && total >= progressStep && done % progressStep != 0)
        progress(table, done, total);
    copied += done;
    return true;
}

bool StoreMigration::compare(const QSqlDatabase& source, const QSqlDatabase& db)
{
    QStringList differing;
    for (const QString& t : qAsConst(present)) {
        Tally c;
        c.table = t;
        const QString column = doseColumn(t);
        c.summed = !column.isEmpty();
        if (!measure(source, t, column, c.sourceRows, c.sourceSum))
            return fail(QStringLiteral("无法读取 %1 的表 %2").arg(sourcePath, t));
        if (!measure(db, t, column, c.targetRows, c.targetSum))
            return fail(QStringLiteral("无法读取 %1 的表 %2：%3").arg(target.describe(), t, db.lastError().text()));
        counted << c;
        if (!c.matches())
            differing << t;
    }
    if (!differing.isEmpty())
        return fail(QStringLiteral("复制后行数或剂量总和不一致：%1；未提交").arg(differing.join(QStringLiteral("、"))));
    return true;
}
