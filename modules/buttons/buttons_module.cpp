// The Buttons module: KEY1, KEY2 and INT0 on port-2 pins, RESET on the chip's reset, JP5 between
// INT0 and its pin, and the keys 1, 2, 0 and R.
#include <atomic>
#include <memory>

#include "button_pins.h"
#include "korvel/exports.h"
#include "korvel/keys.h"
#include "korvel/module.h"
#include "kvbutton.h"
#include "kvjumper.h"

namespace {

using korvel::buttons::kButtonWiring;

std::atomic<uint32_t> port2{0};  // the PORT2 handle the host gave us

// The bounce count's distribution is read once, when the module is loaded.
const bool bounceConfigured = (KVButton::configureBounce(), true);

KVButton::Callback pinCallback(uint32_t mask) {
  if (mask == 0) {
    // One latch per RESET button: a button made when the board opens again counts its presses
    // from the start.
    auto latch = std::make_shared<korvel::buttons::ResetOnPress>();
    return [latch](KVButton* button, ButtonState s) {
      latch->onTransition(*getAgsi(), button->pressCount(), s);
    };
  }
  return [mask](KVButton*, ButtonState s) { korvel::buttons::driveButtonPin(*getAgsi(), port2, mask, s); };
}

// INT0 reaches its pin through JP5. The core enables every component when the board is powered
// again; INT0 must then stay disabled while JP5's cap is off, so it asks JP5 every time.
class JumperedButton : public KVButton {
 public:
  using KVButton::KVButton;
  void setEnabled(int enabled) override {
    auto* jumper = dynamic_cast<KVJumper*>(getBoardChipWithID(korvel::buttons::kJumperId));
    const int connected = jumper == nullptr || jumper->getState() != 0 ? 1 : 0;
    KVButton::setEnabled(enabled != 0 && connected != 0 ? 1 : 0);
  }
};

void applyJumperToInt0(int jumperState) {
  if (KVBase* int0 = getBoardChipWithID("INT0"))
    int0->setEnabled(korvel::buttons::int0Enabled(jumperState, isBoardPowered()));
}

// Hands a component to the board; one the board did not take (no window made) is ours to free.
int place(KVBase* component, wxWindow* parent, KVRect rect, ComponentModule* module) {
  int ok = DefineNewComponent(component, parent, rect, module);
  if (!ok && component->GetParent() == nullptr) delete component;
  return ok != 0 ? 1 : 0;
}

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllSFR() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllWatches() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral() { return 1; }
KORVEL_MODULE_EXPORT void UpdateUI() {}
KORVEL_MODULE_EXPORT void ClosingUI() {}

KORVEL_MODULE_EXPORT int DefineAllVTREG() {
  (void)bounceConfigured;
  port2 = getAgsi()->AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  return port2 != 0 ? 1 : 0;
}

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule* module) {
  wxWindow* parent = getBoardChipWithID("Korvel");
  int ok = 1;
  for (const auto& wiring : kButtonWiring) {
    KVButton* button = wiring.mask == korvel::buttons::kInt0Mask
                           ? new JumperedButton(wiring.id, Orientation0)
                           : new KVButton(wiring.id, Orientation0);
    ok &= place(button, parent, wiring.rect, module);
    if (auto* placed = dynamic_cast<KVButton*>(getBoardChipWithID(wiring.id)))
      placed->setCallback(pinCallback(wiring.mask));
  }
  wxSize size = KVJumper::Size(Orientation0, 2);
  KVRect rect{korvel::buttons::kJumperLeft, korvel::buttons::kJumperTop,
              korvel::buttons::kJumperLeft + size.x, korvel::buttons::kJumperTop + size.y};
  ok &= place(new KVJumper(korvel::buttons::kJumperId, 1, 2, Orientation0), parent, rect, module);
  if (auto* jumper = dynamic_cast<KVJumper*>(getBoardChipWithID(korvel::buttons::kJumperId)))
    jumper->setCallback([](KVJumper*, int state) { applyJumperToInt0(state); });
  return ok;
}

KORVEL_MODULE_EXPORT void ComponentsLoaded() {
  if (auto* jumper = dynamic_cast<KVJumper*>(getBoardChipWithID(korvel::buttons::kJumperId)))
    jumper->Update();
}

KORVEL_MODULE_EXPORT int DefineAllKeys() {
  int ok = 1;
  for (const auto& wiring : kButtonWiring) {
    std::string id = wiring.id;
    auto key = std::make_unique<KeyRAI>(wiring.key, [id](unsigned int, int down) {
      if (!isDialogForeMost()) return;
      if (auto* button = dynamic_cast<KVButton*>(getBoardChipWithID(id)))
        button->UpdateState(down ? ButtonState::Pressed : ButtonState::Released);
    });
    // The board owns a registration it accepted; one it refused must not stay bound to the key.
    if (DefineKey(key.get())) {
      key.release();
    } else {
      ok = 0;
    }
  }
  return ok;
}
