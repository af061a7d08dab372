#pragma once

// The common base of the places log lines go.

#include <QString>

#include <memory>

namespace QsLogging {

// Defined in QsLog.h; declared here so this header stands on its own.
enum Level : int;

// Somewhere a finished log line goes. The logger calls write() under its
// lock, so implementations need no locking of their own.
class Destination
{
public:
    Destination() = default;
    virtual ~Destination();
    Destination(const Destination &) = delete;
    Destination &operator=(const Destination &) = delete;

    virtual void write(const QString &message, Level level) = 0;
    virtual bool isValid() const = 0;
};

using DestinationPtr = std::shared_ptr<Destination>;

} // namespace QsLogging
