// A module for the board window's tests: it records which of its exports the board called, and
// places the parts the tests look at (two jumpers and the power LED) unless a test installs its
// own placement; a test may also run code of its own when the board closes.
#include <string>

#include <wx/window.h>

#include "korvel/api.h"
#include "korvel/exports.h"
#include "kvjumper.h"
#include "kvled.h"

namespace {
using DefineHook = int (*)(wxWindow*, KVRect, ComponentModule*);
DefineHook defineHook = nullptr;
using ClosingHook = void (*)();
ClosingHook closingHook = nullptr;
std::string calls;

void record(const char* what) {
  if (!calls.empty()) calls += ",";
  calls += what;
}

KVRect at(int left, int top, wxSize size) { return KVRect{left, top, left + size.x, top + size.y}; }
}  // namespace

KORVEL_MODULE_EXPORT void fixtureSetDefineHook(DefineHook hook) { defineHook = hook; }
KORVEL_MODULE_EXPORT void fixtureSetClosingHook(ClosingHook hook) { closingHook = hook; }
KORVEL_MODULE_EXPORT const char* fixtureCalls(void) { return calls.c_str(); }
KORVEL_MODULE_EXPORT void fixtureClearCalls(void) { calls.clear(); }

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow* board, KVRect area, ComponentModule* module) {
  record("DefineAllComponents");
  if (defineHook) return defineHook(board, area, module);
  KVBase* parent = getBoardChipWithID("Korvel");
  if (!parent) return 0;
  int ok = DefineNewComponent(new KVLed("LD12", KVLed::Red, Orientation1), parent,
                              at(648, 211, KVLed::Size(Orientation1)), module);
  ok &= DefineNewComponent(new KVJumper("JP3", 1, 3, Orientation0), parent,
                           at(693, 48, KVJumper::Size(Orientation0, 3)), module);
  ok &= DefineNewComponent(new KVJumper("JP5", 1, 2, Orientation0), parent,
                           at(151, 233, KVJumper::Size(Orientation0, 2)), module);
  return ok;
}
KORVEL_MODULE_EXPORT void ComponentsLoaded(void) { record("ComponentsLoaded"); }
KORVEL_MODULE_EXPORT int DefineAllKeys(void) {
  record("DefineAllKeys");
  return 1;
}
KORVEL_MODULE_EXPORT void UpdateUI(void) { record("UpdateUI"); }
KORVEL_MODULE_EXPORT void ClosingUI(void) {
  record("ClosingUI");
  if (closingHook) closingHook();
}
KORVEL_MODULE_EXPORT int DefineAllSFR(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllVTREG(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries(void) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
