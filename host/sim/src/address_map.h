// The one table that says which model answers at which address. A model sees offsets into its
// own window only.
#pragma once

#include <cstdint>
#include <optional>
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

// Bit-band: each word of an alias region stands for one bit of the region below it. Alias
// 0x22000000 + 32 * n + 4 * b is bit b of byte n above 0x20000000 (SRAM, GPIO), and
// 0x42000000 + ... of byte n above 0x40000000 (peripherals).
inline constexpr uint32_t kSramBitBand = 0x22000000, kSramBitBandTarget = 0x20000000;
inline constexpr uint32_t kPeriphBitBand = 0x42000000, kPeriphBitBandTarget = 0x40000000;
inline constexpr uint32_t kBitBandSize = 0x02000000;
struct BitBandBit {
  uint32_t word;  // the aligned word that holds the bit
  uint32_t bit;   // 0..31 within that word
};
// The bit an alias address stands for, or nothing outside the alias regions.
inline std::optional<BitBandBit> bitBandTarget(uint32_t alias) {
  uint32_t target;
  if (alias - kSramBitBand < kBitBandSize) target = kSramBitBandTarget, alias -= kSramBitBand;
  else if (alias - kPeriphBitBand < kBitBandSize) target = kPeriphBitBandTarget, alias -= kPeriphBitBand;
  else return std::nullopt;
  // 32 alias bytes per target byte: 128 per word, 4 per bit.
  return BitBandBit{target + (alias >> 7) * 4, (alias >> 2) & 31};
}

}  // namespace korvel::sim
