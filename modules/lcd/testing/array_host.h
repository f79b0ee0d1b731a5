// A minimal in-process AGSI host for unit tests and benchmarks of the LCD and touch modules:
// registers, virtual registers and watches in plain arrays behind the host functions, with no
// locking and no simulator. Fill a HostFunctionTable with install() and play the firmware's
// accesses with firmwareWrite()/firmwareRead().
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "korvel/host_functions.h"

namespace korvel_testing {

class ArrayHost {
 public:
  struct Sfr {
    std::string name;
    uint32_t address;
    uint32_t value;
  };
  struct Vtr {
    std::string name;
    uint32_t type;
    uint32_t value;
  };
  struct Watch {
    uint32_t address;  // SFR address, or VTR handle for VTR watches
    AGSICALLBACK callback;
    uint32_t access;
    bool onVtr;
  };

  static inline std::vector<Sfr> sfrs;
  static inline std::vector<Vtr> vtrs;  // handle = index + 1
  static inline std::vector<Watch> watches;
  static inline int simulatorAccess = 0;
  static inline bool readValueSet = false;
  static inline uint32_t readValue = 0;

  static void clear() {
    sfrs.clear();
    vtrs.clear();
    watches.clear();
    simulatorAccess = 0;
    readValueSet = false;
    readValue = 0;
  }

  // Points every function this host provides into table (the others stay as they were).
  static void install(HostFunctionTable& t) {
    t.AgsiDefineSFR = &defineSfr;
    t.AgsiDefineVTR = &defineVtr;
    t.AgsiSetWatchOnSFR = &watchSfr;
    t.AgsiSetWatchOnVTR = &watchVtr;
    t.AgsiReadSFR = &readSfr;
    t.AgsiWriteSFR = &writeSfr;
    t.AgsiReadVTR = &readVtr;
    t.AgsiWriteVTR = &writeVtrFn;
    t.AgsiSetSFRReadValue = &setReadValue;
    t.AgsiIsSimulatorAccess = &isSimulatorAccess;
  }

  // ---- Firmware side ----------------------------------------------------------------------
  // A store by the simulated program: the register takes the value and write watches fire.
  static void firmwareWrite(uint32_t address, uint32_t value) {
    sfr(address).value = value;
    fire(address, false, AGSI_WRITE);
  }
  // The same store made by the debugger: watches fire, but not as a simulator access.
  static void debuggerWrite(uint32_t address, uint32_t value) {
    sfr(address).value = value;
    simulatorAccess = 0;
    for (const Watch& w : watches)
      if (!w.onVtr && w.address == address && w.access != AGSIREAD) w.callback(address, AGSI_WRITE);
  }
  // A load by the simulated program: read watches fire; a value a call-back set wins.
  static uint32_t firmwareRead(uint32_t address) {
    readValueSet = false;
    fire(address, false, AGSI_READ);
    return readValueSet ? readValue : sfr(address).value;
  }
  // The simulator writes a VTR (e.g. SSP1_OUT after the firmware wrote the SSP data register).
  static void simulatorWriteVtr(const std::string& name, uint32_t value) {
    for (size_t i = 0; i < vtrs.size(); ++i)
      if (vtrs[i].name == name) {
        vtrs[i].value = value;
        fire(static_cast<uint32_t>(i + 1), true, AGSI_VT_WRITE);
        return;
      }
  }
  // Value of a VTR by name. Several modules define PORT2; like a real host, this one gives
  // them all the same register.
  static uint32_t vtr(const std::string& name) {
    for (const Vtr& v : vtrs)
      if (v.name == name) return v.value;
    return 0;
  }

  static Sfr& sfr(uint32_t address) {
    for (Sfr& s : sfrs)
      if (s.address == address) return s;
    sfrs.push_back({"", address, 0});
    return sfrs.back();
  }

 private:
  static void fire(uint32_t address, bool onVtr, uint32_t reason) {
    const int saved = simulatorAccess;
    simulatorAccess = 1;
    for (size_t i = 0; i < watches.size(); ++i) {
      const Watch w = watches[i];
      const bool wanted = reason == AGSI_READ ? w.access != AGSIWRITE : w.access != AGSIREAD;
      if (w.onVtr == onVtr && w.address == address && wanted) w.callback(address, reason);
    }
    simulatorAccess = saved;
  }
  // 0 for a handle this host never gave out.
  static uint32_t canonical(uint32_t handle) { return handle <= vtrs.size() ? handle : 0; }

  static int defineSfr(const char* name, uint32_t address, uint32_t, uint8_t) {
    sfr(address).name = name;
    return 1;
  }
  static uint32_t defineVtr(const char* name, uint32_t type, uint32_t init) {
    for (size_t i = 0; i < vtrs.size(); ++i)
      if (vtrs[i].name == name) return static_cast<uint32_t>(i + 1);
    vtrs.push_back({name, type, init});
    return static_cast<uint32_t>(vtrs.size());
  }
  static int watchSfr(uint32_t address, AGSICALLBACK cb, uint32_t access) {
    watches.push_back({address, cb, access, false});
    return 1;
  }
  static int watchVtr(uint32_t handle, AGSICALLBACK cb, uint32_t access) {
    if (canonical(handle) == 0) return 0;
    watches.push_back({canonical(handle), cb, access, true});
    return 1;
  }
  static int readSfr(uint32_t address, uint32_t* current, uint32_t* previous, uint32_t mask) {
    // The two pin registers come first in sfrs, so the common case ends in one or two steps.
    for (const Sfr& s : sfrs)
      if (s.address == address) {
        *current = s.value & mask;
        if (previous) *previous = *current;
        return 1;
      }
    return 0;
  }
  static int writeSfr(uint32_t address, uint32_t value, uint32_t mask) {
    Sfr& s = sfr(address);
    s.value = (s.value & ~mask) | (value & mask);
    return 1;
  }
  static int readVtr(uint32_t handle, uint32_t* value) {
    const uint32_t h = canonical(handle);
    if (h == 0) return 0;
    *value = vtrs[h - 1].value;
    return 1;
  }
  static int writeVtrFn(uint32_t handle, uint32_t value) {
    const uint32_t h = canonical(handle);
    if (h == 0) return 0;
    vtrs[h - 1].value = value;
    return 1;
  }
  static int setReadValue(uint32_t value) {
    readValueSet = true;
    readValue = value;
    return 1;
  }
  static int isSimulatorAccess() { return simulatorAccess; }
};

}  // namespace korvel_testing
