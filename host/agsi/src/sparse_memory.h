// The address space of a host without a simulator: every address is mapped, bytes never written
// read 0, and 4 KiB pages come into being on their first write. Its clock is whatever the host
// program sets (setTime) or advances (advanceTo).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "agsi_host/host.h"

namespace agsi_host {

class SparseMemory final : public Target {
 public:
  bool read(uint32_t address, uint32_t size, uint8_t* out) override;
  bool write(uint32_t address, uint32_t size, const uint8_t* in) override;
  uint64_t states() override { return states_.load(std::memory_order_relaxed); }
  double seconds() override { return seconds_.load(std::memory_order_relaxed); }

  void setTime(double seconds, uint64_t states) {
    seconds_.store(seconds, std::memory_order_relaxed);
    states_.store(states, std::memory_order_relaxed);
  }
  void clear() {
    for (auto& d : directories_) d.reset();
  }

 private:
  // Two levels of 1024 entries each over 4 KiB pages: a look-up is two indexed loads.
  static constexpr uint32_t kPageBits = 12, kDirectoryBits = 10;
  using Page = std::array<uint8_t, 1u << kPageBits>;
  using Directory = std::array<std::unique_ptr<Page>, 1u << kDirectoryBits>;
  Page* page(uint32_t address) const {
    const auto& d = directories_[address >> (kPageBits + kDirectoryBits)];
    return d ? (*d)[(address >> kPageBits) & ((1u << kDirectoryBits) - 1)].get() : nullptr;
  }
  Page& pageForWrite(uint32_t address);
  std::array<std::unique_ptr<Directory>, 1u << (32 - kPageBits - kDirectoryBits)> directories_;
  std::atomic<uint64_t> states_{0};
  std::atomic<double> seconds_{0.0};
};

}  // namespace agsi_host
