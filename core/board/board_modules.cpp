#include "board/board_modules.h"

#include <exception>
#include <filesystem>
#include <memory>

#include "korvel/board_testing.h"

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

namespace {
// Calls a module export looked up by name. A module without the export is skipped rather than
// called through a null pointer, and what it throws is reported instead of reaching the toolkit.
template <typename Fn>
void callBoardExport(ComponentModule& module, const char* name) {
  auto fn = reinterpret_cast<Fn>(boardModules().lookup(module, name));
  if (!fn) return;
  try {
    fn();
  } catch (const std::exception& e) {
    reportBoard(module.identifier, std::string(name) + " failed: " + e.what());
  } catch (...) {
    reportBoard(module.identifier, std::string(name) + " failed.");
  }
}
}  // namespace

void callBoardNotify(ComponentModule& module, const char* name) {
  callBoardExport<PFN_ModuleNotify>(module, name);
}

void callBoardStage(ComponentModule& module, const char* name) {
  callBoardExport<PFN_ModuleStage>(module, name);
}

}  // namespace korvel

namespace {

// The modules of another bundle folder, for tests that bring their own bundles.
class FolderModules : public korvel::BoardModules {
 public:
  explicit FolderModules(const std::filesystem::path& folder) : registry(folder) {}
  std::vector<ComponentModule*> inLoadOrder() override {
    std::vector<ComponentModule*> out;
    for (const auto& [id, module] : registry.loadedModules())
      if (module) out.push_back(module);
    return out;
  }
  void* lookup(ComponentModule& module, const char* name) override { return module.lookup(name); }
  korvel::ModuleRegistry registry;
};

std::unique_ptr<FolderModules> folderModules;

}  // namespace

extern "C" KORVEL_API int korvelUseModulesForTesting(const char* docsFolder) {
  korvel::setBoardModulesForTesting(nullptr);
  folderModules.reset();
  if (!docsFolder) return 1;
  try {
    folderModules = std::make_unique<FolderModules>(docsFolder);
  } catch (const std::exception& e) {
    korvel::reportBoard("Korvel", std::string("test modules not usable: ") + e.what());
    return 0;
  }
  korvel::setBoardModulesForTesting(folderModules.get());
  return 1;
}
