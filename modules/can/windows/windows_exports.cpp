// The module exports of Quillon that deal with windows: the port squares and the invisible CAN
// area on the board, and the settings page of the CAN information dialogs.
#include <wx/app.h>

#include "can_bus.h"
#include "can_settings_dialog.h"
#include "can_sfondo.h"
#include "korvel/exports.h"
#include "credit_page.h"
#include "kvquillon.h"

namespace {

constexpr KVRect kCanArea{328, 0, 477, 38};
constexpr int kSquareTop = 0;
constexpr int kSquare1Left = 371, kSquare2Left = 421;

KVRect squareAt(int left) {
  const wxSize size = KVQuillon::Size();
  return KVRect{left, kSquareTop, left + size.x, kSquareTop + size.y};
}

int place(KVBase* component, wxWindow* parent, KVRect rect, ComponentModule* module) {
  const int ok = DefineNewComponent(component, parent, rect, module);
  if (!ok && component->GetParent() == nullptr) delete component;  // the board did not take it
  return ok & 1;
}

// Port colours arrive from the colour watchers' threads and from confirmations; the squares
// are windows, so the change is posted to the UI thread, which finds the square again by its
// identifier (the board may have closed meanwhile).
void showPortColour(int port, uint32_t colour) {
  wxAppConsole* app = wxAppConsole::GetInstance();
  if (app == nullptr) return;
  app->CallAfter([port, colour] {
    auto* square = dynamic_cast<KVQuillon*>(getBoardChipWithID(port == 1 ? "Quillon1" : "Quillon2"));
    if (square != nullptr) square->setColor(colour);
  });
}

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow* board, KVRect area, ComponentModule* module) {
  quillon::CanBus& bus = quillon::CanBus::instance();
  bus.resetPortsForNewBoard();
  // A new board has no settings page yet: firmware commands wait for the user to open one.
  bus.setSettingsPagePresent(false);
  CANBusSettingsDialog::forgetTypedTexts();
  bus.setColourSink(&showPortColour);

  wxWindow* parent = getBoardChipWithID("Korvel");
  int ok = place(new canSfondo("CAN Bus", Orientation0), parent, kCanArea, module);
  ok &= place(new KVQuillon("Quillon1", bus.port(1).colour, Orientation0), parent,
              squareAt(kSquare1Left), module);
  ok &= place(new KVQuillon("Quillon2", bus.port(2).colour, Orientation0), parent,
              squareAt(kSquare2Left), module);
  return ok;
}

KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow* dialog) {
  if (dialog == nullptr) return 0;
  auto* page = new CANBusSettingsDialog(dialog);
  page->SetLabel("CAN Bus settings");
  int ok = DefinePageDialog(page, dialog);
  // The credits page "Credit" shows the credit.html beside this module's library.
  ok &= DefinePageDialog(CreateCreditPage(dialog), dialog);
  return ok & 1;
}
