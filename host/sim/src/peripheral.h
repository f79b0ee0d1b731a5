// The shape every on-chip model shares: a window of registers that the address map hands
// offsets into, and a reset. Models never see absolute addresses outside their own window.
#pragma once

#include <cstdint>
#include <vector>

namespace korvel::sim {

// Who is accessing: the firmware (side effects such as FIFO pops and read-to-clear apply) or
// the plug-in/debugger (a plain look at the state).
enum class Access { Firmware, Debugger };

class Peripheral {
 public:
  virtual ~Peripheral() = default;
  // offset is relative to the model's base; size is 1, 2 or 4 bytes.
  virtual uint32_t read(uint32_t offset, uint32_t size, Access access) = 0;
  virtual void write(uint32_t offset, uint32_t value, uint32_t size, Access access) = 0;
  virtual void reset() = 0;
};

// Sub-word accesses to word registers: the byte lanes of a 32-bit register.
inline uint32_t laneRead(uint32_t word, uint32_t offset, uint32_t size) {
  uint32_t shift = (offset & 3) * 8;
  uint32_t mask = size >= 4 ? 0xFFFFFFFFu : ((1u << (size * 8)) - 1);
  return (word >> shift) & mask;
}
inline uint32_t laneMerge(uint32_t word, uint32_t offset, uint32_t value, uint32_t size) {
  uint32_t shift = (offset & 3) * 8;
  uint32_t mask = size >= 4 ? 0xFFFFFFFFu : ((1u << (size * 8)) - 1);
  return (word & ~(mask << shift)) | ((value & mask) << shift);
}

// A block of plain registers: what the firmware writes it reads back (CAN controllers, pin
// connect block and the parts that need no behaviour to keep start-up code happy).
class Storage : public Peripheral {
 public:
  explicit Storage(uint32_t bytes) : size_(bytes), words_(bytes / 4, 0) {}
  uint32_t read(uint32_t offset, uint32_t size, Access) override {
    return offset < size_ ? laneRead(words_[offset / 4], offset, size) : 0;
  }
  void write(uint32_t offset, uint32_t value, uint32_t size, Access) override {
    if (offset < size_) words_[offset / 4] = laneMerge(words_[offset / 4], offset, value, size);
  }
  void reset() override {
    words_.assign(words_.size(), 0);
  }
  uint32_t word(uint32_t offset) const { return words_[offset / 4]; }

 private:
  uint32_t size_;
  std::vector<uint32_t> words_;
};

}  // namespace korvel::sim
