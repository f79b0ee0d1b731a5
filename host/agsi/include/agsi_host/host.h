// Our implementation of the simulator side of AGSI: the register file, virtual registers, watches
// with their call-backs, symbols, menu entries, messages and simulated time. The 37 host functions
// (AgsiDefineSFR …) are exported by name from this library (libAgsiHost.so) and all work on the
// one process-wide Host below; a host program (the test host, korvel-sim) drives the same object
// from the firmware's side and reads what the plug-in did.
//
// Threads: every AGSI call and every firmware-side notification takes the host's one recursive
// lock, so accesses from the UI, key, bounce and CAN threads are serialised with the firmware's.
// Watch call-backs run with that lock held, on the thread that caused them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "korvel/agsi.h"

// What libAgsiHost.so exports besides the C host functions: the classes a host program drives.
#if defined(_WIN32)
#if defined(AGSI_HOST_BUILDING)
#define AGSI_HOST_API __declspec(dllexport)
#else
#define AGSI_HOST_API __declspec(dllimport)
#endif
#else
#define AGSI_HOST_API __attribute__((visibility("default")))
#endif

namespace agsi_host {

// What sits behind the address space: the LPC17xx simulator, or plain memory in the test host.
class AGSI_HOST_API Target {
 public:
  virtual ~Target() = default;
  // The plug-in's own accesses (AgsiReadSFR/WriteSFR/ReadMemory/WriteMemory). They change the
  // target's state directly and fire no watches. False when nothing is mapped there. A read has
  // no side effects (the host also reads write-watched registers to know their previous value).
  virtual bool read(uint32_t address, uint32_t size, uint8_t* out) = 0;
  virtual bool write(uint32_t address, uint32_t size, const uint8_t* in) = 0;
  // A virtual register was written (by anyone); e.g. PORT2 becomes the input levels of port 2.
  virtual void vtrChanged(const std::string& name, uint32_t value) {}
  virtual void triggerReset() {}
  virtual void stopSimulation() {}
  virtual uint64_t states() { return 0; }           // processor cycles since reset
  virtual double seconds() { return 0.0; }          // simulated time
  virtual uint32_t programCounter() { return 0; }
  virtual bool sleeping() { return false; }
  virtual uint32_t clockHz() { return 100000000; }  // core clock
  virtual uint32_t externalClockHz() { return 12000000; }  // the board's crystal
};

struct SfrDefinition {
  std::string name;
  uint32_t address;
  uint32_t type;
  uint8_t bitpos;
};

struct VtrInfo {
  std::string name;
  uint32_t type;
  uint32_t value;
};

struct Symbol {
  std::string name;
  uint32_t address;
  uint32_t type;  // AGSI_SYMTYPE_UCHAR for one-byte variables
};

// The host's one lock: recursive, and cheap where the simulator pays for it on every watched
// store. Taking it free costs one compare-and-swap and releasing it one plain store (a system
// mutex pays a second locked instruction and two library calls); taking it again on the thread
// that holds it costs a load and a compare. A thread that finds it held spins briefly, then
// sleeps until the holder wakes it. The release does not lock the bus to learn whether anyone
// sleeps, so it may miss a sleeper that was just going to sleep: sleeps are therefore bounded
// (a fraction of a millisecond) and the sleeper tries again. Contention is rare here (the UI,
// key and bounce threads call the host a few times a second), so that bound never shows.
// Usable with std::lock_guard, std::unique_lock and std::condition_variable_any.
class AGSI_HOST_API HostMutex {
 public:
  void lock() {
    const void* me = self();
    if (owner_.load(std::memory_order_relaxed) == me) {
      ++depth_;
      return;
    }
    uint32_t free = 0;
    if (!state_.compare_exchange_strong(free, 1, std::memory_order_acquire, std::memory_order_relaxed))
      lockContended();
    owner_.store(me, std::memory_order_relaxed);
    depth_ = 1;
  }
  bool try_lock() {
    const void* me = self();
    if (owner_.load(std::memory_order_relaxed) == me) {
      ++depth_;
      return true;
    }
    uint32_t free = 0;
    if (!state_.compare_exchange_strong(free, 1, std::memory_order_acquire, std::memory_order_relaxed))
      return false;
    owner_.store(me, std::memory_order_relaxed);
    depth_ = 1;
    return true;
  }
  void unlock() {
    if (--depth_ != 0) return;
    owner_.store(nullptr, std::memory_order_relaxed);
    state_.store(0, std::memory_order_release);
    if (sleepers_.load(std::memory_order_relaxed) != 0) wakeOne();
  }
  // True when the calling thread holds the lock.
  bool heldHere() const { return owner_.load(std::memory_order_relaxed) == self(); }

 private:
  // A per-thread address that never changes while the thread lives, the same in every library:
  // the thread pointer where the compiler gives it for free, else the address of a thread-local
  // of this library (one definition, so all callers agree).
  static const void* self() {
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__aarch64__))
    return __builtin_thread_pointer();
#else
    return threadTag();
#endif
  }
  static const void* threadTag();
  void lockContended();  // spins, then sleeps, until the lock is taken
  void wakeOne();

  std::atomic<uint32_t> state_{0};     // 1 while held
  std::atomic<uint32_t> sleepers_{0};  // threads asleep (or about to sleep) on state_
  // Only the holder writes owner_; another thread can never read its own address there, so
  // relaxed order is enough for the "is it me?" test.
  std::atomic<const void*> owner_{nullptr};
  unsigned depth_ = 0;  // guarded by the lock
};

class AGSI_HOST_API Host {
 public:
  static Host& instance() {
    // Asked for by every host function the plug-in calls: a load, not a call, once it exists.
    if (Host* h = made_.load(std::memory_order_acquire)) return *h;
    return make();
  }

  // ---- Set-up by the host program --------------------------------------------------------
  // The target behind the address space; null means a plain sparse memory of the host's own.
  void setTarget(Target* target);
  // Forgets every definition, watch, VTR, symbol, menu entry, message and timer (between tests).
  void clear();
  // Forgets what points into the plug-in's code or data (watches, timers, menu entries, interrupt
  // records, the exec call-back) before its library is unloaded; VTRs, SFR definitions, symbols
  // and messages stay.
  void forgetPlugin();
  HostMutex& mutex() const { return mutex_; }

  // The handle to put in AGSICONFIG.hInstance: the plug-in looks the host functions up on it.
  void* moduleHandle();

  // ---- Firmware side (the target calls these for the firmware's own accesses) ---------------
  // After a firmware store of size bytes at address: fires the write watches covering it, with
  // AgsiIsSimulatorAccess() true while they run.
  void firmwareWrote(uint32_t address, uint32_t size);
  // The same, when the target already knows the 32-bit word at (address & ~3) after the store
  // (for a GPIO pin register: the pins' levels, as Target::read would return them). A register
  // watch on that word then takes it instead of reading the register back, and AgsiReadSFR on
  // it from the call-backs answers from it.
  void firmwareWrote(uint32_t address, uint32_t size, uint32_t wordAfter);
  // After a store that is not the firmware's (the user editing memory in a debugger window):
  // fires the write watches covering it with AgsiIsSimulatorAccess() false.
  void debuggerWrote(uint32_t address, uint32_t size);
  // Whether the plug-in's own AgsiWriteSFR fires the write watches on that register, as a
  // simulator that reports every change of a watched register does (off by default; clear()
  // turns it off again).
  void setPluginWritesFireWatches(bool fire);
  // Before a firmware load: fires the read watches covering it. Returns the value a call-back
  // set with AgsiSetSFRReadValue, if any, which is what the firmware then reads.
  std::optional<uint32_t> firmwareRead(uint32_t address, uint32_t size);
  // Cheap test whether any SFR or memory watch covers the range (the simulator's fast path).
  bool watched(uint32_t address, uint32_t size) const;

  // ---- Virtual registers ------------------------------------------------------------------
  std::optional<uint32_t> vtrHandle(const std::string& name) const;
  std::optional<uint32_t> readVtr(const std::string& name) const;
  // Writes a VTR as the simulator does (e.g. SSP1_OUT when the firmware writes SSP1DR): the
  // target is told and VT write watches fire. False if no such VTR is defined.
  bool writeVtr(const std::string& name, uint32_t value, bool simulatorAccess = true);
  std::vector<VtrInfo> vtrs() const;

  // ---- What the plug-in defined -------------------------------------------------------------
  std::vector<SfrDefinition> sfrs() const;
  std::vector<AGSIMENU*> menuEntries() const;
  std::vector<AGSIINTERRUPT> interrupts() const;

  // ---- Symbols (from the firmware's ELF file, or set by tests) ---------------------------------
  void addSymbol(const Symbol& symbol);
  void clearSymbols();

  // ---- Messages (AgsiMessage) ---------------------------------------------------------------
  // Every message also goes to the sink, if one is set (called with the host lock held).
  void setMessageSink(std::function<void(const std::string&)> sink);
  std::vector<std::string> messages() const;
  std::string output() const;  // all messages joined
  void clearMessages();

  // ---- Timers (AgsiCreateTimer/AgsiSetTimer) --------------------------------------------------
  // The simulator calls this as simulated time passes; due timer call-backs fire.
  void advanceTo(uint64_t states);
  // The earliest state count at which a timer is due, or UINT64_MAX.
  uint64_t nextTimerDue() const;

  // ---- Focus, time, reset requests -----------------------------------------------------------
  void* focusWindow() const;          // last window passed to AgsiHandleFocus
  uint64_t resetRequests() const;     // how often AgsiTriggerReset was called
  uint64_t stopRequests() const;      // how often AgsiStopSimulator was called
  // Test hosts without a target set simulated time directly.
  void setTime(double seconds, uint64_t states);

  // ---- Implementation of the exported functions (called by the C shims) ----------------------
  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  Host();
  ~Host();
  static Host& make();
  static std::atomic<Host*> made_;
  mutable HostMutex mutex_;
  Impl* impl_;
};

// Loads a plug-in library (libKorvel.so) and calls its AgsiEntry.
class AGSI_HOST_API Plugin {
 public:
  Plugin() = default;
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // False with a one-line reason in *error when the file is missing, cannot be loaded or has no
  // AgsiEntry.
  bool load(const std::filesystem::path& path, std::string* error);
  bool loaded() const { return entry_ != nullptr; }
  const std::filesystem::path& path() const { return path_; }
  uint32_t entry(uint32_t code, void* record);

  uint32_t check(uint32_t targetKind = AGSI_TARGET_KIND_CORTEX_M);
  // Fills an AGSICONFIG with the host's module handle and calls the initialise code.
  uint32_t init(const std::string& appFile = "");
  uint32_t reset();
  uint32_t terminate();
  // Unloads the library (its static destructors run: settings written, key poller stopped).
  void unload();

 private:
  std::filesystem::path path_;
  void* handle_ = nullptr;
  PFN_AgsiEntry entry_ = nullptr;
  AGSICONFIG config_{};
  std::string appFile_;
};

}  // namespace agsi_host
