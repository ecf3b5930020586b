#include "platform/data_execution_prevention.h"

namespace tavrin {

bool turnOffDataExecutionPrevention() { return false; }

}  // namespace tavrin
