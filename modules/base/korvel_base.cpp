// The module KorvelBase: places the board picture, the parent of every other component, and
// gives the board's information dialog its settings and credits pages.
// It takes no part in the simulation: every stage does nothing.
#include <string>

#include <wx/window.h>

#include "credit_page.h"
#include "korvel/api.h"
#include "korvel/exports.h"
#include "kvkv.h"
#include "settings_page.h"

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

// The emulator settings page, then the credits page; both must be taken for the pages to show.
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow* dialog) {
  if (!dialog) return 0;
  const int settings = DefinePageDialog(new ChipSettingsDialog(dialog), dialog);
  const int credit = DefinePageDialog(CreateCreditPage(dialog), dialog);
  return settings && credit ? 1 : 0;
}

// Tests answer the settings page's reset question themselves: prompt(title, text) returns 1 for
// Yes. Null brings the message box back.
KORVEL_MODULE_EXPORT void korvelBaseSetResetPromptForTesting(int (*answer)(const char*, const char*)) {
  if (!answer) {
    ChipSettingsDialog::setPromptForTesting(nullptr);
    return;
  }
  ChipSettingsDialog::setPromptForTesting([answer](wxWindow*, const wxString& title, const wxString& text) {
    return answer(title.utf8_str().data(), text.utf8_str().data()) != 0;
  });
}
