// Shared helpers of the host tests: call-backs are plain C function pointers, so what they see is
// kept in one global record that each test resets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agsi_host/functions.h"
#include "agsi_host/host.h"

struct Call {
  std::string who;
  uint32_t address;
  uint32_t reason;
  int simulatorAccess;
  uint32_t lastAddress;
  bool operator==(const Call&) const = default;
};

inline std::vector<Call>& calls() {
  static std::vector<Call> c;
  return c;
}

inline void record(const char* who, uint32_t address, uint32_t reason) {
  calls().push_back({who, address, reason, AgsiIsSimulatorAccess(), AgsiGetLastMemoryAddress()});
}

inline void callBackA(uint32_t a, uint32_t r) { record("A", a, r); }
inline void callBackB(uint32_t a, uint32_t r) { record("B", a, r); }

inline std::ostream& operator<<(std::ostream& os, const Call& c) {
  return os << c.who << "(0x" << std::hex << c.address << ", 0x" << c.reason << std::dec << ", sim "
            << c.simulatorAccess << ")";
}

// Every test starts from an empty host over its own sparse memory.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host().setTarget(nullptr);
    host().setMessageSink(nullptr);
    host().clear();
    calls().clear();
  }
  void TearDown() override {
    host().setTarget(nullptr);
    host().clear();
  }
  static agsi_host::Host& host() { return agsi_host::Host::instance(); }

  // A firmware store: bytes into memory, then the host is told.
  static void firmwareWrite(uint32_t address, uint32_t value, uint32_t size = 4) {
    uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    AgsiWriteMemory(address, size, b);
    host().firmwareWrote(address, size);
  }
  static uint32_t memory32(uint32_t address) {
    uint8_t b[4] = {};
    AgsiReadMemory(address, 4, b);
    return b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
  }
};
