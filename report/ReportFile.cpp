#include "report/ReportFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

bool ReportFile::write(const QString& path, const Produce& produce, QString* why)
{
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QFileInfo target(path);
    if (path.isEmpty() || target.isDir())
        return fail(QStringLiteral("not a file name: ") + path);
    if (!target.absoluteDir().exists())
        return fail(QStringLiteral("no folder ") + target.absolutePath());
    QTemporaryFile temporary(target.absoluteDir().filePath(QStringLiteral(".") + target.fileName()
                                                           + QStringLiteral(".XXXXXX")));
    if (!temporary.open())
        return fail(QStringLiteral("cannot write in ") + target.absolutePath() + QStringLiteral(": ")
                    + temporary.errorString());
    temporary.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    temporary.close();
    QString reason;
    if (!produce(temporary.fileName(), &reason))
        return fail(reason.isEmpty() ? QStringLiteral("cannot write ") + path : reason);
    if (QFileInfo(temporary.fileName()).size() == 0)
        return fail(QStringLiteral("nothing was written to ") + path);
    if (QFile::exists(path) && !QFile::remove(path))
        return fail(QStringLiteral("cannot replace ") + path);
    if (!QFile::rename(temporary.fileName(), path))
        return fail(QStringLiteral("cannot rename the finished file to ") + path);
    temporary.setAutoRemove(false);
    return true;
}
