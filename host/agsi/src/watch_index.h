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

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "korvel/agsi.h"

namespace agsi_host {

// What the host keeps per register it has seen written: the value last seen there, and the value
// before the last write the host saw (what AgsiReadSFR reports as previous). Records never move
// once made, so the index can point at them.
struct RegisterRecord {
  uint32_t address;
  uint32_t shadow = 0, previous = 0;
  bool seen = false, hasPrevious = false;
};

class WatchIndex {
 public:
  struct Entry {
    uint32_t first, last;     // the watch's own range (inclusive)
    AGSICALLBACK callBack;
    RegisterRecord* record;   // the host's register record for an SFR write watch, else null
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
    const Entry* sole = nullptr;  // the segment's one watch, when it has one alone
  };

  WatchIndex();
  // Publishes a new set of watches in registration order. Writers are serialised by the host lock.
  void publish(const std::vector<Entry>& watches);

  [[gnu::always_inline]] Hit find(uint32_t address, uint32_t size) const {
    const Snapshot* s = current_.load(std::memory_order_acquire);
    // A register watch's word is usually in the word table: one load answers.
    if ((address & 3) + size <= 4 && size != 0) {
      const WordSlot& w = s->words[wordSlot(address >> 2)];
      if (w.word == address >> 2 && w.segment >= 0)
        return {Hit::One, &s->segments[static_cast<size_t>(w.segment)], s->entries.data(), s, w.sole};
    }
    // An empty snapshot has low > high: nothing is inside.
    const uint64_t last = static_cast<uint64_t>(address) + size - 1;
    if (size == 0 || last < s->low || address > s->high) return {};
    // The first segment that ends at or after the access's start is the only candidate for it.
    // A branch-free halving over the segments' last addresses alone: a few compares in one or two
    // cache lines, where a search with branches mispredicts at every step.
    if (s->lasts.empty()) return {};
    const uint32_t* base = s->lasts.data();
    size_t n = s->lasts.size();
    while (n > 1) {
      const size_t half = n / 2;
      base += (base[half - 1] < address ? half : 0);
      n -= half;
    }
    const size_t i = static_cast<size_t>(base - s->lasts.data()) + (*base < address ? 1 : 0);
    if (i == s->segments.size()) return {};
    const Segment& seg = s->segments[i];
    if (seg.first > last) return {};
    const Hit::Kind kind = seg.first <= address && last <= seg.last ? Hit::One : Hit::Several;
    return {kind, &seg, s->entries.data(), s,
            kind == Hit::One && seg.count == 1 ? &s->entries[seg.begin] : nullptr};
  }
  // True if [address, address + size) touches any watch.
  bool covers(uint32_t address, uint32_t size) const { return find(address, size).kind != Hit::None; }
  // True while no other set of watches has been published since the hit was found.
  bool stillCurrent(const Hit& hit) const { return current_.load(std::memory_order_acquire) == hit.snapshot; }

 private:
  // Words (address / 4) lying wholly inside one short segment, hashed into a small table: the
  // pin and timer registers a simulator's watches sit on. A word whose slot another word also
  // wants is left out (the search still finds it).
  static constexpr size_t kWordSlots = 128;
  static constexpr uint32_t kMaxTableWords = 16;  // longer segments (memory ranges) are searched
  struct WordSlot {
    uint32_t word = 0;
    int32_t segment = -1;          // -1: empty, -2: wanted by several words
    const Entry* sole = nullptr;   // the segment's watch when it has only one
  };
  static size_t wordSlot(uint32_t word) { return (word ^ (word >> 7) ^ (word >> 14)) & (kWordSlots - 1); }

  struct Snapshot {
    std::array<WordSlot, kWordSlots> words{};
    uint32_t low = UINT32_MAX, high = 0;  // the lowest and highest watched address
    std::vector<Segment> segments;  // sorted, disjoint, each with at least one watch
    std::vector<uint32_t> lasts;    // segments[i].last, packed for the search
    std::vector<Entry> entries;
  };
  std::atomic<const Snapshot*> current_;
  std::vector<std::unique_ptr<Snapshot>> all_;  // every snapshot ever published
};

}  // namespace agsi_host
