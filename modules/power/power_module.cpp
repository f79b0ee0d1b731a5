// The Power module: switch SW6, power jumper JP3 and power LED LD12. The board is powered exactly
// when the switch is on and the jumper's cap is fitted.
#include "korvel/exports.h"
#include "korvel/module.h"
#include "kvjumper.h"
#include "kvled.h"
#include "kvswitch.h"
#include "power_logic.h"

namespace {

constexpr KVRect kSwitchRect{672, 95, 768, 133};  // 96 x 38
constexpr int kJumperLeft = 693, kJumperTop = 48;
constexpr int kLedLeft = 648, kLedTop = 211;

KVJumper* powerJumper() { return dynamic_cast<KVJumper*>(getBoardChipWithID("JP3")); }
KVSwitch* powerSwitch() { return dynamic_cast<KVSwitch*>(getBoardChipWithID("SW6")); }

// Switching the board's power enables or disables every component; the switch and the jumper
// must stay usable, or the board could never be switched on again.
void applyPower(KVSwitch* sw, KVJumper* jumper, int switchOn, int jumperState, bool switchFirst) {
  setBoardPowered(korvel::power::boardPowered(switchOn, jumperState));
  if (switchFirst) {
    sw->setEnabled(1);
    jumper->setEnabled(1);
  } else {
    jumper->setEnabled(1);
    sw->setEnabled(1);
  }
}

int place(KVBase* component, wxWindow* parent, KVRect rect, ComponentModule* module) {
  int ok = DefineNewComponent(component, parent, rect, module);
  if (!ok && component->GetParent() == nullptr) delete component;  // the board did not take it
  return ok & 1;
}

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllSFR() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllVTREG() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllKeys() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral() { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI() {}
KORVEL_MODULE_EXPORT void ClosingUI() {}

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule* module) {
  wxWindow* parent = getBoardChipWithID("Korvel");

  wxSize led = KVLed::Size(Orientation1);
  int ok = place(new KVLed("LD12", 1, Orientation1), parent,
                 KVRect{kLedLeft, kLedTop, kLedLeft + led.x, kLedTop + led.y}, module);

  wxSize jp = KVJumper::Size(Orientation0, 3);
  ok &= place(new KVJumper("JP3", 1, 3, Orientation0), parent,
              KVRect{kJumperLeft, kJumperTop, kJumperLeft + jp.x, kJumperTop + jp.y}, module);
  if (KVJumper* jumper = powerJumper()) {
    jumper->setCallback([](KVJumper* jumper, int state) {
      if (KVSwitch* sw = powerSwitch()) applyPower(sw, jumper, sw->isOn(), state, false);
    });
  }

  ok &= place(new KVSwitch("SW6", Orientation3), parent, kSwitchRect, module);
  if (KVSwitch* sw = powerSwitch()) {
    sw->setCallback([](KVSwitch* sw, int on) {
      if (KVJumper* jumper = powerJumper()) applyPower(sw, jumper, on, jumper->getState(), true);
    });
  }
  return ok;
}

KORVEL_MODULE_EXPORT void ComponentsLoaded() {
  KVJumper* jumper = powerJumper();
  KVSwitch* sw = powerSwitch();
  if (jumper != nullptr && sw != nullptr) applyPower(sw, jumper, sw->isOn(), jumper->getState(), true);
}
