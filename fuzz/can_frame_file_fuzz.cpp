// Feeds arbitrary bytes to the CAN frame file reader (what another program may leave in a bus
// folder's data/): it must never crash, and whatever it takes as a frame must survive being
// written and read again unchanged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "can_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto frame = quillon::parseFrame(text)) {
    auto again = quillon::parseFrame(quillon::formatFrame(*frame));
    if (!again || !(*again == *frame)) __builtin_trap();
  }
  return 0;
}
