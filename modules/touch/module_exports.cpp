// The stage functions the core calls on the touch module. The firmware reaches the touch
// controller through the two watches registered here.
#include "korvel/host_functions.h"
#include "korvel/module.h"
#include "touch_serial.h"

using palmett::touchSerial;

namespace {

palmett::TouchSerial& boundSerial() {
  palmett::TouchSerial& serial = touchSerial();
  serial.bind(getAgsi());
  return serial;
}

void byteSent(uint32_t, uint32_t) { touchSerial().onByteSent(); }
void dataRead(uint32_t address, uint32_t) { touchSerial().onDataRead(address); }

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllSFR(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllVTREG(void) { return boundSerial().defineVtregs(); }
KORVEL_MODULE_EXPORT int DefineAllInterrupts(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches(void) {
  return boundSerial().defineWatches(&byteSent, &dataRead);
}
KORVEL_MODULE_EXPORT int DefineAllMenuEntries(void) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral(void) { return boundSerial().reset(); }
KORVEL_MODULE_EXPORT int DefineAllKeys(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI(void) {}
KORVEL_MODULE_EXPORT void ClosingUI(void) {}
