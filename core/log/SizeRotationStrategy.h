#pragma once

// The rotation of a log file by its size, with numbered backups.

#include "core/log/RotationStrategy.h"

#include <QString>

namespace QsLogging {

// Starts a new file once the log has grown past a maximum size and keeps up
// to ten numbered backups beside it: name.1 the newest, name.N the oldest.
class SizeRotationStrategy : public RotationStrategy
{
public:
    static constexpr int MaxBackups = 10;

    void setFileInfo(const QFile &file) override;
    void countMessage(const QString &message) override;
    bool shouldRotate() override;
    void rotate() override;
    QIODevice::OpenMode openMode() const override;

    void setMaximumSizeInBytes(qint64 size);
    // Clamped to 0..MaxBackups.
    void setBackupCount(int backups);

private:
    QString backupName(int index) const;

    QString m_fileName;
    qint64 m_currentSizeInBytes = 0;
    qint64 m_maxSizeInBytes = 0;
    int m_backupsCount = 0;
};

} // namespace QsLogging
