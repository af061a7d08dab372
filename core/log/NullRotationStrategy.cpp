// No rotation at all: the log file is emptied when opened and then only grows.

#include "core/log/NullRotationStrategy.h"

namespace QsLogging {

void NullRotationStrategy::setFileInfo(const QFile &)
{
}

void NullRotationStrategy::countMessage(const QString &)
{
}

bool NullRotationStrategy::shouldRotate()
{
    return false;
}

void NullRotationStrategy::rotate()
{
}

QIODevice::OpenMode NullRotationStrategy::openMode() const
{
    return QIODevice::Truncate;
}

} // namespace QsLogging
