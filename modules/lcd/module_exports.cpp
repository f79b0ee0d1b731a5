// The stage functions the core calls on the LCD module. The firmware reaches the LCD only
// through the pin watch registered here.
#include "korvel/host_functions.h"
#include "korvel/module.h"
#include "lcd_peripheral.h"

using pictor::lcdPeripheral;

namespace {

pictor::LcdPeripheral& boundLcd() {
  pictor::LcdPeripheral& lcd = lcdPeripheral();
  lcd.bind(getAgsi());
  return lcd;
}

void pinWatch(uint32_t address, uint32_t /*reason*/) { lcdPeripheral().onPinWatch(address); }

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllSFR(void) { return boundLcd().defineSfrs(); }
KORVEL_MODULE_EXPORT int DefineAllVTREG(void) { return boundLcd().defineVtregs(); }
KORVEL_MODULE_EXPORT int DefineAllInterrupts(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches(void) { return boundLcd().defineWatches(&pinWatch); }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries(void) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral(void) { return boundLcd().reset(); }
KORVEL_MODULE_EXPORT int DefineAllKeys(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow* /*dialog*/) { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI(void) {}
KORVEL_MODULE_EXPORT void ClosingUI(void) {}
