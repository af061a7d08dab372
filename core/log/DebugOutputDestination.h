#pragma once

// The log destination that writes to the debugger's output.

#include "core/log/Destination.h"

namespace QsLogging {

// Sends each line to the platform's debugger output; where there is no such
// facility, to the standard error stream.
class DebugOutputDestination : public Destination
{
public:
    void write(const QString &message, Level level) override;
    bool isValid() const override;
};

DestinationPtr makeDebugOutputDestination();

} // namespace QsLogging
