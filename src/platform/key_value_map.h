#pragma once
// Text keys to values of the kinds text, integer, boolean, map and list, as
// the program keeps device records, SOAP argument lists and server settings.
// A map owns copies of what it holds. Keys that begin with "//" are paths
// into nested values: members separated by ".", "[n]" selects the n-th item
// of a list counted from 1, as in "//service[1].serviceType".
//
// Like the standard containers, a map is safe for concurrent readers but not
// for a reader and a writer at once; KeyValueList is the shared one.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tavrin {

class KeyValueMap;
class KeyValueList;
class KeyValueJson;

// One value of a map or list. Holds its own copy of a nested map or list.
class KeyValue {
 public:
  enum class Kind { None, Text, Integer, Boolean, Map, List };

  KeyValue();
  KeyValue(std::string text);
  KeyValue(const char* text);
  template <typename Integer, std::enable_if_t<std::is_integral<Integer>::value &&
                                                   !std::is_same<Integer, bool>::value,
                                               int> = 0>
  KeyValue(Integer integer) : kind_(Kind::Integer), integer_(static_cast<std::int64_t>(integer)) {}
  KeyValue(bool boolean);
  KeyValue(const KeyValueMap& map);
  KeyValue(const KeyValueList& list);
  static KeyValue listOf(std::vector<KeyValue> items);

  KeyValue(const KeyValue& other);
  KeyValue(KeyValue&& other) noexcept;
  KeyValue& operator=(const KeyValue& other);
  KeyValue& operator=(KeyValue&& other) noexcept;
  ~KeyValue();

  Kind kind() const { return kind_; }
  // Texts as they are, integers in decimal, booleans as "true"/"false", maps
  // and lists as their compact JSON; empty for none.
  std::string asText() const;
  // Integers; booleans as 1/0; a text that is a whole decimal integer; else 0.
  std::int64_t asInteger() const;
  // Booleans; integers other than 0; the texts "true" and "1"; else false.
  bool asBoolean() const;
  // A copy of the map; empty when this is no map.
  KeyValueMap asMap() const;
  // The map held, or nullptr when this is no map.
  const KeyValueMap* map() const { return map_.get(); }
  // The items of a list; empty for any other kind.
  const std::vector<KeyValue>& items() const { return items_; }

 private:
  friend class KeyValueMap;
  friend class KeyValueJson;

  Kind kind_ = Kind::None;
  std::string text_;
  std::int64_t integer_ = 0;
  std::unique_ptr<KeyValueMap> map_;
  std::vector<KeyValue> items_;
};

using KeyValuePair = std::pair<std::string, KeyValue>;

class KeyValueMap {
 public:
  // Orders of getKeys and of the members in toJson.
  static constexpr int kInsertionOrder = 0;
  static constexpr int kAscendingOrder = 1;
  static constexpr int kDescendingOrder = 2;

  KeyValueMap();
  KeyValueMap(const KeyValueMap& other);
  KeyValueMap(KeyValueMap&& other) noexcept;
  KeyValueMap& operator=(const KeyValueMap& other);
  KeyValueMap& operator=(KeyValueMap&& other) noexcept;
  ~KeyValueMap();

  // A new map of the pairs in their order; each value keeps its kind, maps
  // and lists are copied. A later pair with the same key replaces the value
  // and keeps the earlier position.
  static KeyValueMap createMapFromPairs(std::initializer_list<KeyValuePair> pairs);

  // This map becomes a copy of `other`.
  void clone(const KeyValueMap& other);

  // A copy of the value under the key or path; kind None when there is none.
  KeyValue get(const std::string& keyOrPath) const;
  KeyValue::Kind kind(const std::string& keyOrPath) const;
  // The value as text (see KeyValue::asText); empty when there is none.
  std::string getText(const std::string& keyOrPath) const;
  std::int64_t getInt(const std::string& keyOrPath) const;
  bool getBool(const std::string& keyOrPath) const;
  // Copies of a nested map or list; empty when the value is of another kind.
  KeyValueMap getMap(const std::string& keyOrPath) const;
  KeyValueList getList(const std::string& keyOrPath) const;

  // Store a copy, replacing any value under the key; a replaced key keeps its
  // position. Along a path, members that are missing are created as maps as
  // long as no "[n]" step follows them; a "[n]" step must name an existing
  // item, and it is replaced. False (nothing changed) when the path is
  // malformed or cannot be followed, or the value is of kind None.
  bool set(const std::string& keyOrPath, KeyValue value);
  bool setText(const std::string& keyOrPath, const std::string& text);
  bool setInt(const std::string& keyOrPath, std::int64_t integer);
  bool setBool(const std::string& keyOrPath, bool boolean);
  bool setMap(const std::string& keyOrPath, const KeyValueMap& map);
  bool setList(const std::string& keyOrPath, const KeyValueList& list);

  // Items of the list or pairs of the map under the key or path; with the
  // empty key, this map's own pairs; 0 for any other value or none.
  int count(const std::string& keyOrPath = std::string()) const;

  // All keys: 0 insertion order, 1 ascending, 2 descending (byte order).
  std::vector<std::string> getKeys(int order = kInsertionOrder) const;

  void clear();

  // JSON of the map and all inside: maps as objects, lists as arrays, texts
  // as strings, integers as numbers, booleans as true/false. Text bytes pass
  // through unchanged, except a byte that begins no GBK character right
  // before a quote or a control character: it becomes "?", since read back
  // it would take the escape's backslash for its second byte. With
  // escapeNonAscii, GBK characters are written as \u escapes of their
  // Unicode characters instead. keyOrder as in getKeys, for nested maps too.
  std::string toJson(bool pretty = false, bool escapeNonAscii = false,
                     int keyOrder = kInsertionOrder) const;

  // Replaces the contents with the parsed JSON object. Text bytes pass
  // through unchanged (GBK included); a \u escape becomes the GBK bytes of
  // its character. Whole-number numbers that fit 64 bits become integers,
  // other numbers texts in their JSON spelling, null the empty text. False,
  // leaving the map empty, for malformed JSON, a root that is no object, or
  // nesting deeper than kMaxJsonDepth.
  bool fromJson(const std::string& json);
  static constexpr int kMaxJsonDepth = 256;

 private:
  friend class KeyValueJson;

  const KeyValue* find(const std::string& keyOrPath) const;
  const KeyValue* findMember(const std::string& key) const;
  KeyValue* findMember(const std::string& key);
  // Stores under the literal key, never as a path.
  void put(const std::string& key, KeyValue value);
  std::vector<const KeyValuePair*> orderedPairs(int order) const;

  std::vector<KeyValuePair> pairs_;
  std::unordered_map<std::string, size_t> index_;
};

}  // namespace tavrin

// getList returns a KeyValueList by value, so users of the map get it too.
#include "platform/key_value_list.h"
