// The rotation strategy base's destructor, kept out of line.

#include "core/log/RotationStrategy.h"

namespace QsLogging {

RotationStrategy::~RotationStrategy() = default;

} // namespace QsLogging
