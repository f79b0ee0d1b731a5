// The board's component registry and the process-wide board state behind the core's exports:
// which board window is current, whether it is ready, its power, and whether it is in front.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "korvel/exports.h"

class KVBase;
class KeyRAI;
class wxWindow;

namespace korvel {

// What one board window holds: the key registrations and components it owns, and its power.
class BoardRegistry {
 public:
  BoardRegistry();
  ~BoardRegistry();
  BoardRegistry(const BoardRegistry&) = delete;
  BoardRegistry& operator=(const BoardRegistry&) = delete;

  void addKey(KeyRAI* key);
  // False (and nothing stored) when the identifier is taken.
  bool addComponent(KVBase* component);
  KVBase* find(const std::string& id) const;
  // The components in identifier order (byte-wise).
  std::vector<KVBase*> components() const;

  int powered() const { return powered_.load(); }
  void setPowered(int value) { powered_.store(value); }

  // Ends every key binding: afterwards no key call-back of this board runs.
  void releaseKeys();
  // Forgets the components and hands them to the caller, who destroys their windows.
  std::vector<KVBase*> takeComponents();

 private:
  // Guards the map only, and is never held while calling out: key call-backs look components up
  // from the key listener's thread.
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<KeyRAI>> keys_;
  std::map<std::string, KVBase*> components_;
  std::atomic<int> powered_{1};
};

// The process-wide board state. The current board changes on the user-interface thread only.
struct BoardState {
  std::atomic<BoardRegistry*> current{nullptr};
  std::atomic<wxWindow*> window{nullptr};
  std::atomic<int> ready{0};
  // Kept from the board window's activation events; read from any thread.
  std::atomic<int> active{0};
  // -1: follow activation; 0 or 1: the answer tests and headless runs force.
  std::atomic<int> forcedForeground{-1};
  // Serialises opening and closing; recursive because closing during an open is re-entered.
  std::recursive_mutex lock;
};
BoardState& boardState();

}  // namespace korvel
