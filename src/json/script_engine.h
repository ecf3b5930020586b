#pragma once
// One JavaScript (ES5) interpreter, Duktape underneath, as JsonObject uses it:
// run a script in the global scope, or evaluate one and take its completion
// value (for a statement list, the value of the last statement executed) as a
// text, a number or a boolean.
//
// Scripts and results are GBK texts; the engine itself works in UTF-8, and
// the conversion happens here. No script error escapes: a failed run gives
// false, the empty text, 0 or false. Every run is bounded in time (the
// engine throws once the time limit has passed, also through a script's own
// try/catch) and the engine's whole heap is bounded in bytes (an allocation
// beyond the limit fails, which the script sees as an error). Should the
// engine ever hit an internal fatal error, the instance turns unusable
// instead of ending the process.
//
// An instance is confined to the thread that created it: no lock, and every
// call must come from that thread (checked in debug builds).
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace tavrin {

struct ScriptHeap;

class ScriptEngine {
 public:
  static constexpr size_t kDefaultMemoryLimit = size_t{32} << 20;
  static constexpr std::chrono::milliseconds kDefaultTimeLimit{1000};

  explicit ScriptEngine(size_t memoryLimit = kDefaultMemoryLimit,
                        std::chrono::milliseconds timeLimit = kDefaultTimeLimit);
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  // False when the engine could not be created or has had a fatal error.
  bool usable() const;

  // Runs the script as global code, without a result; false when it fails.
  bool addCode(const std::string& script);

  // Evaluates the script as global eval code for its effect; false when it
  // fails.
  bool evaluate(const std::string& script);
  // Evaluates the script as global eval code. A failure, and a completion
  // value of undefined or null, give the empty text; numbers come in the
  // form of numberText; anything else as JavaScript's String() of it.
  std::string evaluateText(const std::string& script);
  // Numbers as they are; other values converted as by Number(); a failure
  // or a conversion that gives NaN yields 0.
  double evaluateNumber(const std::string& script);
  // The value converted as by Boolean(); a failure yields false.
  bool evaluateBoolean(const std::string& script);

  // Bytes the engine's heap holds right now.
  size_t memoryInUse() const;

 private:
  std::unique_ptr<ScriptHeap> heap_;
};

}  // namespace tavrin
