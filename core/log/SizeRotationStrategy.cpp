// Counting the log file's size and, past the limit, shifting the numbered backups and starting a fresh file.

#include "core/log/SizeRotationStrategy.h"

#include "core/log/StandardError.h"

#include <QFile>

#include <algorithm>

namespace QsLogging {

void SizeRotationStrategy::setFileInfo(const QFile &file)
{
    // The file's real size, so an existing log counts towards the limit.
    m_fileName = file.fileName();
    m_currentSizeInBytes = file.size();
}

void SizeRotationStrategy::countMessage(const QString &message)
{
    // Only the text's bytes: line ends are left out during a run.
    m_currentSizeInBytes += message.toUtf8().size();
}

bool SizeRotationStrategy::shouldRotate()
{
    return m_currentSizeInBytes > m_maxSizeInBytes;
}

QIODevice::OpenMode SizeRotationStrategy::openMode() const
{
    return QIODevice::Append;
}

void SizeRotationStrategy::setMaximumSizeInBytes(qint64 size)
{
    m_maxSizeInBytes = size;
}

void SizeRotationStrategy::setBackupCount(int backups)
{
    // A negative count would otherwise still keep one backup.
    m_backupsCount = std::clamp(backups, 0, MaxBackups);
}

QString SizeRotationStrategy::backupName(int index) const
{
    return m_fileName + QLatin1Char('.') + QString::number(index);
}

void SizeRotationStrategy::rotate()
{
    if (m_backupsCount == 0) {
        if (!QFile::remove(m_fileName))
            StandardError::write(QStringLiteral("QsLog: backup delete failed ") + m_fileName);
        return;
    }

    // Shift only up to the first gap; capping at N - 1 lets backup N - 1
    // overwrite the oldest one, so never more than N backups exist.
    int last = 0;
    for (int i = 1; i <= m_backupsCount; ++i) {
        if (!QFile::exists(backupName(i)))
            break;
        last = std::min(i, m_backupsCount - 1);
    }

    for (int i = last; i >= 1; --i) {
        const QString from = backupName(i);
        const QString to = backupName(i + 1);
        QFile::remove(to);
        if (!QFile::rename(from, to))
            StandardError::write(QStringLiteral("QsLog: could not rename backup ") + from
                                 + QStringLiteral(" to ") + to);
    }

    const QString first = backupName(1);
    if (QFile::exists(first))
        QFile::remove(first);
    if (!QFile::rename(m_fileName, first))
        StandardError::write(QStringLiteral("QsLog: could not rename log ") + m_fileName
                             + QStringLiteral(" to ") + first);
}

} // namespace QsLogging
