// The Joystick module: the five-way joystick on P1.25 (centre) and P1.26-P1.29 (directions), the
// arrow keys and space.
#include <atomic>
#include <memory>

#include "joystick_logic.h"
#include "korvel/exports.h"
#include "korvel/keys.h"
#include "korvel/module.h"
#include "kvjoystick.h"

namespace {

using korvel::joystick::JoyDirection;

struct VtrRow {
  const char* name;
  uint32_t type;
  uint32_t init;
  std::atomic<uint32_t> handle{0};
};
VtrRow vtrs[] = {{"PORT1", AGSIVTRLONG, 0}};

constexpr KVRect kJoystickRect{135, 474, 203, 542};  // 68 x 68 on the board

void portUpdate(KVJoystick*, JoyDirection d, int pressed) {
  korvel::joystick::portUpdate(*getAgsi(), vtrs[0].handle, d, pressed);
}

KVJoystick* boardJoystick() {
  if (!isDialogForeMost()) return nullptr;
  return dynamic_cast<KVJoystick*>(getBoardChipWithID("Joystick"));
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
  int ok = 1;
  for (VtrRow& row : vtrs) {
    row.handle = getAgsi()->AgsiDefineVTR(row.name, row.type, row.init);
    if (row.handle == 0) ok = 0;
  }
  return ok;
}

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule* module) {
  wxWindow* parent = getBoardChipWithID("Korvel");
  auto* joystick = new KVJoystick();
  int ok = DefineNewComponent(joystick, parent, kJoystickRect, module);
  if (!ok && joystick->GetParent() == nullptr) delete joystick;  // the board did not take it
  if (auto* placed = dynamic_cast<KVJoystick*>(getBoardChipWithID("Joystick")))
    placed->setOnChange(portUpdate);
  return ok & 1;
}

KORVEL_MODULE_EXPORT int DefineAllKeys() {
  int ok = 1;
  auto define = [&ok](unsigned int vk, KeyCallback cb) {
    auto key = std::make_unique<KeyRAI>(vk, std::move(cb), 0);
    // A registration the board refused must not stay bound to the key.
    if (DefineKey(key.get()) & 1) {
      key.release();
    } else {
      ok = 0;
    }
  };
  for (unsigned int vk : {korvel::joystick::kVkLeft, korvel::joystick::kVkUp,
                          korvel::joystick::kVkRight, korvel::joystick::kVkDown}) {
    define(vk, [](unsigned int key, int down) {
      if (KVJoystick* joystick = boardJoystick()) joystick->arrowKey(key, down);
    });
  }
  define(korvel::joystick::kVkSpace, [](unsigned int, int down) {
    if (KVJoystick* joystick = boardJoystick()) joystick->setPressed(down);
  });
  return ok;
}
