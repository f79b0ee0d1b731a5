// Feeds arbitrary bytes to korvel-sim's DWARF .debug_line reader directly (the ELF target
// reaches it only through intact section headers); the same bytes serve as .debug_line_str and
// .debug_str, so DWARF 5's indirect strings point into them. Rows must come out sorted and
// every look-up must stay inside the tables.
#include <cstddef>
#include <cstdint>

#include "korvel_sim/elf_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvel::sim::SourceLines lines = korvel::sim::readDebugLine(data, size, data, size, data, size);
  for (size_t i = 1; i < lines.rows.size(); ++i)
    if (lines.rows[i].address < lines.rows[i - 1].address) __builtin_trap();
  if (lines.rows.size() > size) __builtin_trap();  // at least one byte of program per row
  for (const auto& r : lines.rows) {
    if (r.file >= lines.files.size()) __builtin_trap();
    (void)lines.at(r.address);
    (void)lines.at(r.address + 1);
  }
  return 0;
}
