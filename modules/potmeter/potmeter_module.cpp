// The Potmeter module: the knob on AD0.5 (P1.31). Its wiper voltage goes to the virtual register
// AIN5 (float, volts) that the converter samples; each time the firmware reads a result of
// channel 5 the next conversion gets a fresh noisy reading.
#include <atomic>
#include <bit>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "korvel/exports.h"
#include "korvel/keys.h"
#include "korvel/module.h"
#include "korvel/settings.h"
#include "kvpotmeter.h"
#include "potmeter_logic.h"

namespace {

namespace pot = korvel::potmeter;

// AD0GDR and AD0DR5: reading either takes a result of channel 5.
constexpr uint32_t kAdGdr = 0x40034004, kAdDr5 = 0x40034024;
constexpr KVRect kPotmeterRect{676, 462, 732, 518};  // 56 x 56 on the board

uint32_t gAin5 = 0;
// The knob on the board, for the simulation thread's watch; cleared before the knob goes.
std::mutex gPotLock;
KVPotmeter* gPot = nullptr;

// The noise settings as last read from the store: the simulation thread asks for them on every
// result the firmware reads (often in a polling loop), so it must not take the store's lock.
std::atomic<bool> gNoiseOn{false};
std::atomic<double> gSigma{0.0}, gShare{0.0};

void reloadNoiseSettings() {
  pot::NoiseSettings s =
      pot::noiseSettings([](const char* key) { return SettingsManager::sharedInstance().getValueWithKey(key); });
  gSigma.store(s.sigma);
  gShare.store(s.share);
  gNoiseOn.store(s.enabled);
}

pot::NoiseSettings readNoiseSettings() { return {gNoiseOn.load(), gSigma.load(), gShare.load()}; }

void writeAin5(float volts) {
  if (gAin5 != 0) getAgsi()->AgsiWriteVTR(gAin5, std::bit_cast<uint32_t>(volts));
}

void resultRead(uint32_t, uint32_t) {
  std::lock_guard<std::mutex> guard(gPotLock);
  if (gPot != nullptr && gNoiseOn.load()) gPot->model().refresh();
}

KVPotmeter* boardPotmeter() {
  if (!isDialogForeMost()) return nullptr;
  return dynamic_cast<KVPotmeter*>(getBoardChipWithID("Potmeter"));
}

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllSFR() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
KORVEL_MODULE_EXPORT int ResetPeripheral() { return 1; }
// The settings page may have changed the noise settings.
KORVEL_MODULE_EXPORT void UpdateUI() { reloadNoiseSettings(); }
KORVEL_MODULE_EXPORT void ClosingUI() {}

KORVEL_MODULE_EXPORT int DefineAllVTREG() {
  gAin5 = getAgsi()->AgsiDefineVTR("AIN5", AGSIVTRFLOAT, 0);
  return gAin5 != 0;
}

KORVEL_MODULE_EXPORT int DefineAllWatches() {
  int gdr = getAgsi()->AgsiSetWatchOnSFR(kAdGdr, resultRead, AGSIREAD);
  int dr5 = getAgsi()->AgsiSetWatchOnSFR(kAdDr5, resultRead, AGSIREAD);
  return gdr && dr5;
}

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule* module) {
  reloadNoiseSettings();
  wxWindow* parent = getBoardChipWithID("Korvel");
  auto* knob = new KVPotmeter(writeAin5, readNoiseSettings);
  // The noise repeats from run to run when the C random generator was seeded (korvel-sim --seed).
  knob->model().seed(uint32_t(std::rand()));
  int ok = DefineNewComponent(knob, parent, kPotmeterRect, module);
  if (!ok && knob->GetParent() == nullptr) {
    delete knob;  // the board did not take it
    return 0;
  }
  if (auto* placed = dynamic_cast<KVPotmeter*>(getBoardChipWithID("Potmeter"))) {
    float saved = 0.0f;
    placed->model().setPosition(placed->loadPosition(&saved) ? saved : 0.5);
    placed->model().refresh();  // the converter sees the knob from the start
    placed->setOnGone([] {
      std::lock_guard<std::mutex> guard(gPotLock);
      gPot = nullptr;
    });
    std::lock_guard<std::mutex> guard(gPotLock);
    gPot = placed;
  }
  return ok & 1;
}

KORVEL_MODULE_EXPORT int DefineAllKeys() {
  int ok = 1;
  for (unsigned int vk : {pot::kVkPageUp, pot::kVkPageDown, pot::kVkAdd, pot::kVkSubtract, pot::kVkPlus, pot::kVkMinus}) {
    auto key = std::make_unique<KeyRAI>(vk, [](unsigned int k, int down) {
      if (!down) return;
      if (KVPotmeter* knob = boardPotmeter()) knob->key(k);
    }, 0);
    // A registration the board refused must not stay bound to the key.
    if (DefineKey(key.get()) & 1) {
      key.release();
    } else {
      ok = 0;
    }
  }
  return ok;
}
