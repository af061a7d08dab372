// The data folder's lock file taken, or the officer told who holds it.

#include "core/store/DataFolderLock.h"

#include <QDir>
#include <QFileInfo>

const char* const DataFolderLock::kFileName = "dosemanager.lock";

DataFolderLock::DataFolderLock(const QString& folder)
    : folder(QDir(folder).absolutePath())
    , file(QDir(folder).absoluteFilePath(QLatin1String(kFileName)))
{
    // The program holds the lock for weeks: its age says nothing. A lock
    // whose process is gone (or is another program now) is stale all the same.
    file.setStaleLockTime(0);
}

bool DataFolderLock::tryLock(QString* refusal)
{
    if (file.tryLock(0))
        return true;
    QString why;
    qint64 pid = 0;
    QString host, application;
    if (file.error() != QLockFile::LockFailedError)
        why = QStringLiteral("无法在数据文件夹 %1 建立锁文件 %2").arg(folder, QLatin1String(kFileName));
    else if (file.getLockInfo(&pid, &host, &application))
        why = QStringLiteral("数据文件夹 %1 正由另一个程序使用：进程 %2，主机 %3，程序 %4")
                  .arg(folder)
                  .arg(pid)
                  .arg(host, QFileInfo(application).fileName());
    else
        why = QStringLiteral("数据文件夹 %1 正由另一个程序使用（锁文件 %2）").arg(folder, QLatin1String(kFileName));
    if (refusal)
        *refusal = why;
    return false;
}
