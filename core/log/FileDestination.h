#pragma once

// The log destination that writes to a text file, rotated or not.

#include "core/log/Destination.h"
#include "core/log/RotationStrategy.h"

#include <QFile>
#include <QTextStream>

namespace QsLogging {

// Writes each line to a UTF-8 text file that stays open between messages;
// the rotation strategy decides when a fresh file is started.
class FileDestination : public Destination
{
public:
    FileDestination(const QString &filePath, RotationStrategyPtr rotationStrategy);

    void write(const QString &message, Level level) override;
    bool isValid() const override;

private:
    bool openFile();

    QFile m_file;
    QTextStream m_outputStream;
    RotationStrategyPtr m_rotationStrategy;
};

// With rotation on, the file is kept below maxSizeInBytes (checked per line)
// with up to ten backups; with rotation off it starts empty on each run.
DestinationPtr makeFileDestination(const QString &filePath, bool enableRotation,
                                   qint64 maxSizeInBytes, int oldLogsToKeep);

} // namespace QsLogging
