#pragma once

// The common base of the ways a log file is rotated.

#include <QIODevice>
#include <QString>

#include <memory>

class QFile;

namespace QsLogging {

// Decides when a file destination starts a new file and what happens to the
// old one.
class RotationStrategy
{
public:
    RotationStrategy() = default;
    virtual ~RotationStrategy();
    RotationStrategy(const RotationStrategy &) = delete;
    RotationStrategy &operator=(const RotationStrategy &) = delete;

    // Called with the freshly opened (or failed) file, at start and after
    // every rotation.
    virtual void setFileInfo(const QFile &file) = 0;
    virtual void countMessage(const QString &message) = 0;
    virtual bool shouldRotate() = 0;
    virtual void rotate() = 0;
    // Added to WriteOnly | Text whenever the file is opened.
    virtual QIODevice::OpenMode openMode() const = 0;
};

using RotationStrategyPtr = std::shared_ptr<RotationStrategy>;

} // namespace QsLogging
