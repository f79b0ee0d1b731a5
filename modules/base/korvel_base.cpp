// The module KorvelBase: places the board picture, the parent of every other component.
// It takes no part in the simulation: every stage does nothing.
#include <wx/window.h>

#include "korvel/api.h"
#include "korvel/exports.h"
#include "kvkv.h"

KORVEL_MODULE_EXPORT int DefineAllSFR(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllVTREG(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllKeys(void) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral(void) { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI(void) {}
KORVEL_MODULE_EXPORT void ClosingUI(void) {}

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow* board, KVRect area, ComponentModule* module) {
  auto* picture = new KVKV("Korvel", Orientation2);
  if (DefineNewComponent(picture, board, area, module)) return 1;
  // Refused (no board, or the board is already built): nobody took the component.
  if (!picture->GetParent()) delete picture;
  return 0;
}

// The information dialog's pages of this module come with the settings and credits pages.
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow* dialog) { return 1; }
