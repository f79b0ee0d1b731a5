// The touch controller's side of the simulator: the SSP1 data register and the "SSP1_OUT"
// virtual register through which the host reports bytes the firmware sent, and the pen-down
// line on P2.13 (in PORT2, shared with the LCD and the buttons, so only bit 13 is touched).
// The controller state lives in the panel component; the serial side finds it through a finder
// each time, so nothing happens while there is no panel.
#pragma once

#include <cstdint>
#include <functional>

#include "korvel/host_functions.h"
#include "touch_controller.h"

namespace palmett {

inline constexpr uint32_t kSsp1Data = 0x40030008;
inline constexpr uint32_t kPenDownBit = 1u << 13;

// The panel's controller and whether the panel is enabled, or a null controller.
struct PanelRef {
  TouchController* controller = nullptr;
  bool enabled = false;
};

class TouchSerial {
 public:
  using Finder = std::function<PanelRef()>;

  void bind(const HostFunctionTable* host) { host_ = host; }
  void setFinder(Finder finder) { find_ = std::move(finder); }

  int defineVtregs();
  int defineWatches(AGSICALLBACK byteSent, AGSICALLBACK dataRead);
  int reset() {
    readServed_ = false;
    return 1;
  }

  // The host wrote SSP1_OUT: the firmware clocked a byte out.
  void onByteSent();
  // The firmware read a register; the SSP1 data register gets one answer per byte sent.
  void onDataRead(uint32_t address);

  // P2.13, active low while the pen is down.
  void drivePenDown(bool down);

 private:
  const HostFunctionTable* host_ = nullptr;
  Finder find_;
  uint32_t port2_ = 0;
  uint32_t sspOut_ = 0;
  bool readServed_ = false;
};

// The module's one serial side.
TouchSerial& touchSerial();

}  // namespace palmett
