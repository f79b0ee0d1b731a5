#include "lcd_peripheral.h"

#include "korvel/host_functions.h"

namespace pictor {

int LcdPeripheral::defineSfrs() {
  int ok0 = host_->AgsiDefineSFR("FIO0PIN", kFio0Pin, AGSILONG, 0);
  int ok2 = host_->AgsiDefineSFR("FIO2PIN", kFio2Pin, AGSILONG, 0);
  return ok0 && ok2;
}

int LcdPeripheral::defineVtregs() {
  port2_ = host_->AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  return port2_ != 0;
}

int LcdPeripheral::defineWatches(void (*callback)(uint32_t, uint32_t)) {
  int ok0 = host_->AgsiSetWatchOnSFR(kFio0Pin, callback, AGSIWRITE);
  int ok2 = host_->AgsiSetWatchOnSFR(kFio2Pin, callback, AGSIWRITE);
  return ok0 && ok2;
}

int LcdPeripheral::reset() {
  controller_.reset();
  return 1;
}

void LcdPeripheral::controlPortEvent() {
  uint32_t current = 0, previous = 0;
  host_->AgsiReadSFR(kFio0Pin, &current, &previous, pin::kControlMask);
  const int drive = glue_.controlPortEvent(current & pin::kControlMask);
  if (drive < 0) return;
  // Only P2.7..0 belong to the LCD; the buttons and the touch pen-down share PORT2.
  uint32_t port2 = 0;
  host_->AgsiReadVTR(port2_, &port2);
  host_->AgsiWriteVTR(port2_, (port2 & ~0xFFu) | static_cast<uint32_t>(drive));
}

void LcdPeripheral::dataPortEvent() {
  uint32_t current = 0, previous = 0;
  host_->AgsiReadSFR(kFio2Pin, &current, &previous, pin::kDataMask);
  glue_.dataPortEvent(current & pin::kDataMask);
}

LcdPeripheral& lcdPeripheral() {
  static LcdPeripheral lcd;
  return lcd;
}

}  // namespace pictor
