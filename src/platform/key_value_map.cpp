#include "platform/key_value_map.h"

#include <algorithm>
#include <charconv>

#include "platform/gbk_text.h"
#include "platform/key_value_json.h"

namespace tavrin {
namespace {

// One member of a "//" path with the list positions that follow its name.
struct PathStep {
  std::string name;
  std::vector<size_t> positions;
};

bool isPath(const std::string& key) { return key.compare(0, 2, "//") == 0; }

// A position is 1 to 999999999 in plain decimal digits.
bool parsePosition(const std::string& digits, size_t& position) {
  if (digits.empty() || digits.size() > 9) return false;
  position = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    position = position * 10 + static_cast<size_t>(c - '0');
  }
  return position >= 1;
}

// Splits what follows "//" into its steps; false when it is malformed. Walks
// by GBK characters, since a second byte may look like "[" or "]".
bool parsePath(const std::string& path, std::vector<PathStep>& steps) {
  PathStep step;
  for (size_t at = 0; at <= path.size();) {
    if (at == path.size() || path[at] == '.') {
      if (step.name.empty()) return false;
      steps.push_back(std::move(step));
      step = PathStep();
      ++at;
    } else if (path[at] == '[') {
      size_t close = path.find(']', at);
      size_t position = 0;
      if (close == std::string::npos || !parsePosition(path.substr(at + 1, close - at - 1), position)) {
        return false;
      }
      step.positions.push_back(position);
      at = close + 1;
    } else {
      if (!step.positions.empty()) return false;
      size_t length = gbkCharLength(path, at);
      step.name.append(path, at, length);
      at += length;
    }
  }
  return true;
}

}  // namespace

KeyValue::KeyValue() = default;

KeyValue::KeyValue(std::string text) : kind_(Kind::Text), text_(std::move(text)) {}

KeyValue::KeyValue(const char* text) : kind_(Kind::Text), text_(text ? text : "") {}

KeyValue::KeyValue(bool boolean) : kind_(Kind::Boolean), integer_(boolean ? 1 : 0) {}

KeyValue::KeyValue(const KeyValueMap& map)
    : kind_(Kind::Map), map_(std::make_unique<KeyValueMap>(map)) {}

KeyValue::KeyValue(const KeyValueList& list) : kind_(Kind::List), items_(list.items()) {}

KeyValue KeyValue::listOf(std::vector<KeyValue> items) {
  KeyValue value;
  value.kind_ = Kind::List;
  value.items_ = std::move(items);
  return value;
}

KeyValue::KeyValue(const KeyValue& other)
    : kind_(other.kind_),
      text_(other.text_),
      integer_(other.integer_),
      map_(other.map_ ? std::make_unique<KeyValueMap>(*other.map_) : nullptr),
      items_(other.items_) {}

KeyValue::KeyValue(KeyValue&& other) noexcept = default;

KeyValue& KeyValue::operator=(const KeyValue& other) {
  if (this != &other) *this = KeyValue(other);
  return *this;
}

KeyValue& KeyValue::operator=(KeyValue&& other) noexcept = default;

KeyValue::~KeyValue() = default;

std::string KeyValue::asText() const {
  switch (kind_) {
    case Kind::Text:
      return text_;
    case Kind::Integer:
      return std::to_string(integer_);
    case Kind::Boolean:
      return integer_ ? "true" : "false";
    case Kind::Map:
    case Kind::List:
      return KeyValueJson::write(*this, false, false, KeyValueMap::kInsertionOrder);
    case Kind::None:
      break;
  }
  return {};
}

std::int64_t KeyValue::asInteger() const {
  if (kind_ == Kind::Integer || kind_ == Kind::Boolean) return integer_;
  if (kind_ != Kind::Text) return 0;
  std::int64_t integer = 0;
  const char* end = text_.data() + text_.size();
  auto result = std::from_chars(text_.data(), end, integer);
  return (result.ec == std::errc() && result.ptr == end) ? integer : 0;
}

bool KeyValue::asBoolean() const {
  if (kind_ == Kind::Integer || kind_ == Kind::Boolean) return integer_ != 0;
  return kind_ == Kind::Text && (text_ == "true" || text_ == "1");
}

KeyValueMap KeyValue::asMap() const { return map_ ? *map_ : KeyValueMap(); }

KeyValueMap::KeyValueMap() = default;
KeyValueMap::KeyValueMap(const KeyValueMap& other) = default;
KeyValueMap::KeyValueMap(KeyValueMap&& other) noexcept = default;
KeyValueMap& KeyValueMap::operator=(const KeyValueMap& other) = default;
KeyValueMap& KeyValueMap::operator=(KeyValueMap&& other) noexcept = default;
KeyValueMap::~KeyValueMap() = default;

KeyValueMap KeyValueMap::createMapFromPairs(std::initializer_list<KeyValuePair> pairs) {
  KeyValueMap map;
  for (const KeyValuePair& pair : pairs) map.set(pair.first, pair.second);
  return map;
}

void KeyValueMap::clone(const KeyValueMap& other) {
  if (this != &other) *this = other;
}

const KeyValue* KeyValueMap::findMember(const std::string& key) const {
  auto found = index_.find(key);
  return found == index_.end() ? nullptr : &pairs_[found->second].second;
}

KeyValue* KeyValueMap::findMember(const std::string& key) {
  auto found = index_.find(key);
  return found == index_.end() ? nullptr : &pairs_[found->second].second;
}

void KeyValueMap::put(const std::string& key, KeyValue value) {
  if (KeyValue* existing = findMember(key)) {
    *existing = std::move(value);
    return;
  }
  index_.emplace(key, pairs_.size());
  pairs_.emplace_back(key, std::move(value));
}

const KeyValue* KeyValueMap::find(const std::string& keyOrPath) const {
  if (!isPath(keyOrPath)) return findMember(keyOrPath);
  std::vector<PathStep> steps;
  if (!parsePath(keyOrPath.substr(2), steps)) return nullptr;
  const KeyValueMap* current = this;
  const KeyValue* value = nullptr;
  for (const PathStep& step : steps) {
    value = current ? current->findMember(step.name) : nullptr;
    for (size_t position : step.positions) {
      if (!value || position > value->items_.size()) return nullptr;
      value = &value->items_[position - 1];
    }
    if (!value) return nullptr;
    current = value->map_.get();
  }
  return value;
}

KeyValue KeyValueMap::get(const std::string& keyOrPath) const {
  const KeyValue* value = find(keyOrPath);
  return value ? *value : KeyValue();
}

KeyValue::Kind KeyValueMap::kind(const std::string& keyOrPath) const {
  const KeyValue* value = find(keyOrPath);
  return value ? value->kind() : KeyValue::Kind::None;
}

std::string KeyValueMap::getText(const std::string& keyOrPath) const {
  const KeyValue* value = find(keyOrPath);
  return value ? value->asText() : std::string();
}

std::int64_t KeyValueMap::getInt(const std::string& keyOrPath) const {
  const KeyValue* value = find(keyOrPath);
  return value ? value->asInteger() : 0;
}

bool KeyValueMap::getBool(const std::string& keyOrPath) const {
  const KeyValue* value = find(keyOrPath);
  return value && value->asBoolean();
}

KeyValueMap KeyValueMap::getMap(const std::string& keyOrPath) const {
  const KeyValue* value = find(keyOrPath);
  return value ? value->asMap() : KeyValueMap();
}

KeyValueList KeyValueMap::getList(const std::string& keyOrPath) const {
  const KeyValue* value = find(keyOrPath);
  return KeyValueList(value ? value->items() : std::vector<KeyValue>());
}

bool KeyValueMap::set(const std::string& keyOrPath, KeyValue value) {
  if (value.kind() == KeyValue::Kind::None) return false;
  if (!isPath(keyOrPath)) {
    put(keyOrPath, std::move(value));
    return true;
  }
  std::vector<PathStep> steps;
  if (!parsePath(keyOrPath.substr(2), steps)) return false;
  KeyValueMap* current = this;
  for (size_t i = 0; i < steps.size(); ++i) {
    KeyValue* slot = current->findMember(steps[i].name);
    if (!slot) {
      // Everything from here on is new: maps can be made for plain names,
      // but no list item can be made up, so check before changing anything.
      bool plainNames = std::all_of(steps.begin() + i, steps.end(),
                                    [](const PathStep& step) { return step.positions.empty(); });
      if (!plainNames) return false;
      for (; i + 1 < steps.size(); ++i) {
        current->put(steps[i].name, KeyValue(KeyValueMap()));
        current = current->findMember(steps[i].name)->map_.get();
      }
      current->put(steps.back().name, std::move(value));
      return true;
    }
    for (size_t position : steps[i].positions) {
      if (position > slot->items_.size()) return false;
      slot = &slot->items_[position - 1];
    }
    if (i + 1 == steps.size()) {
      *slot = std::move(value);
      return true;
    }
    current = slot->map_.get();
    if (!current) return false;
  }
  return false;
}

bool KeyValueMap::setText(const std::string& keyOrPath, const std::string& text) {
  return set(keyOrPath, KeyValue(text));
}

bool KeyValueMap::setInt(const std::string& keyOrPath, std::int64_t integer) {
  return set(keyOrPath, KeyValue(integer));
}

bool KeyValueMap::setBool(const std::string& keyOrPath, bool boolean) {
  return set(keyOrPath, KeyValue(boolean));
}

bool KeyValueMap::setMap(const std::string& keyOrPath, const KeyValueMap& map) {
  return set(keyOrPath, KeyValue(map));
}

bool KeyValueMap::setList(const std::string& keyOrPath, const KeyValueList& list) {
  return set(keyOrPath, KeyValue(list));
}

int KeyValueMap::count(const std::string& keyOrPath) const {
  if (keyOrPath.empty()) return static_cast<int>(pairs_.size());
  const KeyValue* value = find(keyOrPath);
  if (!value) return 0;
  if (value->kind() == KeyValue::Kind::Map) return value->map_->count();
  if (value->kind() == KeyValue::Kind::List) return static_cast<int>(value->items_.size());
  return 0;
}

std::vector<const KeyValuePair*> KeyValueMap::orderedPairs(int order) const {
  std::vector<const KeyValuePair*> ordered;
  ordered.reserve(pairs_.size());
  for (const KeyValuePair& pair : pairs_) ordered.push_back(&pair);
  if (order == kAscendingOrder) {
    std::sort(ordered.begin(), ordered.end(),
              [](const KeyValuePair* a, const KeyValuePair* b) { return a->first < b->first; });
  } else if (order == kDescendingOrder) {
    std::sort(ordered.begin(), ordered.end(),
              [](const KeyValuePair* a, const KeyValuePair* b) { return a->first > b->first; });
  }
  return ordered;
}

std::vector<std::string> KeyValueMap::getKeys(int order) const {
  std::vector<std::string> keys;
  for (const KeyValuePair* pair : orderedPairs(order)) keys.push_back(pair->first);
  return keys;
}

void KeyValueMap::clear() {
  pairs_.clear();
  index_.clear();
}

std::string KeyValueMap::toJson(bool pretty, bool escapeNonAscii, int keyOrder) const {
  return KeyValueJson::writeMap(*this, pretty, escapeNonAscii, keyOrder);
}

bool KeyValueMap::fromJson(const std::string& json) {
  clear();
  KeyValueMap parsed;
  if (!KeyValueJson::parse(json, parsed)) return false;
  *this = std::move(parsed);
  return true;
}

}  // namespace tavrin
