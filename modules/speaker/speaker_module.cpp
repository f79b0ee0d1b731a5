// The Speaker module: the amplifier and speaker on the DAC output (AOUT, P0.26). It watches the
// AOUT virtual register (float, volts) that the simulator's DAC writes and plays it.
#include <bit>
#include <cstdio>

#include "korvel/exports.h"
#include "korvel/module.h"
#include "korvel/platform/platform.h"
#include "korvel/settings.h"
#include "kvspeaker.h"
#include "speaker_engine.h"

namespace {

namespace sp = korvel::speaker;

constexpr KVRect kSpeakerRect{590, 468, 638, 516};  // 48 x 48 on the board

uint32_t gAout = 0;

sp::SpeakerEngine& engine() {
  // Lives to process exit: the audio device's thread may still call into it while the library
  // goes.
  static sp::SpeakerEngine* e = new sp::SpeakerEngine({
      [] {
        uint32_t bits = 0;
        if (gAout == 0 || !getAgsi()->AgsiReadVTR(gAout, &bits)) return 0.0f;
        return std::bit_cast<float>(bits);
      },
      [] { return getAgsi()->AgsiGetTime ? getAgsi()->AgsiGetTime() : 0.0; },
      [](const char* key) { return SettingsManager::sharedInstance().getValueWithKey(key); },
      [](const std::string& line) { getAgsi()->AgsiMessage("%s\n", line.c_str()); },
      [] { return korvel::platform::monotonicNanos(); },
      [](int rate, korvel::platform::AudioPull pull, std::string* error) {
        return korvel::platform::openAudioStream(rate, std::move(pull), error);
      },
  });
  return *e;
}

void aoutWritten(uint32_t, uint32_t) { engine().aoutChanged(); }

KVSpeaker* boardSpeaker() { return dynamic_cast<KVSpeaker*>(getBoardChipWithID("Speaker")); }

}  // namespace

KORVEL_MODULE_EXPORT int DefineAllSFR() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllInterrupts() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllMenuEntries() { return 1; }
KORVEL_MODULE_EXPORT int DefineAllDialogPages(wxWindow*) { return 1; }
KORVEL_MODULE_EXPORT int DefineAllKeys() { return 1; }

KORVEL_MODULE_EXPORT int DefineAllVTREG() {
  gAout = getAgsi()->AgsiDefineVTR("AOUT", AGSIVTRFLOAT, 0);
  return gAout != 0;
}

KORVEL_MODULE_EXPORT int DefineAllWatches() { return getAgsi()->AgsiSetWatchOnVTR(gAout, aoutWritten, AGSIWRITE) ? 1 : 0; }

KORVEL_MODULE_EXPORT int ResetPeripheral() {
  engine().reset();
  return 1;
}

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule* module) {
  wxWindow* parent = getBoardChipWithID("Korvel");
  auto* speaker = new KVSpeaker([] { return engine().sounding(); }, [] { engine().playTestTone(); });
  int ok = DefineNewComponent(speaker, parent, kSpeakerRect, module);
  if (!ok && speaker->GetParent() == nullptr) {
    delete speaker;  // the board did not take it
    return 0;
  }
  // The tip needs the window, which exists only once the board has placed the speaker.
  if (KVSpeaker* placed = boardSpeaker()) placed->SetToolTip("Speaker LS1 on AOUT (P0.26): click for a test tone");
  engine().start();
  return ok & 1;
}

KORVEL_MODULE_EXPORT void UpdateUI() {
  if (KVSpeaker* speaker = boardSpeaker()) {
    engine().refreshSettings();
    speaker->poll();
  }
}

KORVEL_MODULE_EXPORT void ClosingUI() { engine().stop(); }
