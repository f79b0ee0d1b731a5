// The scriptable host for tests: plays the firmware's register accesses against the real plug-in
// libraries through libAgsiHost.so ("firmware writes 0x21 to 0x40048004") and reads back VTRs,
// memory, messages and menu entries.
//
// There is one Host per process, so there is one TestHost at a time: it clears the host when it is
// made and when it goes, and unloads its plug-in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agsi_host/host.h"
#include "korvel_test/staged_tree.h"

namespace korvel_test {

class TestHost {
 public:
  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  agsi_host::Host& host() { return agsi_host::Host::instance(); }

  // ---- The firmware's side ----------------------------------------------------------------
  // A firmware store: the bytes land in memory, then the write watches covering them fire.
  void firmwareWrite(uint32_t address, uint32_t value, uint32_t size = 4);
  // A firmware load: the read watches fire; returns what a call-back set with
  // AgsiSetSFRReadValue, else what memory holds.
  uint32_t firmwareRead(uint32_t address, uint32_t size = 4);
  // Memory as it is, without firing anything (little-endian, size 1 to 4).
  uint32_t peek(uint32_t address, uint32_t size = 4);
  void poke(uint32_t address, uint32_t value, uint32_t size = 4);
  // A store made from the debugger (not the firmware): the write watches fire with
  // AgsiIsSimulatorAccess() false.
  void debuggerWrite(uint32_t address, uint32_t value, uint32_t size = 4);

  // ---- Virtual registers ------------------------------------------------------------------
  std::optional<uint32_t> vtr(const std::string& name) const;
  // The simulator's write (watches see AgsiIsSimulatorAccess true unless told otherwise).
  bool writeVtr(const std::string& name, uint32_t value, bool simulatorAccess = true);

  // ---- Messages ----------------------------------------------------------------------------
  std::vector<std::string> messages() const;
  std::string output() const;
  void clearMessages();
  // Called for every message as it comes (with the host lock held).
  void onMessage(std::function<void(const std::string&)> sink);

  // ---- Symbols and time ---------------------------------------------------------------------
  void addSymbol(const std::string& name, uint32_t address, uint32_t type = AGSI_SYMTYPE_UCHAR);
  // Sets simulated time; states default to seconds at the 100 MHz core clock. Due timers fire.
  void setTime(double seconds);
  void setTime(double seconds, uint64_t states);

  // ---- The plug-in ---------------------------------------------------------------------------
  bool loadPlugin(const std::filesystem::path& path, std::string* error);
  agsi_host::Plugin& plugin() { return plugin_; }
  uint32_t check() { return plugin_.check(); }
  uint32_t init(const std::string& appFile = "") { return plugin_.init(appFile); }
  uint32_t reset() { return plugin_.reset(); }
  uint32_t terminate() { return plugin_.terminate(); }
  // Unloads the plug-in and checks that its file left the process (the next copy's modules would
  // otherwise bind to it); false with a one-line reason if it is still mapped.
  bool unloadPlugin(std::string* error = nullptr);
  // True if a file with this path is mapped into the process (a loaded library).
  static bool libraryIsLoaded(const std::filesystem::path& path);

  // ---- Menu entries ------------------------------------------------------------------------------
  std::vector<AGSIMENU*> menuEntries() const;
  // Calls the select function of the entry with this text; false if there is none.
  bool selectMenu(const std::string& text);

 private:
  agsi_host::Plugin plugin_;
};

}  // namespace korvel_test
