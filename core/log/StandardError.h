#pragma once

// Where the logging's own complaints go: straight to the standard error stream.

#include <QString>

namespace QsLogging {

// The logging facility's own complaints go straight to the standard error
// stream: never through Qt's message handler, which might log again while
// the logger's lock is held.
class StandardError
{
public:
    // Writes the text in the local 8-bit encoding, without a line end.
    static void write(const QString &text);
};

} // namespace QsLogging
