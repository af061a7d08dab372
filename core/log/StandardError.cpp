// The logging's own complaints written to the standard error stream.

#include "core/log/StandardError.h"

#include <QByteArray>

#include <cstdio>

namespace QsLogging {

void StandardError::write(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace QsLogging
