#include "watch_index.h"

#include <algorithm>

namespace agsi_host {

WatchIndex::WatchIndex() {
  all_.push_back(std::make_unique<Snapshot>());
  current_.store(all_.back().get(), std::memory_order_release);
}

void WatchIndex::publish(const std::vector<Entry>& watches) {
  auto s = std::make_unique<Snapshot>();
  // Segment starts: every watch's first address and the address after its last (in 64 bits, so
  // a watch ending at 0xFFFFFFFF cuts nothing).
  std::vector<uint64_t> cuts;
  for (const Entry& w : watches) {
    cuts.push_back(w.first);
    cuts.push_back(static_cast<uint64_t>(w.last) + 1);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    const uint64_t first = cuts[i], last = cuts[i + 1] - 1;
    const auto begin = static_cast<uint32_t>(s->entries.size());
    for (const Entry& w : watches)
      if (w.first <= first && last <= w.last) s->entries.push_back(w);
    const auto count = static_cast<uint32_t>(s->entries.size()) - begin;
    if (count == 0) continue;
    // A segment that only continues the previous one with the same watches merges into it.
    if (!s->segments.empty()) {
      Segment& p = s->segments.back();
      if (static_cast<uint64_t>(p.last) + 1 == first && p.count == count &&
          std::equal(s->entries.begin() + p.begin, s->entries.begin() + p.begin + p.count,
                     s->entries.begin() + begin, [](const Entry& a, const Entry& b) {
                       return a.first == b.first && a.last == b.last && a.callBack == b.callBack &&
                              a.record == b.record;
                     })) {
        p.last = static_cast<uint32_t>(last);
        s->entries.resize(begin);
        continue;
      }
    }
    s->segments.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(last), begin, count});
  }
  for (size_t i = 0; i < s->segments.size(); ++i) {
    const Segment& seg = s->segments[i];
    s->lasts.push_back(seg.last);
    // Whole words only: an access to a word the segment covers in part may reach another.
    const uint64_t firstWord = (static_cast<uint64_t>(seg.first) + 3) / 4;
    const uint64_t endWord = (static_cast<uint64_t>(seg.last) + 1) / 4;  // exclusive
    if (endWord <= firstWord || endWord - firstWord > kMaxTableWords) continue;
    for (uint64_t w = firstWord; w < endWord; ++w) {
      WordSlot& slot = s->words[wordSlot(static_cast<uint32_t>(w))];
      if (slot.segment == -1) {
        slot = {static_cast<uint32_t>(w), static_cast<int32_t>(i), seg.count == 1 ? &s->entries[seg.begin] : nullptr};
      } else {
        slot.segment = -2;
      }
    }
  }
  if (!s->segments.empty()) {
    s->low = s->segments.front().first;
    s->high = s->segments.back().last;
  }
  current_.store(s.get(), std::memory_order_release);
  all_.push_back(std::move(s));
}

}  // namespace agsi_host
