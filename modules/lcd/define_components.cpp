// Places the one LCD on the board.
#include "korvel/exports.h"
#include "korvel/module.h"
#include "lcd_peripheral.h"
#include "pictor/kvlcd.h"

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow* /*board*/, KVRect /*area*/,
                                             ComponentModule* module) {
  // With the board built, the latch's output is off until the firmware first sets DIR.
  pictor::lcdPeripheral().glue().setLatchDrives(false);
  KVBase* parent = getBoardChipWithID("Korvel");
  auto* lcd = new KVLCD("Pictor", Orientation0);
  const int placed = DefineNewComponent(lcd, parent, KVRect{236, 90, 508, 469}, module);
  // A component the board did not take and that has no parent window to own it would leak.
  if (!placed && !lcd->GetParent()) delete lcd;
  return placed & 1;
}
