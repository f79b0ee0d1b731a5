// The fast answer to "does any watch cover this access?". The simulator asks it for every GPIO
// store, millions of times a second, and almost always for an unwatched address, so the answer
// must come without the host lock: the covered ranges are published as an immutable sorted list
// of merged intervals behind one atomic pointer. Lists that were replaced stay allocated until the
// index dies, so a reader that loaded an old pointer never touches freed memory (watches are set
// a few dozen times per run, so that costs nothing worth counting).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace agsi_host {

class WatchIndex {
 public:
  WatchIndex();
  // Publishes a new set of inclusive ranges [first, last] (any order, may overlap). Writers are
  // serialised by the host lock.
  void publish(std::vector<std::pair<uint32_t, uint32_t>> ranges);
  // True if [address, address + size) touches any published range.
  bool covers(uint32_t address, uint32_t size) const {
    const Snapshot* s = current_.load(std::memory_order_acquire);
    if (s->ranges.empty() || size == 0) return false;
    uint64_t last = static_cast<uint64_t>(address) + size - 1;
    if (last < s->low || address > s->high) return false;
    return s->overlaps(address, last);
  }

 private:
  struct Snapshot {
    uint32_t low = 0, high = 0;
    std::vector<std::pair<uint32_t, uint32_t>> ranges;  // sorted, merged, inclusive
    bool overlaps(uint32_t first, uint64_t last) const;
  };
  std::atomic<const Snapshot*> current_;
  std::vector<std::unique_ptr<Snapshot>> all_;  // every snapshot ever published
};

}  // namespace agsi_host
