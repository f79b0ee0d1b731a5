#include "sparse_memory.h"

#include <cstring>

namespace agsi_host {

namespace {
constexpr uint32_t kOffsetMask = 0xFFF;
}

SparseMemory::Page& SparseMemory::pageForWrite(uint32_t address) {
  auto& d = directories_[address >> (kPageBits + kDirectoryBits)];
  if (!d) d = std::make_unique<Directory>();
  auto& p = (*d)[(address >> kPageBits) & ((1u << kDirectoryBits) - 1)];
  if (!p) p = std::make_unique<Page>(Page{});
  return *p;
}

bool SparseMemory::read(uint32_t address, uint32_t size, uint8_t* out) {
  // A register-sized access inside one page (the usual case) is one copy.
  if (size <= 4 && (address & kOffsetMask) + size <= kOffsetMask + 1) {
    const Page* p = page(address);
    if (p != nullptr) std::memcpy(out, p->data() + (address & kOffsetMask), size);
    else std::memset(out, 0, size);
    return true;
  }
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t a = address + i;  // wraps at the top of the 32-bit space as the bus does
    const Page* p = page(a);
    out[i] = p == nullptr ? 0 : (*p)[a & kOffsetMask];
  }
  return true;
}

bool SparseMemory::write(uint32_t address, uint32_t size, const uint8_t* in) {
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t a = address + i;
    pageForWrite(a)[a & kOffsetMask] = in[i];
  }
  return true;
}

}  // namespace agsi_host
