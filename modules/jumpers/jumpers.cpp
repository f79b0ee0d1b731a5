// The module Jumpers: it only provides KVJumper to the modules that place jumpers.
#include <wx/window.h>

#include "korvel/api.h"
#include "korvel/exports.h"

KORVEL_MODULE_EXPORT int DefineAllSFR(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllVTREG(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllKeys(void) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule*) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI(void) {}
KORVEL_MODULE_EXPORT void ClosingUI(void) {}
