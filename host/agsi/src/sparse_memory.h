// The address space of a host without a simulator: every address is mapped, bytes never written
// read 0, and 4 KiB pages come into being on their first write. Its clock is whatever the host
// program sets (setTime) or advances (advanceTo).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>

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
  void clear() { pages_.clear(); }

 private:
  static constexpr uint32_t kPageBits = 12;
  using Page = std::array<uint8_t, 1u << kPageBits>;
  std::unordered_map<uint32_t, std::unique_ptr<Page>> pages_;
  std::atomic<uint64_t> states_{0};
  std::atomic<double> seconds_{0.0};
};

}  // namespace agsi_host
