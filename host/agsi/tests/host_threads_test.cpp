// Calls from several threads are serialised by the host lock: no call-back overlaps another and
// nothing written is lost.
#include <atomic>
#include <thread>

#include "recorder.h"

namespace {
std::atomic<bool> gInside{false};
std::atomic<int> gOverlaps{0};
long gFirmwareCalls = 0, gVtrCalls = 0;  // plain: the host lock is their only protection

void enter() {
  if (gInside.exchange(true)) ++gOverlaps;
}
void leave() { gInside = false; }
void onFirmware(uint32_t, uint32_t) {
  enter();
  ++gFirmwareCalls;
  leave();
}
void onVtr(uint32_t, uint32_t) {
  enter();
  ++gVtrCalls;
  leave();
}

struct CountingTarget : agsi_host::Target {
  std::vector<uint8_t> ram = std::vector<uint8_t>(0x100);
  long changes = 0;
  bool read(uint32_t a, uint32_t n, uint8_t* out) override {
    for (uint32_t i = 0; i < n; ++i) out[i] = ram[(a + i) & 0xFF];
    return true;
  }
  bool write(uint32_t a, uint32_t n, const uint8_t* in) override {
    for (uint32_t i = 0; i < n; ++i) ram[(a + i) & 0xFF] = in[i];
    return true;
  }
  void vtrChanged(const std::string&, uint32_t) override { ++changes; }
};
}  // namespace

TEST_F(HostTest, ConcurrentVtrWritesAndFirmwareAccessesAreSerialisedAndNoneIsLost) {
  CountingTarget target;
  host().setTarget(&target);
  gFirmwareCalls = gVtrCalls = 0;
  gOverlaps = 0;
  uint32_t port = AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  AgsiSetWatchOnVTR(port, onVtr, AGSIWRITE);
  AgsiSetWatchOnSFR(0x40, onFirmware, AGSIWRITE);

  constexpr int kThreads = 4, kWrites = 2000, kFirmware = 5000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([port, t] {
      for (int i = 0; i < kWrites; ++i) {
        // Each thread owns one bit and sets it by read-modify-write under the host's lock, as a
        // module sharing PORT2 does; a lost update would leave a bit wrong at the end.
        std::lock_guard lock(agsi_host::Host::instance().mutex());
        uint32_t v = 0;
        AgsiReadVTR(port, &v);
        AgsiWriteVTR(port, v ^ (1u << t));
      }
    });
  }
  threads.emplace_back([&target] {
    for (int i = 0; i < kFirmware; ++i) {
      {
        std::lock_guard lock(agsi_host::Host::instance().mutex());
        uint8_t b = uint8_t(i);
        target.write(0x40, 1, &b);
      }
      host().firmwareWrote(0x40, 1);
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(gOverlaps.load(), 0) << "two call-backs ran at the same time";
  EXPECT_EQ(gFirmwareCalls, kFirmware);
  EXPECT_EQ(gVtrCalls, kThreads * kWrites);
  EXPECT_EQ(target.changes, kThreads * kWrites);
  EXPECT_EQ(host().readVtr("PORT2"), std::optional<uint32_t>(0)) << "each bit toggled an even number of times";
}
