// Feeds arbitrary bytes to korvel-sim's ELF reader (program headers, sections, symbols and the
// DWARF line table), then looks every loaded byte and a range of line look-ups over.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "korvel_sim/elf_image.h"

namespace {
const std::vector<korvel::sim::MemoryRange> kLpc = {
    {0x00000000, 512 * 1024, "flash"}, {0x10000000, 32 * 1024, "SRAM"}, {0x2007C000, 32 * 1024, "AHB SRAM"}};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  korvel::sim::ElfImage image;
  std::string error;
  if (!korvel::sim::readElf(file, "f.elf", kLpc, &image, &error)) {
    if (error.empty() || error.find('\n') != std::string::npos) __builtin_trap();
    return 0;
  }
  for (const auto& s : image.segments) {
    bool inside = false;
    for (const auto& r : kLpc) inside |= s.address >= r.first && uint64_t(s.address) + s.bytes.size() <= uint64_t(r.first) + r.size;
    if (!inside) __builtin_trap();
  }
  for (size_t i = 1; i < image.lines.rows.size(); ++i)
    if (image.lines.rows[i].address < image.lines.rows[i - 1].address) __builtin_trap();
  for (const auto& r : image.lines.rows) (void)image.lines.at(r.address);
  for (const auto& s : image.symbols) (void)korvel::sim::functionAt(image.symbols, s.address);
  return 0;
}
