// A module for the information dialog's tests: it places one plain component and lets the test
// decide what its "DefineAllDialogPages" does. Built a second time without that export.
#include <string>

#include <wx/window.h>

#include "korvel/api.h"
#include "korvel/exports.h"
#include "korvel/kvbase.h"

#ifndef FIXTURE_COMPONENT
#define FIXTURE_COMPONENT "PART"
#endif

namespace {
class Part : public KVBase {
 public:
  explicit Part(const std::string& id) : KVBase(id, Orientation0) {}
  void setOrientation(ChipOrientation) override {}
};
}  // namespace

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow* board, KVRect, ComponentModule* module) {
  KVBase* parent = getBoardChipWithID("Korvel");
  auto* part = new Part(FIXTURE_COMPONENT);
  const int x = std::string(FIXTURE_COMPONENT) == "PART" ? 100 : 200;
  return DefineNewComponent(part, parent ? static_cast<wxWindow*>(parent) : board,
                            KVRect{x, 100, x + 40, 140}, module);
}
KORVEL_MODULE_EXPORT int DefineAllKeys(void) { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI(void) {}
KORVEL_MODULE_EXPORT void ClosingUI(void) {}
KORVEL_MODULE_EXPORT int DefineAllSFR(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllVTREG(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts(void) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches(void) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral(void) { return 1; }

#ifndef FIXTURE_NO_PAGES
namespace {
using PagesHook = int (*)(wxWindow*);
PagesHook pagesHook = nullptr;
}  // namespace

KORVEL_MODULE_EXPORT void fixtureSetPagesHook(PagesHook hook) { pagesHook = hook; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow* dialog) {
  return pagesHook ? pagesHook(dialog) : 1;
}
#endif
