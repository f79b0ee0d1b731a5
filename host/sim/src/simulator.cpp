#include "korvel_sim/simulator.h"


#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>
#include <vector>

#include "adc.h"
#include "address_map.h"
#include "backtrace.h"
#include "can.h"
#include "agsi_host/functions.h"
#include "engine.h"
#include "dac.h"
#include "gpio.h"
#include "i2c.h"
#include "nvic.h"
#include "rtc.h"
#include "pwm.h"
#include "serial.h"
#include "spi.h"
#include "system_control.h"
#include "timers.h"
#include "unmodelled.h"
#include "wdt.h"
#include "uart.h"

namespace korvel::sim {

const char* toString(StopReason reason) {
  switch (reason) {
    case StopReason::None: return "none";
    case StopReason::Exited: return "exited";
    case StopReason::Fault: return "fault";
    case StopReason::TimeLimit: return "time limit";
    case StopReason::Requested: return "stopped";
    case StopReason::Breakpoint: return "breakpoint";
    case StopReason::Watchpoint: return "watchpoint";
  }
  return "?";
}

namespace {

constexpr uint32_t kPageSize = 4096;           // RAM is mapped page by page so watched pages can be rerouted
constexpr uint64_t kSliceCycles = 10000;       // longest run between looks at interrupts and time
constexpr uint64_t kSleepSliceCycles = 2000000;  // longest real-time sleep in WFI (20 ms at 100 MHz)
constexpr uint32_t kPinConnectBase = 0x4002C000;
constexpr uint32_t kCanCommonBase = 0x40040000;
constexpr uint32_t kAfRamBase = 0x40038000, kAfBase = 0x4003C000;

// Interrupt numbers of the LPC17xx.
enum Irq { kTimer0 = 1, kPwm1 = 9, kEint0 = 18, kEint3 = 21, kAdc = 22, kCan = 25, kRit = 29 };

// PCLKSEL fields (bit-pair index) of the timers and the RIT.
constexpr int kTimerClockField[4] = {1, 2, 16 + 6, 16 + 7};
constexpr int kRitClockField = 16 + 13;
constexpr int kPwmClockField = 6, kDacClockField = 11, kAdcClockField = 12;

// Which pin carries which peripheral signal, and the pin-connect function (PINSELn value) that
// selects it there.
struct PinFunction {
  int port, pin, function;
  int unit, signal;  // PWM: 0, output 1..6; timers: timer 0..3, MATn.signal or CAPn.signal
};
constexpr PinFunction kPwmPins[] = {
    {1, 18, 2, 0, 1}, {2, 0, 1, 0, 1}, {1, 20, 2, 0, 2}, {2, 1, 1, 0, 2}, {3, 25, 3, 0, 2},
    {1, 21, 2, 0, 3}, {2, 2, 1, 0, 3}, {3, 26, 3, 0, 3}, {1, 23, 2, 0, 4}, {2, 3, 1, 0, 4},
    {1, 24, 2, 0, 5}, {2, 4, 1, 0, 5}, {1, 26, 2, 0, 6}, {2, 5, 1, 0, 6}};
constexpr PinFunction kMatchPins[] = {
    {1, 28, 3, 0, 0}, {3, 25, 2, 0, 0}, {1, 29, 3, 0, 1}, {3, 26, 2, 0, 1}, {1, 22, 3, 1, 0},
    {1, 25, 3, 1, 1}, {0, 6, 3, 2, 0}, {4, 28, 2, 2, 0}, {0, 7, 3, 2, 1}, {4, 29, 2, 2, 1},
    {0, 8, 3, 2, 2}, {0, 9, 3, 2, 3}, {0, 10, 3, 3, 0}, {0, 11, 3, 3, 1}};
constexpr PinFunction kCapturePins[] = {
    {1, 26, 3, 0, 0}, {1, 27, 3, 0, 1}, {1, 18, 3, 1, 0}, {1, 19, 3, 1, 1},
    {0, 4, 3, 2, 0}, {0, 5, 3, 2, 1}, {0, 23, 3, 3, 0}, {0, 24, 3, 3, 1}};

// Per port and pin, the capture pin's row in kCapturePins (meaningful for capture pins only).
constexpr std::array<std::array<uint8_t, 32>, 5> captureIndex() {
  std::array<std::array<uint8_t, 32>, 5> t{};
  for (size_t i = 0; i < std::size(kCapturePins); ++i) t[size_t(kCapturePins[i].port)][size_t(kCapturePins[i].pin)] = uint8_t(i);
  return t;
}
constexpr auto kCaptureIndex = captureIndex();
constexpr uint32_t kEintPins = 0xFu << 10;  // P2.10..P2.13 can be EINT0..EINT3

uint64_t wallNanos() {
  return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch()).count());
}

}  // namespace

struct Simulator::Chip : Bus {
  Simulator& sim;
  agsi_host::Host& host;
  std::vector<uint8_t> flash, sram, ahbSram;
  std::unique_ptr<Engine> engine;
  Engine& cpu;
  Nvic nvic;
  SystemControl sysctl;
  Gpio gpio;
  GpioInterrupts gpioInt;
  Timer timers[4];
  RepetitiveTimer rit;
  Ssp ssp1;
  I2c i2c[3];
  Ssp ssp0;
  Spi spi;
  Watchdog wdt;
  Rtc rtc;
  CanController can[2];
  Uart uarts[4]{Uart(0), Uart(1), Uart(2), Uart(3)};
  std::function<void(uint8_t)> uartSinks[4];  // empty: UART0's text goes to the output lines
  std::function<void(uint8_t)> uartMonitors[4];  // see every byte, wherever it goes
  Storage pinConnect{0x4000}, canCommon{0x4000}, afRam{0x4000}, af{0x4000};
  Unmodelled apb0{0x40000000, 0x80000}, apb1{0x40080000, 0x80000}, ahb{0x50000000, 0x200000}, ppb{0xE0000000, 0x100000};
  Adc adc;
  Dac dac;
  Pwm pwm;
  AddressMap map;

  // Time: cycles run at the core clock, which the firmware may change.
  uint32_t hz = SystemControl::kIrcHz;
  uint64_t cyclesBase = 0;
  double secondsBase = 0.0;
  uint64_t timersAt = 0;
  uint64_t uartsAt[4] = {};  // each UART's own time: it may be brought up to date alone

  bool gpioIntLine = false, eint3Line = false;
  int changedPort = -1;
  std::string uartLine, semihostLine;
  std::vector<bool> routed;  // per RAM page: accesses go through the bus
  std::vector<ElfSymbol> symbols;  // of the firmware, for fault reports
  SourceLines lines;               // of the firmware, for file:line in fault reports
  uint32_t faultFrame = 0;         // where the last fault entry stacked its frame
  unsigned sliceCount = 0;

  std::mutex eventsMutex;
  std::multimap<double, std::function<void()>> events;
  std::function<void(int, uint32_t, double)> pinListener;  // Simulator::setPinListener

  Chip(Simulator& s, agsi_host::Host& h, EngineKind kind)
      : sim(s), host(h), flash(kFlashSize, 0xFF), sram(kSramSize, 0), ahbSram(kAhbSramSize, 0),
        engine(makeEngine(kind, *this)), cpu(*engine) {
    map.add(Nvic::kBase, Nvic::kSize, &nvic, true);
    map.add(SystemControl::kBase, SystemControl::kSize, &sysctl, true);  // clock changes take effect in time
    map.add(Gpio::kBase, Gpio::kSize, &gpio);
    map.add(GpioInterrupts::kBase, GpioInterrupts::kSize, &gpioInt);
    for (int i = 0; i < 4; ++i) map.add(Timer::kBases[i], Timer::kSize, &timers[i], true);
    map.add(RepetitiveTimer::kBase, RepetitiveTimer::kSize, &rit, true);
    map.add(Ssp::kBase, Ssp::kSize, &ssp1);
    for (int i = 0; i < 4; ++i) map.add(Uart::kBases[i], Uart::kSize, &uarts[i], true);
    map.add(Adc::kBase, Adc::kSize, &adc, true);
    map.add(Dac::kBase, Dac::kSize, &dac, true);
    map.add(Pwm::kBase, Pwm::kSize, &pwm, true);
    map.add(kPinConnectBase, 0x4000, &pinConnect);
    for (int i = 0; i < 2; ++i) map.add(CanController::kBases[i], CanController::kSize, &can[i]);
    map.add(kCanCommonBase, 0x4000, &canCommon);
    map.add(kAfRamBase, 0x4000, &afRam);
    map.add(kAfBase, 0x4000, &af);
    addBuses();

    cpu.mapMemory(kFlashBase, kFlashSize, flash.data(), true);
    for (uint32_t off = 0; off < kSramSize; off += kPageSize) cpu.mapMemory(kSramBase + off, kPageSize, sram.data() + off, true);
    for (uint32_t off = 0; off < kAhbSramSize; off += kPageSize) cpu.mapMemory(kAhbSramBase + off, kPageSize, ahbSram.data() + off, true);
    routed.assign((kSramSize + kAhbSramSize) / kPageSize, false);
    cpu.mapMemory(0x1FFF0000, 0x2000, bootRom(), false);
    cpu.mapBus(Gpio::kBase, Gpio::kSize);
    cpu.mapBus(0x40000000, 0x00100000);  // APB0 and APB1
    cpu.mapBus(0x50000000, 0x00200000);  // AHB peripherals
    cpu.mapBus(0xE0000000, 0x00100000);  // private peripheral bus
    cpu.mapBus(kSramBitBand, kBitBandSize);
    cpu.mapBus(kPeriphBitBand, kBitBandSize);

    nvic.setOnPending([this] {
      cpu.requestStop();
      sim.wakeSleeper();
    });
    cpu.interruptWaiting = [this] {
      std::lock_guard lock(host.mutex());
      return nvic.nextException(cpu.primask(), cpu.basepri()) != 0;
    };
    cpu.onExceptionReturn = [this](int e) {
      std::lock_guard lock(host.mutex());
      nvic.deactivate(e);
    };
    cpu.divideByZeroTraps = [this] { return nvic.divideByZeroTraps(); };
    cpu.unalignedTraps = [this] { return nvic.unalignedTraps(); };
    cpu.onSupervisorCall = [this] {
      std::lock_guard lock(host.mutex());
      nvic.pend(exc::SVCall);
    };
    sysctl.onClockChanged = [this] { rebaseClock(); };
    sysctl.onLine = [this](int n, bool level) {
      if (n < 3) nvic.setLine(kEint0 + n, level);
      else eint3Line = level, nvic.setLine(kEint3, eint3Line || gpioIntLine);
    };
    gpioInt.onLine = [this](bool level) {
      gpioIntLine = level;
      nvic.setLine(kEint3, eint3Line || gpioIntLine);
    };
    gpio.onOutputChanged = [this](int port) { changedPort = port; };
    gpio.onLevelsChanged = [this](int port, uint32_t before, uint32_t after) { levelsChanged(port, before, after); };
    for (int i = 0; i < 4; ++i) timers[i].onLine = [this, i](bool level) { nvic.setLine(kTimer0 + i, level); };
    rit.onLine = [this](bool level) { nvic.setLine(kRit, level); };
    for (CanController& c : can) c.onLine = [this](bool) { nvic.setLine(kCan, can[0].line() || can[1].line()); };
    ssp1.onSend = [this](uint32_t v) { host.writeVtr("SSP1_OUT", v, true); };
    for (int i = 0; i < 4; ++i) {
      Uart& u = uarts[i];
      u.clockDivider = [this, i] { return sysctl.peripheralDivider(Uart::kClockFields[i]); };
      u.onLine = [this, i](bool level) { nvic.setLine(Uart::kIrqs[i], level); };
      u.onTransmit = [this, i](uint8_t b) {
        if (uartMonitors[i]) uartMonitors[i](b);
        if (uartSinks[i]) uartSinks[i](b);
        else if (i == 0) text(uartLine, char(b));
      };
    }
    adc.onLine = [this](bool level) { nvic.setLine(kAdc, level); };
    adc.clockDivider = [this] { return sysctl.peripheralDivider(kAdcClockField); };
    adc.input = [this](int channel) { return analogInput(channel); };
    dac.onOutput = [this](double volts) { host.writeVtr("AOUT", std::bit_cast<uint32_t>(float(volts)), true); };
    pwm.onLine = [this](bool level) { nvic.setLine(kPwm1, level); };
    pwm.onOutputsChanged = [this] { refreshPins(); };
    for (auto& t : timers) t.onMatchOutputsChanged = [this] { refreshPins(); };
    map.resetAll();
  }

  // I2C0-2, SSP0, SPI, the watchdog and the RTC: their windows and interrupt lines.
  void addBuses() {
    for (int i = 0; i < 3; ++i) {
      map.add(I2c::kBases[i], I2c::kSize, &i2c[i], true);
      i2c[i].onLine = [this, i](bool level) { nvic.setLine(I2c::kIrqs[i], level); };
    }
    map.add(Ssp::kSsp0Base, Ssp::kSize, &ssp0);
    ssp0.onLine = [this](bool level) { nvic.setLine(Ssp::kSsp0Irq, level); };
    ssp1.onLine = [this](bool level) { nvic.setLine(Ssp::kSsp1Irq, level); };
    map.add(Spi::kBase, Spi::kSize, &spi, true);
    spi.onLine = [this](bool level) { nvic.setLine(Spi::kIrq, level); };
    map.add(Watchdog::kBase, Watchdog::kSize, &wdt, true);
    wdt.onLine = [this](bool level) { nvic.setLine(Watchdog::kIrq, level); };
    wdt.onResetRequest = [this] { cpu.requestStop(); };
    map.add(Rtc::kBase, Rtc::kSize, &rtc, true);
    rtc.onLine = [this](bool level) { nvic.setLine(Rtc::kIrq, level); };
  }

  static uint8_t* bootRom() {
    static std::vector<uint8_t> rom(0x2000, 0);
    return rom.data();
  }

  void text(std::string& buffer, char c) {
    // A NUL ends a C string: dropped here so the rest of the line still reaches the output.
    if (c == '\r' || c == '\0') return;
    if (c == '\n') {
      sim.line(buffer);
      buffer.clear();
    } else {
      buffer += c;
    }
  }

  // The board's voltage on AD0.channel: the AINn virtual register (a float, in volts).
  double analogInput(int channel) {
    static const std::string names[Adc::kChannels] = {"AIN0", "AIN1", "AIN2", "AIN3", "AIN4", "AIN5", "AIN6", "AIN7"};
    auto bits = host.readVtr(names[channel & 7]);
    return bits ? double(std::bit_cast<float>(*bits)) : 0.0;
  }

  int pinFunction(int port, int pin) const {
    return int((pinConnect.word(uint32_t(4 * (2 * port + pin / 16))) >> (2 * (pin % 16))) & 3);
  }

  // Pins driven by PWM1 and the timers' match outputs where the pin connect block selects them.
  bool functionPinsDriven = false;  // then a pin read first brings the peripherals up to date
  // Per port, the pins the pin connect block gives to a timer's capture input now: a moving
  // pin elsewhere (a display's strobe) then costs the edge check nothing.
  uint32_t captureArmed[Gpio::kPorts] = {};
  void refreshPins() {
    for (uint32_t& m : captureArmed) m = 0;
    for (const PinFunction& f : kCapturePins)
      if (pinFunction(f.port, f.pin) == f.function) captureArmed[f.port] |= 1u << f.pin;
    uint32_t mask[Gpio::kPorts] = {}, level[Gpio::kPorts] = {};
    for (const PinFunction& f : kPwmPins) {
      if (pinFunction(f.port, f.pin) != f.function || !pwm.outputEnabled(f.signal)) continue;
      mask[f.port] |= 1u << f.pin;
      if (pwm.output(f.signal)) level[f.port] |= 1u << f.pin;
    }
    for (const PinFunction& f : kMatchPins) {
      if (pinFunction(f.port, f.pin) != f.function) continue;
      mask[f.port] |= 1u << f.pin;
      if (timers[f.unit].matchOutput(f.signal)) level[f.port] |= 1u << f.pin;
    }
    functionPinsDriven = false;
    for (int p = 0; p < Gpio::kPorts; ++p) {
      functionPinsDriven |= mask[p] != 0;
      uint32_t before = gpio.levels(p);
      gpio.setFunctionPins(p, mask[p], level[p]);
      // Whoever watches FIOxPIN sees a peripheral move the pin, as a simulator access.
      uint32_t reg = Gpio::pinRegister(p);
      if (gpio.levels(p) != before && host.watched(reg, 4)) host.firmwareWrote(reg, 4);
    }
  }

  void levelsChanged(int port, uint32_t before, uint32_t after) {
    if (pinListener) pinListener(port, after, seconds());
    uint32_t changed = before ^ after;
    for (uint32_t moved = changed & captureArmed[port]; moved; moved &= moved - 1) {
      const PinFunction& f = kCapturePins[kCaptureIndex[port][std::countr_zero(moved)]];
      syncTimers();  // the edge counts or captures at the count the timer has now
      timers[f.unit].capturePin(f.signal, (after >> f.pin) & 1);
    }
    uint32_t inputs = ~gpio.directions(port) & ~gpio.functionPins(port);
    uint32_t rising = ~before & after & inputs, falling = before & ~after & inputs;
    if (rising | falling) gpioInt.edges(port, rising, falling);
    if (port == 2 && (changed & kEintPins)) {
      uint32_t pinsel4 = pinConnect.word(0x010);
      for (int n = 0; n < 4; ++n) {
        int pin = 10 + n;
        if (!(((before ^ after) >> pin) & 1)) continue;
        // PINSEL4 function 01 on P2.10..P2.13 is EINT0..EINT3.
        bool selected = ((pinsel4 >> (2 * pin)) & 3) == 1;
        sysctl.externalPin(n, (after >> pin) & 1, selected);
      }
    }
  }

  // ---- time ----
  uint64_t cycles() const { return cpu.cycles(); }
  double seconds() const { return secondsBase + double(cycles() - cyclesBase) / hz; }
  void rebaseClock() {
    uint64_t now = cycles();
    secondsBase += double(now - cyclesBase) / hz;
    cyclesBase = now;
    hz = sysctl.coreClockHz();
  }
  uint64_t cycleAt(double s) const {
    if (s <= seconds()) return cycles();
    double c = double(cyclesBase) + (s - secondsBase) * hz;
    return c >= 1.8e19 ? UINT64_MAX : uint64_t(std::ceil(c));
  }
  void syncTimers() {
    uint64_t now = cycles();
    uint64_t delta = now - timersAt;
    if (!delta) return;
    timersAt = now;
    nvic.advanceSysTick(delta);
    for (int i = 0; i < 4; ++i) timers[i].advance(delta, sysctl.peripheralDivider(kTimerClockField[i]));
    rit.advance(delta, sysctl.peripheralDivider(kRitClockField));
    for (int i = 0; i < 3; ++i) i2c[i].advance(delta, sysctl.peripheralDivider(I2c::kClockFields[i]));
    spi.advance(delta, sysctl.peripheralDivider(Spi::kClockField));
    wdt.advance(delta, hz, sysctl.peripheralDivider(Watchdog::kClockField));
    rtc.advance(delta, hz);
    for (int i = 0; i < 4; ++i) syncUart(i);
    adc.advance(delta);
    dac.advance(delta, sysctl.peripheralDivider(kDacClockField));
    pwm.advance(delta, sysctl.peripheralDivider(kPwmClockField));
  }
  // A UART brought up to date alone: firmware polling LSR reads it every few cycles, and
  // bringing every peripheral up to date at each read was most of what such a loop cost. Nothing
  // else changes before the next device event (a slice ends there), so the others catch up at
  // the next full sync.
  void syncUart(int i) {
    uint64_t now = cycles();
    if (now == uartsAt[i]) return;
    uarts[i].advance(now - uartsAt[i]);
    uartsAt[i] = now;
  }
  int uartOf(const Peripheral* model) const {
    for (int i = 0; i < 4; ++i)
      if (model == &uarts[i]) return i;
    return -1;
  }
  void syncFor(const Peripheral* model) {
    if (int u = uartOf(model); u >= 0) syncUart(u);
    else syncTimers();
  }
  // A watched port with peripheral-driven pins: their changes must land at their exact time.
  bool functionPinsWatched() const {
    for (int p = 0; p < Gpio::kPorts; ++p)
      if (gpio.functionPins(p) && host.watched(Gpio::pinRegister(p), 4)) return true;
    return false;
  }
  uint64_t cyclesToNextDeviceEvent() const {
    uint64_t best = nvic.cyclesToSysTickEvent();
    bool pinsWatched = functionPinsDriven && functionPinsWatched();
    for (int i = 0; i < 4; ++i)
      best = std::min(best, timers[i].cyclesToEvent(sysctl.peripheralDivider(kTimerClockField[i]), pinsWatched));
    best = std::min(best, rit.cyclesToEvent(sysctl.peripheralDivider(kRitClockField)));
    for (int i = 0; i < 3; ++i) best = std::min(best, i2c[i].cyclesToEvent(sysctl.peripheralDivider(I2c::kClockFields[i])));
    best = std::min(best, spi.cyclesToEvent(sysctl.peripheralDivider(Spi::kClockField)));
    best = std::min(best, wdt.cyclesToEvent(hz, sysctl.peripheralDivider(Watchdog::kClockField)));
    best = std::min(best, rtc.cyclesToEvent(hz));
    for (const Uart& u : uarts) best = std::min(best, u.cyclesToEvent());
    best = std::min(best, adc.cyclesToEvent());
    best = std::min(best, dac.cyclesToEvent(sysctl.peripheralDivider(kDacClockField)));
    best = std::min(best, pwm.cyclesToEvent(sysctl.peripheralDivider(kPwmClockField), pinsWatched));
    return best;
  }

  // ---- memory ----
  uint8_t* ram(uint32_t address, uint32_t size) {
    if (address >= kSramBase && uint64_t(address) + size <= uint64_t(kSramBase) + kSramSize) return sram.data() + (address - kSramBase);
    if (address >= kAhbSramBase && uint64_t(address) + size <= uint64_t(kAhbSramBase) + kAhbSramSize)
      return ahbSram.data() + (address - kAhbSramBase);
    return nullptr;
  }
  uint8_t* memory(uint32_t address, uint32_t size) {
    if (uint64_t(address) + size <= kFlashSize) return flash.data() + address;
    return ram(address, size);
  }

  // Plain reads/writes of the data space, as the bit-band aliases and the plug-in see it.
  bool dataRead(uint32_t address, uint32_t size, Access access, uint32_t* value) {
    if (uint8_t* p = memory(address, size)) {
      *value = 0;
      std::memcpy(value, p, size);
      return true;
    }
    const AddressMap::Entry* e = map.find(address);
    if (e) {
      if (e->timed) syncFor(e->model);
      else if (e->model == &gpio && functionPinsDriven) syncTimers();
      *value = e->model->read(address - e->base, size, access);
      return true;
    }
    if (Peripheral* s = sparseFor(address)) {
      *value = s->read(address, size, access);
      return true;
    }
    return false;
  }
  bool dataWrite(uint32_t address, uint32_t value, uint32_t size, Access access) {
    if (uint8_t* p = ram(address, size)) {
      std::memcpy(p, &value, size);
      return true;
    }
    if (access == Access::Debugger && uint64_t(address) + size <= kFlashSize) {
      std::memcpy(flash.data() + address, &value, size);
      return true;
    }
    const AddressMap::Entry* e = map.find(address);
    if (e) {
      if (e->timed) syncFor(e->model);
      e->model->write(address - e->base, value, size, access);
      if (e->model == &pinConnect) refreshPins();  // a pin may now belong to PWM or a timer
      return true;
    }
    if (Peripheral* s = sparseFor(address)) {
      s->write(address, value, size, access);
      return true;
    }
    return false;
  }
  Peripheral* sparseFor(uint32_t address) {
    if (address >= 0x40000000 && address < 0x40080000) return &apb0;
    if (address >= 0x40080000 && address < 0x40100000) return &apb1;
    if (address >= 0x50000000 && address < 0x50200000) return &ahb;
    if (address >= 0xE0000000 && address < 0xE0100000) return &ppb;
    return nullptr;
  }

  // ---- the firmware's accesses ----
  uint32_t busRead(uint32_t address, uint32_t size) override {
    std::lock_guard lock(host.mutex());
    if (auto b = bitBandTarget(address)) return (busRead(b->word, 4) >> b->bit) & 1;
    std::optional<uint32_t> answer;
    if (host.watched(address, size)) answer = host.firmwareRead(address, size);
    uint32_t v = 0;
    dataRead(address, size, Access::Firmware, &v);
    return answer ? *answer : v;
  }
  void busWrite(uint32_t address, uint32_t value, uint32_t size) override {
    std::lock_guard lock(host.mutex());
    changedPort = -1;
    if (address - Gpio::kBase < Gpio::kSize) [[likely]] {
      // The firmware's FIOSET/FIOCLR/FIOPIN stores, the busiest bus traffic (a display driven
      // through port pins): straight to the model, without the bit-band check and the map.
      gpio.write(address - Gpio::kBase, value, size, Access::Firmware);
    } else {
      if (auto b = bitBandTarget(address)) {
        // A read-modify-write of the whole word, as the firmware's own would be: read and
        // write watches fire and peripherals see an ordinary write.
        uint32_t v = busRead(b->word, 4);
        return busWrite(b->word, (v & ~(1u << b->bit)) | ((value & 1) << b->bit), 4);
      }
      dataWrite(address, value, size, Access::Firmware);
    }
    if (changedPort >= 0) {
      // A SET/CLR/DIR write moved the port's pins: whoever watches FIOxPIN sees it.
      uint32_t pin = Gpio::pinRegister(changedPort);
      changedPort = -1;
      // The pins' levels go with it, so the host need not read the register back.
      if ((address & ~3u) != pin) host.firmwareWrote(pin, 4, gpio.levels(changedPortOf(pin)));
    }
    if (uint32_t word = address & ~3u; word - Gpio::kBase < 5 * 0x20 && (word & 0x1F) == 0x14)
      host.firmwareWrote(address, size, gpio.levels(changedPortOf(word)));
    else
      host.firmwareWrote(address, size);  // returns at once, without the lock, when unwatched
  }
  static int changedPortOf(uint32_t pinRegister) { return int((pinRegister - Gpio::kBase) / 0x20); }
  // ---- semihosting ----
  std::string readString(uint32_t address, size_t max = 4096) {
    std::string s;
    uint32_t c = 0;
    while (s.size() < max && dataRead(address + uint32_t(s.size()), 1, Access::Debugger, &c) && c) s += char(c);
    return s;
  }
  uint32_t word(uint32_t address) {
    uint32_t v = 0;
    dataRead(address, 4, Access::Debugger, &v);
    return v;
  }
  uint32_t semihost(uint32_t op, uint32_t param) override {
    switch (op) {
      case 0x01: return 1;  // SYS_OPEN: the console
      case 0x02: return 0;  // SYS_CLOSE
      case 0x03: {          // SYS_WRITEC
        uint32_t c = 0;
        dataRead(param, 1, Access::Debugger, &c);
        text(semihostLine, char(c));
        return 0;
      }
      case 0x04:  // SYS_WRITE0
        for (char c : readString(param)) text(semihostLine, c);
        return 0;
      case 0x05: {  // SYS_WRITE: handle, buffer, length; answers the bytes not written
        uint32_t buf = word(param + 4), len = word(param + 8);
        for (uint32_t i = 0; i < len && i < 65536; ++i) {
          uint32_t c = 0;
          dataRead(buf + i, 1, Access::Debugger, &c);
          text(semihostLine, char(c));
        }
        return 0;
      }
      case 0x09: return 1;  // SYS_ISTTY
      case 0x10: return uint32_t(seconds() * 100);  // SYS_CLOCK, centiseconds
      case 0x13: return 0;  // SYS_ERRNO
      case 0x18:            // SYS_EXIT: only "application exit" is success
        cpu.exitRequested(param == 0x20026 ? 0 : 1);
        return 0;
      case 0x20:  // SYS_EXIT_EXTENDED: reason, status
        cpu.exitRequested(word(param) == 0x20026 ? int(word(param + 4)) : 1);
        return 0;
      default: return 0xFFFFFFFF;
    }
  }

  // ---- watched RAM pages ----
  void routeWatchedPages() {
    for (size_t i = 0; i < routed.size(); ++i) {
      uint32_t base = i * kPageSize < kSramSize ? kSramBase + uint32_t(i) * kPageSize
                                                : kAhbSramBase + uint32_t(i) * kPageSize - kSramSize;
      bool watched = host.watched(base, kPageSize);
      if (watched == routed[i]) continue;
      cpu.routePagesThroughBus(base, kPageSize, ram(base, kPageSize), watched, true);
      routed[i] = watched;
    }
  }

  void resetChip() {
    map.resetAll();
    apb0.reset(), apb1.reset(), ahb.reset(), ppb.reset();
    refreshPins();
    rebaseClock();
    timersAt = cycles();
    for (uint64_t& at : uartsAt) at = timersAt;
    uint32_t sp = 0, pc = 0;
    std::memcpy(&sp, flash.data(), 4);
    std::memcpy(&pc, flash.data() + 4, 4);
    cpu.reset(sp, pc);
    faultFrame = 0;
  }

  // ---- faults ----
  // "0x... in function at file.c:12". A return address (LR, stacked LR) points after its call:
  // the call's own line is the one a reader wants, so the line comes from the byte before it.
  std::string where(uint32_t address, bool returnAddress = false) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%08X", address & ~1u);
    std::string f = functionAt(symbols, address);
    std::string text = f.empty() ? std::string(b) : std::string(b) + " in " + f;
    std::string line = lines.at(returnAddress ? (address & ~1u) - 1 : address);
    return line.empty() ? text : text + " at " + line;
  }
  // Enters the firmware's handler for the fault the core stopped on, as the chip would. Answers
  // an empty string when the firmware goes on, else the report of why the run must end.
  std::vector<std::string> takeFault() {
    FaultEvent f = cpu.fault();
    cpu.clearFault();
    uint32_t pc = cpu.pc();
    char head[200];
    int e = nvic.takeFault(f, cpu.primask(), cpu.basepri(), cpu.faultmask());
    uint32_t handler = e ? word(nvic.vectorTable() + 4 * uint32_t(e)) : 0;
    // A handler that only spins (`b .`, or gcc -O0's `nop; b.n` back to the nop, after an
    // unoptimised build's frame set-up: push, add r7, sp / sub sp) would hold the run to its
    // time limit without a word.
    uint16_t first = 0;
    bool spins = false;
    auto half = [&](uint32_t i) {
      uint16_t h = 0;
      if (const uint8_t* p = memory((handler & ~1u) + 2 * i, 2)) std::memcpy(&h, p, 2);
      return h;
    };
    for (uint32_t i = 0; i < 4; ++i) {
      uint16_t h = half(i);
      if (i == 0) first = h;
      if (h == 0xE7FE || (h == 0xBF00 && half(i + 1) == 0xE7FD)) spins = true;
      if (spins || !((h & 0xFE00) == 0xB400 || (h & 0xFF00) == 0xAF00 || (h & 0xFF80) == 0xB080)) break;
    }
    if (e && first != 0 && !spins && first != 0xFFFF) {
      nvic.activate(e);
      cpu.enterException(e, nvic.vectorTable());
      faultFrame = cpu.special().msp;
      return {};
    }
    // The run ends: lockup, no handler or one that only spins (`b .`), so nothing more happens.
    uint32_t running = cpu.currentException();
    const char* why = !e ? (running == exc::NMI         ? "lockup: a fault in the NMI handler"
                            : running == exc::HardFault ? "lockup: a fault in the HardFault handler"
                                                        : "lockup: a fault with FAULTMASK set")
                      : spins           ? "its handler is an endless loop"
                                        : "its handler's vector is not code";
    char exception[24] = "";
    if (e) std::snprintf(exception, sizeof exception, "; exception %d", e);
    std::snprintf(head, sizeof head, "Firmware fault: %s at PC 0x%08X (%s%s)", f.text.c_str(), pc, why, exception);
    std::vector<std::string> out = {head, "  #0 " + where(pc)};
    uint32_t lr = cpu.reg(14);
    if (lr < 0xFFFFFFF0) out.push_back("  #1 " + where(lr, true) + " (LR)");
    std::vector<uint32_t> shown = {lr & ~1u};
    if (cpu.currentException() != 0 && faultFrame) {
      out.push_back("  #2 " + where(word(faultFrame + 24)) + " (stacked PC: where the handler's exception came from)");
      out.push_back("  #3 " + where(word(faultFrame + 20), true) + " (stacked LR)");
      shown.push_back(word(faultFrame + 24) & ~1u);
      shown.push_back(word(faultFrame + 20) & ~1u);
    }
    // Further callers where unoptimised code kept its r7 frame pointers; the first ones found
    // may be the LR and stacked addresses shown above.
    ReadWord read = [this](uint32_t address) -> std::optional<uint32_t> {
      uint32_t v = 0;
      if (const uint8_t* p = memory(address, 4)) return std::memcpy(&v, p, 4), v;
      return std::nullopt;
    };
    std::vector<CallerFrame> callers = framePointerCallers({pc, lr, cpu.reg(7), cpu.special().psp}, symbols, read);
    size_t skip = 0;
    while (skip < callers.size() && skip < shown.size() &&
           std::find(shown.begin(), shown.end(), callers[skip].address) != shown.end())
      ++skip;
    for (size_t i = skip; i < callers.size(); ++i)
      out.push_back("  #" + std::to_string(out.size() - 1) + " " + where(callers[i].address, !callers[i].interrupted) +
                    (callers[i].interrupted ? " (stacked PC: where the exception came in)" : " (caller, from r7's frame)"));
    char status[96];
    std::snprintf(status, sizeof status, "CFSR=%08X HFSR=%08X", nvic.cfsr(), nvic.hfsr());
    out.push_back(status);
    std::string dump = cpu.registerDump();
    for (size_t p = 0, q; p < dump.size(); p = q + 1) {
      q = dump.find('\n', p);
      if (q == std::string::npos) q = dump.size();
      out.push_back(dump.substr(p, q - p));
    }
    return out;
  }
};

// ---- Simulator ----------------------------------------------------------------------------------

Simulator::Simulator(agsi_host::Host& host, EngineKind engine)
    : host_(host), chip_(std::make_unique<Chip>(*this, host, engine)) {
  host_.setTarget(this);
  // The analog pins as float VTRs in volts, there for scripts and plug-ins alike; a plug-in that
  // defines one itself gets the same register (and its own initial value if it came first).
  std::lock_guard lock(host_.mutex());
  for (int n = 0; n < Adc::kChannels; ++n) {
    std::string name = "AIN" + std::to_string(n);
    if (!host_.vtrHandle(name)) AgsiDefineVTR(name.c_str(), AGSIVTRFLOAT, 0);
  }
  if (!host_.vtrHandle("AOUT")) AgsiDefineVTR("AOUT", AGSIVTRFLOAT, 0);
}

Simulator::~Simulator() {
  stop();
  std::lock_guard lock(host_.mutex());
  host_.setTarget(nullptr);
}

void Simulator::setOutput(std::function<void(const std::string&)> output) { output_ = std::move(output); }

void Simulator::setTraceUnmodelled(std::function<void(uint32_t address, bool write)> trace) {
  std::lock_guard lock(host_.mutex());
  for (Unmodelled* u : {&chip_->apb0, &chip_->apb1, &chip_->ahb, &chip_->ppb}) u->onFirstAccess = trace;
}

void Simulator::setPinListener(std::function<void(int port, uint32_t levels, double seconds)> listener) {
  std::lock_guard lock(host_.mutex());
  chip_->pinListener = std::move(listener);
}

uint32_t Simulator::pinLevels(int port) {
  if (port < 0 || port >= Gpio::kPorts) return 0;
  std::lock_guard lock(host_.mutex());
  return chip_->gpio.levels(port);
}

void Simulator::line(const std::string& text) {
  if (output_) output_(text);
}

uint64_t Simulator::cycles() const { return chip_->cycles(); }

EngineKind Simulator::engineKind() const { return chip_->cpu.kind(); }

double Simulator::seconds() { return chip_->seconds(); }

uint32_t Simulator::clockHz() { return chip_->hz; }

uint32_t Simulator::programCounter() { return hasFirmware_ ? chip_->cpu.pc() : 0; }

bool Simulator::loadFirmware(const std::filesystem::path& file, std::string* error) {
  ElfImage image;
  std::vector<MemoryRange> allowed = {{kFlashBase, kFlashSize, "flash"},
                                      {kSramBase, kSramSize, "SRAM"},
                                      {kAhbSramBase, kAhbSramSize, "AHB SRAM"}};
  if (!readFirmware(file, allowed, &image, error)) return false;
  // Everything is checked before the chip is touched: a file that is refused leaves the
  // firmware loaded before it as it was (a reload of a broken build keeps the old one).
  uint32_t resetVector = 0xFFFFFFFF;
  for (const ElfSegment& s : image.segments)
    for (uint32_t i = 0; i < 4; ++i)
      if (s.address <= 4 + i && 4 + i - s.address < s.bytes.size())
        resetVector = (resetVector & ~(0xFFu << (8 * i))) | uint32_t(s.bytes[4 + i - s.address]) << (8 * i);
  if (resetVector == 0 || resetVector == 0xFFFFFFFF) {
    // A program linked for a board with a boot monitor (arm-none-eabi-gcc's default) has no
    // vector table at 0: it would only fault at once, so say what to do instead.
    uint32_t lowest = UINT32_MAX;
    for (const ElfSegment& s : image.segments) lowest = std::min(lowest, s.address);
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", lowest);
    if (error)
      *error = file.string() + " is not linked for the LPC17xx flash at address 0 (its code starts at " + b +
               "): link it with a linker script that puts the vector table at 0, e.g. firmware/template/lpc1768.ld";
    return false;
  }
  std::lock_guard lock(host_.mutex());
  // Flash as a programmer leaves it: erased, then the new image; nothing of an older one stays.
  std::fill(chip_->flash.begin(), chip_->flash.end(), uint8_t(0xFF));
  for (const ElfSegment& s : image.segments) std::memcpy(chip_->memory(s.address, uint32_t(s.bytes.size())), s.bytes.data(), s.bytes.size());
  chip_->symbols = image.symbols;
  chip_->lines = std::move(image.lines);
  host_.clearSymbols();
  for (const ElfSymbol& s : image.symbols)
    host_.addSymbol({s.name, s.address, s.object && s.size == 1 ? uint32_t(AGSI_SYMTYPE_UCHAR) : 0u});
  // Code an engine translated from an earlier firmware must not run again.
  chip_->cpu.invalidateCode(kFlashBase, kFlashSize);
  chip_->cpu.invalidateCode(kSramBase, kSramSize);
  chip_->cpu.invalidateCode(kAhbSramBase, kAhbSramSize);
  chip_->cpu.codeLoaded(chip_->flash.data(), kFlashSize);
  hasFirmware_ = true;
  resetChip();
  return true;
}

void Simulator::resetChip() {
  std::lock_guard lock(host_.mutex());
  chip_->resetChip();
  exitStatus_.reset();
  faultReport_.clear();
  lastStop_ = StopReason::None;
  sleeping_ = false;
}

bool Simulator::read(uint32_t address, uint32_t size, uint8_t* out) {
  // The plug-in reads byte strings (memory) or registers (1, 2 or 4 bytes).
  if (uint8_t* p = chip_->memory(address, size)) {
    std::memcpy(out, p, size);
    return true;
  }
  for (uint32_t done = 0; done < size;) {
    uint32_t n = (size - done >= 4 && ((address + done) & 3) == 0) ? 4 : 1;
    uint32_t v = 0;
    if (!chip_->dataRead(address + done, n, Access::Debugger, &v)) return false;
    std::memcpy(out + done, &v, n);
    done += n;
  }
  return true;
}

bool Simulator::write(uint32_t address, uint32_t size, const uint8_t* in) {
  if (uint8_t* p = chip_->memory(address, size)) {
    std::memcpy(p, in, size);
    return true;
  }
  for (uint32_t done = 0; done < size;) {
    uint32_t n = (size - done >= 4 && ((address + done) & 3) == 0) ? 4 : 1;
    uint32_t v = 0;
    std::memcpy(&v, in + done, n);
    if (!chip_->dataWrite(address + done, v, n, Access::Debugger)) return false;
    done += n;
  }
  return true;
}

void Simulator::vtrChanged(const std::string& name, uint32_t value) {
  // PORT0..PORT4 are the levels the board drives into the GPIO pins.
  if (name.size() == 5 && name.compare(0, 4, "PORT") == 0 && name[4] >= '0' && name[4] <= '4')
    chip_->gpio.setInputs(name[4] - '0', value);
}

void Simulator::setUartSink(int n, std::function<void(uint8_t)> sink) {
  if (n < 0 || n > 3) return;
  std::lock_guard lock(host_.mutex());
  chip_->uartSinks[n] = std::move(sink);
}

void Simulator::setUartMonitor(int n, std::function<void(uint8_t)> monitor) {
  if (n < 0 || n > 3) return;
  std::lock_guard lock(host_.mutex());
  chip_->uartMonitors[n] = std::move(monitor);
}

bool Simulator::uartUsed(int n) {
  if (n < 0 || n > 3) return false;
  std::lock_guard lock(host_.mutex());
  return chip_->uarts[n].used();
}

bool Simulator::uartInput(int n, uint8_t byte) {
  if (n < 0 || n > 3) return false;
  std::lock_guard lock(host_.mutex());
  return chip_->uarts[n].input(byte);
}

void Simulator::triggerReset() {
  resetRequested_ = true;
  chip_->cpu.requestStop();
  wakeSleeper();
}

void Simulator::setHeld(bool held) {
  held_ = held;
  if (held) chip_->cpu.requestStop();
}

void Simulator::stopSimulation() {
  stopRequested_ = true;
  chip_->cpu.requestStop();
  wakeSleeper();
}

void Simulator::wakeSleeper() {
  {
    std::lock_guard lock(sleepMutex_);
    wakeRequested_ = true;
  }
  sleepWake_.notify_all();
}

void Simulator::at(double seconds, std::function<void()> fn) {
  {
    std::lock_guard lock(chip_->eventsMutex);
    chip_->events.emplace(seconds, std::move(fn));
  }
  wakeSleeper();  // it may be due before the end of the present sleep
}

StopReason Simulator::runFor(double s) { return runUntil(seconds() + s); }

StopReason Simulator::runUntil(double s) {
  double saved = timeLimit_;
  if (timeLimit_ < 0 || s < timeLimit_) timeLimit_ = s;
  StopReason r = runLoop(UINT64_MAX);
  timeLimit_ = saved;
  return r;
}

void Simulator::start() {
  std::lock_guard control(controlMutex_);
  stop();
  finished_ = false;
  thread_ = std::thread([this] {
    StopReason r = runLoop(UINT64_MAX);
    finished_ = true;
    if (onRunEnded_) onRunEnded_(r);
    // A debugger's stop is not the end of the run.
    if (r != StopReason::Requested && r != StopReason::Breakpoint && r != StopReason::Watchpoint && onStopped_)
      onStopped_(r);
  });
}

void Simulator::stop() {
  std::lock_guard control(controlMutex_);
  stopRequested_ = true;
  chip_->cpu.requestStop();
  wakeSleeper();
  if (thread_.joinable()) thread_.join();
  stopRequested_ = false;
}

bool Simulator::stopIfRunning() {
  std::lock_guard control(controlMutex_);
  if (!running()) return false;
  stop();
  return true;
}

StopReason Simulator::runLoop(uint64_t untilCycle) {
  Chip& c = *chip_;
  stopRequested_ = false;
  uint64_t wallStart = wallNanos();
  double simStart = seconds();
  StopReason reason = StopReason::None;
  if (lastStop_ == StopReason::Exited || lastStop_ == StopReason::Fault) return lastStop_;
  bool firstRun = true;
  const uint32_t resumePc = hasFirmware_ ? c.cpu.pc() & ~1u : 0;
  while (reason == StopReason::None) {
    if (stopRequested_) {
      reason = StopReason::Requested;
      break;
    }
    // Scripted events that are due run first, outside the lock, in time order.
    for (;;) {
      std::function<void()> fn;
      {
        std::lock_guard lock(c.eventsMutex);
        if (c.events.empty() || c.events.begin()->first > seconds()) break;
        fn = std::move(c.events.begin()->second);
        c.events.erase(c.events.begin());
      }
      fn();
    }
    if (timeLimit_ >= 0 && seconds() >= timeLimit_) {
      reason = StopReason::TimeLimit;
      break;
    }
    uint64_t sliceEnd;
    RunEnd end = RunEnd::Budget;
    bool requestedReset;
    {
      std::lock_guard lock(host_.mutex());
      requestedReset = resetRequested_.exchange(false) || c.nvic.takeResetRequest();
      if (c.wdt.takeResetRequest()) {
        // The watchdog's reset: WDTOF survives it and RSID tells the firmware who did it.
        c.sysctl.noteReset(SystemControl::kResetByWatchdog);
        requestedReset = true;
      }
      if (requestedReset) {
        c.resetChip();
        sleeping_ = false;
      }
    }
    if (requestedReset && onRequestedReset_) onRequestedReset_();
    {
      std::unique_lock lock(host_.mutex());
      if ((c.sliceCount++ & 7) == 0) c.routeWatchedPages();
      c.syncTimers();
      uint64_t now = c.cycles();
      // A sleeping core has nothing to look at between device events: it may skip further.
      uint64_t slice = hasFirmware_ && !sleeping_ ? kSliceCycles : kSleepSliceCycles;
      sliceEnd = now + std::min<uint64_t>(slice, c.cyclesToNextDeviceEvent());
      uint64_t due = host_.nextTimerDue();
      if (due > now) sliceEnd = std::min(sliceEnd, due);
      {
        std::lock_guard elock(c.eventsMutex);
        if (!c.events.empty()) sliceEnd = std::min(sliceEnd, std::max(now + 1, c.cycleAt(c.events.begin()->first)));
      }
      if (timeLimit_ >= 0) sliceEnd = std::min(sliceEnd, std::max(now + 1, c.cycleAt(timeLimit_)));
      sliceEnd = std::min(sliceEnd, untilCycle);
      if (hasFirmware_ && !held_) {
        int e = c.nvic.nextException(c.cpu.primask(), c.cpu.basepri());
        if (e) {
          c.nvic.activate(e);
          c.cpu.enterException(e, c.nvic.vectorTable());
          sleeping_ = false;
        }
      }
    }
    if (hasFirmware_ && !sleeping_ && !held_) {
      // A breakpoint where a slice or an exception entry left the PC stops the run before the
      // engine starts there (an engine executes the instruction a run starts on); only the
      // debugger going on from where it stopped executes it.
      uint32_t pc = c.cpu.pc() & ~1u;
      if (!breakpoints_.empty() && breakpoints_.count(pc) && !(firstRun && pc == resumePc)) end = RunEnd::Breakpoint;
      else end = c.cpu.run(sliceEnd);
      firstRun = false;
    } else {
      // Asleep, held or without firmware: time passes to the next thing that can happen.
      uint64_t now = c.cycles();
      if (sliceEnd > now && realTime_) {
        // In real time nothing happens before then unless another thread causes it (the board
        // raising an interrupt, a stop or reset request, a new scripted event): block until the
        // wall clock gets there or one of those wakes the thread, and let simulated time catch
        // up with the wall clock only. A sleeping board then costs nothing between events.
        double ahead = (seconds() - simStart) - double(wallNanos() - wallStart) * 1e-9;
        double span = ahead + double(std::min(sliceEnd - now, kSleepSliceCycles)) / c.hz;
        auto wakeAt = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(std::max(0.0, span)));
        {
          std::unique_lock lock(sleepMutex_);
          sleepWake_.wait_until(lock, wakeAt, [&] { return wakeRequested_ || stopRequested_; });
          wakeRequested_ = false;
        }
        double behind = simStart + double(wallNanos() - wallStart) * 1e-9 - seconds();
        uint64_t reached = behind > 0 ? now + uint64_t(behind * c.hz) : now;
        sliceEnd = std::min(sliceEnd, reached);
      }
      if (sliceEnd > now) c.cpu.addCycles(sliceEnd - now);
    }
    reason = afterRun(int(end));
    {
      std::lock_guard lock(host_.mutex());
      c.syncTimers();
    }
    host_.advanceTo(c.cycles());
    if (c.cycles() >= untilCycle && reason == StopReason::None) reason = StopReason::TimeLimit;
    if (realTime_) {
      // Keep simulated time from running ahead of the wall clock.
      double ahead = (seconds() - simStart) - double(wallNanos() - wallStart) * 1e-9;
      if (ahead > 0.002) std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
    }
  }
  flushLines(reason);
  lastStop_ = reason;
  return reason;
}

void Simulator::flushLines(StopReason reason) {
  Chip& c = *chip_;
  std::lock_guard lock(host_.mutex());
  // The firmware is gone: what it queued for the wire is sent in full.
  if (reason == StopReason::Exited || reason == StopReason::Fault)
    for (Uart& u : c.uarts) u.flushTransmitter();
  if (!c.uartLine.empty()) line(c.uartLine), c.uartLine.clear();
  if (!c.semihostLine.empty()) line(c.semihostLine), c.semihostLine.clear();
}

StopReason Simulator::afterRun(int endValue) {
  Chip& c = *chip_;
  switch (RunEnd(endValue)) {
    case RunEnd::Fault: {
      std::lock_guard lock(host_.mutex());
      std::vector<std::string> report = c.takeFault();
      if (report.empty()) return StopReason::None;  // the firmware's handler runs
      faultReport_.clear();
      for (const std::string& l : report) faultReport_ += (faultReport_.empty() ? "" : "\n") + l, line(l);
      return StopReason::Fault;
    }
    case RunEnd::Exited:
      exitStatus_ = c.cpu.exitStatus();
      return StopReason::Exited;
    case RunEnd::Sleeping: sleeping_ = true; return StopReason::None;
    case RunEnd::Breakpoint: return StopReason::Breakpoint;
    case RunEnd::Watchpoint: watchHit_ = c.cpu.watchHit(); return StopReason::Watchpoint;
    default: return StopReason::None;
  }
}

// ---- the debugger -------------------------------------------------------------------------------

bool Simulator::debugRegisters(DebugRegisters* out) {
  std::lock_guard control(controlMutex_);
  if (running() || !hasFirmware_) return false;
  std::lock_guard lock(host_.mutex());
  CoreRegisters r = chip_->cpu.registers();
  for (int i = 0; i < 13; ++i) (*out)[size_t(i)] = r.r[i];
  (*out)[13] = r.sp, (*out)[14] = r.lr, (*out)[15] = r.pc, (*out)[16] = r.xpsr;
  (*out)[17] = r.msp, (*out)[18] = r.psp, (*out)[19] = r.primask, (*out)[20] = r.basepri;
  (*out)[21] = r.faultmask, (*out)[22] = r.control;
  return true;
}

bool Simulator::setDebugRegisters(const DebugRegisters& in) {
  std::lock_guard control(controlMutex_);
  if (running() || !hasFirmware_) return false;
  std::lock_guard lock(host_.mutex());
  CoreRegisters r;
  for (int i = 0; i < 13; ++i) r.r[i] = in[size_t(i)];
  r.sp = in[13], r.lr = in[14], r.pc = in[15] & ~1u, r.xpsr = in[16];
  r.msp = in[17], r.psp = in[18], r.primask = in[19], r.basepri = in[20], r.faultmask = in[21], r.control = in[22];
  chip_->cpu.setRegisters(r);
  return true;
}

bool Simulator::debugRead(uint32_t address, uint32_t size, uint8_t* out) {
  std::lock_guard lock(host_.mutex());
  if (uint8_t* p = chip_->memory(address, size)) {
    std::memcpy(out, p, size);
    return true;
  }
  // Byte by byte where a range crosses from one window into another.
  for (uint32_t done = 0; done < size;) {
    uint32_t a = address + done;
    if (uint8_t* p = chip_->memory(a, 1)) {
      *(out + done++) = *p;
      continue;
    }
    uint32_t n = (size - done >= 4 && (a & 3) == 0) ? 4 : 1;
    uint32_t v = 0;
    if (auto b = bitBandTarget(a)) {
      if (!chip_->dataRead(b->word, 4, Access::Debugger, &v)) return false;
      v = (v >> b->bit) & 1;
      n = std::min<uint32_t>(size - done, 4);
    } else if (!chip_->dataRead(a, n, Access::Debugger, &v)) {
      return false;
    }
    std::memcpy(out + done, &v, n);
    done += n;
  }
  return true;
}

bool Simulator::debugWrite(uint32_t address, uint32_t size, const uint8_t* in) {
  std::lock_guard control(controlMutex_);
  bool stopped = !running();
  uint64_t end = uint64_t(address) + size;
  if (!stopped && address < kFlashSize) return false;  // the engine may be running that code
  {
    std::lock_guard lock(host_.mutex());
    for (uint32_t done = 0; done < size;) {
      uint32_t a = address + done;
      if (uint8_t* p = chip_->memory(a, 1)) {
        *p = in[done++];
        continue;
      }
      uint32_t n = (size - done >= 4 && (a & 3) == 0) ? 4 : 1;
      uint32_t v = 0;
      std::memcpy(&v, in + done, n);
      bool ok;
      if (auto b = bitBandTarget(a)) {
        uint32_t word = 0;
        ok = chip_->dataRead(b->word, 4, Access::Debugger, &word) &&
             chip_->dataWrite(b->word, (word & ~(1u << b->bit)) | ((v & 1) << b->bit), 4, Access::Debugger);
        n = 1;
      } else {
        ok = chip_->dataWrite(a, v, n, Access::Debugger);
      }
      if (!ok) return false;
      done += n;
    }
    host_.debuggerWrote(address, size);
  }
  // Code may live in flash or RAM: whatever an engine translated from there is stale now.
  if (stopped && (end <= kFlashSize || chip_->ram(address, size))) chip_->cpu.invalidateCode(address, size);
  return true;
}

bool Simulator::eraseFlash(uint32_t address, uint32_t size) {
  std::lock_guard control(controlMutex_);
  if (running() || uint64_t(address) + size > kFlashSize) return false;
  {
    std::lock_guard lock(host_.mutex());
    std::fill_n(chip_->flash.begin() + address, size, uint8_t(0xFF));
  }
  chip_->cpu.invalidateCode(address, size);
  return true;
}

bool Simulator::setBreakpoint(uint32_t address, bool on) {
  std::lock_guard control(controlMutex_);
  if (running()) return false;
  address &= ~1u;
  if (on) breakpoints_.insert(address);
  else breakpoints_.erase(address);
  chip_->cpu.setBreakpoint(address, on);
  return true;
}

bool Simulator::setWatchpoint(uint32_t address, uint32_t length, bool read, bool write, bool on) {
  std::lock_guard control(controlMutex_);
  if (running() || length == 0 || (!read && !write)) return false;
  chip_->cpu.setWatchpoint(address, length, read, write, on);
  for (auto it = watchpoints_.begin(); it != watchpoints_.end(); ++it)
    if (it->address == address && it->length == length && it->read == read && it->write == write) {
      watchpoints_.erase(it);
      break;
    }
  if (on) watchpoints_.push_back({address, length, read, write});
  return true;
}

void Simulator::clearDebugPoints() {
  std::lock_guard control(controlMutex_);
  for (uint32_t a : breakpoints_) chip_->cpu.setBreakpoint(a, false);
  breakpoints_.clear();
  for (const DebugWatch& w : watchpoints_) chip_->cpu.setWatchpoint(w.address, w.length, w.read, w.write, false);
  watchpoints_.clear();
}

StopReason Simulator::debugStep() {
  std::lock_guard control(controlMutex_);
  if (running() || !hasFirmware_) return StopReason::Requested;
  if (lastStop_ == StopReason::Exited || lastStop_ == StopReason::Fault) return lastStop_;
  Chip& c = *chip_;
  {
    std::lock_guard lock(host_.mutex());
    c.syncTimers();
  }
  StopReason reason = afterRun(int(c.cpu.step()));
  if (reason == StopReason::Breakpoint || reason == StopReason::Watchpoint) reason = StopReason::None;
  {
    std::lock_guard lock(host_.mutex());
    c.syncTimers();
  }
  host_.advanceTo(c.cycles());
  flushLines(reason);
  if (reason != StopReason::None) lastStop_ = reason;
  return reason;
}

}  // namespace korvel::sim
