#pragma once
// The reader/writer lock that guards the device list: its write side is held
// by the device-list builder for a whole run and by the search button while
// it empties the list. Not recursive: a thread that holds a side must not
// take the lock again.
#include <shared_mutex>

namespace tavrin {

class SharedLock {
 public:
  SharedLock() = default;
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

  // Blocks until the calling thread holds the write side.
  void beginWrite();
  void endWrite();
  // Blocks until the calling thread holds a read side.
  void beginRead();
  void endRead();

 private:
  std::shared_mutex mutex_;
};

// Holds the write side for its lifetime.
class WriteGuard {
 public:
  explicit WriteGuard(SharedLock& lock);
  ~WriteGuard();
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

 private:
  SharedLock& lock_;
};

// Holds a read side for its lifetime.
class ReadGuard {
 public:
  explicit ReadGuard(SharedLock& lock);
  ~ReadGuard();
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;

 private:
  SharedLock& lock_;
};

}  // namespace tavrin
