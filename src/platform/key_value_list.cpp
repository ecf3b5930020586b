#include "platform/key_value_list.h"

namespace tavrin {

KeyValueList::KeyValueList() = default;

KeyValueList::KeyValueList(std::vector<KeyValue> items) {
  items_.reserve(items.size());
  for (KeyValue& item : items) items_.push_back(std::make_shared<const KeyValue>(std::move(item)));
}

// Items never change once appended, so two lists may share them.
KeyValueList::KeyValueList(const KeyValueList& other) : items_(other.snapshot()) {}

KeyValueList& KeyValueList::operator=(const KeyValueList& other) {
  if (this == &other) return *this;
  std::vector<Item> copied = other.snapshot();
  std::lock_guard<std::mutex> lock(mutex_);
  items_.swap(copied);
  return *this;
}

KeyValueList::~KeyValueList() = default;

std::vector<KeyValueList::Item> KeyValueList::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_;
}

KeyValueList::Item KeyValueList::itemAt(int position) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (position < 1 || static_cast<size_t>(position) > items_.size()) return nullptr;
  return items_[position - 1];
}

std::string KeyValueList::getText(int position, const std::string& keyOrPath) const {
  Item item = itemAt(position);
  if (!item) return {};
  if (keyOrPath.empty()) return item->asText();
  return item->map() ? item->map()->getText(keyOrPath) : std::string();
}

bool KeyValueList::getMap(int position, KeyValueMap& out) const {
  Item item = itemAt(position);
  if (!item || !item->map()) {
    out.clear();
    return false;
  }
  out.clone(*item->map());
  return true;
}

KeyValue KeyValueList::get(int position) const {
  Item item = itemAt(position);
  return item ? *item : KeyValue();
}

void KeyValueList::appendMap(const KeyValueMap& map) { append(KeyValue(map)); }

void KeyValueList::append(const KeyValue& value) {
  auto item = std::make_shared<const KeyValue>(value);
  std::lock_guard<std::mutex> lock(mutex_);
  items_.push_back(std::move(item));
}

int KeyValueList::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(items_.size());
}

// The items are freed after the mutex is released, so a reader never waits
// for a long list being torn down.
void KeyValueList::clear() {
  std::vector<Item> removed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.swap(removed);
  }
}

std::vector<KeyValue> KeyValueList::items() const {
  std::vector<KeyValue> copies;
  for (const Item& item : snapshot()) copies.push_back(*item);
  return copies;
}

}  // namespace tavrin
