#pragma once

// The logger every log line passes through: its level filter and its destinations.

#include "core/log/QsLog.h"
#include "core/log/Destination.h"

#include <QDebug>
#include <QMutex>
#include <QString>

#include <atomic>
#include <vector>

namespace QsLogging {

// The process-wide logger: a level filter and the destinations every line
// goes to. Configure it on the main thread before other threads log.
class Logger
{
public:
    static Logger &instance();

    Logger(const Logger &) = delete;
    Logger &operator=(const Logger &) = delete;

    void setLoggingLevel(Level newLevel);
    Level loggingLevel() const;

    // The handle must not be empty; destinations stay until process exit.
    void addDestination(DestinationPtr destination);

    // Collects one message and hands it to the logger when it goes out of
    // scope, i.e. at the end of the logging statement.
    class Helper
    {
    public:
        explicit Helper(Level level);
        ~Helper();
        Helper(const Helper &) = delete;
        Helper &operator=(const Helper &) = delete;

        QDebug &stream() { return m_stream; }

    private:
        Level m_level = InfoLevel;
        QString m_buffer;
        QDebug m_stream{&m_buffer};
    };

private:
    Logger() = default;
    ~Logger() = default;

    void write(const QString &message, Level level);

    QMutex m_mutex;
    // Atomic so call sites on any thread may read it without the lock.
    std::atomic<Level> m_level{InfoLevel};
    std::vector<DestinationPtr> m_destinations;
};

} // namespace QsLogging
