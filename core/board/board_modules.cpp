#include "board/board_modules.h"

#include <exception>

#include "board/board_report.h"
#include "korvel/module.h"
#include "modules/module_registry.h"

namespace korvel {
namespace {

class RegistryModules : public BoardModules {
 public:
  std::vector<ComponentModule*> inLoadOrder() override {
    std::vector<ComponentModule*> out;
    try {
      for (const auto& [id, module] : ModuleRegistry::shared().loadedModules())
        if (module) out.push_back(module);
    } catch (const std::exception& e) {
      reportBoard("Korvel", std::string("the board is shown without modules: ") + e.what());
    }
    return out;
  }
  void* lookup(ComponentModule& module, const char* name) override { return module.lookup(name); }
};

BoardModules* installed = nullptr;

}  // namespace

BoardModules& boardModules() {
  static RegistryModules registry;
  return installed ? *installed : registry;
}

void setBoardModulesForTesting(BoardModules* modules) { installed = modules; }

void callBoardNotify(ComponentModule& module, const char* name) {
  // A module without the export is skipped rather than called through a null pointer.
  auto fn = reinterpret_cast<PFN_ModuleNotify>(boardModules().lookup(module, name));
  if (!fn) return;
  try {
    fn();
  } catch (const std::exception& e) {
    reportBoard(module.identifier, std::string(name) + " failed: " + e.what());
  } catch (...) {
    reportBoard(module.identifier, std::string(name) + " failed.");
  }
}

void callBoardStage(ComponentModule& module, const char* name) {
  auto fn = reinterpret_cast<PFN_ModuleStage>(boardModules().lookup(module, name));
  if (!fn) return;
  try {
    fn();
  } catch (const std::exception& e) {
    reportBoard(module.identifier, std::string(name) + " failed: " + e.what());
  } catch (...) {
    reportBoard(module.identifier, std::string(name) + " failed.");
  }
}

}  // namespace korvel
