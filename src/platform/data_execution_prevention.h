#pragma once

namespace tavrin {

// Turning data-execution prevention off for the process is not available on
// Linux; always false.
bool turnOffDataExecutionPrevention();

}  // namespace tavrin
