// Feeds arbitrary bytes to the Info.list / korvel.ini line parser.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "modules/key_value_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  korvel::KeyValueFile::Entries entries;
  korvel::KeyValueFile::parse(in, entries);
  for (const auto& [key, values] : entries) {
    if (key.empty() || key.front() == ' ' || key.back() == ' ') __builtin_trap();
    for (const auto& v : values) {
      if (v.empty() || v.front() == ' ' || v.back() == ' ') __builtin_trap();
    }
  }
  return 0;
}
