#include "touch_serial.h"

namespace palmett {

int TouchSerial::defineVtregs() {
  port2_ = host_->AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  sspOut_ = host_->AgsiDefineVTR("SSP1_OUT", AGSIVTRWORD, 0);
  return port2_ != 0 && sspOut_ != 0;
}

int TouchSerial::defineWatches(AGSICALLBACK byteSent, AGSICALLBACK dataRead) {
  int read = host_->AgsiSetWatchOnSFR(kSsp1Data, dataRead, AGSIREAD);
  int sent = host_->AgsiSetWatchOnVTR(sspOut_, byteSent, AGSIWRITE);
  return read && sent;
}

void TouchSerial::onByteSent() {
  PanelRef panel = find_ ? find_() : PanelRef{};
  if (!panel.controller) return;
  uint32_t value = 0;
  host_->AgsiReadVTR(sspOut_, &value);
  panel.controller->byteSent(static_cast<uint8_t>(value));
  readServed_ = false;
}

void TouchSerial::onDataRead(uint32_t address) {
  if (address != kSsp1Data || readServed_) return;
  readServed_ = true;
  PanelRef panel = find_ ? find_() : PanelRef{};
  if (!panel.controller) return;
  host_->AgsiSetSFRReadValue(panel.controller->answer(panel.enabled));
}

void TouchSerial::drivePenDown(bool down) {
  uint32_t port2 = 0;
  host_->AgsiReadVTR(port2_, &port2);
  host_->AgsiWriteVTR(port2_, down ? (port2 & ~kPenDownBit) : (port2 | kPenDownBit));
}

TouchSerial& touchSerial() {
  static TouchSerial serial;
  return serial;
}

}  // namespace palmett
