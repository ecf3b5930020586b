#include "json/json_object.h"

#include <charconv>
#include <limits>

#include "json/json_support_script.h"
#include "json/number_text.h"
#include "platform/gbk_text.h"
#include "platform/text_between.h"

namespace tavrin {
namespace {

std::string quoteUnlessRaw(const std::string& value, bool raw) {
  return raw ? value : "'" + value + "'";
}

// A count from the engine as a 32-bit integer, truncated toward zero.
// get__count gives -2 for a value that for-in cannot enumerate (null,
// undefined); no count is below 0.
std::int32_t countFromNumber(double number) {
  if (!(number > 0)) return 0;
  if (number >= std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(number);
}

// The index of a "[n]" step: a whole decimal number, else nothing.
bool parseIndex(const std::string& text, std::int32_t& index) {
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, index);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// The pieces of a list in which every name is followed by a comma; a
// two-byte character is never cut.
std::vector<std::string> splitNameList(const std::string& list) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < list.size()) {
    size_t comma = findText(list, ",", start);
    if (comma == kTextNotFound) {
      pieces.push_back(list.substr(start));
      break;
    }
    pieces.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return pieces;
}

// A new object holding the value of a JSON text. A string comes in as that
// string: parsing its JSON would run the string's characters as code.
JsonObject objectFromJson(const std::string& json) {
  JsonObject object;
  if (!json.empty() && json[0] == '"') {
    object.setValue(json, true);
  } else {
    object.parse(json);
  }
  return object;
}

}  // namespace

JsonObject::JsonObject() : name_("da"), engineDue_(true) {}

JsonObject::~JsonObject() = default;

// A copy shares the engine, so the engine must exist before it is shared.
JsonObject::JsonObject(const JsonObject& other) : name_(other.name_) {
  other.engine();
  engine_ = other.engine_;
}

JsonObject& JsonObject::operator=(const JsonObject& other) {
  other.engine();
  name_ = other.name_;
  engine_ = other.engine_;
  engineDue_ = false;
  return *this;
}

void JsonObject::init() {
  engineDue_ = false;
  startEngine();
}

void JsonObject::startEngine() const {
  auto engine = std::make_shared<ScriptEngine>();
  engine_ = engine->usable() ? std::move(engine) : nullptr;
  if (engine_) engine_->addCode(jsonSupportScript());
  evaluate("var " + name_ + "={}");
}

ScriptEngine* JsonObject::engine() const {
  if (engineDue_) {
    engineDue_ = false;
    startEngine();
  }
  return engine_.get();
}

bool JsonObject::parse(const std::string& text) {
  // Every parse starts in a fresh engine; copies keep the old one.
  if (engineDue_ || engine_) {
    engine_.reset();
    init();
  }
  if (!engine_) return false;
  evaluate("var " + name_ + "=null");
  engine_->addCode("var " + name_ + "=eval(" + text + ")");
  return evaluateBoolean("null !=" + name_);
}

std::string JsonObject::toJson() const { return evaluateText("JSON.stringify(" + name_ + ")"); }

void JsonObject::setMember(const std::string& key, const std::string& value, bool asExpression) {
  if (!asExpression) {
    evaluate(dotted(key) + "='" + value + "'");
    return;
  }
  evaluate(dotted(key) + "= eval(" + (value.empty() ? std::string("{}") : value) + ")");
}

void JsonObject::setMemberExpression(const std::string& key, const std::string& expression) {
  evaluate(dotted(key) + "= eval(" + expression + ")");
}

void JsonObject::setMemberNumber(const std::string& key, double number) {
  evaluate(dotted(key) + "=" + numberText(number));
}

double JsonObject::getMemberNumber(const std::string& key) const {
  return evaluateNumber(dotted(key));
}

std::string JsonObject::getMemberJson(const std::string& key) const {
  return evaluateText("JSON.stringify(" + dotted(key) + ")");
}

std::string JsonObject::getText(const std::string& path, bool asJson) const {
  if (asJson) return evaluateText("JSON.stringify(" + indexed(path) + ")");
  if (!engine()) return std::string();
  if (typeOf(path) == JsonValueType::Number) return numberText(getMemberNumber(path));
  return evaluateText(indexed(path));
}

JsonObject JsonObject::getObject(const std::string& path) const {
  return objectFromJson(evaluateText("JSON.stringify(" + indexed(path) + ")"));
}

std::int32_t JsonObject::count(const std::string& path) const {
  return countFromNumber(evaluateNumber("get__count(" + indexedOrSelf(path) + ")"));
}

void JsonObject::append(const std::string& value, const std::string& path, bool raw) {
  std::string p = dottedOrSelf(path);
  evaluate("if (Object.prototype.toString.call(" + p + ") != '[object Array]') { " + p +
           "=new Array();} " + p + ".push(" + quoteUnlessRaw(value, raw) + ")");
}

JsonObject JsonObject::getElementObject(std::int32_t index, const std::string& path) const {
  return objectFromJson(
      evaluateText("JSON.stringify(" + dottedOrSelf(path) + "[" + std::to_string(index) + "])"));
}

std::string JsonObject::getElementText(std::int32_t index, const std::string& path,
                                       bool asJson) const {
  std::string element = dottedOrSelf(path) + "[" + std::to_string(index) + "]";
  return evaluateText(asJson ? "JSON.stringify(" + element + ")" : element);
}

void JsonObject::setElement(std::int32_t index, const std::string& value, bool raw) {
  evaluate(name_ + "[" + std::to_string(index) + "]=" + quoteUnlessRaw(value, raw));
}

void JsonObject::removeElement(std::int32_t index) {
  evaluate(name_ + ".splice(" + std::to_string(index) + ",1)");
}

void JsonObject::removeByPath(const std::string& path) {
  size_t bracket = findText(path, "[");
  std::string before = bracket == kTextNotFound ? std::string() : path.substr(0, bracket);
  std::int32_t index = 0;
  // Only an array member is rewritten: the JSON of any other value would be
  // parsed again below, which runs a string member as code.
  if (before.empty() || !parseIndex(textBetween(path, "[", "]"), index) ||
      typeOf(before) != JsonValueType::Array) {
    return;
  }
  JsonObject array;
  array.parse(getText(before, true));
  array.removeElement(index);
  setMemberExpression(before, array.toJson());
}

void JsonObject::reset(JsonValueType type) {
  if (type == JsonValueType::Absent || type == JsonValueType::Object) {
    evaluate("var " + name_ + "={}");
  } else if (type == JsonValueType::Array) {
    evaluate("var " + name_ + "=new Array()");
  }
}

void JsonObject::setValue(const std::string& value, bool raw) {
  evaluate(name_ + "=" + quoteUnlessRaw(value, raw));
}

bool JsonObject::hasMember(const std::string& key) const {
  return evaluateBoolean(dotted(key) + " !=null");
}

std::int32_t JsonObject::memberNames(std::vector<std::string>& names,
                                     const std::string& path) const {
  std::string list = evaluateText("var ary=''; for (var key in " + indexedOrSelf(path) +
                                  ") {ary=ary+ key+','; }");
  evaluate("ary=null");
  // The two members that the support script puts on Object.prototype are
  // enumerated with every object; they are dropped as whole names, so that a
  // member whose name merely ends in one of them keeps its name.
  names.clear();
  for (std::string& piece : splitNameList(list)) {
    if (piece != "toJSONString" && piece != "parseJSON") names.push_back(std::move(piece));
  }
  return static_cast<std::int32_t>(names.size());
}

JsonValueType JsonObject::typeOf(const std::string& path) const {
  std::string p = dottedOrSelf(path);
  if (evaluateBoolean(p + "==null")) return JsonValueType::Absent;
  std::string type = evaluateText("typeof (" + p + ")");
  if (type == "string") return JsonValueType::String;
  if (type == "number") return JsonValueType::Number;
  if (type == "boolean") return JsonValueType::Boolean;
  if (type == "object") {
    // The JSON text of the same expression, so that the value itself (the
    // empty path) is told apart as an array too.
    std::string json = evaluateText("JSON.stringify(" + p + ")");
    return !json.empty() && json[0] == '[' ? JsonValueType::Array : JsonValueType::Object;
  }
  return JsonValueType::Other;
}

void JsonObject::clear() { evaluate(name_ + "={}"); }

std::string JsonObject::dotted(const std::string& path) const { return name_ + "." + path; }

std::string JsonObject::dottedOrSelf(const std::string& path) const {
  return path.empty() ? name_ : dotted(path);
}

std::string JsonObject::indexed(const std::string& path) const {
  return !path.empty() && path[0] == '[' ? name_ + path : dotted(path);
}

std::string JsonObject::indexedOrSelf(const std::string& path) const {
  return path.empty() ? name_ : indexed(path);
}

std::string JsonObject::evaluateText(const std::string& script) const {
  ScriptEngine* running = engine();
  return running ? running->evaluateText(script) : std::string();
}

double JsonObject::evaluateNumber(const std::string& script) const {
  ScriptEngine* running = engine();
  return running ? running->evaluateNumber(script) : 0;
}

bool JsonObject::evaluateBoolean(const std::string& script) const {
  ScriptEngine* running = engine();
  return running && running->evaluateBoolean(script);
}

void JsonObject::evaluate(const std::string& script) const {
  if (ScriptEngine* running = engine()) running->evaluate(script);
}

}  // namespace tavrin
