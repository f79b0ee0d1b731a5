#include "sparse_memory.h"

namespace agsi_host {

bool SparseMemory::read(uint32_t address, uint32_t size, uint8_t* out) {
  for (uint32_t i = 0; i < size; ++i) {
    uint32_t a = address + i;  // wraps at the top of the 32-bit space as the bus does
    auto it = pages_.find(a >> kPageBits);
    out[i] = it == pages_.end() ? 0 : (*it->second)[a & ((1u << kPageBits) - 1)];
  }
  return true;
}

bool SparseMemory::write(uint32_t address, uint32_t size, const uint8_t* in) {
  for (uint32_t i = 0; i < size; ++i) {
    uint32_t a = address + i;
    auto& page = pages_[a >> kPageBits];
    if (!page) page = std::make_unique<Page>(Page{});
    (*page)[a & ((1u << kPageBits) - 1)] = in[i];
  }
  return true;
}

}  // namespace agsi_host
