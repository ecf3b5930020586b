#pragma once
// A text that one thread replaces while others read it (the selected media
// path, the sniffing renderer's address and name): every access copies under
// a lock of its own.
#include <mutex>
#include <string>

namespace tavrin {

class SharedText {
 public:
  std::string get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  void set(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.swap(text);
  }
  void clear() { set({}); }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace tavrin
