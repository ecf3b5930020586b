#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/shared_lock.h"

namespace tavrin {
namespace {

using std::chrono::milliseconds;

TEST(SharedLock, WritersExcludeEachOther) {
  SharedLock lock;
  long counter = 0;  // deliberately unsynchronised but for the lock
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        if (i % 2 == 0) {
          WriteGuard guard(lock);
          ++counter;
        } else {
          lock.beginWrite();
          ++counter;
          lock.endWrite();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 4 * 20000);
}

TEST(SharedLock, BeginWriteBlocksUntilTheHolderEndsWriting) {
  SharedLock lock;
  lock.beginWrite();
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    WriteGuard guard(lock);
    acquired = true;
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(acquired.load());
  lock.endWrite();
  other.join();
  EXPECT_TRUE(acquired.load());
}

TEST(SharedLock, ReadersShareAndKeepWritersOut) {
  SharedLock lock;
  lock.beginRead();
  auto secondReader = std::async(std::launch::async, [&] {
    ReadGuard second(lock);
    return true;
  });
  ASSERT_EQ(secondReader.wait_for(std::chrono::seconds(5)), std::future_status::ready);

  std::atomic<bool> written{false};
  std::thread writer([&] {
    WriteGuard guard(lock);
    written = true;
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(written.load());
  lock.endRead();
  writer.join();
  EXPECT_TRUE(written.load());
}

}  // namespace
}  // namespace tavrin
