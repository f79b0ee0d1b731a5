// Feeds arbitrary bytes to the CAN colour file reader (settings/ of a bus folder): it must never
// crash, and a colour it reads must be the number written in the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "can_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto colour = quillon::parseColour(text)) {
    if (text.find(std::to_string(*colour)) == std::string_view::npos &&
        text.find("0" + std::to_string(*colour)) == std::string_view::npos)
      __builtin_trap();
    if (quillon::parseColour(std::to_string(*colour)) != colour) __builtin_trap();
  }
  return 0;
}
