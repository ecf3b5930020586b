// Feeds an XML document (a device description or a SOAP body, as the
// program loads it: UTF-8 converted to GBK, or raw bytes) to
// XmlDocument::loadBytes, then runs the program's own queries on it and the
// paths the input names. Checks: a document that fails to load answers
// nothing; an element's "@n" children have names, and none follows the last;
// walking them backwards and again forwards (the cached "@n" steps) finds
// the same elements; texts come back equal when asked twice.
//
// Input: [paths piece, one path a line][document bytes...][flags byte]
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/text_encoding.h"
#include "platform/xml_document.h"

namespace tavrin {
namespace {

// Children compared in both directions; a backward walk restarts at the
// first child for every step.
constexpr int kWalkedChildren = 64;
constexpr size_t kMaxPaths = 16;

using fuzz::require;

void checkElement(const XmlDocument& document, const std::string& path) {
  const std::string name = document.nodeName(path);
  const int children = document.childCount(path);
  require(children >= 0);
  const std::string text = document.nodeText(path);
  require(document.nodeText(path) == text);
  if (name.empty()) {
    require(children == 0 && text.empty());
    return;
  }
  const int walked = std::min(children, kWalkedChildren);
  std::vector<std::string> forward;
  for (int i = 1; i <= walked; ++i) {
    forward.push_back(document.nodeName(path + "/@" + std::to_string(i)));
    require(!forward.back().empty());
  }
  for (int i = walked; i >= 1; --i) {
    require(document.nodeName(path + "/@" + std::to_string(i)) == forward[static_cast<size_t>(i - 1)]);
  }
  require(document.nodeName(path + "/@" + std::to_string(children + 1)).empty());
  if (walked > 0) require(document.nodeName(path + "/@1") == forward[0]);
}

// What the device-list builder and the SOAP reader ask.
const char* const kProgramPaths[] = {
    "root/device/dlna:X_DLNADOC", "root/URLBase", "root/device/friendlyName", "root/device/serviceList",
    "root/device/serviceList/@1/serviceType", "root/device/serviceList/@1/controlURL",
    "s:Envelope/s:Body/@1", "s:Envelope/s:Body/@1/@1", "s:Envelope/s:Body",
};

}  // namespace
}  // namespace tavrin

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavrin;
  FuzzedDataProvider input(data, size);
  const bool raw = input.ConsumeBool();
  const std::string paths = input.ConsumeRandomLengthString(1024);
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  XmlDocument document;
  const bool loaded = document.loadBytes(raw ? bytes : utf8ToGbk(bytes));
  std::vector<std::string> queries(std::begin(kProgramPaths), std::end(kProgramPaths));
  for (const std::string& path : fuzz::firstLines(paths, kMaxPaths)) queries.push_back(path);
  for (const std::string& path : queries) {
    if (!loaded) {
      require(document.nodeName(path).empty() && document.childCount(path) == 0 &&
              document.nodeText(path).empty());
      continue;
    }
    checkElement(document, path);
  }
  document.release();
  require(document.nodeName("root").empty());
  return 0;
}
