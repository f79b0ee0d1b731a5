#include "address_map.h"

#include <algorithm>
#include <stdexcept>

namespace korvel::sim {

void AddressMap::add(uint32_t base, uint32_t size, Peripheral* model, bool timed) {
  for (const Entry& e : entries_)
    if (base < e.base + e.size && e.base < base + size) throw std::logic_error("overlapping peripheral windows");
  entries_.push_back({base, size, model, timed});
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.base < b.base; });
  last_ = nullptr;
}

const AddressMap::Entry* AddressMap::find(uint32_t address) const {
  if (last_ && address - last_->base < last_->size) return last_;
  auto it = std::upper_bound(entries_.begin(), entries_.end(), address,
                             [](uint32_t a, const Entry& e) { return a < e.base; });
  if (it == entries_.begin()) return nullptr;
  --it;
  if (address - it->base >= it->size) return nullptr;
  last_ = &*it;
  return last_;
}

void AddressMap::resetAll() {
  for (const Entry& e : entries_) e.model->reset();
}

}  // namespace korvel::sim
