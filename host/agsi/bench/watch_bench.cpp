// What the simulator pays per firmware store: the unwatched GPIO store is the common case and
// must stay in the tens of nanoseconds; the watched one runs the call-back under the lock.
#include <benchmark/benchmark.h>

#include "agsi_host/functions.h"

namespace {

void noOp(uint32_t, uint32_t) {}

// About as many watches as the core and the modules set: timer match registers, SSP1, CAN,
// GPIO of the LCD bus, the scale flag.
void setUpWatches() {
  auto& host = agsi_host::Host::instance();
  host.clear();
  for (uint32_t t = 0; t < 4; ++t)
    for (uint32_t r = 0; r < 4; ++r) AgsiSetWatchOnSFR(0x40004018 + t * 0x4000 + r * 4, noOp, AGSIWRITE);
  AgsiSetWatchOnSFR(0x40030008, noOp, AGSIREAD);
  for (uint32_t a = 0x40044000; a < 0x40044060; a += 4) AgsiSetWatchOnSFR(a, noOp, AGSIWRITE);
  AgsiSetWatchOnSFR(0x2009C058, noOp, AGSIWRITE);
  AgsiSetWatchOnMemory(0x10000100, 0x10000101, noOp, AGSIWRITE);
}

void UnwatchedFirmwareStore(benchmark::State& state) {
  setUpWatches();
  auto& host = agsi_host::Host::instance();
  uint32_t address = 0x2009C018;  // FIO0SET: outside every watch
  for (auto _ : state) {
    host.firmwareWrote(address, 4);
    benchmark::DoNotOptimize(address);
  }
}
BENCHMARK(UnwatchedFirmwareStore);

void WatchedFirmwareStore(benchmark::State& state) {
  setUpWatches();
  auto& host = agsi_host::Host::instance();
  for (auto _ : state) host.firmwareWrote(0x2009C058, 4);
}
BENCHMARK(WatchedFirmwareStore);

void WatchedQuery(benchmark::State& state) {
  setUpWatches();
  auto& host = agsi_host::Host::instance();
  uint32_t a = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(host.watched(0x40000000 + (a & 0xFFFFC), 4));
    a += 4;
  }
}
BENCHMARK(WatchedQuery);

}  // namespace
