#include "board/board_registry.h"

#include <algorithm>

#include <wx/window.h>

#include "korvel/board_testing.h"
#include "korvel/keys.h"
#include "korvel/kvbase.h"
#include "korvel/module.h"

namespace korvel {

BoardState& boardState() {
  static BoardState state;
  return state;
}

BoardRegistry::BoardRegistry() = default;
BoardRegistry::~BoardRegistry() { releaseKeys(); }

void BoardRegistry::addKey(KeyRAI* key) {
  std::lock_guard<std::mutex> hold(lock_);
  keys_.emplace_back(key);
}

bool BoardRegistry::addComponent(KVBase* component) {
  std::lock_guard<std::mutex> hold(lock_);
  return components_.emplace(component->GetID(), component).second;
}

KVBase* BoardRegistry::find(const std::string& id) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = components_.find(id);
  return it == components_.end() ? nullptr : it->second;
}

std::vector<KVBase*> BoardRegistry::components() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<KVBase*> out;
  out.reserve(components_.size());
  for (const auto& [id, component] : components_) out.push_back(component);
  return out;
}

void BoardRegistry::releaseKeys() {
  std::vector<std::unique_ptr<KeyRAI>> keys;
  {
    std::lock_guard<std::mutex> hold(lock_);
    keys.swap(keys_);
  }
  // Each destructor waits for a running call-back of its key; the map lock must be free for it.
  keys.clear();
}

std::vector<KVBase*> BoardRegistry::takeComponents() {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<KVBase*> out;
  for (const auto& [id, component] : components_) out.push_back(component);
  components_.clear();
  return out;
}

}  // namespace korvel

using korvel::boardState;

extern "C" {

int DefineKey(KeyRAI* key) {
  auto& state = boardState();
  korvel::BoardRegistry* board = state.current.load();
  if (!key || !board || state.ready.load()) return 0;
  board->addKey(key);
  return 1;
}

int DefineNewComponent(KVBase* component, wxWindow* parent, KVRect rect, ComponentModule* module) {
  auto& state = boardState();
  korvel::BoardRegistry* board = state.current.load();
  if (!component || !parent || !module || !board || state.ready.load()) return 0;
  if (!component->Create(parent, wxID_ANY, wxPoint(rect.left, rect.top),
                         wxSize(rect.width(), rect.height()), 0, wxString()))
    return 0;
  component->Show();
  component->SetBundleID(module->identifier);
  // A second component under a taken identifier stays on screen but is not the board's: the
  // window's parent still destroys it with the board.
  return board->addComponent(component) ? 1 : 0;
}

int isBoardPowered(void) {
  korvel::BoardRegistry* board = boardState().current.load();
  return board ? board->powered() : 0;
}

void setBoardPowered(int powered) {
  korvel::BoardRegistry* board = boardState().current.load();
  if (!board || board->powered() == powered) return;
  for (KVBase* component : board->components()) component->setEnabled(powered);
  board->setPowered(powered);
}

int isDialogForeMost(void) {
  auto& state = boardState();
  if (!state.current.load()) return 0;
  const int forced = state.forcedForeground.load();
  return forced >= 0 ? forced : state.active.load();
}

}  // extern "C"

extern "C" KVBase* getBoardChipWithID(const std::string& id) {
  korvel::BoardRegistry* board = boardState().current.load();
  return board ? board->find(id) : nullptr;
}

extern "C" void korvelSetBoardForegroundForTesting(int answer) {
  boardState().forcedForeground.store(answer < 0 ? -1 : (answer ? 1 : 0));
}
