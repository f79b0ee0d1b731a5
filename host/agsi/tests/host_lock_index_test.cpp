// The host lock under contention (it sleeps instead of spinning for ever and loses no release),
// and the watch index's word table: words that share a slot, words a watch covers in part, and
// accesses that fall outside every watch.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "recorder.h"

namespace {

using agsi_host::HostMutex;

TEST(HostMutexTest, ContendedLockLosesNoUpdateAndWakesItsWaiters) {
  HostMutex m;
  long counter = 0;  // the lock is its only protection
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard outer(m);
        std::lock_guard inner(m);  // re-entry on the holding thread
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, long(kThreads) * kRounds);
  EXPECT_FALSE(m.heldHere());
}

TEST(HostMutexTest, HolderLongerThanTheSpinLetsTheWaiterSleepAndStillGetIt) {
  HostMutex m;
  std::atomic<bool> held{false}, got{false};
  std::thread holder([&] {
    std::lock_guard lock(m);
    held = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  });
  while (!held) std::this_thread::yield();
  EXPECT_FALSE(m.try_lock());
  const auto start = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(m);
    got = true;
  }
  holder.join();
  EXPECT_TRUE(got);
  // Released after about 30 ms; a missed wake costs at most a fraction of a millisecond more.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(HostMutexTest, WorksWithAConditionVariable) {
  HostMutex m;
  std::condition_variable_any cv;
  bool ready = false;
  std::thread t([&] {
    std::lock_guard lock(m);
    ready = true;
    cv.notify_all();
  });
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return ready; });
    EXPECT_TRUE(m.heldHere());
  }
  t.join();
  EXPECT_FALSE(m.heldHere());
}

// Two pin-like registers whose words share a slot of the index's word table, and a third
// elsewhere.
constexpr uint32_t kFirst = 0x2009C014, kSameSlot = 0x2009C210, kOther = 0x40004018;

class WatchIndexTest : public HostTest {};

TEST_F(WatchIndexTest, WordsSharingATableSlotAreBothFound) {
  ASSERT_EQ(AgsiSetWatchOnSFR(kFirst, callBackA, AGSIWRITE), 1);
  ASSERT_EQ(AgsiSetWatchOnSFR(kSameSlot, callBackB, AGSIWRITE), 1);
  ASSERT_EQ(AgsiSetWatchOnSFR(kOther, callBackA, AGSIWRITE), 1);
  firmwareWrite(kFirst, 1);
  firmwareWrite(kSameSlot, 2);
  firmwareWrite(kOther, 3);
  host().firmwareWrote(kSameSlot + 2, 1, 0x00020000);  // a byte lane, with the word handed over
  ASSERT_EQ(calls().size(), 4u);
  EXPECT_EQ(calls()[0].who, "A");
  EXPECT_EQ(calls()[1].who, "B");
  EXPECT_EQ(calls()[2].address, kOther);
  EXPECT_EQ(calls()[3].who, "B");
  EXPECT_EQ(calls()[3].address, kSameSlot + 2);
}

TEST_F(WatchIndexTest, AWordCoveredInPartFindsOnlyTheWatchedBytes) {
  // Bytes 0x10000101..0x10000102: two words covered in part, none whole.
  ASSERT_EQ(AgsiSetWatchOnMemory(0x10000101, 0x10000102, callBackA, AGSIWRITE), 1);
  firmwareWrite(0x10000100, 0xAA, 1);  // the byte before
  firmwareWrite(0x10000103, 0xAA, 1);  // the byte after
  EXPECT_TRUE(calls().empty());
  firmwareWrite(0x10000100, 0x11223344);  // the word holding the first watched byte
  firmwareWrite(0x10000102, 0x55, 1);
  ASSERT_EQ(calls().size(), 2u);
  EXPECT_EQ(calls()[0].address, 0x10000100u);
  EXPECT_EQ(calls()[1].address, 0x10000102u);
  EXPECT_TRUE(host().watched(0x10000100, 4));
  EXPECT_FALSE(host().watched(0x10000104, 4));
}

TEST_F(WatchIndexTest, AccessesOutsideEveryWatchAndEmptyIndexFindNothing) {
  EXPECT_FALSE(host().watched(0, 4));  // nothing watched at all
  EXPECT_FALSE(host().watched(0xFFFFFFFC, 4));
  ASSERT_EQ(AgsiSetWatchOnSFR(kOther, callBackA, AGSIWRITE), 1);
  EXPECT_FALSE(host().watched(0, 4));
  EXPECT_FALSE(host().watched(kOther - 4, 4));
  EXPECT_FALSE(host().watched(kOther + 4, 4));
  EXPECT_FALSE(host().watched(kOther, 0));  // an empty access touches nothing
  EXPECT_TRUE(host().watched(kOther - 1, 2));  // straddles the watch's start
  host().firmwareWrote(kOther - 4, 4, 0);
  host().firmwareWrote(kOther + 4, 4, 0);
  EXPECT_TRUE(calls().empty());
  // A watch at the very top of the address space.
  ASSERT_EQ(AgsiSetWatchOnMemory(0xFFFFFFFC, 0xFFFFFFFF, callBackB, AGSIWRITE), 1);
  host().firmwareWrote(0xFFFFFFFC, 4, 0x12345678);
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].who, "B");
}

TEST_F(WatchIndexTest, RegisterRecordsStayPutWhenMoreRegistersAreSeen) {
  // The index points at the record of each watched register; the plug-in's writes to many other
  // registers make new records and must not move the watched one.
  static std::vector<std::pair<uint32_t, uint32_t>> seen;
  seen.clear();
  ASSERT_EQ(AgsiSetWatchOnSFR(kFirst, [](uint32_t, uint32_t) {
              uint32_t cur = 0, prev = 0;
              AgsiReadSFR(kFirst, &cur, &prev, 0xFFFFFFFF);
              seen.emplace_back(cur, prev);
            }, AGSIWRITE), 1);
  host().firmwareWrote(kFirst, 4, 0x11);
  for (uint32_t i = 0; i < 300; ++i) AgsiWriteSFR(0x50000000 + 4 * i, i, 0xFFFFFFFF);
  host().firmwareWrote(kFirst, 4, 0x22);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].first, 0x22u);
  EXPECT_EQ(seen[1].second, 0x11u);
}

}  // namespace
