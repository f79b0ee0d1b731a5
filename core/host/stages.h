// The definition stages that the host's calls drive: the core's own work first, then one named
// export of every loaded module in load order, each outcome reported as "[ID]: <text>".
#pragma once

#include <cstdint>

namespace korvel {

enum class Stage { SFR, VTREG, Interrupts, Watches, MenuEntries, Reset, Terminate };

// Runs one stage and returns its result (1 or 0). Throws RegistryError when the module registry
// is built during the stage and cannot be.
int runStage(Stage stage);

// The host's calls, as AgsiEntry dispatches them.
uint32_t initialise(void* hostModule);
uint32_t terminate();
uint32_t reset();

// How long the Reset stage waits after the modules (tests shorten it).
void setResetSettleMillis(uint32_t ms);

}  // namespace korvel
