#pragma once
// An ordered list of values, positions counted from 1. The device list is
// one: the receive thread appends and the search button clears it while the
// GUI thread reads it without taking the program's SharedLock. So every
// operation is safe against any other; an internal mutex is held only to
// copy a pointer, and items never change once appended, so a reader copies
// or reads an item outside the mutex and never waits for a slow writer.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/key_value_map.h"

namespace tavrin {

class KeyValueList {
 public:
  KeyValueList();
  explicit KeyValueList(std::vector<KeyValue> items);
  KeyValueList(const KeyValueList& other);
  KeyValueList& operator=(const KeyValueList& other);
  ~KeyValueList();

  // The text under the key or "//" path in the map at the position; with
  // the empty key, the item itself as text. Empty when there is none.
  std::string getText(int position, const std::string& keyOrPath) const;

  // `out` becomes a copy of the map at the position; false (and `out`
  // emptied) when there is no map there.
  bool getMap(int position, KeyValueMap& out) const;

  // A copy of the item at the position; kind None when there is none.
  KeyValue get(int position) const;

  // Appends a copy at the end.
  void appendMap(const KeyValueMap& map);
  void append(const KeyValue& value);

  int count() const;
  void clear();

  // Copies of all items, in order.
  std::vector<KeyValue> items() const;

 private:
  using Item = std::shared_ptr<const KeyValue>;
  Item itemAt(int position) const;
  std::vector<Item> snapshot() const;

  mutable std::mutex mutex_;
  std::vector<Item> items_;
};

}  // namespace tavrin
