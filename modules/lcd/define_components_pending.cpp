// Stand-in while the core has no board window to place components on: the LCD still emulates
// the controller, it just has no window.
#include "korvel/exports.h"
#include "korvel/module.h"
#include "lcd_peripheral.h"

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule*) {
  pictor::lcdPeripheral().glue().setLatchDrives(false);
  return 0;
}
