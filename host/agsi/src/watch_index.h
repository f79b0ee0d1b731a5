// The watches of one access kind (reads or writes), indexed by address. The simulator asks it for
// every GPIO store, millions of times a second, almost always for an unwatched address, so the
// answer must come without the host lock: the address space is cut at every watch's ends into
// segments, each listing the watches that cover all of it in registration order, and the sorted
// segments are published as an immutable snapshot behind one atomic pointer. One binary search
// answers both "is this access watched?" and "which call-backs fire?".
//
// Snapshots that were replaced stay allocated until the index dies, so a reader that loaded an
// old pointer never touches freed memory, and call-backs can run straight from a snapshot while a
// call-back adds watches (watches are set a few dozen times per run: that costs nothing worth
// counting).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "korvel/agsi.h"

namespace agsi_host {

class WatchIndex {
 public:
  struct Entry {
    uint32_t first, last;     // the watch's own range (inclusive)
    AGSICALLBACK callBack;
    int32_t registerSlot;     // the host's register record for an SFR write watch, else -1
  };
  struct Segment {
    uint32_t first, last;  // inclusive
    uint32_t begin, count;  // the watches covering it: entries()[begin, begin + count)
  };
  // What one access finds: nothing, the watches of the one segment that holds all of it, or
  // (rarely: an access straddling a watch's end) several segments, which the caller resolves by
  // looking at every watch.
  struct Hit {
    enum Kind { None, One, Several } kind = None;
    const Segment* segment = nullptr;
    const Entry* entries = nullptr;
    const void* snapshot = nullptr;
  };

  WatchIndex();
  // Publishes a new set of watches in registration order. Writers are serialised by the host lock.
  void publish(const std::vector<Entry>& watches);

  Hit find(uint32_t address, uint32_t size) const {
    const Snapshot* s = current_.load(std::memory_order_acquire);
    if (s->segments.empty() || size == 0) return {};
    const uint64_t last = static_cast<uint64_t>(address) + size - 1;
    if (last < s->low || address > s->high) return {};
    return s->find(address, last);
  }
  // True if [address, address + size) touches any watch.
  bool covers(uint32_t address, uint32_t size) const { return find(address, size).kind != Hit::None; }
  // True while no other set of watches has been published since the hit was found.
  bool stillCurrent(const Hit& hit) const { return current_.load(std::memory_order_acquire) == hit.snapshot; }

 private:
  struct Snapshot {
    uint32_t low = 0, high = 0;
    std::vector<Segment> segments;  // sorted, disjoint, each with at least one watch
    std::vector<Entry> entries;
    Hit find(uint32_t first, uint64_t last) const;
  };
  std::atomic<const Snapshot*> current_;
  std::vector<std::unique_ptr<Snapshot>> all_;  // every snapshot ever published
};

}  // namespace agsi_host
