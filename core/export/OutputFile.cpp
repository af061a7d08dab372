// Writes the files people keep, and decides where they may not go.

#include "core/export/OutputFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kSqliteMagic("SQLite format 3\0", 16);
// What SQLite keeps beside a database and plays back into it.
const char* const kCompanions[] = {"-wal", "-shm", "-journal"};

bool fail(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return false;
}

// Where the bytes would land: links followed, "." and ".." gone, so that two
// names of one file compare equal. Empty when the folder does not exist.
QString landing(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + info.fileName();
}

// One file under two names: a hard link has a canonical path of its own.
bool sameFile(const QString& a, const QString& b)
{
    struct stat one = {}, other = {};
    return ::stat(QFile::encodeName(a).constData(), &one) == 0 && ::stat(QFile::encodeName(b).constData(), &other) == 0
        && one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

QByteArray head(const QString& path, int size)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(size) : QByteArray();
}

bool isSqlite(const QString& path)
{
    return head(path, kSqliteMagic.size()) == kSqliteMagic;
}

bool syncToDisk(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace

QString OutputFile::ending(Format format)
{
    switch (format) {
    case Format::Pdf:
        return QStringLiteral("pdf");
    case Format::Xlsx:
        return QStringLiteral("xlsx");
    case Format::Xls:
        return QStringLiteral("xls");
    case Format::Backup:
        break;
    }
    return QStringLiteral("db");
}

QString OutputFile::endingProblem(const QString& path, Format format)
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(ending(format), Qt::CaseInsensitive) == 0)
        return QString();
    if (suffix.isEmpty())
        return QStringLiteral("文件名缺少结尾 .%1：%2").arg(ending(format), path);
    return QStringLiteral("文件名应以 .%1 结尾，不是 .%2：%3").arg(ending(format), suffix, path);
}

QString OutputFile::refusal(const Target& target, Format format)
{
    const QString& path = target.path;
    if (path.isEmpty())
        return QStringLiteral("没有给出文件名");
    if (const QString problem = endingProblem(path, format); !problem.isEmpty())
        return problem;
    const QFileInfo given(path);
    if (given.isSymLink() && !given.exists())
        return QStringLiteral("链接指向的文件不存在：") + path;
    const QString file = landing(path);
    if (file.isEmpty())
        return QStringLiteral("文件夹不存在：") + given.absolutePath();
    if (QFileInfo(file).isDir())
        return QStringLiteral("这是一个文件夹：") + path;

    // The register, and what SQLite keeps beside it, whatever their state.
    const QString database = target.database.isEmpty() ? QString() : landing(target.database);
    if (!database.isEmpty() && (file == database || sameFile(file, database)))
        return QStringLiteral("这是正在使用的数据库，不能写入：") + path;
    for (const char* companion : kCompanions) {
        const QString suffix = QLatin1String(companion);
        if (!database.isEmpty() && (file == database + suffix || sameFile(file, database + suffix)))
            return QStringLiteral("这是正在使用的数据库的 %1 文件，不能写入：%2").arg(suffix, path);
        if (file.endsWith(suffix) && isSqlite(file.chopped(suffix.size())))
            return QStringLiteral("这是数据库 %1 的 %2 文件，不能写入：%3").arg(file.chopped(suffix.size()), suffix, path);
    }

    if (!QFileInfo::exists(file))
        return QString();
    QFile existing(file);
    if (!existing.open(QIODevice::ReadOnly))
        return QStringLiteral("无法读取已有的文件 %1（%2），不能覆盖").arg(path, existing.errorString());
    // Any database, another register's above all; only our own backup may
    // give way to a newer one.
    if (existing.read(kSqliteMagic.size()) == kSqliteMagic && !(format == Format::Backup && isBackup(file)))
        return QStringLiteral("这是一个数据库文件（SQLite），不能覆盖：") + path;
    if (!target.replace)
        return QStringLiteral("文件已存在，未确认覆盖（--force）：") + path;
    return QString();
}

QString OutputFile::fromDialog(const QString& chosen, const QList<Format>& formats, const QString& database,
                               Target* target, Format* format)
{
    if (chosen.isEmpty() || formats.isEmpty())
        return QStringLiteral("没有给出文件名");
    *target = Target{chosen, true, database};
    *format = formats.first();
    const QString suffix = QFileInfo(chosen).suffix();
    if (suffix.isEmpty()) {
        target->path += QLatin1Char('.') + ending(*format);
        target->replace = false;
    } else {
        QStringList endings;
        for (const Format f : formats)
            endings << QLatin1Char('.') + ending(f);
        const auto same = [&suffix](Format f) { return suffix.compare(ending(f), Qt::CaseInsensitive) == 0; };
        const auto match = std::find_if(formats.cbegin(), formats.cend(), same);
        if (match == formats.cend())
            return QStringLiteral("文件名应以 %1 结尾：%2").arg(endings.join(QStringLiteral(" 或 ")), chosen);
        *format = *match;
    }
    const QString refused = refusal(*target, *format);
    // Said without the command line's --force.
    if (!refused.isEmpty() && !target->replace && refusal(Target{target->path, true, database}, *format).isEmpty())
        return QStringLiteral("文件已存在，未确认覆盖：") + target->path;
    return refused;
}

bool OutputFile::isBackup(const QString& path)
{
    const QByteArray bytes = head(path, 72);
    if (bytes.size() < 72 || !bytes.startsWith(kSqliteMagic))
        return false;
    const auto byte = [&bytes](int i) { return quint32(quint8(bytes.at(i))); };
    return (byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71)) == kBackupMark;
}

bool OutputFile::save(const Target& target, Format format, const Stream& produce, QString* why)
{
    if (const QString refused = refusal(target, format); !refused.isEmpty())
        return fail(why, refused);
    QSaveFile file(landing(target.path));
    if (!file.open(QIODevice::WriteOnly))
        return fail(why, QStringLiteral("无法写入 %1：%2").arg(target.path, file.errorString()));
    QString reason;
    if (!produce(file, &reason))
        return fail(why, reason.isEmpty() ? QStringLiteral("无法写入 ") + target.path : reason);
    if (file.size() == 0)
        return fail(why, QStringLiteral("没有写入任何内容：") + target.path);
    // Something may have taken the name while the file was produced.
    if (const QString refused = refusal(target, format); !refused.isEmpty())
        return fail(why, refused);
    if (!file.commit())
        return fail(why, QStringLiteral("无法写入 %1：%2").arg(target.path, file.errorString()));
    return true;
}

bool OutputFile::write(const Target& target, Format format, const Produce& produce, QString* why)
{
    if (const QString refused = refusal(target, format); !refused.isEmpty())
        return fail(why, refused);
    const QString file = landing(target.path);
    const QFileInfo info(file);
    QTemporaryFile part(info.absolutePath() + QStringLiteral("/.") + info.completeBaseName()
                        + QStringLiteral(".XXXXXX.") + info.suffix());
    if (!part.open())
        return fail(why, QStringLiteral("无法在 %1 写入文件：%2").arg(info.absolutePath(), part.errorString()));
    // A backup holds everyone's doses: its owner's only. Documents are read
    // like any file the user saves.
    part.setPermissions(format == Format::Backup
                            ? QFile::ReadOwner | QFile::WriteOwner
                            : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    part.close();
    const QString temporary = part.fileName();
    // A database written there may have left its journal beside it: gone
    // with a failure, and one that still holds pages means the copy is not
    // complete without it.
    const auto leftOver = [&temporary](bool all) {
        bool held = false;
        for (const char* companion : kCompanions) {
            const QString name = temporary + QLatin1String(companion);
            if (all || QFileInfo(name).size() == 0 || name.endsWith(QLatin1String("-shm")))
                QFile::remove(name);
            held = held || QFileInfo::exists(name);
        }
        return held;
    };
    QString reason;
    if (!produce(temporary, &reason)) {
        leftOver(true);
        return fail(why, reason.isEmpty() ? QStringLiteral("无法写入 ") + target.path : reason);
    }
    if (leftOver(false)) {
        leftOver(true);
        return fail(why, QStringLiteral("副本不完整（日志未写回）：") + target.path);
    }
    if (QFileInfo(temporary).size() == 0)
        return fail(why, QStringLiteral("没有写入任何内容：") + target.path);
    if (!syncToDisk(temporary, O_RDONLY))
        return fail(why, QStringLiteral("无法写入磁盘：") + temporary);
    if (const QString refused = refusal(target, format); !refused.isEmpty())
        return fail(why, refused);
    // rename(2) puts the finished file in place in one step, over an old one.
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(file).constData()) != 0)
        return fail(why, QStringLiteral("无法改名为 %1：%2").arg(target.path, QString::fromLocal8Bit(std::strerror(errno))));
    part.setAutoRemove(false);
    // The new name on the disk too; a file system that cannot sync a folder
    // has nothing to lose here.
    syncToDisk(info.absolutePath(), O_RDONLY | O_DIRECTORY);
    return true;
}
