#include "button_pins.h"

#include <mutex>
#include <stdexcept>

namespace korvel::buttons {
namespace {
std::mutex& portLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

uint32_t portWithButton(uint32_t port, uint32_t mask, ButtonState state) {
  switch (state) {
    case ButtonState::Pressed: return port & ~mask;
    case ButtonState::Released: return port | mask;
  }
  throw std::runtime_error("Invalid button state.");
}

void driveButtonPin(const HostFunctionTable& host, uint32_t vtr, uint32_t mask, ButtonState state) {
  std::lock_guard<std::mutex> guard(portLock());
  uint32_t port = 0;
  host.AgsiReadVTR(vtr, &port);
  host.AgsiWriteVTR(vtr, portWithButton(port, mask, state));
}

void ResetOnPress::onTransition(const HostFunctionTable& host, uint64_t press, ButtonState state) {
  if (state != ButtonState::Pressed) return;
  if (lastReset_.exchange(press) != press) host.AgsiTriggerReset();
}

}  // namespace korvel::buttons
