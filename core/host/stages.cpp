#include "host/stages.h"

#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>

#include "board/board_menu.h"
#include "board/board_registry.h"
#include "host/function_table.h"
#include "korvel/platform/platform.h"
#include "modules/module_registry.h"
#include "timers/timer_scaling.h"

namespace korvel {
namespace {

struct StageInfo {
  const char* exportName;
  bool lookUpFirst;     // optional export: modules without it are skipped silently
  bool resultCounts;
  const char* ok;
  const char* failed;
};

StageInfo infoFor(Stage stage) {
  switch (stage) {
    case Stage::SFR: return {"DefineAllSFR", false, true, "SFR Stage [OK]", "SFR Stage [Failed]"};
    case Stage::VTREG: return {"DefineAllVTREG", false, true, "VTREG Stage [OK]", "VTREG Stage [Failed]"};
    case Stage::Interrupts:
      return {"DefineAllInterrupts", false, true, "Interrupts Stage [OK]", "Interrupts Stage [Failed]"};
    case Stage::Watches: return {"DefineAllWatches", false, true, "Watches Stage [OK]", "Watches Stage [Failed]"};
    case Stage::MenuEntries:
      return {"DefineAllMenuEntries", true, false, "MenuEntries Stage [OK]", "MenuEntries Stage [Failed]"};
    case Stage::Reset: return {"ResetPeripheral", false, true, "Reset Stage [OK]", "Reset Stage [Failed]"};
    case Stage::Terminate: return {"Terminate", true, false, "Terminate Stage [OK]", "Terminate Stage [Failed]"};
  }
  return {"", true, false, "", ""};
}

uint32_t resetSettleMillis = 500;
// Set once the host's functions are bound: before that neither the core nor a module can reach
// the host, so a reset has nothing to act on.
bool hostBound = false;

bool boardOpen() {
  const BoardState& board = boardState();
  return board.current.load() != nullptr || board.window.load() != nullptr;
}

void message(const char* format, const std::string& a, const std::string& b = {}) {
  if (auto* agsi = getAgsi(); agsi->AgsiMessage != nullptr) agsi->AgsiMessage(format, a.c_str(), b.c_str());
}

}  // namespace

void setResetSettleMillis(uint32_t ms) { resetSettleMillis = ms; }

int runStage(Stage stage) {
  const StageInfo info = infoFor(stage);
  int result = 1;
  switch (stage) {
    case Stage::SFR: result = timers::defineRegisters(); break;
    case Stage::Watches: result = timers::watchRegisters(); break;
    case Stage::MenuEntries: result = defineBoardMenu(); break;
    case Stage::Reset: result = timers::reset(); break;
    default: break;
  }

  for (const auto& [id, module] : ModuleRegistry::shared().loadedModules()) {
    const bool present = module->lookup(info.exportName) != nullptr;
    if (info.lookUpFirst && !present) continue;
    // Every module must export the required stages; one that does not is reported as failed
    // rather than called through a null pointer.
    int moduleResult = 0;
    std::string error;
    if (present) {
      // A module's error is that module's failure: the stage goes on with the others, as the
      // board's calls into modules do.
      try {
        callModuleStage(*module, info.exportName, &moduleResult);
      } catch (const std::exception& e) {
        moduleResult = 0;
        error = e.what();
      } catch (...) {
        moduleResult = 0;
        error = "unknown error";
      }
    }
    message("[%s]: %s\n", id, moduleResult != 0 ? info.ok : info.failed);
    if (!error.empty())
      message("[%s]: %s\n", id, std::string(info.exportName) + " raised an error: " + error);
    if (info.resultCounts && moduleResult == 0) result = 0;
  }
  // The wait lets the board's windows and parts catch up with the reset. With no board open (the
  // reset a simulator makes at start-up, a headless run) there is nothing to catch up, and the
  // wait would only hold back the firmware's first instruction.
  if (stage == Stage::Reset && resetSettleMillis > 0 && boardOpen()) platform::sleepMillis(resetSettleMillis);
  return result;
}

uint32_t initialise(void* hostModule) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  std::string missing;
  if (!bindHostFunctions(hostModule, &missing)) {
    // Without AgsiMessage there is no output window to write to.
    std::fprintf(stderr,
                 "Korvel: the simulator does not provide %s; use a simulator version with the "
                 "full AGSI interface.\n",
                 missing.c_str());
    return 0;
  }
  hostBound = true;
  if (!runStage(Stage::SFR)) {
    if (auto* agsi = getAgsi(); agsi->AgsiMessage) agsi->AgsiMessage("One or more definitions of SFR/s failed...continuing");
  }
  if (!runStage(Stage::VTREG)) return 0;
  if (!runStage(Stage::Interrupts)) return 0;
  if (!runStage(Stage::Watches)) return 0;
  if (!runStage(Stage::MenuEntries)) return 0;
  return 1;
}

uint32_t terminate() {
  runStage(Stage::Terminate);
  return 1;
}

uint32_t reset() {
  if (!hostBound) return 0;
  return static_cast<uint32_t>(runStage(Stage::Reset));
}

}  // namespace korvel
