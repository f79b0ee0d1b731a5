// Places the one LCD on the board.
#include <exception>

#include "frame_refresher.h"
#include "korvel/exports.h"
#include "korvel/host_functions.h"
#include "korvel/module.h"
#include "lcd_peripheral.h"
#include "pictor/kvlcd.h"

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow* /*board*/, KVRect /*area*/,
                                             ComponentModule* module) {
  // With the board built, the latch's output is off until the firmware first sets DIR.
  pictor::lcdPeripheral().glue().setLatchDrives(false);
  KVBase* parent = getBoardChipWithID("Korvel");
  KVLCD* lcd = nullptr;
  try {
    // The LCD starts its refresh thread as it is made; a system out of threads refuses it.
    lcd = new KVLCD("Pictor", Orientation0);
  } catch (const std::exception& e) {
    // No error may leave the module: the board is shown without its LCD, and the user is told.
    HostFunctionTable* agsi = getAgsi();
    if (agsi != nullptr && agsi->AgsiMessage != nullptr)
      agsi->AgsiMessage("[Pictor]: the LCD cannot be shown (%s); close the board, free system "
                        "resources and open it again\n",
                        e.what());
    return 0;
  }
  const int placed = DefineNewComponent(lcd, parent, KVRect{236, 90, 508, 469}, module);
  // A component the board did not take and that has no parent window to own it would leak.
  if (!placed && !lcd->GetParent()) delete lcd;
  return placed & 1;
}

// Makes the LCD made by the next DefineAllComponents fail to start its refresh thread (tests).
KORVEL_MODULE_EXPORT void pictorFailNextRefreshThreadForTesting(void) {
  pictor::FrameRefresher::failNextStartForTesting();
}
