#include "timers/timer_scaling.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "korvel/exports.h"
#include "korvel/host_functions.h"
#include "korvel/platform/platform.h"
#include "korvel/settings.h"

namespace korvel::timers {
namespace {

// One entry per scaled timer: the LPC17xx timers 0-3 have four match registers each at
// base + 0x18; the repetitive interrupt timer has one compare value at its base.
struct ScaledTimer {
  const char* prefix;     // register name prefix
  uint32_t firstRegister;
  int registers;
  const char* setting;    // enable flag in the settings store
};
constexpr std::array<ScaledTimer, 5> kTimers{{
    {"T0MR", 0x40004018, 4, "SCALE_TIM0"},
    {"T1MR", 0x40008018, 4, "SCALE_TIM1"},
    {"T2MR", 0x40090018, 4, "SCALE_TIM2"},
    {"T3MR", 0x40094018, 4, "SCALE_TIM3"},
    {"RICOMPVAL", 0x400B0000, 1, "SCALE_RIT"},
}};

struct State {
  double factor = 0.0;
  double simulatedStart = 0.0;
  uint64_t realStartNs = 0;
  uint8_t lastFlag = 0;
  uint32_t flagAddress = 0;
  std::array<int, 5> busy{};
};
State state;

bool settingOn(const char* key) { return SettingsManager::sharedInstance().getValueWithKey(key) != 0.0f; }

int timerOf(uint32_t address) {
  for (size_t t = 0; t < kTimers.size(); ++t) {
    uint32_t first = kTimers[t].firstRegister;
    if (address >= first && address < first + 4u * kTimers[t].registers) return static_cast<int>(t);
  }
  return -1;
}

}  // namespace

int defineRegisters() {
  auto* agsi = getAgsi();
  int result = 1;
  for (const auto& timer : kTimers) {
    for (int n = 0; n < timer.registers; ++n) {
      std::string name = timer.prefix;
      if (timer.registers > 1) name += static_cast<char>('0' + n);
      result &= agsi->AgsiDefineSFR(name.c_str(), timer.firstRegister + 4u * n, AGSILONG, 0) != 0;
    }
  }
  return result;
}

int watchRegisters() {
  auto* agsi = getAgsi();
  int result = 1;
  for (const auto& timer : kTimers) {
    for (int n = 0; n < timer.registers; ++n) {
      result &= agsi->AgsiSetWatchOnSFR(timer.firstRegister + 4u * n, &onMatchRegisterWritten, AGSIWRITE) != 0;
    }
  }
  return result;
}

int reset() {
  state.factor = 0.0;
  state.simulatedStart = 0.0;
  auto* agsi = getAgsi();
  // A reset may come before a successful initialisation bound the host's functions.
  if (agsi->AgsiGetSymbolByName == nullptr || agsi->AgsiSetWatchOnMemory == nullptr) return 0;
  AGSISYMDSC symbol{};
  std::strncpy(symbol.szName, "ScaleFlag", sizeof symbol.szName - 1);
  if (agsi->AgsiGetSymbolByName(&symbol) == 0 || symbol.type != AGSI_SYMTYPE_UCHAR || symbol.ok != 1) {
    return 0;
  }
  state.flagAddress = static_cast<uint32_t>(symbol.val);
  return agsi->AgsiSetWatchOnMemory(state.flagAddress, state.flagAddress + 1, &onScaleFlagWritten, AGSIWRITE);
}

double scaleFactor() { return state.factor; }

void onScaleFlagWritten(uint32_t, uint32_t) {
  auto* agsi = getAgsi();
  uint8_t value = 0;
  agsi->AgsiReadMemory(state.flagAddress, 1, &value);
  if (value != state.lastFlag) {
    if (settingOn("SCALE_CUSTOM")) {
      if (value != 1) {
        state.factor = SettingsManager::sharedInstance().getValueWithKey("SCALE_CUSTOM_VALUE");
        agsi->AgsiMessage("Scaling factor (custom): %f\n", state.factor);
      }
    } else if (value == 1) {
      state.simulatedStart = agsi->AgsiGetTime();
      state.realStartNs = platform::monotonicNanos();
    } else {
      double simulatedUs = (agsi->AgsiGetTime() - state.simulatedStart) * 1000000.0;
      uint64_t realUs = (platform::monotonicNanos() - state.realStartNs) / 1000;
      if (simulatedUs != 0.0) {
        state.factor = static_cast<double>(realUs) / simulatedUs;
        agsi->AgsiMessage("Scaling factor: %f\n", state.factor);
      }
    }
  }
  state.lastFlag = value;
}

void onMatchRegisterWritten(uint32_t address, uint32_t) {
  int t = timerOf(address);
  auto* agsi = getAgsi();
  if (t < 0 || !(state.factor > 0.0) || agsi->AgsiIsSimulatorAccess() == 0 || state.busy[t] != 0 ||
      !settingOn(kTimers[t].setting)) {
    return;
  }
  uint32_t value = 0;
  agsi->AgsiReadMemory(address, 4, reinterpret_cast<uint8_t*>(&value));
  // The smallest integer not below value / factor, kept to its low 32 bits.
  double quotient = std::ceil(value / state.factor);
  uint32_t scaled = std::isfinite(quotient)
                        ? static_cast<uint32_t>(static_cast<uint64_t>(std::fmod(quotient, 4294967296.0)))
                        : 0xFFFFFFFFu;
  state.busy[t] = 1;
  agsi->AgsiWriteSFR(address, scaled, 0xFFFFFFFFu);
  state.busy[t] = 0;
}

}  // namespace korvel::timers

extern "C" KORVEL_API double getScaleFlag(void) { return korvel::timers::scaleFactor(); }
