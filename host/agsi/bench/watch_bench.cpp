// What the simulator pays per firmware store: the unwatched GPIO store is the common case and
// must stay in the tens of nanoseconds; the watched one runs the call-back under the lock.
// (The whole pin event through host and LCD module is measured in bench/lcd.)
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

// A store to a watched pin register whose call-back does what a module's does: asks whether the
// firmware caused it and reads the register's current and previous value. Argument 1: the store's
// value comes with it (korvel-sim's way); 0: the host reads the register back.
void moduleLike(uint32_t, uint32_t) {
  uint32_t cur = 0, prev = 0;
  if (AgsiIsSimulatorAccess()) AgsiReadSFR(0x2009C014, &cur, &prev, 0x03F80000);
  benchmark::DoNotOptimize(cur);
}

template <class H>
inline void reportStore(H& h, uint32_t address, uint32_t word, bool withValue) {
  if constexpr (requires { h.firmwareWrote(address, 4u, word); }) {
    if (withValue) return h.firmwareWrote(address, 4u, word);
  }
  h.firmwareWrote(address, 4u);
}

void WatchedStoreWithModuleCallBack(benchmark::State& state) {
  setUpWatches();
  AgsiSetWatchOnSFR(0x2009C014, moduleLike, AGSIWRITE);
  auto& host = agsi_host::Host::instance();
  const bool withValue = state.range(0) != 0;
  uint32_t v = 0;
  for (auto _ : state) {
    v ^= 1u << 24;
    reportStore(host, 0x2009C014, v, withValue);
  }
}
BENCHMARK(WatchedStoreWithModuleCallBack)->Arg(0)->Arg(1);

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
