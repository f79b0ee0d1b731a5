// A stand-in host for the CAN logic: registers, firmware memory and symbols behind a
// HostFunctionTable, with the firmware's side (a store to CANxCMR, a load of CANxICR) played
// by calling the module's handlers as the real host's watches would. One per process.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "can_bus.h"
#include "korvel/host_functions.h"

namespace quillon::testing {

inline constexpr uint32_t kCan1 = 0x40044000, kCan2 = 0x40048000;
inline constexpr uint32_t kMod = 0x00, kCmr = 0x04, kIcr = 0x0C, kBtr = 0x14, kRfs = 0x20, kRid = 0x24,
                          kRda = 0x28, kRdb = 0x2C, kTfi1 = 0x30, kTid1 = 0x34, kTda1 = 0x38, kTdb1 = 0x3C;
inline constexpr uint32_t kIspr0 = 0xE000E200;
inline constexpr uint32_t kResultAddress = 0x10000100, kIcrAddress = 0x10000104;

class FakeCanHost {
 public:
  FakeCanHost() {
    {
      std::lock_guard g(s().lock);
      s().registers.clear();
      s().memory.clear();
      s().symbols.clear();
      s().pends = 0;
      s().simulatorAccess = false;
    }
    table_.AgsiReadSFR = &readSfr;
    table_.AgsiWriteSFR = &writeSfr;
    table_.AgsiReadMemory = &readMemory;
    table_.AgsiWriteMemory = &writeMemory;
    table_.AgsiGetSymbolByName = &symbolByName;
    table_.AgsiIsSimulatorAccess = &isSimulatorAccess;
    table_.AgsiMessage = &message;
    CanBus::instance().setHost(&table_);
  }
  ~FakeCanHost() { CanBus::instance().setHost(nullptr); }

  uint32_t reg(uint32_t address) {
    std::lock_guard g(s().lock);
    return s().registers[address];
  }
  void setReg(uint32_t address, uint32_t value) {
    std::lock_guard g(s().lock);
    s().registers[address] = value;
  }
  // Times bit 25 of the set-pending register was written with 1.
  int pends() {
    std::lock_guard g(s().lock);
    return s().pends;
  }
  void addSymbol(const std::string& name, uint32_t address) {
    std::lock_guard g(s().lock);
    s().symbols[name] = address;
  }
  uint8_t byte(uint32_t address) {
    std::lock_guard g(s().lock);
    auto it = s().memory.find(address);
    return it == s().memory.end() ? 0 : it->second;
  }
  void setWord(uint32_t address, uint32_t value) {
    std::lock_guard g(s().lock);
    for (int i = 0; i < 4; ++i) s().memory[address + i] = uint8_t(value >> (8 * i));
  }

  // The firmware stores value at a watched CAN register (CMR or BTR) of its own.
  void firmwareWrite(uint32_t address, uint32_t value) {
    setReg(address, value);
    simulated(true);
    if ((address & 0xFF) == kCmr) CanBus::commandWritten(address, AGSIWRITE);
    if ((address & 0xFF) == kBtr) CanBus::bitTimingWritten(address, AGSIWRITE);
    simulated(false);
  }
  // The firmware loads CANxICR; returns what its variable icr then holds (it is set to 0xEE
  // first, so 0xEE means "nothing written").
  uint8_t firmwareReadsIcr(uint32_t base) {
    {
      std::lock_guard g(s().lock);
      s().memory[kIcrAddress] = 0xEE;
    }
    simulated(true);
    CanBus::interruptCauseRead(base + kIcr, 0x02);
    simulated(false);
    return byte(kIcrAddress);
  }
  // The firmware's variables result and icr.
  void declareFirmwareVariables(uint32_t result) {
    addSymbol("result", kResultAddress);
    addSymbol("icr", kIcrAddress);
    setWord(kResultAddress, result);
  }

 private:
  struct State {
    std::mutex lock;
    std::map<uint32_t, uint32_t> registers;
    std::map<uint32_t, uint8_t> memory;
    std::map<std::string, uint32_t> symbols;
    int pends = 0;
    bool simulatorAccess = false;
  };
  static State& s() {
    static State state;
    return state;
  }
  static void simulated(bool on) {
    std::lock_guard g(s().lock);
    s().simulatorAccess = on;
  }
  static int readSfr(uint32_t address, uint32_t* value, uint32_t* previous, uint32_t mask) {
    std::lock_guard g(s().lock);
    *value = s().registers[address] & mask;
    if (previous) *previous = *value;
    return 1;
  }
  static int writeSfr(uint32_t address, uint32_t value, uint32_t mask) {
    std::lock_guard g(s().lock);
    uint32_t& r = s().registers[address];
    r = (r & ~mask) | (value & mask);
    if (address == kIspr0 && (value & mask & (1u << 25))) ++s().pends;
    return 1;
  }
  static int readMemory(uint32_t address, uint32_t count, uint8_t* out) {
    std::lock_guard g(s().lock);
    for (uint32_t i = 0; i < count; ++i) out[i] = s().memory[address + i];
    return 1;
  }
  static int writeMemory(uint32_t address, uint32_t count, uint8_t* in) {
    std::lock_guard g(s().lock);
    for (uint32_t i = 0; i < count; ++i) s().memory[address + i] = in[i];
    return 1;
  }
  static uint32_t symbolByName(AGSISYMDSC* symbol) {
    std::lock_guard g(s().lock);
    auto it = s().symbols.find(symbol->szName);
    if (it == s().symbols.end()) {
      symbol->ok = 0;
      return 0;
    }
    symbol->val = it->second;
    symbol->type = 0;
    symbol->ok = 1;
    return 1;
  }
  static int isSimulatorAccess() {
    std::lock_guard g(s().lock);
    return s().simulatorAccess ? 1 : 0;
  }
  static void message(const char*, ...) {}

  HostFunctionTable table_{};
};

}  // namespace quillon::testing
