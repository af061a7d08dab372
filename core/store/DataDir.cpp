// The data folder made ready: what is missing created with mode 0700, and the folder checked
// to be writable by this user.

#include "core/store/DataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

// The folders of path that do not exist yet, outermost first; empty when
// something on the way is not a folder.
QStringList missingFolders(const QString& path, QString* blocker)
{
    QStringList missing;
    QString at = QDir::cleanPath(QDir(path).absolutePath());
    while (!QFileInfo::exists(at) && !QFileInfo(at).isSymLink()) {
        missing.prepend(at);
        const QString up = QFileInfo(at).path();
        if (up == at)
            break;
        at = up;
    }
    if (!QFileInfo(at).isDir())
        *blocker = at;
    return missing;
}

void removeFolders(const QStringList& made)
{
    for (int i = made.size() - 1; i >= 0; --i)
        QDir().rmdir(made.at(i));
}

// Writes and removes a file, which a folder's mode alone does not prove.
bool writable(const QString& folder)
{
    QFile probe(QDir(folder).filePath(QStringLiteral(".dosemanager-write-probe")));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    probe.close();
    return probe.remove();
}

} // namespace

QString DataDir::prepare(const QString& path, bool create)
{
    if (path.isEmpty())
        return QStringLiteral("没有给出数据文件夹");
    QString blocker;
    const QStringList missing = missingFolders(path, &blocker);
    if (!blocker.isEmpty())
        return QStringLiteral("不是文件夹：") + blocker;
    if (!missing.isEmpty() && !create)
        return QStringLiteral("文件夹不存在：") + path;

    QStringList made;
    for (const QString& folder : missing) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            removeFolders(made);
            return QStringLiteral("无法建立文件夹 %1：%2").arg(folder, why);
        }
        made << folder;
    }
    if (!writable(path)) {
        removeFolders(made);
        return QStringLiteral("无法写入文件夹 ") + path;
    }
    return QString();
}
