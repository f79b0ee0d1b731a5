// The process-wide list of component modules: found in the bundle folders under DOCS/ beside the
// core library, ordered by their LoadAfterID dependencies and loaded once.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "korvel/module.h"

namespace korvel {

// Raised while the registry is built (duplicate identifier, dependency cycle).
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ModuleRegistry {
 public:
  using Entry = std::pair<std::string, ComponentModule*>;

  // The registry, built on the first call from DOCS/ beside the core library. Throws
  // RegistryError when the bundles cannot be ordered; a later call then tries again.
  static ModuleRegistry& shared();
  // Builds a registry from any folder of bundles (tests, tools).
  explicit ModuleRegistry(const std::filesystem::path& docsFolder);
  ~ModuleRegistry();  // unloads the modules in reverse load order

  // The loaded modules in load order (a snapshot).
  std::vector<Entry> loadedModules() const;
  // Every accepted bundle, loaded or not, or null.
  ComponentModule* find(const std::string& identifier) const;
  const std::vector<std::string>& loadOrder() const { return loadOrder_; }

  // Destroys the shared registry (the core's unload; tests).
  static void releaseShared();

  // The load order for a dependents map (identifier -> bundles that load after it; "" is the
  // root). Throws RegistryError on a cycle reachable from the root.
  static std::vector<std::string> computeLoadOrder(
      const std::map<std::string, std::vector<std::string>>& dependents);

 private:
  std::map<std::string, std::unique_ptr<ComponentModule>> modules_;
  std::map<std::string, std::vector<std::string>> dependents_;
  std::vector<std::string> loadOrder_;
};

// Calls a module export by name: a stage function (no arguments, int result) or a notification.
// Returns false (and does not call) when the module does not export the name.
bool callModuleStage(const ComponentModule& module, const char* name, int* result);
bool callModuleNotify(const ComponentModule& module, const char* name);

}  // namespace korvel
