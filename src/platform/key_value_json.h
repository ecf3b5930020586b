#pragma once
// JSON export and import of key-value maps (the map's toJson and fromJson).
#include <string>

#include "platform/key_value_map.h"

namespace tavrin {

class KeyValueJson {
 public:
  static std::string write(const KeyValue& value, bool pretty, bool escapeNonAscii, int keyOrder);
  static std::string writeMap(const KeyValueMap& map, bool pretty, bool escapeNonAscii, int keyOrder);
  // `out` receives the parsed object; false for anything but one well-formed
  // object filling the whole text.
  static bool parse(const std::string& json, KeyValueMap& out);

  // Building blocks for the parser, which needs the map's literal keys.
  static KeyValue mapValue(KeyValueMap map);
  static KeyValueMap takeMap(KeyValue& value);
  static void putMember(KeyValueMap& map, const std::string& key, KeyValue value);

 private:
  template <typename Writer>
  static void writeValue(Writer& writer, const KeyValue& value, int keyOrder);
  template <typename Writer>
  static void writeMembers(Writer& writer, const KeyValueMap& map, int keyOrder);
};

}  // namespace tavrin
