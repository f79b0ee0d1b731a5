// Feeds arbitrary bytes to korvel-sim's Intel HEX reader: every answer is a refusal with one
// line naming the file and line, or segments inside the chip's memories that never overlap.
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
  if (!korvel::sim::readIntelHex(file, "f.hex", kLpc, &image, &error)) {
    if (error.rfind("f.hex:", 0) != 0 || error.find('\n') != std::string::npos) __builtin_trap();
    return 0;
  }
  uint64_t previousEnd = 0;
  for (const auto& s : image.segments) {
    bool inside = false;
    for (const auto& r : kLpc) inside |= s.address >= r.first && uint64_t(s.address) + s.bytes.size() <= uint64_t(r.first) + r.size;
    if (!inside || s.bytes.empty() || s.address < previousEnd) __builtin_trap();
    previousEnd = uint64_t(s.address) + s.bytes.size();
  }
  return 0;
}
