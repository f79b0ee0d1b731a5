// How fast the LCD takes the firmware's pin changes, through the same pin-watch call-back and
// host function table as in the simulator, with a host made of plain arrays.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "agsi_host/functions.h"
#include "agsi_host/host.h"
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

// ---- The same pin events through the AGSI host (libAgsiHost.so) --------------------------------
// What the simulator's GPIO store costs from the host's watch look-up to the pixel: the host finds
// the LCD's register watch, takes its lock, keeps the register's previous value and calls the
// module, whose AgsiIsSimulatorAccess and AgsiReadSFR calls go back into the host. Only the CPU's
// own dispatch of the store is left out.

// The two pin registers as plain words behind the host (the simulator's GPIO block stands here).
struct PinTarget final : agsi_host::Target {
  uint32_t fio0 = 0, fio2 = 0;
  uint32_t* word(uint32_t address) {
    if ((address & ~3u) == pictor::kFio0Pin) return &fio0;
    if ((address & ~3u) == pictor::kFio2Pin) return &fio2;
    return nullptr;
  }
  bool read(uint32_t address, uint32_t size, uint8_t* out) override {
    uint32_t* w = word(address);
    uint32_t v = w != nullptr ? *w >> (8 * (address & 3)) : 0;
    for (uint32_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
    return true;
  }
  bool write(uint32_t address, uint32_t size, const uint8_t* in) override {
    if (uint32_t* w = word(address); w != nullptr && size == 4 && (address & 3) == 0)
      *w = uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
    return true;
  }
};

PinTarget* pins = nullptr;
bool handOverValue = true;

// A firmware store as the simulator reports it. Builds of the host without the value-carrying
// call (the old path) report the store alone and the host reads the register back.
template <class H>
inline void reportStore(H& h, uint32_t address, uint32_t word) {
  if constexpr (requires { h.firmwareWrote(address, 4u, word); }) {
    if (handOverValue) return h.firmwareWrote(address, 4u, word);
  }
  h.firmwareWrote(address, 4u);
}

struct HostFirmware {
  void write(uint32_t address, uint32_t value) {
    *pins->word(address) = value;
    reportStore(agsi_host::Host::instance(), address, value);
  }
  uint32_t port2() { return agsi_host::Host::instance().readVtr("PORT2").value_or(0); }
};

void hostWatch(uint32_t address, uint32_t) { lcd->onPinWatch(address); }

// The LCD module bound to the real host functions, with the simulator's other watches around it
// (timer match registers, SSP1, the scale flag) so the look-up is not trivially short.
std::unique_ptr<pictor::LcdPeripheral> setUpOnHost(PinTarget& target) {
  auto& h = agsi_host::Host::instance();
  h.setTarget(nullptr);
  h.clear();
  h.setTarget(&target);
  pins = &target;
  host = HostFunctionTable{};
  host.AgsiDefineSFR = AgsiDefineSFR;
  host.AgsiDefineVTR = AgsiDefineVTR;
  host.AgsiSetWatchOnSFR = AgsiSetWatchOnSFR;
  host.AgsiIsSimulatorAccess = AgsiIsSimulatorAccess;
  host.AgsiReadSFR = AgsiReadSFR;
  host.AgsiReadVTR = AgsiReadVTR;
  host.AgsiWriteVTR = AgsiWriteVTR;
  for (uint32_t t = 0; t < 4; ++t)
    for (uint32_t r = 0; r < 4; ++r) AgsiSetWatchOnSFR(0x40004018 + t * 0x4000 + r * 4, hostWatch, AGSIWRITE);
  AgsiSetWatchOnSFR(0x40030008, hostWatch, AGSIREAD);
  AgsiSetWatchOnMemory(0x10000100, 0x10000101, hostWatch, AGSIWRITE);
  auto made = std::make_unique<pictor::LcdPeripheral>();
  lcd = made.get();
  lcd->bind(&host);
  lcd->defineSfrs();
  lcd->defineVtregs();
  lcd->defineWatches(&hostWatch);
  lcd->glue().setLatchDrives(false);
  return made;
}

// Pin events per second through host and module while graphics data streams in. Argument 1:
// the store's value is handed to the host (the simulator's way); 0: the host reads it back.
void BM_PinEventsThroughHost(benchmark::State& state) {
  PinTarget target;
  auto owner = setUpOnHost(target);
  handOverValue = state.range(0) != 0;
  korvel_testing::BasicLcdBusDriver<HostFirmware> bus;
  bus.idle();
  bus.writeRegister(0x03, 0x1030);
  bus.beginGram();
  uint32_t p0 = target.fio0;
  uint16_t colour = 0;
  auto& h = agsi_host::Host::instance();
  using D = LcdBusDriver;
  for (auto _ : state) {
    const uint16_t v = colour++;
    target.fio2 = v & 0xFF;
    reportStore(h, D::kFio2Pin, target.fio2);
    target.fio0 = p0 |= D::LE;
    reportStore(h, D::kFio0Pin, target.fio0);
    target.fio0 = p0 &= ~D::LE;
    reportStore(h, D::kFio0Pin, target.fio0);
    target.fio2 = v >> 8;
    reportStore(h, D::kFio2Pin, target.fio2);
    target.fio0 = p0 &= ~D::WR;
    reportStore(h, D::kFio0Pin, target.fio0);
    target.fio0 = p0 |= D::WR;
    reportStore(h, D::kFio0Pin, target.fio0);
  }
  // Pixels written move the address counter: if it never moved, the events did not arrive.
  if (state.iterations() % pictor::kLcdPixels != 0 && lcd->controller().x() == 0 && lcd->controller().y() == 0)
    state.SkipWithError("the pin events did not reach the LCD");
  state.SetItemsProcessed(state.iterations() * 6);
  h.setTarget(nullptr);
  h.clear();
}
BENCHMARK(BM_PinEventsThroughHost)->Arg(0)->Arg(1);

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
