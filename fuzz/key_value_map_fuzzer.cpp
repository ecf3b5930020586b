// Feeds a JSON text to KeyValueMap::fromJson and "//" paths (and plain keys)
// to get / kind / count / set on the map. Checks: a parsed map's JSON,
// compact or pretty, in either key order, parses again to the same map;
// written with \u escapes it parses too (with fewer members when keys of
// bytes that are no GBK all become "?"); what set stores under a path reads
// back under it, and a set that fails changes nothing; the map's JSON reads
// back after any set (unless a path nests it deeper than fromJson reads).
//
// Input: [paths piece, one path a line][JSON bytes...][flags byte]
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/key_value_map.h"

namespace tavrin {
namespace {

constexpr size_t kMaxPaths = 16;

using fuzz::require;

void checkJsonRoundTrip(const KeyValueMap& map) {
  const std::string json = map.toJson();
  for (bool pretty : {false, true}) {
    for (int order : {KeyValueMap::kInsertionOrder, KeyValueMap::kAscendingOrder}) {
      KeyValueMap again;
      require(again.fromJson(map.toJson(pretty, false, order)));
      require(again.count() == map.count());
      if (order == KeyValueMap::kInsertionOrder) require(again.toJson() == json);
    }
    // \u escapes of GBK characters parse; bytes that are no GBK become "?",
    // so two keys may become one.
    KeyValueMap escaped;
    require(escaped.fromJson(map.toJson(pretty, true)));
    require(escaped.count() <= map.count() && (escaped.count() > 0) == (map.count() > 0));
  }
}

void checkPath(KeyValueMap& map, const std::string& path, uint8_t flags) {
  const KeyValue before = map.get(path);
  require(before.kind() == map.kind(path));
  require(map.getText(path) == before.asText());
  map.getInt(path);
  map.getBool(path);
  map.getMap(path);
  map.getList(path);
  require(map.count(path) >= 0);

  const std::string json = map.toJson();
  const std::string text = "v" + std::to_string(flags);
  bool stored = false;
  switch (flags % 3) {
    case 0:
      stored = map.setText(path, text);
      if (stored) require(map.getText(path) == text);
      break;
    case 1:
      stored = map.setInt(path, flags);
      if (stored) require(map.getInt(path) == flags && map.kind(path) == KeyValue::Kind::Integer);
      break;
    default:
      stored = map.setMap(path, KeyValueMap::createMapFromPairs({{"k", text}}));
      // count("") is the map's own size, not that of the value under "".
      if (stored) require(map.kind(path) == KeyValue::Kind::Map && (path.empty() || map.count(path) == 1));
      break;
  }
  if (!stored) require(map.toJson() == json);
}

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const uint8_t flags = input.ConsumeIntegral<uint8_t>();
  const std::string paths = input.ConsumeRandomLengthString(2048);
  const std::string json = input.ConsumeRemainingBytesAsString();

  KeyValueMap map;
  if (map.fromJson(json)) {
    checkJsonRoundTrip(map);
  } else {
    require(map.count() == 0);
  }
  uint8_t step = flags;
  bool deep = false;
  for (const std::string& path : fuzz::firstLines(paths, kMaxPaths)) {
    checkPath(map, path, step++);
    deep = deep || std::count(path.begin(), path.end(), '.') + 1 >= KeyValueMap::kMaxJsonDepth;
  }
  // A path of many steps makes maps nested deeper than fromJson reads.
  KeyValueMap again;
  require(again.fromJson(map.toJson()) || deep);
  return 0;
}
