#include "db/DatabaseBackup.h"

#include <QAtomicInt>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "db/AuditLog.h"
#include "report/OutputFile.h"

namespace {

const char* const kAutomaticPattern = "'database-'yyyyMMdd-hhmmss'.db'";
const int kNewestKept = 7;
const int kMonthsKept = 12;

// A private connection to one file, gone with the object. Names are unique
// across threads, so the start-up backup can run beside the window.
class Connection
{
public:
    Connection(const QString& path, bool readOnly)
        : name(QStringLiteral("backup.%1").arg(counter().fetchAndAddRelaxed(1)))
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        // A copy waits for the storage's commits rather than fail beside them.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=60000")
                             + (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
        db.open();
    }
    ~Connection()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const QString name;
    QSqlDatabase db;

private:
    static QAtomicInt& counter()
    {
        static QAtomicInt next;
        return next;
    }
};

bool fail(QString* reason, const QString& why)
{
    if (reason)
        *reason = why;
    return false;
}

// An empty file under a temporary name in the folder of target, removed
// again unless it is renamed into place.
bool makeTemporary(QTemporaryFile& file, const QString& target, QString* reason)
{
    file.setFileTemplate(target + QStringLiteral(".XXXXXX.part"));
    if (!file.open())
        return fail(reason, QStringLiteral("无法在 %1 写入文件: %2").arg(QFileInfo(target).absolutePath(), file.errorString()));
    file.close();
    return true;
}

// The copy's bytes on the disk before its name says it is complete.
bool flushToDisk(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && ::fsync(file.handle()) == 0;
}

// Replaces an existing target in one step (rename(2)), unlike QFile::rename.
bool moveInto(QTemporaryFile& file, const QString& target, QString* reason)
{
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return fail(reason, QStringLiteral("无法改名为 %1").arg(target));
    file.setAutoRemove(false);
    return true;
}

// Empty when the file at db passes integrity_check, else why not.
QString integrityProblem(const QSqlDatabase& db)
{
    if (!db.isOpen())
        return QStringLiteral("无法打开: ") + db.lastError().text();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next())
        return QStringLiteral("不是 SQLite 数据库 (%1)").arg(q.lastError().databaseText());
    const QString verdict = q.value(0).toString();
    return verdict == QLatin1String("ok") ? QString() : QStringLiteral("数据库已损坏: ") + verdict;
}

// A journal beside the database belongs to it: one left by a crash would be
// played back into whatever file takes the name next. Reading the database
// rolls it back; one that stays belongs to a write in progress elsewhere.
bool settleJournal(const QString& database, QString* reason)
{
    const QString journal = database + QStringLiteral("-journal");
    if (QFileInfo(journal).size() > 0) {
        Connection c(database, false);
        QSqlQuery q(c.db);
        q.exec(QStringLiteral("select count(*) from sqlite_master"));
    }
    if (QFileInfo(journal).size() > 0)
        return fail(reason, QStringLiteral("数据库正在被写入, 请稍后再试"));
    return true;
}

bool recordInAudit(const QString& database, const QString& action, const QString& rowKey, const QString& detail)
{
    Connection c(database, false);
    QSqlQuery q(c.db);
    for (const QString& statement : AuditLog::layout(c.db)) {
        if (!q.exec(statement))
            return false;
    }
    return AuditLog::write(c.db, action, QString(), rowKey, detail);
}

// The consistent copy: VACUUM INTO a temporary file beside target, checked,
// then given target's name.
bool snapshot(const QString& source, const QString& target, bool overwrite, BackupReport* report, QString* reason)
{
    const auto copy = [&](const QString& part, QString* why) {
        {
            Connection from(source, true);
            if (!from.db.isOpen())
                return fail(why, QStringLiteral("无法打开 %1: %2").arg(source, from.db.lastError().text()));
            QSqlQuery q(from.db);
            if (!q.prepare(QStringLiteral("VACUUM INTO ?")))
                return fail(why, QStringLiteral("无法复制 %1: %2").arg(source, q.lastError().text()));
            q.addBindValue(part);
            if (!q.exec())
                return fail(why, QStringLiteral("无法复制 %1: %2").arg(source, q.lastError().text()));
        }
        Connection copy(part, true);
        const QString problem = integrityProblem(copy.db);
        if (!problem.isEmpty())
            return fail(why, QStringLiteral("副本检查失败: ") + problem);
        QSqlQuery q(copy.db);
        report->counts.clear();
        for (const QString& table : DatabaseBackup::tables()) {
            // A table the source lacks counts as none.
            const int rows = q.exec(QStringLiteral("select count(*) from %1").arg(table)) && q.next() ? q.value(0).toInt() : 0;
            report->counts.append({table, rows});
        }
        return true;
    };
    if (!OutputFile::write({target, overwrite, source}, OutputFile::Format::Backup, copy, reason))
        return false;
    report->path = QFileInfo(target).absoluteFilePath();
    report->size = QFileInfo(target).size();
    return true;
}

} // namespace

const QStringList& DatabaseBackup::tables()
{
    static const QStringList names{QStringLiteral("Department"), QStringLiteral("Staff"),     QStringLiteral("Device"),
                                   QStringLiteral("Realdata"),   QStringLiteral("Monthdata"), QStringLiteral("Yeardata"),
                                   QStringLiteral("SeqYeardata")};
    return names;
}

QString DatabaseBackup::summary(const BackupReport& report)
{
    QStringList parts{QStringLiteral("size: %1 bytes").arg(report.size)};
    for (const auto& c : report.counts)
        parts << QStringLiteral("%1: %2").arg(c.first).arg(c.second);
    return parts.join(QStringLiteral("; "));
}

bool DatabaseBackup::backup(const QString& source, const QString& target, bool overwrite, BackupReport* report,
                            QString* reason)
{
    // Opening a file that is not there would create an empty database.
    if (!QFileInfo(source).isFile())
        return fail(reason, QStringLiteral("没有数据库: ") + source);
    // Where the copy may go (never over the database, nor any other one but
    // an earlier backup) is the output rules' to say.
    BackupReport made;
    if (!snapshot(source, target, overwrite, &made, reason))
        return false;
    made.audited = recordInAudit(source, QStringLiteral("backup"), made.path, summary(made));
    if (!made.audited)
        qWarning().noquote() << "backup: the audit row of" << made.path << "could not be written to" << source;
    if (report)
        *report = made;
    return true;
}

QString DatabaseBackup::folder(const QString& database)
{
    return QFileInfo(database).absoluteDir().filePath(QStringLiteral("backup"));
}

QString DatabaseBackup::automaticName(const QDateTime& at)
{
    return at.toString(QLatin1String(kAutomaticPattern));
}

QDateTime DatabaseBackup::automaticTime(const QString& name)
{
    return QDateTime::fromString(name, QLatin1String(kAutomaticPattern));
}

bool DatabaseBackup::due(const QStringList& names, const QDateTime& now)
{
    // One from the future (a clock put back) is no proof of a recent copy.
    return std::none_of(names.cbegin(), names.cend(), [&](const QString& name) {
        const QDateTime t = automaticTime(name);
        return t.isValid() && t <= now && t.secsTo(now) < 24 * 3600;
    });
}

QStringList DatabaseBackup::expired(const QStringList& names, const QDateTime& now)
{
    QList<QPair<QDateTime, QString>> ours;
    for (const QString& name : names) {
        const QDateTime t = automaticTime(name);
        if (t.isValid())
            ours.append({t, name});
    }
    std::sort(ours.begin(), ours.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const QDate firstMonth = QDate(now.date().year(), now.date().month(), 1).addMonths(1 - kMonthsKept);
    QSet<QDate> monthsSeen;
    QStringList gone;
    for (int i = 0; i < ours.size(); ++i) {
        const QDate day = ours.at(i).first.date();
        const QDate month(day.year(), day.month(), 1);
        const bool newestOfMonth = month >= firstMonth && !monthsSeen.contains(month);
        monthsSeen.insert(month);
        if (i >= kNewestKept && !newestOfMonth)
            gone.prepend(ours.at(i).second);
    }
    return gone;
}

bool DatabaseBackup::automatic(const QString& database, const QDateTime& now, BackupReport* report, QString* reason)
{
    const QString dir = folder(database);
    if (!QDir().mkpath(dir))
        return fail(reason, QStringLiteral("无法建立备份文件夹 ") + dir);
    QStringList names = QDir(dir).entryList(QDir::Files);
    if (!due(names, now)) {
        if (report)
            *report = BackupReport();
        return true;
    }
    const QString name = automaticName(now);
    if (!backup(database, QDir(dir).filePath(name), false, report, reason))
        return false;
    names << name;
    for (const QString& old : expired(names, now)) {
        if (!QFile::remove(QDir(dir).filePath(old)))
            qWarning().noquote() << "backup: cannot delete the old backup" << old;
    }
    return true;
}

bool DatabaseBackup::restorable(const QString& path, QString* reason)
{
    const QFileInfo file(path);
    if (!file.isFile())
        return fail(reason, QStringLiteral("找不到文件: ") + path);
    if (file.size() == 0)
        return fail(reason, QStringLiteral("文件是空的: ") + path);
    Connection c(path, true);
    const QString problem = integrityProblem(c.db);
    if (!problem.isEmpty())
        return fail(reason, problem);
    QStringList missing;
    const QStringList present = c.db.tables();
    for (const QString& table : tables()) {
        if (!present.contains(table))
            missing << table;
    }
    if (!missing.isEmpty())
        return fail(reason, QStringLiteral("不是本程序的数据库 (缺少表 %1)").arg(missing.join(QStringLiteral(", "))));
    return true;
}

bool DatabaseBackup::restore(const QString& source, const QString& database, const QDateTime& now, QString* kept,
                             QString* reason, const Release& release)
{
    if (!QFileInfo(database).isFile())
        return fail(reason, QStringLiteral("没有数据库: ") + database);
    const QString target = QFileInfo(database).absoluteFilePath();
    const QString keep = target + QStringLiteral(".before-restore-") + now.toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (QFileInfo::exists(keep))
        return fail(reason, QStringLiteral("文件已存在: ") + keep);
    if (!restorable(source, reason))
        return false;

    // The copy lies beside the database, checked, before anything changes.
    QTemporaryFile part;
    if (!makeTemporary(part, target, reason))
        return false;
    QFile::remove(part.fileName());
    if (!QFile::copy(source, part.fileName()) || !flushToDisk(part.fileName()))
        return fail(reason, QStringLiteral("无法复制 %1 到 %2").arg(source, part.fileName()));
    if (!restorable(part.fileName(), reason))
        return false;

    auto replace = [&] {
        if (!settleJournal(target, reason))
            return false;
        // The current file itself is kept under the new name (a second link
        // to it, or a copy where the file system has no links).
        if (::link(QFile::encodeName(target).constData(), QFile::encodeName(keep).constData()) != 0
            && !QFile::copy(target, keep))
            return fail(reason, QStringLiteral("无法保留当前数据库为 ") + keep);
        return moveInto(part, target, reason);
    };
    if (!(release ? release(replace) : replace()))
        return false;
    if (kept)
        *kept = keep;
    if (!recordInAudit(target, QStringLiteral("restore"), QFileInfo(source).absoluteFilePath(), QFileInfo(keep).fileName()))
        qWarning().noquote() << "restore: the audit row could not be written to" << target;
    return true;
}
