// A stand-in host for unit tests of module logic: the virtual registers and resets behind a
// HostFunctionTable's plain function pointers. One at a time per process.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "korvel/host_functions.h"

namespace korvel::testing {

class FakeHost {
 public:
  FakeHost() {
    std::lock_guard<std::mutex> guard(state().lock);
    state() = {};
    table_.AgsiDefineVTR = &defineVtrCb;
    table_.AgsiReadVTR = &readVtrCb;
    table_.AgsiWriteVTR = &writeVtrCb;
    table_.AgsiTriggerReset = &resetCb;
  }
  const HostFunctionTable& table() const { return table_; }

  uint32_t defineVtr(const char* name, uint32_t value) { return defineVtrCb(name, AGSIVTRLONG, value); }
  uint32_t vtr(uint32_t handle) {
    std::lock_guard<std::mutex> guard(state().lock);
    return state().vtrs[handle];
  }
  void setVtr(uint32_t handle, uint32_t value) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().vtrs[handle] = value;
  }
  int writes() {
    std::lock_guard<std::mutex> guard(state().lock);
    return state().writes;
  }
  int resets() {
    std::lock_guard<std::mutex> guard(state().lock);
    return state().resets;
  }

 private:
  struct State {
    std::mutex lock;
    std::map<uint32_t, uint32_t> vtrs;
    std::map<std::string, uint32_t> names;
    int writes = 0;
    int resets = 0;
    State& operator=(const State&) {
      vtrs.clear();
      names.clear();
      writes = resets = 0;
      return *this;
    }
  };
  static State& state() {
    static State s;
    return s;
  }
  // Reads and writes each take the lock alone, as the real host does: a read-modify-write is
  // two calls that another thread may come between.
  static uint32_t defineVtrCb(const char* name, uint32_t, uint32_t init) {
    std::lock_guard<std::mutex> guard(state().lock);
    auto it = state().names.find(name);
    if (it != state().names.end()) return it->second;
    uint32_t handle = static_cast<uint32_t>(state().names.size()) + 1;
    state().names[name] = handle;
    state().vtrs[handle] = init;
    return handle;
  }
  static int readVtrCb(uint32_t vtr, uint32_t* value) {
    std::lock_guard<std::mutex> guard(state().lock);
    *value = state().vtrs[vtr];
    return 1;
  }
  static int writeVtrCb(uint32_t vtr, uint32_t value) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().vtrs[vtr] = value;
    ++state().writes;
    return 1;
  }
  static void resetCb() {
    std::lock_guard<std::mutex> guard(state().lock);
    ++state().resets;
  }

  HostFunctionTable table_{};
};

}  // namespace korvel::testing
