#pragma once

// The rotation strategy of a log file that is never rotated.

#include "core/log/RotationStrategy.h"

namespace QsLogging {

// No rotation: the file starts empty on every run and grows without limit.
class NullRotationStrategy : public RotationStrategy
{
public:
    void setFileInfo(const QFile &file) override;
    void countMessage(const QString &message) override;
    bool shouldRotate() override;
    void rotate() override;
    QIODevice::OpenMode openMode() const override;
};

} // namespace QsLogging
