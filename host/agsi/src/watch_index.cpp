#include "watch_index.h"

#include <algorithm>

namespace agsi_host {

WatchIndex::WatchIndex() {
  all_.push_back(std::make_unique<Snapshot>());
  current_.store(all_.back().get(), std::memory_order_release);
}

void WatchIndex::publish(std::vector<std::pair<uint32_t, uint32_t>> ranges) {
  auto s = std::make_unique<Snapshot>();
  std::sort(ranges.begin(), ranges.end());
  for (const auto& r : ranges) {
    // Adjacent or overlapping ranges merge; the +1 is done in 64 bits so 0xFFFFFFFF cannot wrap.
    if (!s->ranges.empty() && static_cast<uint64_t>(s->ranges.back().second) + 1 >= r.first) {
      s->ranges.back().second = std::max(s->ranges.back().second, r.second);
    } else {
      s->ranges.push_back(r);
    }
  }
  if (!s->ranges.empty()) {
    s->low = s->ranges.front().first;
    s->high = s->ranges.back().second;
  }
  current_.store(s.get(), std::memory_order_release);
  all_.push_back(std::move(s));
}

bool WatchIndex::Snapshot::overlaps(uint32_t first, uint64_t last) const {
  // The first range that ends at or after the access's start is the only candidate.
  auto it = std::lower_bound(ranges.begin(), ranges.end(), first,
                             [](const std::pair<uint32_t, uint32_t>& r, uint32_t a) { return r.second < a; });
  return it != ranges.end() && it->first <= last;
}

}  // namespace agsi_host
