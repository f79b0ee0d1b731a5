// AgsiEntry: the one function the simulator calls.
#include <exception>

#include "host/stages.h"
#include "korvel/host_functions.h"
#include "modules/module_registry.h"

namespace {

// No exception may cross into the host: an error (a registry that cannot be built, a module
// that throws) is reported in the output window and the call fails.
template <typename F>
uint32_t guarded(F&& call) {
  try {
    return call();
  } catch (const std::exception& e) {
    if (auto* agsi = getAgsi(); agsi->AgsiMessage != nullptr) agsi->AgsiMessage("%s\n", e.what());
  } catch (...) {
    if (auto* agsi = getAgsi(); agsi->AgsiMessage != nullptr) agsi->AgsiMessage("Korvel: unexpected error\n");
  }
  return 0;
}

}  // namespace

extern "C" KORVEL_API uint32_t AgsiEntry(uint32_t code, void* record) {
  switch (code) {
    case AGSI_CHECK:
      return record != nullptr && *static_cast<uint32_t*>(record) == AGSI_TARGET_KIND_CORTEX_M ? 1 : 0;
    case AGSI_INIT: {
      if (record == nullptr) return 0;
      void* hostModule = static_cast<AGSICONFIG*>(record)->hInstance;
      return guarded([&] { return korvel::initialise(hostModule); });
    }
    case AGSI_TERMINATE:
      guarded([] { return korvel::terminate(); });
      return 1;
    case AGSI_RESET:
      return guarded([] { return korvel::reset(); });
    default:
      return 1;
  }
}

// Frees the component modules (in reverse load order) ahead of the core's own unload. Each module
// holds a reference to the core, so on systems where a library is only unloaded when its last
// reference goes (Linux) a host must call this before it frees the core, or the core and the
// modules would keep each other loaded until the process ends. Any board window must be closed
// first. Calling it twice does nothing more.
extern "C" KORVEL_API void KorvelUnload(void) { korvel::ModuleRegistry::releaseShared(); }
