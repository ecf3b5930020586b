#pragma once
// One JSON value held in a JavaScript engine (the global variable "da"),
// read and changed by small generated scripts: the object never parses JSON
// itself. Paths are member expressions relative to the value, such as
// "data.CurrentURI", "list[2]" or "[0]"; paths and values are inserted into
// the scripts verbatim, so quotes and backslashes in them are script source.
// The texts in and out are GBK. Nothing fails loudly: a script the engine
// rejects gives the empty text, 0 or false.
//
// The usual pattern: JsonObject json; json.parse(text); json.getText("url").
//
// Copies share one engine (and so one value); the engine goes when the last
// copy does. An object and its copies are confined to the thread that made
// them: they have no lock and must not be handed to another thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "json/script_engine.h"

namespace tavrin {

// Kinds of value that typeOf reports and reset takes; there is no 3.
enum class JsonValueType : std::int32_t {
  Absent = 0,  // absent, undefined or null
  Boolean = 1,
  Number = 2,
  Object = 4,
  Array = 5,
  String = 6,
  Other = -1,  // any other typeof result, a function for example
};

class JsonObject {
 public:
  // A fresh engine whose value is an empty object. The engine is made when
  // the object is first used: parse makes a fresh one anyway, so the usual
  // pattern pays for one engine, not two.
  JsonObject();
  ~JsonObject();
  // The copy shares the engine and so reads and writes the same value.
  JsonObject(const JsonObject& other);
  JsonObject& operator=(const JsonObject& other);

  // A new engine with the support script and an empty object as value.
  void init();
  // Discards the engine, starts a fresh one, and evaluates the text as a
  // script expression (a JSON text is one; a text that is a quoted string
  // is evaluated a second time as code). True when the value obtained is
  // neither null nor undefined; after a syntax error the value is null.
  bool parse(const std::string& text);
  // The whole value as compact JSON.
  std::string toJson() const;

  // key = 'value' (asExpression false), or key = eval(value) with an empty
  // value taken as {} (asExpression true).
  void setMember(const std::string& key, const std::string& value, bool asExpression = false);
  void setMemberExpression(const std::string& key, const std::string& expression);
  void setMemberNumber(const std::string& key, double number);
  // 0 when the member is no number or the evaluation fails.
  double getMemberNumber(const std::string& key) const;
  std::string getMemberJson(const std::string& key) const;
  // A string member as its characters, a number in the form of numberText,
  // other values as JavaScript's String() of them; with asJson, the JSON text
  // of the member. Absent, null, or a failing path: the empty text.
  std::string getText(const std::string& path, bool asJson = false) const;
  // A new object (with its own engine) holding a copy of the member.
  JsonObject getObject(const std::string& path) const;
  // Members of an object, elements of an array; 0 for a missing member.
  std::int32_t count(const std::string& path = std::string()) const;
  // Pushes the value ('value', or as script source when raw) onto the array
  // at path (the value itself when empty), making it an array first if it
  // is none.
  void append(const std::string& value, const std::string& path = std::string(), bool raw = false);
  JsonObject getElementObject(std::int32_t index, const std::string& path = std::string()) const;
  std::string getElementText(std::int32_t index, const std::string& path = std::string(),
                             bool asJson = false) const;
  void setElement(std::int32_t index, const std::string& value, bool raw = false);
  void removeElement(std::int32_t index);
  // Removes the element of an array member named as "member[index]"; only
  // the first bracket pair counts. Nothing changes unless the member is an
  // array and the index a whole decimal number.
  void removeByPath(const std::string& path);
  // Object or Absent: an empty object; Array: an empty array; else nothing.
  void reset(JsonValueType type);
  void setValue(const std::string& value, bool raw = false);
  // True when the member is neither absent nor null.
  bool hasMember(const std::string& key) const;
  // Replaces names with the member names at path (indices for an array) in
  // the engine's enumeration order and returns their number.
  std::int32_t memberNames(std::vector<std::string>& names,
                           const std::string& path = std::string()) const;
  JsonValueType typeOf(const std::string& path = std::string()) const;
  // The value becomes an empty object.
  void clear();

 private:
  // The member-path rules: "dotted" is always name.path; "self" means the
  // value itself for an empty path; "indexed" joins a path that begins with
  // "[" without a dot.
  std::string dotted(const std::string& path) const;
  std::string dottedOrSelf(const std::string& path) const;
  std::string indexed(const std::string& path) const;
  std::string indexedOrSelf(const std::string& path) const;

  std::string evaluateText(const std::string& script) const;
  double evaluateNumber(const std::string& script) const;
  bool evaluateBoolean(const std::string& script) const;
  // Runs the script for its effect; the result is not wanted.
  void evaluate(const std::string& script) const;

  // The engine, made now if construction left it for later; null when no
  // engine could be made.
  ScriptEngine* engine() const;
  void startEngine() const;

  std::string name_;
  mutable std::shared_ptr<ScriptEngine> engine_;
  mutable bool engineDue_ = false;
};

}  // namespace tavrin
