// Log lines to the debugger's output on Windows, to the standard error stream elsewhere.

#include "core/log/DebugOutputDestination.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include "core/log/StandardError.h"
#endif

namespace QsLogging {

void DebugOutputDestination::write(const QString &message, Level)
{
#ifdef Q_OS_WIN
    OutputDebugStringW(reinterpret_cast<const wchar_t *>(message.utf16()));
    OutputDebugStringW(L"\n");
#else
    StandardError::write(message);
    StandardError::write(QStringLiteral("\n"));
#endif
}

bool DebugOutputDestination::isValid() const
{
    return true;
}

DestinationPtr makeDebugOutputDestination()
{
    return std::make_shared<DebugOutputDestination>();
}

} // namespace QsLogging
