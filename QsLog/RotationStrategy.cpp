#include "QsLog/RotationStrategy.h"

namespace QsLogging {

RotationStrategy::~RotationStrategy() = default;

} // namespace QsLogging
