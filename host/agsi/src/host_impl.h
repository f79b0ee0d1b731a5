// The host's state and the operations behind the exported host functions. Every member function
// expects the host lock to be held by the caller (the C shims and the Host methods take it).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "agsi_host/host.h"
#include "sparse_memory.h"
#include "watch_index.h"

namespace agsi_host {

struct Host::Impl {
  static constexpr uint64_t kNever = UINT64_MAX;

  struct Watch {
    uint32_t first, last;  // inclusive
    AGSICALLBACK callBack;
    uint32_t access;       // AGSIREAD, AGSIWRITE, AGSIREADWRITE
    bool sfr;              // set by AgsiSetWatchOnSFR (tracks the register's previous value)
  };
  struct VtrWatch {
    AGSICALLBACK callBack;
    uint32_t access;
  };
  struct Vtr {
    std::string name;
    uint32_t type;
    uint32_t value;
    std::vector<VtrWatch> watches;
  };
  struct Timer {
    AGSITIMERCALLBACK callBack;
    uint64_t due = kNever;
  };

  SparseMemory memory;
  Target* target = &memory;
  std::atomic<bool> ownClock{true};  // target is the host's own memory (read without the lock)

  std::vector<Watch> watches;  // registration order is firing order
  WatchIndex readIndex, writeIndex;
  // Per register the host has seen written (SFR write watches, AgsiWriteSFR): see RegisterRecord.
  // The write index points at the record of each SFR write watch, so a firmware store finds it
  // without a look-up; the map is for the plug-in's own calls. A deque: records never move.
  using Register = RegisterRecord;
  std::deque<Register> registers;
  std::map<uint32_t, Register*> registerByAddress;
  Register& registerAt(uint32_t address);  // creates the record
  Register* findRegister(uint32_t address);
  void forgetRegisterValues();

  // Non-zero while call-backs caused by the firmware's own accesses run. Only the thread holding
  // the lock can be inside call-backs, so under the lock this answers for the calling thread.
  int simulatorAccessDepth = 0;
  // The value a firmware store left in the register whose call-backs run, as the target told the
  // host: AgsiReadSFR on that register answers from it instead of reading it back. Anything that
  // may change the target's registers behind it (the plug-in's writes, a VTR, a reset) drops it.
  struct KnownWord {
    bool valid = false;
    uint32_t address = 0, value = 0;
    Register* record = nullptr;  // its register record, if it has one (its shadow is the value)
  } known;
  void targetMayHaveChanged() { known = {}; }

  std::vector<Vtr> vtrs;  // handle = index + 1
  std::unordered_map<std::string, uint32_t> vtrByName;

  std::vector<SfrDefinition> sfrs;
  std::vector<AGSIMENU*> menus;
  std::vector<AGSIINTERRUPT> interrupts;
  std::vector<Symbol> symbols;
  std::vector<std::string> messages;
  std::function<void(const std::string&)> sink;

  std::vector<std::unique_ptr<Timer>> timers;
  std::atomic<uint64_t> nextDue{kNever};

  void* focus = nullptr;
  uint64_t resets = 0, stops = 0;
  uint32_t lastAddress = 0;
  std::optional<uint32_t>* readOverride = nullptr;  // set while read watches run
  void (*execCallBack)(uint32_t) = nullptr;
  std::unordered_map<uint32_t, int> targetKeys;
  void* moduleHandle = nullptr;

  // ---- watches ----
  bool addWatch(uint32_t first, uint32_t last, AGSICALLBACK cb, uint32_t access, bool sfr);
  void republish();
  // Fires the watches of one firmware access; wordAfter is the word at (address & ~3) after a
  // store when the target told it.
  void fireWatches(const WatchIndex::Hit& hit, uint32_t address, uint32_t size, bool write,
                   const uint32_t* wordAfter);
  // Every watch overlapping the access, found by a scan (rare cases and non-firmware writes:
  // simulator false makes AgsiIsSimulatorAccess answer 0 inside the call-backs).
  // The same for a store whose word the target told, covered by one watch alone (index current).
  void fireSoleWrite(const WatchIndex::Entry& watch, uint32_t address, uint32_t wordAfter);
  [[gnu::noinline]] void fireEveryOverlapping(uint32_t address, uint32_t size, bool write, bool simulator = true);
  void noteRegisterWrite(Register& r, uint32_t now);
  // Whether the plug-in's own AgsiWriteSFR fires the write watches on the register (tests of
  // call-backs that must ignore their own writes).
  bool pluginWritesFireWatches = false;

  // ---- registers and memory through the target ----
  std::optional<uint32_t> read32(uint32_t address);
  bool write32(uint32_t address, uint32_t value);

  // ---- virtual registers ----
  uint32_t defineVtr(const char* name, uint32_t type, uint32_t init);
  Vtr* vtr(uint32_t handle);
  bool writeVtr(uint32_t handle, uint32_t value, bool simulatorAccess);

  // ---- timers ----
  Timer* timer(AGSITIMER handle);
  void updateNextDue();

  void message(std::string text);
};

// The one Host and its state once made, for the library's own hot paths: a direct load instead
// of a look-up through the exported pointer and the Host. Null before Host::instance() is first
// called.
extern Host* gHost __attribute__((visibility("hidden")));
extern Host::Impl* gImpl __attribute__((visibility("hidden")));

}  // namespace agsi_host
