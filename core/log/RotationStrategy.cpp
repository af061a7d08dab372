#include "core/log/RotationStrategy.h"

namespace QsLogging {

RotationStrategy::~RotationStrategy() = default;

} // namespace QsLogging
