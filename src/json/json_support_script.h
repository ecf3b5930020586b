#pragma once
#include <string>

namespace tavrin {

// The script added to every engine of a JsonObject, one ASCII line:
// get__count (the names a for-in loop yields, less the two enumerable
// members below); a global JSON object when the engine has none; JSON's
// pieces that the engine lacks (Date.prototype.toJSON together with the
// toJSON of String, Number and Boolean, JSON.stringify, JSON.parse with a
// regular-expression check before it evaluates), compiled only when one is
// missing; and, by plain assignment and so enumerable on every object,
// Object.prototype.toJSONString and Object.prototype.parseJSON.
const std::string& jsonSupportScript();

}  // namespace tavrin
