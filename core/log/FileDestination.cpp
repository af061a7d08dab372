// Log lines written to the log file, which is rotated whenever its strategy says so.

#include "core/log/FileDestination.h"

#include "core/log/NullRotationStrategy.h"
#include "core/log/SizeRotationStrategy.h"
#include "core/log/StandardError.h"

#include <utility>

namespace QsLogging {

FileDestination::FileDestination(const QString &filePath, RotationStrategyPtr rotationStrategy)
    : m_rotationStrategy(rotationStrategy ? std::move(rotationStrategy)
                                          : std::make_shared<NullRotationStrategy>())
{
    m_file.setFileName(filePath);
    if (!openFile())
        StandardError::write(QStringLiteral("QsLog: could not open log file ") + filePath);
    m_outputStream.setDevice(&m_file);
    m_outputStream.setCodec("UTF-8");
    m_rotationStrategy->setFileInfo(m_file);
}

bool FileDestination::openFile()
{
    return m_file.open(QIODevice::WriteOnly | QIODevice::Text | m_rotationStrategy->openMode());
}

void FileDestination::write(const QString &message, Level)
{
    m_rotationStrategy->countMessage(message);
    if (m_rotationStrategy->shouldRotate()) {
        m_outputStream.setDevice(nullptr);
        m_file.close();
        m_rotationStrategy->rotate();
        if (!openFile())
            StandardError::write(QStringLiteral("QsLog: could not reopen log file ")
                                 + m_file.fileName());
        m_rotationStrategy->setFileInfo(m_file);
        m_outputStream.setDevice(&m_file);
    }

    // A file that failed to open takes nothing; writing to it anyway would
    // make Qt print a warning for every line.
    if (!m_file.isOpen())
        return;
    m_outputStream << message << QLatin1Char('\n');
    m_outputStream.flush();
}

bool FileDestination::isValid() const
{
    return m_file.isOpen();
}

DestinationPtr makeFileDestination(const QString &filePath, bool enableRotation,
                                   qint64 maxSizeInBytes, int oldLogsToKeep)
{
    RotationStrategyPtr strategy;
    if (enableRotation) {
        auto sizeStrategy = std::make_shared<SizeRotationStrategy>();
        sizeStrategy->setMaximumSizeInBytes(maxSizeInBytes);
        sizeStrategy->setBackupCount(oldLogsToKeep);
        strategy = std::move(sizeStrategy);
    } else {
        strategy = std::make_shared<NullRotationStrategy>();
    }
    return std::make_shared<FileDestination>(filePath, std::move(strategy));
}

} // namespace QsLogging
