// The core's exports around information dialogs, and the hooks through which a component's
// right click opens its dialog and a dying component closes it.
#include "infodialog/chip_dialog.h"
#include "infodialog/info_tab_control.h"
#include "korvel/exports.h"
#include "korvel/kvbase.h"

namespace {

void closeForDestroyedComponent(KVBase* component, wxWindow* dialog) {
  if (auto* chip = dynamic_cast<ChipDialog*>(dialog)) {
    chip->componentGone();
  } else {
    dialog->Hide();
    dialog->Destroy();
  }
}

// Installed when the core library is loaded; from then on every component's right click opens
// its information dialog.
const bool hooksInstalled = [] {
  setInfoDialogOpener(&openInfoDialog);
  setInfoDialogCloser(&closeForDestroyedComponent);
  return true;
}();

}  // namespace

extern "C" {

KORVEL_API int DefinePageDialog(wxWindow* page, wxWindow* dialog) {
  auto* chip = dynamic_cast<ChipDialog*>(dialog);
  if (!page || !chip) return 0;
  return chip->addPendingPage(page);
}

KORVEL_API KVBase* getDialogComponentCaller(wxWindow* dialog) {
  auto* chip = dynamic_cast<ChipDialog*>(dialog);
  return chip ? chip->component() : nullptr;
}

KORVEL_API wxWindow* getDialogAtIndexForComponent(KVBase* component, unsigned int index) {
  if (!component) return nullptr;
  auto* chip = dynamic_cast<ChipDialog*>(component->infoDialog());
  if (!chip || !chip->tabs()) return nullptr;
  return chip->tabs()->page(index);
}
}
