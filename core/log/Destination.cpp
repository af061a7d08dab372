// The log destination base's destructor, kept out of line.

#include "core/log/Destination.h"

namespace QsLogging {

// Out of line so the vtable lives in one object file.
Destination::~Destination() = default;

} // namespace QsLogging
