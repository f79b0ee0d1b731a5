// A stand-in for the module's CAN state in the window tests: the same quillon::CanBus members,
// kept in memory without directories or watcher threads, recording what the windows ask of it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "can_bus.h"

namespace quillon::fake {

struct Record {
  std::vector<std::array<std::string, 2>> confirmations;  // acceptance texts of every confirm
  std::string error[2];            // what confirm reports for each port
  bool sinkOnConfirm = false;      // confirm shows the colours through the sink, as the real one
  int resets = 0;                  // resetPortsForNewBoard calls
  bool pagePresent = false;
  std::function<void(int, uint32_t)> sink;
};

// What the stand-in recorded; reset() forgets it and puts both ports back to their start.
Record& record();
void reset();

}  // namespace quillon::fake
