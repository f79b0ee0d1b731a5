// The LCD as the simulator sees it: the two watched pin registers, the PORT2 virtual register
// through which the LCD drives P2.0..P2.7 during reads, and the glue and controller behind them.
// One object per process serves the module's exports (lcdPeripheral()); tests make their own.
#pragma once

#include <cstdint>

#include "frame_buffer.h"
#include "lcd_bus_glue.h"
#include "lcd_controller.h"

#include "korvel/host_functions.h"

namespace pictor {

inline constexpr uint32_t kFio0Pin = 0x2009C014;
inline constexpr uint32_t kFio2Pin = 0x2009C054;

class LcdPeripheral {
 public:
  LcdPeripheral() = default;
  LcdPeripheral(const LcdPeripheral&) = delete;
  LcdPeripheral& operator=(const LcdPeripheral&) = delete;

  // The host functions every call below goes through.
  void bind(const HostFunctionTable* host) { host_ = host; }

  int defineSfrs();
  int defineVtregs();
  // Registers callback as the watch on both pin registers; it must end up in onPinWatch.
  int defineWatches(void (*callback)(uint32_t, uint32_t));
  int reset();

  // The firmware wrote one of the pin registers.
  void onPinWatch(uint32_t address) {
    if (!host_->AgsiIsSimulatorAccess()) return;  // the debugger's accesses do not reach the pins
    if (address == kFio0Pin) controlPortEvent();
    else if (address == kFio2Pin) dataPortEvent();
  }

  FrameBuffer& frame() { return frame_; }
  LcdController& controller() { return controller_; }
  LcdBusGlue& glue() { return glue_; }
  uint32_t port2Handle() const { return port2_; }

 private:
  void controlPortEvent();
  void dataPortEvent();

  const HostFunctionTable* host_ = nullptr;
  uint32_t port2_ = 0;  // handle of the PORT2 virtual register
  FrameBuffer frame_;
  LcdController controller_{frame_};
  LcdBusGlue glue_{controller_};
};

// The process-wide LCD, shared by the module's exports and the LCD window.
LcdPeripheral& lcdPeripheral();

}  // namespace pictor
