#include "json/script_engine.h"

#include <duktape.h>

#include <cassert>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <thread>

#include "json/number_text.h"
#include "platform/text_encoding.h"

namespace tavrin {

// The engine's heap with what its callbacks need: the byte budget of the
// allocator, the deadline of the current run, and the escape of the fatal
// handler. Its address is Duktape's heap_udata.
struct ScriptHeap {
  size_t limit = 0;
  size_t used = 0;
  std::chrono::milliseconds timeLimit{0};
  std::chrono::steady_clock::time_point deadline;
  std::jmp_buf fatalEscape;
  bool escapeArmed = false;
  bool broken = false;
  duk_context* context = nullptr;
  std::thread::id owner = std::this_thread::get_id();
};

}  // namespace tavrin

// Called by the engine's interpreter every few hundred thousand
// instructions; while it answers true, the engine throws a RangeError that
// no script can catch for good.
extern "C" int tavrin_duktape_timed_out(void* heapUdata) {
  const auto* heap = static_cast<const tavrin::ScriptHeap*>(heapUdata);
  return std::chrono::steady_clock::now() > heap->deadline ? 1 : 0;
}

namespace tavrin {
namespace {

// Every block carries its size in front, so that the budget can be kept on
// reallocation and release.
constexpr size_t kBlockHeader = alignof(std::max_align_t);

size_t& blockSize(void* block) { return *static_cast<size_t*>(block); }

void* allocate(void* udata, duk_size_t size) {
  auto* heap = static_cast<ScriptHeap*>(udata);
  if (size == 0 || size > heap->limit - heap->used) return nullptr;
  void* block = std::malloc(kBlockHeader + size);
  if (block == nullptr) return nullptr;
  blockSize(block) = size;
  heap->used += size;
  return static_cast<char*>(block) + kBlockHeader;
}

void release(void* udata, void* pointer) {
  if (pointer == nullptr) return;
  auto* heap = static_cast<ScriptHeap*>(udata);
  void* block = static_cast<char*>(pointer) - kBlockHeader;
  heap->used -= blockSize(block);
  std::free(block);
}

void* reallocate(void* udata, void* pointer, duk_size_t size) {
  if (pointer == nullptr) return allocate(udata, size);
  if (size == 0) {
    release(udata, pointer);
    return nullptr;
  }
  auto* heap = static_cast<ScriptHeap*>(udata);
  void* block = static_cast<char*>(pointer) - kBlockHeader;
  size_t old = blockSize(block);
  if (size > old && size - old > heap->limit - heap->used) return nullptr;
  void* moved = std::realloc(block, kBlockHeader + size);
  if (moved == nullptr) return nullptr;
  blockSize(moved) = size;
  heap->used = heap->used - old + size;
  return static_cast<char*>(moved) + kBlockHeader;
}

// A fatal error leaves the heap in an undefined state and the handler must
// not return: jump back to the entry that called into the engine, which
// marks the instance unusable. Every entry arms the escape first.
void onFatal(void* udata, const char*) {
  auto* heap = static_cast<ScriptHeap*>(udata);
  if (!heap->escapeArmed) std::abort();  // unreachable: every entry is armed
  std::longjmp(heap->fatalEscape, 1);
}

enum class Want { Nothing, Text, Number, Boolean };

struct Run {
  const char* source;
  size_t length;
  bool asProgram;
  Want want;
};

// Runs inside duk_safe_call, so any error it raises is caught there. It
// leaves one value: the completion value converted to what is wanted
// (numbers stay numbers for text, undefined and null stay for "empty").
duk_ret_t runStep(duk_context* context, void* argument) {
  const auto* run = static_cast<const Run*>(argument);
  if (run->asProgram) {
    duk_compile_lstring(context, 0, run->source, run->length);
    duk_call(context, 0);
  } else {
    duk_eval_lstring(context, run->source, run->length);
  }
  switch (run->want) {
    case Want::Text:
      if (!duk_is_null_or_undefined(context, -1) && !duk_is_number(context, -1)) {
        duk_to_string(context, -1);
      }
      break;
    case Want::Number:
      if (!duk_is_number(context, -1) && std::isnan(duk_to_number(context, -1))) {
        duk_pop(context);
        duk_push_number(context, 0);
      }
      break;
    case Want::Boolean:
      duk_to_boolean(context, -1);
      break;
    case Want::Nothing:
      break;
  }
  return 1;
}

struct Outcome {
  enum class Kind { Other, Text, Number, Boolean };
  bool succeeded = false;
  Kind kind = Kind::Other;
  std::string text;
  double number = 0;
  bool boolean = false;
};

// Enters the engine with the fatal escape armed and the run's deadline set.
// Nothing with a destructor may live in this frame across the engine call:
// a fatal error leaves it by longjmp.
void enter(ScriptHeap& heap, const Run& run, Outcome& outcome) {
  assert(heap.owner == std::this_thread::get_id());
  if (heap.broken || heap.context == nullptr) return;
  heap.escapeArmed = true;
  if (setjmp(heap.fatalEscape) != 0) {
    heap.escapeArmed = false;
    heap.broken = true;
    return;
  }
  heap.deadline = std::chrono::steady_clock::now() + heap.timeLimit;
  duk_context* context = heap.context;
  if (duk_safe_call(context, runStep, const_cast<Run*>(&run), 0, 1) == DUK_EXEC_SUCCESS) {
    outcome.succeeded = true;
    if (duk_is_string(context, -1)) {
      duk_size_t length = 0;
      const char* text = duk_get_lstring(context, -1, &length);
      outcome.kind = Outcome::Kind::Text;
      outcome.text.assign(text, length);
    } else if (duk_is_number(context, -1)) {
      outcome.kind = Outcome::Kind::Number;
      outcome.number = duk_get_number(context, -1);
    } else if (duk_is_boolean(context, -1)) {
      outcome.kind = Outcome::Kind::Boolean;
      outcome.boolean = duk_get_boolean(context, -1) != 0;
    }
  }
  duk_pop(context);
  heap.escapeArmed = false;
}

Outcome runScript(ScriptHeap* heap, const std::string& script, bool asProgram, Want want) {
  Outcome outcome;
  if (heap == nullptr) return outcome;
  std::string source = gbkToUtf8(script);
  enter(*heap, Run{source.data(), source.size(), asProgram, want}, outcome);
  return outcome;
}

}  // namespace

ScriptEngine::ScriptEngine(size_t memoryLimit, std::chrono::milliseconds timeLimit)
    : heap_(std::make_unique<ScriptHeap>()) {
  heap_->limit = memoryLimit;
  heap_->timeLimit = timeLimit;
  heap_->deadline = std::chrono::steady_clock::now() + timeLimit;
  heap_->escapeArmed = true;
  if (setjmp(heap_->fatalEscape) != 0) {
    heap_->broken = true;
  } else {
    heap_->context = duk_create_heap(allocate, reallocate, release, heap_.get(), onFatal);
  }
  heap_->escapeArmed = false;
}

ScriptEngine::~ScriptEngine() {
  assert(heap_->owner == std::this_thread::get_id());
  // A broken heap cannot be destroyed safely; its memory is given up.
  if (heap_->context == nullptr || heap_->broken) return;
  // Destruction runs finalizers that scripts may have registered: they get
  // the same deadline, and errors stay inside the engine.
  heap_->escapeArmed = true;
  if (setjmp(heap_->fatalEscape) == 0) {
    heap_->deadline = std::chrono::steady_clock::now() + heap_->timeLimit;
    duk_context* context = heap_->context;
    heap_->context = nullptr;
    duk_destroy_heap(context);
  }
  heap_->escapeArmed = false;
}

bool ScriptEngine::usable() const { return heap_->context != nullptr && !heap_->broken; }

bool ScriptEngine::addCode(const std::string& script) {
  return runScript(heap_.get(), script, true, Want::Nothing).succeeded;
}

bool ScriptEngine::evaluate(const std::string& script) {
  return runScript(heap_.get(), script, false, Want::Nothing).succeeded;
}

std::string ScriptEngine::evaluateText(const std::string& script) {
  Outcome outcome = runScript(heap_.get(), script, false, Want::Text);
  // Numbers come back unconverted so that their text form is ours.
  if (outcome.kind == Outcome::Kind::Number) return numberText(outcome.number);
  return outcome.kind == Outcome::Kind::Text ? utf8ToGbk(outcome.text) : std::string();
}

double ScriptEngine::evaluateNumber(const std::string& script) {
  Outcome outcome = runScript(heap_.get(), script, false, Want::Number);
  return outcome.succeeded ? outcome.number : 0;
}

bool ScriptEngine::evaluateBoolean(const std::string& script) {
  return runScript(heap_.get(), script, false, Want::Boolean).boolean;
}

size_t ScriptEngine::memoryInUse() const { return heap_->used; }

}  // namespace tavrin
