// The one table that says which model answers at which address. A model sees offsets into its
// own window only.
#pragma once

#include <cstdint>
#include <vector>

#include "peripheral.h"

namespace korvel::sim {

class AddressMap {
 public:
  struct Entry {
    uint32_t base;
    uint32_t size;
    Peripheral* model;
    bool timed;  // counts time: bring it up to date before the access
  };
  void add(uint32_t base, uint32_t size, Peripheral* model, bool timed = false);
  // The entry covering the address, or null.
  const Entry* find(uint32_t address) const;
  const std::vector<Entry>& entries() const { return entries_; }
  void resetAll();

 private:
  std::vector<Entry> entries_;  // sorted by base
  mutable const Entry* last_ = nullptr;
};

}  // namespace korvel::sim
