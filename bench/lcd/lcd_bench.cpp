// How fast the LCD takes the firmware's pin changes, through the same pin-watch call-back and
// host function table as in the simulator, with a host made of plain arrays.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "array_host.h"
#include "frame_refresher.h"
#include "korvel/host_functions.h"
#include "lcd_bus_driver.h"
#include "lcd_peripheral.h"

using korvel_testing::ArrayHost;
using korvel_testing::LcdBusDriver;

namespace {

HostFunctionTable host{};
pictor::LcdPeripheral* lcd = nullptr;

void watch(uint32_t address, uint32_t) { lcd->onPinWatch(address); }

// A fresh LCD on the array host; the pin registers are defined first so their look-up is short.
std::unique_ptr<pictor::LcdPeripheral> setUp() {
  ArrayHost::clear();
  ArrayHost::install(host);
  auto made = std::make_unique<pictor::LcdPeripheral>();
  lcd = made.get();
  lcd->bind(&host);
  lcd->defineSfrs();
  lcd->defineVtregs();
  lcd->defineWatches(&watch);
  lcd->glue().setLatchDrives(false);
  return made;
}

// The six pin writes of one pixel as a driver makes them: low byte, latch open and shut, high
// byte, write strobe down and up. The call-back is called directly, as the host's watch would.
inline void pixelEvents(uint32_t& p0, uint16_t v) {
  using D = LcdBusDriver;
  uint32_t* fio0 = &ArrayHost::sfrs[0].value;
  uint32_t* fio2 = &ArrayHost::sfrs[1].value;
  *fio2 = v & 0xFF;
  watch(D::kFio2Pin, AGSI_WRITE);
  *fio0 = p0 |= D::LE;
  watch(D::kFio0Pin, AGSI_WRITE);
  *fio0 = p0 &= ~D::LE;
  watch(D::kFio0Pin, AGSI_WRITE);
  *fio2 = v >> 8;
  watch(D::kFio2Pin, AGSI_WRITE);
  *fio0 = p0 &= ~D::WR;
  watch(D::kFio0Pin, AGSI_WRITE);
  *fio0 = p0 |= D::WR;
  watch(D::kFio0Pin, AGSI_WRITE);
}

// Pin events per second while graphics data streams in (the busiest case a driver makes).
void BM_PinEvents(benchmark::State& state) {
  auto owner = setUp();
  ArrayHost::simulatorAccess = 1;
  LcdBusDriver bus;
  bus.idle();
  bus.writeRegister(0x03, 0x1030);
  bus.beginGram();
  uint32_t p0 = bus.control();
  uint16_t colour = 0;
  for (auto _ : state) pixelEvents(p0, colour++);
  state.SetItemsProcessed(state.iterations() * 6);
  state.counters["pin_events_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * 6), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PinEvents);

// A whole 240 x 320 fill through the bus: 76 800 pixels, 460 800 pin events.
void BM_FullScreenFill(benchmark::State& state) {
  auto owner = setUp();
  ArrayHost::simulatorAccess = 1;
  LcdBusDriver bus;
  bus.idle();
  bus.writeRegister(0x03, 0x1030);
  bus.writeRegister(0x20, 0);
  bus.writeRegister(0x21, 0);
  bus.beginGram();
  uint32_t p0 = bus.control();
  uint16_t colour = 0x07E0;
  for (auto _ : state) {
    for (int i = 0; i < pictor::kLcdPixels; ++i) pixelEvents(p0, colour);
    ++colour;
  }
  state.counters["pin_events_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * pictor::kLcdPixels * 6,
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FullScreenFill)->Unit(benchmark::kMillisecond);

// The refresh thread with nothing changing: the share of one core it uses, measured as the
// process's CPU time (this thread only sleeps) over wall time.
void BM_IdleRefreshThread(benchmark::State& state) {
  auto frame = std::make_unique<pictor::FrameBuffer>();
  for (auto _ : state) {
    pictor::FrameRefresher refresher(*frame, [] { return true; }, [](const pictor::FrameBuffer&) {});
    const std::clock_t cpu0 = std::clock();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
    const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    state.counters["core_percent"] = 100.0 * cpu / wall;
  }
}
BENCHMARK(BM_IdleRefreshThread)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
