#include "modules/module_registry.h"

#include <algorithm>
#include <set>

#include "korvel/platform/platform.h"

namespace korvel {
namespace {

std::mutex sharedLock;
std::unique_ptr<ModuleRegistry> sharedRegistry;

std::filesystem::path coreFolder() {
  static const int anchor = 0;
  return platform::modulePathOf(&anchor).parent_path();
}

}  // namespace

ModuleRegistry& ModuleRegistry::shared() {
  std::lock_guard<std::mutex> guard(sharedLock);
  if (!sharedRegistry) {
    // A RegistryError leaves sharedRegistry empty, so the next request builds it from scratch.
    sharedRegistry = std::make_unique<ModuleRegistry>(coreFolder() / "DOCS");
  }
  return *sharedRegistry;
}

void ModuleRegistry::releaseShared() {
  std::unique_ptr<ModuleRegistry> old;
  {
    std::lock_guard<std::mutex> guard(sharedLock);
    old = std::move(sharedRegistry);
  }
}

ModuleRegistry::ModuleRegistry(const std::filesystem::path& docsFolder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(docsFolder, ec)) return;

  for (const auto& entry : std::filesystem::directory_iterator(docsFolder, ec)) {
    if (!entry.is_directory(ec)) continue;
    auto module = std::make_unique<ComponentModule>();
    if (!module->read(entry.path())) continue;

    for (const auto& after : module->loadAfter) {
      auto& list = dependents_[after];
      if (std::find(list.begin(), list.end(), module->identifier) == list.end()) {
        list.push_back(module->identifier);
      }
    }
    dependents_.try_emplace(module->identifier);

    if (modules_.count(module->identifier) != 0) {
      throw RegistryError("Two bundles CANNOT have the same IDentifier!");
    }
    std::string id = module->identifier;
    modules_.emplace(std::move(id), std::move(module));
  }

  auto order = computeLoadOrder(dependents_);
  for (const auto& id : order) {
    auto it = modules_.find(id);
    // An identifier that is only named in a LoadAfterID line has no bundle to load.
    if (it != modules_.end() && it->second->load()) loadOrder_.push_back(id);
  }
}

ModuleRegistry::~ModuleRegistry() {
  for (auto it = loadOrder_.rbegin(); it != loadOrder_.rend(); ++it) {
    auto m = modules_.find(*it);
    if (m != modules_.end()) m->second->unload();
  }
}

std::vector<std::string> ModuleRegistry::computeLoadOrder(
    const std::map<std::string, std::vector<std::string>>& dependents) {
  static const std::vector<std::string> none;
  auto dependentsOf = [&](const std::string& id) -> const std::vector<std::string>& {
    auto it = dependents.find(id);
    return it == dependents.end() ? none : it->second;
  };

  // Depth-first walk from the root: a dependent that is on the current path closes a cycle.
  enum class Mark { Unvisited, OnPath, Finished };
  std::map<std::string, Mark> marks;
  for (const auto& [id, list] : dependents) marks[id] = Mark::Unvisited;
  struct Frame {
    std::string id;
    size_t next;
  };
  std::vector<Frame> stack{{std::string(), 0}};
  marks[std::string()] = Mark::OnPath;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const auto& list = dependentsOf(frame.id);
    if (frame.next == list.size()) {
      marks[frame.id] = Mark::Finished;
      stack.pop_back();
      continue;
    }
    const std::string& child = list[frame.next++];
    Mark& mark = marks[child];
    if (mark == Mark::Finished) continue;
    if (mark == Mark::OnPath) throw RegistryError("[Critical Error']LoadAfterIDs: Cycle detected aborting!");
    mark = Mark::OnPath;
    stack.push_back({child, 0});
  }

  // Breadth-first expansion; an identifier reached again is appended again, and only its last
  // occurrence is kept below, so each bundle ends up after every bundle it depends on.
  std::vector<std::string> order{std::string()};
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && order[i] == order[i - 1]) continue;
    const auto& list = dependentsOf(order[i]);
    order.insert(order.end(), list.begin(), list.end());
  }
  std::vector<std::string> result;
  std::set<std::string> seen;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (seen.insert(*it).second) result.push_back(*it);
  }
  std::reverse(result.begin(), result.end());
  result.erase(std::remove(result.begin(), result.end(), std::string()), result.end());
  return result;
}

std::vector<ModuleRegistry::Entry> ModuleRegistry::loadedModules() const {
  std::vector<Entry> list;
  for (const auto& id : loadOrder_) list.emplace_back(id, modules_.at(id).get());
  return list;
}

ComponentModule* ModuleRegistry::find(const std::string& identifier) const {
  auto it = modules_.find(identifier);
  return it == modules_.end() ? nullptr : it->second.get();
}

bool callModuleStage(const ComponentModule& module, const char* name, int* result) {
  auto fn = reinterpret_cast<PFN_ModuleStage>(module.lookup(name));
  if (fn == nullptr) return false;
  int r = fn();
  if (result != nullptr) *result = r;
  return true;
}

bool callModuleNotify(const ComponentModule& module, const char* name) {
  auto fn = reinterpret_cast<PFN_ModuleNotify>(module.lookup(name));
  if (fn == nullptr) return false;
  fn();
  return true;
}

}  // namespace korvel
