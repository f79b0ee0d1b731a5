// A tiny plug-in for the host's tests: binds a few host functions by name on the handle of the
// init record, as the real core does, and reports every call it gets through AgsiMessage.
#include <cstring>

#include "korvel/agsi.h"
#include "korvel/platform/platform.h"

namespace {

PFN_AgsiMessage message = nullptr;
PFN_AgsiDefineVTR defineVtr = nullptr;
PFN_AgsiSetWatchOnSFR watchSfr = nullptr;
PFN_AgsiIsSimulatorAccess isSimulatorAccess = nullptr;
PFN_AgsiDefineMenuItem defineMenuItem = nullptr;
PFN_AgsiSetSFRReadValue setReadValue = nullptr;
PFN_AgsiGetSymbolByName symbolByName = nullptr;
int inits = 0;  // starts at 0 in every fresh copy of the library

void onWrite(uint32_t address, uint32_t reason) {
  message("fixture: write 0x%08X reason %u simulator %d\n", address, reason, isSimulatorAccess());
}
void onRead(uint32_t address, uint32_t) { setReadValue(0xA5); }
void onMenu(AGSIMENU*) { message("fixture: menu selected\n"); }

AGSIMENU menu{0, "&Fixture", onMenu, 1, 0, nullptr};

template <typename F>
bool bind(void* handle, F* out, const char* name) {
  *out = reinterpret_cast<F>(korvel::platform::findSymbol(handle, name));
  return *out != nullptr;
}

// Runs when the library is unloaded: the host must still be there to hear it.
struct Goodbye {
  ~Goodbye() {
    if (message != nullptr) message("fixture: unloaded\n");
  }
} goodbye;

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t AgsiEntry(uint32_t code, void* record) {
  switch (code) {
    case AGSI_CHECK:
      return *static_cast<uint32_t*>(record) == AGSI_TARGET_KIND_CORTEX_M ? 1 : 0;
    case AGSI_INIT: {
      auto* config = static_cast<AGSICONFIG*>(record);
      void* h = config->hInstance;
      if (!bind(h, &message, "AgsiMessage") || !bind(h, &defineVtr, "AgsiDefineVTR") ||
          !bind(h, &watchSfr, "AgsiSetWatchOnSFR") || !bind(h, &isSimulatorAccess, "AgsiIsSimulatorAccess") ||
          !bind(h, &defineMenuItem, "AgsiDefineMenuItem") || !bind(h, &setReadValue, "AgsiSetSFRReadValue") ||
          !bind(h, &symbolByName, "AgsiGetSymbolByName"))
        return 0;
      // A host that defines this symbol asks for a failed initialisation.
      AGSISYMDSC fail{};
      std::strcpy(fail.szName, "FixtureFailInit");
      if (symbolByName(&fail) != 0) {
        message("fixture: failing init as asked\n");
        return 0;
      }
      ++inits;
      message("fixture: init #%d app '%s'\n", inits, config->pszAppFile);
      defineVtr("PORT2", AGSIVTRLONG, 0x1000);
      watchSfr(0x40048004, onWrite, AGSIWRITE);
      watchSfr(0x40030008, onRead, AGSIREAD);
      defineMenuItem(&menu);
      return 1;
    }
    case AGSI_RESET:
      message("fixture: reset\n");
      return 1;
    case AGSI_TERMINATE:
      message("fixture: terminate\n");
      return 1;
    default:
      return 1;
  }
}
