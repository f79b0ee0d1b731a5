// The component modules as the board window drives them: in load order, exports by name.
// Production reads the module registry; tests install modules of their own.
#pragma once

#include <vector>

class ComponentModule;

namespace korvel {

class BoardModules {
 public:
  virtual ~BoardModules() = default;
  // The loaded modules in load order; empty (after reporting why) when there are none.
  virtual std::vector<ComponentModule*> inLoadOrder() = 0;
  // A module's export, or null.
  virtual void* lookup(ComponentModule& module, const char* name) = 0;
};

BoardModules& boardModules();
// Replaces the modules the board drives (null restores the registry). For tests only.
void setBoardModulesForTesting(BoardModules* modules);

// Calls a module's stage or notification export by name when it has one; errors thrown by the
// module are caught and reported with the module's identifier.
void callBoardNotify(ComponentModule& module, const char* name);
void callBoardStage(ComponentModule& module, const char* name);

}  // namespace korvel
