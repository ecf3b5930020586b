#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/key_value_list.h"
#include "platform/shared_lock.h"

namespace tavrin {
namespace {

KeyValueMap record(int n) {
  KeyValueList services;
  services.appendMap(KeyValueMap::createMapFromPairs({{"controlURL", "/c" + std::to_string(n)}}));
  return KeyValueMap::createMapFromPairs({{"uuid", "id-" + std::to_string(n)},
                                          {"name", "name-" + std::to_string(n)},
                                          {"service", services}});
}

TEST(KeyValueList, AppendsCopiesAndReadsThemByPositionFromOne) {
  KeyValueList list;
  EXPECT_EQ(list.count(), 0);
  KeyValueMap first = record(1);
  list.appendMap(first);
  list.appendMap(record(2));
  first.setText("uuid", "changed after append");

  EXPECT_EQ(list.count(), 2);
  EXPECT_EQ(list.getText(1, "uuid"), "id-1");
  EXPECT_EQ(list.getText(2, "name"), "name-2");
  EXPECT_EQ(list.getText(2, "//service[1].controlURL"), "/c2");
  EXPECT_EQ(list.getText(1, "missing"), "");
  EXPECT_EQ(list.getText(1, "//service[2].controlURL"), "");

  KeyValueMap out;
  ASSERT_TRUE(list.getMap(2, out));
  EXPECT_EQ(out.toJson(), record(2).toJson());
  out.setText("uuid", "changed copy");
  EXPECT_EQ(list.getText(2, "uuid"), "id-2");
}

TEST(KeyValueList, PositionsOutsideTheListGiveNothing) {
  KeyValueList list;
  list.appendMap(record(1));
  list.append(KeyValue("plain text"));
  for (int position : {0, -1, 3, 1000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(list.getText(position, "uuid"), "") << position;
    EXPECT_EQ(list.get(position).kind(), KeyValue::Kind::None) << position;
    KeyValueMap out = record(9);
    EXPECT_FALSE(list.getMap(position, out)) << position;
    EXPECT_EQ(out.count(), 0) << position;
  }
  // An item that is no map has no keys, and gives no map.
  EXPECT_EQ(list.getText(2, ""), "plain text");
  EXPECT_EQ(list.getText(2, "uuid"), "");
  KeyValueMap out;
  EXPECT_FALSE(list.getMap(2, out));
}

TEST(KeyValueList, ClearRemovesEveryItemAndCopiesStayIndependent) {
  KeyValueList list;
  list.appendMap(record(1));
  list.appendMap(record(2));
  KeyValueList copy(list);
  KeyValueMap holder;
  holder.setList("devices", list);
  list.clear();
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.getText(1, "uuid"), "");
  EXPECT_EQ(copy.count(), 2);
  EXPECT_EQ(copy.getText(2, "uuid"), "id-2");
  EXPECT_EQ(holder.getText("//devices[2].uuid"), "id-2");
  list.appendMap(record(3));
  EXPECT_EQ(list.getText(1, "uuid"), "id-3");
  EXPECT_EQ(copy.getText(1, "uuid"), "id-1");
}

// The device list is read by the GUI thread without any lock while the
// receive thread appends and the search button clears it. Every record
// read must be whole: its members all belong to the same record.
TEST(KeyValueList, ReadersSeeWholeRecordsWhileOthersAppendAndClear) {
  KeyValueList list;
  SharedLock lock;
  std::atomic<bool> stop{false};
  std::atomic<int> inconsistent{0};
  std::atomic<long> reads{0};

  std::thread appender([&] {
    for (int n = 1; n <= 3000; ++n) {
      WriteGuard guard(lock);
      list.appendMap(record(n));
    }
  });
  std::thread clearer([&] {
    for (int round = 0; round < 200; ++round) {
      {
        WriteGuard guard(lock);
        list.clear();
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!stop && std::chrono::steady_clock::now() < deadline) {
        int n = list.count();
        for (int position = n; position >= 1 && position > n - 5; --position) {
          KeyValueMap map;
          if (list.getMap(position, map)) {
            std::string number = map.getText("uuid").substr(3);
            if (map.getText("name") != "name-" + number ||
                map.getText("//service[1].controlURL") != "/c" + number) {
              ++inconsistent;
            }
          }
          std::string uuid = list.getText(position, "uuid");
          if (!uuid.empty() && uuid.compare(0, 3, "id-") != 0) ++inconsistent;
          ++reads;
        }
      }
    });
  }
  appender.join();
  clearer.join();
  stop = true;
  for (std::thread& reader : readers) reader.join();

  EXPECT_EQ(inconsistent.load(), 0);
  EXPECT_GT(reads.load(), 0);
  list.clear();
  list.appendMap(record(7));
  EXPECT_EQ(list.getText(1, "uuid"), "id-7");
}

// Readers take no lock: a writer that holds the SharedLock for a long time
// (the device-list builder during an HTTP fetch) must not hold them up.
TEST(KeyValueList, ReadersDoNotWaitForAHolderOfTheSharedLock) {
  KeyValueList list;
  list.appendMap(record(1));
  SharedLock lock;
  std::promise<void> holding;
  std::promise<void> release;
  std::thread writer([&] {
    WriteGuard guard(lock);
    list.appendMap(record(2));
    holding.set_value();
    release.get_future().wait_for(std::chrono::seconds(10));
  });
  holding.get_future().wait();
  auto reads = std::async(std::launch::async, [&] {
    KeyValueMap map;
    return list.getText(2, "uuid") + "/" + std::to_string(list.count()) + "/" +
           (list.getMap(1, map) ? map.getText("uuid") : "");
  });
  bool finished = reads.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  release.set_value();
  writer.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(reads.get(), "id-2/2/id-1");
}

}  // namespace
}  // namespace tavrin
