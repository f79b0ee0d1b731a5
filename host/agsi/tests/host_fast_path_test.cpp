// The firmware store's short way through the host: the value the target hands over, several
// watches on one register, stores straddling watch ends, watches set from call-backs, and the
// host lock's re-entry.
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "recorder.h"

namespace {

// A register file that counts the host's read-backs, and whose PORT0 VTR drives the low byte of
// the register at kPins (as the simulator's GPIO input levels do).
constexpr uint32_t kPins = 0x2009C014;

struct CountingTarget : agsi_host::Target {
  std::map<uint32_t, uint8_t> bytes;
  int reads = 0;
  bool read(uint32_t address, uint32_t size, uint8_t* out) override {
    ++reads;
    for (uint32_t i = 0; i < size; ++i) out[i] = bytes[address + i];
    return true;
  }
  bool write(uint32_t address, uint32_t size, const uint8_t* in) override {
    for (uint32_t i = 0; i < size; ++i) bytes[address + i] = in[i];
    return true;
  }
  void vtrChanged(const std::string& name, uint32_t value) override {
    if (name == "PORT0") bytes[kPins] = static_cast<uint8_t>(value);
  }
  void store(uint32_t address, uint32_t value) { write(address, 4, reinterpret_cast<const uint8_t*>(&value)); }
};

CountingTarget* gTarget = nullptr;
uint32_t gPort0 = 0;
std::vector<std::pair<uint32_t, uint32_t>> gSeen;  // (current, previous) per AgsiReadSFR
int gReadsInCallBack = 0;

void readPins(uint32_t, uint32_t) {
  int before = gTarget->reads;
  uint32_t cur = 0, prev = 0;
  AgsiReadSFR(kPins, &cur, &prev, 0xFFFFFFFF);
  gReadsInCallBack += gTarget->reads - before;
  gSeen.emplace_back(cur, prev);
}

void driveThenReadPins(uint32_t a, uint32_t r) {
  AgsiWriteVTR(gPort0, 0x5A);  // the board answers on the pins: the register changed behind the host
  readPins(a, r);
}

void readPinsAgain(uint32_t a, uint32_t r) { readPins(a, r); }

void addsAWatch(uint32_t a, uint32_t r) {
  record("adder", a, r);
  AgsiSetWatchOnSFR(0x40030008, callBackB, AGSIWRITE);
}

class FastPathTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    gTarget = &target_;
    host().setTarget(&target_);
    gSeen.clear();
    gReadsInCallBack = 0;
  }
  void TearDown() override {
    HostTest::TearDown();
    gTarget = nullptr;
  }
  CountingTarget target_;
};

}  // namespace

TEST_F(FastPathTest, StoreWithItsValueNeedsNoReadBackUntilSomethingChangesTheRegister) {
  ASSERT_EQ(AgsiSetWatchOnSFR(kPins, readPins, AGSIWRITE), 1);
  target_.store(kPins, 0x11);
  host().firmwareWrote(kPins, 4, 0x11);
  target_.store(kPins, 0x22);
  target_.reads = 0;
  host().firmwareWrote(kPins, 4, 0x22);

  EXPECT_EQ(target_.reads, 0) << "the host was given the value: it must not read the register back";
  ASSERT_EQ(gSeen.size(), 2u);
  EXPECT_EQ(gSeen[1], (std::pair<uint32_t, uint32_t>{0x22, 0x11}));

  // Without the value, the register is read back once and the answers are the same.
  target_.store(kPins, 0x33);
  host().firmwareWrote(kPins, 4);
  EXPECT_EQ(gSeen.back(), (std::pair<uint32_t, uint32_t>{0x33, 0x22}));

  // Outside the call-backs the host reads the register as before.
  target_.store(kPins, 0x44);
  uint32_t cur = 0, prev = 0;
  AgsiReadSFR(kPins, &cur, &prev, 0xFFFFFFFF);
  EXPECT_EQ(cur, 0x44u) << "the value handed over must not outlive its store's call-backs";
}

TEST_F(FastPathTest, RegisterChangedFromACallBackIsReadAgain) {
  gPort0 = AgsiDefineVTR("PORT0", AGSIVTRLONG, 0);
  ASSERT_EQ(AgsiSetWatchOnSFR(kPins, driveThenReadPins, AGSIWRITE), 1);
  target_.store(kPins, 0x100);
  host().firmwareWrote(kPins, 4, 0x100);
  ASSERT_EQ(gSeen.size(), 1u);
  EXPECT_EQ(gSeen[0].first, 0x15Au) << "a VTR write changed the pins: AgsiReadSFR must see it";
  EXPECT_EQ(gReadsInCallBack, 1);
}

TEST_F(FastPathTest, SeveralWatchesOnOneRegisterSeeOneChangeWithItsPreviousValue) {
  ASSERT_EQ(AgsiSetWatchOnSFR(kPins, readPins, AGSIWRITE), 1);
  ASSERT_EQ(AgsiSetWatchOnSFR(kPins, readPinsAgain, AGSIWRITE), 1);
  target_.store(kPins, 0x1);
  host().firmwareWrote(kPins, 4, 0x1);
  target_.store(kPins, 0x2);
  host().firmwareWrote(kPins, 4);  // the read-back way as well
  target_.store(kPins, 0x3);
  host().firmwareWrote(kPins, 4, 0x3);

  using P = std::pair<uint32_t, uint32_t>;
  ASSERT_EQ(gSeen.size(), 6u);
  EXPECT_EQ(gSeen[2], (P{0x2, 0x1})) << "a second watch must not make the store count twice";
  EXPECT_EQ(gSeen[3], (P{0x2, 0x1}));
  EXPECT_EQ(gSeen[4], (P{0x3, 0x2}));
  EXPECT_EQ(gSeen[5], (P{0x3, 0x2}));
}

TEST_F(HostTest, StoreStraddlingWatchEndsFiresEachOverlappingWatchOnceInRegistrationOrder) {
  AgsiSetWatchOnMemory(0x10000004, 0x10000004, callBackB, AGSIWRITE);
  AgsiSetWatchOnMemory(0x10000000, 0x10000007, callBackA, AGSIWRITE);
  AgsiSetWatchOnSFR(0x10000008, callBackB, AGSIWRITE);

  firmwareWrite(0x10000002, 0x01020304, 4);  // 02..05: A's range, B's byte inside it
  firmwareWrite(0x10000006, 0x0102, 4);      // 06..09: end of A, start of the register
  firmwareWrite(0x10000005, 1, 1);           // only A
  firmwareWrite(0x10000003, 0x0102, 2);      // 03..04: A, then B's byte

  using V = std::vector<Call>;
  EXPECT_EQ(calls(), (V{{"B", 0x10000002, AGSI_WRITE, 1, 0x10000002},
                        {"A", 0x10000002, AGSI_WRITE, 1, 0x10000002},
                        {"A", 0x10000006, AGSI_WRITE, 1, 0x10000006},
                        {"B", 0x10000006, AGSI_WRITE, 1, 0x10000006},
                        {"A", 0x10000005, AGSI_WRITE, 1, 0x10000005},
                        {"B", 0x10000003, AGSI_WRITE, 1, 0x10000003},
                        {"A", 0x10000003, AGSI_WRITE, 1, 0x10000003}}));
  EXPECT_FALSE(host().watched(0x1000000C, 4));
  EXPECT_TRUE(host().watched(0x0FFFFFFE, 4));
}

TEST_F(HostTest, WatchSetByACallBackFiresFromTheNextAccessOn) {
  AgsiSetWatchOnSFR(0x40030008, addsAWatch, AGSIWRITE);
  firmwareWrite(0x40030008, 1);
  firmwareWrite(0x40030008, 2);
  using V = std::vector<Call>;
  EXPECT_EQ(calls(), (V{{"adder", 0x40030008, AGSI_WRITE, 1, 0x40030008},
                        {"adder", 0x40030008, AGSI_WRITE, 1, 0x40030008},
                        {"B", 0x40030008, AGSI_WRITE, 1, 0x40030008}}));
}

TEST(HostMutexTest, ReentersOnItsOwnThreadAndExcludesOthersUntilFullyReleased) {
  agsi_host::HostMutex m;
  std::atomic<bool> got{false};
  m.lock();
  m.lock();
  EXPECT_TRUE(m.try_lock());
  EXPECT_TRUE(m.heldHere());
  std::thread other([&] {
    EXPECT_FALSE(m.try_lock()) << "another thread must not get a held lock";
    EXPECT_FALSE(m.heldHere());
    m.lock();
    got = true;
    m.unlock();
  });
  m.unlock();
  m.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(got) << "still held once: the other thread waits";
  m.unlock();
  other.join();
  EXPECT_TRUE(got);
  EXPECT_FALSE(m.heldHere());
}
