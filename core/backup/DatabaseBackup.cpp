// Backing up and restoring database.db: the checked copy, the start-up backup and its rotation, and the restore.

#include "core/backup/DatabaseBackup.h"

#include <QtEndian>
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
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "core/audit/AuditLog.h"
#include "core/store/FileConnection.h"
#include "core/store/RegisterFile.h"
#include "core/export/OutputFile.h"

namespace {

const char* const kAutomaticPattern = "'database-'yyyyMMdd-hhmmss'.db'";
const int kNewestKept = 7;
const int kMonthsKept = 12;

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
        return fail(reason, QStringLiteral("无法在 %1 写入文件：%2").arg(QFileInfo(target).absolutePath(), file.errorString()));
    file.close();
    return true;
}

// The copy's bytes on the disk before its name says it is complete.
bool flushToDisk(const QString& path, QString* reason = nullptr)
{
    QFile file(path);
    return (file.open(QIODevice::ReadWrite) && ::fsync(file.handle()) == 0)
        || fail(reason, QStringLiteral("无法写入 %1").arg(path));
}

// Replaces an existing target in one step (rename(2)), unlike QFile::rename.
bool renameOver(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool moveInto(QTemporaryFile& file, const QString& target, QString* reason)
{
    if (!renameOver(file.fileName(), target))
        return fail(reason, QStringLiteral("无法改名为 %1").arg(target));
    file.setAutoRemove(false);
    return true;
}

// Empty when the file at db passes integrity_check, else why not.
QString integrityProblem(const QSqlDatabase& db)
{
    if (!db.isOpen())
        return QStringLiteral("无法打开：") + db.lastError().text();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA integrity_check")) || !q.next())
        return QStringLiteral("不是 SQLite 数据库（%1）").arg(q.lastError().databaseText());
    const QString verdict = q.value(0).toString();
    return verdict == QLatin1String("ok") ? QString() : QStringLiteral("数据库已损坏：") + verdict;
}

// The whole content of the file at source as SQLite reads it (its -wal
// included) written to the empty file at target.
bool vacuumInto(const QString& source, const QString& target, QString* reason)
{
    FileConnection from(source, true);
    if (!from.db.isOpen())
        return fail(reason, QStringLiteral("无法打开 %1：%2").arg(source, from.db.lastError().text()));
    QSqlQuery q(from.db);
    if (!q.prepare(QStringLiteral("VACUUM INTO ?")))
        return fail(reason, QStringLiteral("无法复制 %1：%2").arg(source, q.lastError().text()));
    q.addBindValue(target);
    if (!q.exec())
        return fail(reason, QStringLiteral("无法复制 %1：%2").arg(source, q.lastError().text()));
    return true;
}

// A rollback journal that a reader would play back into the file.
bool hotJournal(const QString& database)
{
    QFile journal(database + QStringLiteral("-journal"));
    static const char magic[] = {'\xd9', '\xd5', '\x05', '\xf9', '\x20', '\xa1', '\x63', '\xd7'};
    return journal.open(QIODevice::ReadOnly) && journal.read(8) == QByteArray(magic, 8);
}

// A journal beside the database belongs to it: one left by a crash would be
// played back into whatever file takes the name next. Reading the database
// rolls it back; one that stays belongs to a write in progress elsewhere.
// (A journal kept empty or with a zeroed header, as "truncate" and "persist"
// leave it, is no write.)
bool settleJournal(const QString& database, QString* reason)
{
    if (hotJournal(database)) {
        FileConnection c(database, false);
        QSqlQuery q(c.db);
        q.exec(QStringLiteral("select count(*) from sqlite_master"));
    }
    if (hotJournal(database))
        return fail(reason, QStringLiteral("数据库正在被写入，请稍后再试"));
    return true;
}

bool recordInAudit(const QString& database, const QString& action, const QString& rowKey, const QString& detail)
{
    FileConnection c(database, false);
    QSqlQuery q(c.db);
    for (const QString& statement : AuditLog::layout(c.db)) {
        if (!q.exec(statement))
            return false;
    }
    return AuditLog::write(c.db, action, QString(), rowKey, detail);
}

// Gives path the owner (where this process may) and the mode of the file
// that was at the name before.
bool takeOwnerAndMode(const QString& path, const struct stat& of, QString* reason)
{
    const QByteArray name = QFile::encodeName(path);
    if (::chown(name.constData(), of.st_uid, of.st_gid) != 0 && errno != EPERM)
        return fail(reason, QStringLiteral("无法设置 %1 的所有者：%2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    if (::chmod(name.constData(), of.st_mode & 07777) != 0)
        return fail(reason, QStringLiteral("无法设置 %1 的权限：%2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return true;
}

// The consistent copy: VACUUM INTO a temporary file beside target, marked
// as a backup, checked, then given target's name.
bool snapshot(const QString& source, const QString& target, bool overwrite, BackupReport* report, QString* reason)
{
    const auto copy = [&](const QString& part, QString* why) {
        if (!vacuumInto(source, part, why))
            return false;
        FileConnection copy(part, false);
        QSqlQuery q(copy.db);
        if (copy.db.isOpen() && !q.exec(QStringLiteral("PRAGMA application_id = %1").arg(OutputFile::kBackupMark)))
            return fail(why, QStringLiteral("无法标记备份 %1：%2").arg(part, q.lastError().text()));
        const QString problem = integrityProblem(copy.db);
        if (!problem.isEmpty())
            return fail(why, QStringLiteral("副本检查失败：") + problem);
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

// The restored content in a temporary file beside the database: the whole
// of source as SQLite reads it, no longer marked as a backup, with the
// restore in its audit trail, checked, owned and moded as the database.
bool prepareRestore(QTemporaryFile& part, const QString& source, const QString& target, const QString& keep,
                    const struct stat& former, QString* reason)
{
    if (!makeTemporary(part, target, reason) || !vacuumInto(source, part.fileName(), reason))
        return false;
    {
        FileConnection copy(part.fileName(), false);
        QSqlQuery q(copy.db);
        if (!copy.db.isOpen() || !q.exec(QStringLiteral("PRAGMA application_id = 0")))
            return fail(reason, QStringLiteral("无法写入 %1：%2").arg(part.fileName(), q.lastError().text()));
    }
    if (!recordInAudit(part.fileName(), QStringLiteral("restore"), QFileInfo(source).absoluteFilePath(),
                       QFileInfo(keep).fileName()))
        return fail(reason, QStringLiteral("无法在 %1 中记录恢复").arg(part.fileName()));
    return DatabaseBackup::restorable(part.fileName(), reason) && flushToDisk(part.fileName(), reason)
        && takeOwnerAndMode(part.fileName(), former, reason);
}

// Keeps the database at target as keep, with what its -wal holds: read
// through SQLite when it can be, else its bytes (a damaged file, which
// dosectl may replace) with the -wal's beside them.
bool keepFormer(const QString& target, const QString& keep, const struct stat& former, QString* reason)
{
    QTemporaryFile part;
    if (!makeTemporary(part, keep, reason))
        return false;
    if (RegisterFile::fileProblem(target).isEmpty() && vacuumInto(target, part.fileName(), nullptr)) {
        if (!flushToDisk(part.fileName(), reason) || !takeOwnerAndMode(part.fileName(), former, reason))
            return false;
        return moveInto(part, keep, reason);
    }
    for (const QString& suffix : {QString(), QStringLiteral("-wal")}) {
        const QString from = target + suffix, to = keep + suffix;
        if (!QFileInfo::exists(from))
            continue;
        // A second link to the file, or a copy where the file system has none.
        if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0
            && !QFile::copy(from, to))
            return fail(reason, QStringLiteral("无法保留当前数据库为 ") + to);
    }
    return true;
}

void removeKept(const QString& keep)
{
    QFile::remove(keep);
    QFile::remove(keep + QStringLiteral("-wal"));
}

// Puts part in place of target. The journal files beside target are the
// former database's: kept, they would be played back into the new file. The
// -wal is moved aside first, so that a failed rename leaves target whole.
bool swapIn(QTemporaryFile& part, const QString& target, QString* reason)
{
    const QString wal = target + QStringLiteral("-wal"), aside = part.fileName() + QStringLiteral("-wal");
    const bool hadWal = QFileInfo::exists(wal);
    if (hadWal && !renameOver(wal, aside))
        return fail(reason, QStringLiteral("无法移走 %1").arg(wal));
    for (const QString& stale : {QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        if (QFileInfo::exists(target + stale) && !QFile::remove(target + stale)) {
            if (hadWal)
                renameOver(aside, wal);
            return fail(reason, QStringLiteral("无法删除 %1").arg(target + stale));
        }
    }
    if (!moveInto(part, target, reason)) {
        if (hadWal)
            renameOver(aside, wal);
        return false;
    }
    QFile::remove(aside);
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

QString DatabaseBackup::shown(const BackupReport& report)
{
    QStringList parts{QStringLiteral("大小：%1 字节").arg(report.size)};
    for (const auto& c : report.counts)
        parts << QStringLiteral("%1：%2 行").arg(c.first).arg(c.second);
    return parts.join(QStringLiteral("；"));
}

bool DatabaseBackup::backup(const QString& source, const QString& target, bool overwrite, BackupReport* report,
                            QString* reason)
{
    // Opening a file that is not there would create an empty database.
    if (!QFileInfo(source).isFile())
        return fail(reason, QStringLiteral("没有数据库：") + source);
    // An empty or foreign file would make a backup of nothing.
    if (const QString problem = RegisterFile::problem(source); !problem.isEmpty())
        return fail(reason, problem);
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
    if (const QString problem = RegisterFile::fileProblem(path); !problem.isEmpty())
        return fail(reason, problem);
    FileConnection c(path, true);
    QString problem = integrityProblem(c.db);
    if (problem.isEmpty())
        problem = RegisterFile::layoutProblem(c.db, path);
    return problem.isEmpty() || fail(reason, problem);
}

bool DatabaseBackup::restore(const QString& source, const QString& database, const QDateTime& now, QString* kept,
                             QString* reason, const Release& release)
{
    if (!QFileInfo(database).isFile())
        return fail(reason, QStringLiteral("没有数据库：") + database);
    const QString target = QFileInfo(database).absoluteFilePath();
    const QString keep = target + QStringLiteral(".before-restore-") + now.toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (QFileInfo::exists(keep))
        return fail(reason, QStringLiteral("文件已存在：") + keep);
    struct stat former;
    if (::stat(QFile::encodeName(target).constData(), &former) != 0)
        return fail(reason, QStringLiteral("无法读取 ") + target);
    if (!restorable(source, reason))
        return false;

    // The new content lies beside the database, complete and checked,
    // before anything changes.
    QTemporaryFile part;
    if (!prepareRestore(part, source, target, keep, former, reason))
        return false;

    auto replace = [&] {
        if (!settleJournal(target, reason))
            return false;
        if (keepFormer(target, keep, former, reason) && swapIn(part, target, reason))
            return true;
        removeKept(keep);
        return false;
    };
    if (!(release ? release(replace) : replace()))
        return false;
    if (kept)
        *kept = keep;
    return true;
}
