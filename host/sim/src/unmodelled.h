// The registers no model claims. Each reads its documented reset value (the table in
// unmodelled.cpp: at least the status registers drivers poll), what the firmware writes reads
// back unless the register is read-only, and the first firmware access to each register can be
// reported so a user sees which parts of the chip the firmware expects to do something.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "peripheral.h"

namespace korvel::sim {

struct ResetValue {
  uint32_t address;
  uint32_t value;
  bool readOnly;
};
// Every entry of the table, sorted by address.
std::span<const ResetValue> unmodelledResetValues();

// A window [base, base + size) of unmodelled registers. Offsets it is given are addresses.
class Unmodelled : public Peripheral {
 public:
  Unmodelled(uint32_t base, uint32_t size);
  uint32_t read(uint32_t address, uint32_t size, Access access) override;
  void write(uint32_t address, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // Told on the first firmware access to each register (its word address) since the window
  // was made; debugger accesses are not reported.
  std::function<void(uint32_t address, bool write)> onFirstAccess;

 private:
  void note(uint32_t address, bool write, Access access);
  uint32_t base_, size_;
  std::unordered_map<uint32_t, uint32_t> words_;
  std::unordered_set<uint32_t> readOnly_, seen_;
};

}  // namespace korvel::sim
