// The logger at work: its level, its destinations, and each line stamped with its level and time.

#include "core/log/Logger.h"

#include <QDateTime>
#include <QMutexLocker>

#include <cassert>

namespace QsLogging {

namespace {

QString levelLabel(Level level)
{
    switch (level) {
    case TraceLevel: return QStringLiteral("TRACE");
    case DebugLevel: return QStringLiteral("DEBUG");
    case InfoLevel: return QStringLiteral("INFO");
    case WarnLevel: return QStringLiteral("WARN");
    case ErrorLevel: return QStringLiteral("ERROR");
    case FatalLevel: return QStringLiteral("FATAL");
    case OffLevel: break;
    }
    return QString();
}

} // namespace

Logger &Logger::instance()
{
    static Logger logger;
    return logger;
}

void Logger::setLoggingLevel(Level newLevel)
{
    m_level.store(newLevel, std::memory_order_relaxed);
}

Level Logger::loggingLevel() const
{
    return m_level.load(std::memory_order_relaxed);
}

void Logger::addDestination(DestinationPtr destination)
{
    assert(destination);
    if (!destination)
        return;
    QMutexLocker lock(&m_mutex);
    m_destinations.push_back(std::move(destination));
}

void Logger::write(const QString &message, Level level)
{
    // One lock around all destinations keeps lines from different threads
    // whole and in the same order everywhere; rotation runs under it too.
    QMutexLocker lock(&m_mutex);
    for (const DestinationPtr &destination : m_destinations)
        destination->write(message, level);
}

Logger::Helper::Helper(Level level)
    : m_level(level)
{
}

Logger::Helper::~Helper()
{
    const QString timeStamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"));
    // The multi-argument arg() substitutes in one pass, so a '%1' inside the
    // message text is kept as it is.
    const QString line = QStringLiteral("%1 %2 %3")
                             .arg(levelLabel(m_level).rightJustified(5, QLatin1Char(' ')),
                                  timeStamp, m_buffer);
    Logger::instance().write(line, m_level);
}

} // namespace QsLogging
