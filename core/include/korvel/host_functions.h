// The host's functions as the core has bound them, in a fixed slot order. Modules get the
// table from getAgsi() and may index it by position, so the order never changes.
#pragma once

#include "korvel/agsi.h"
#include "korvel/api.h"

struct HostFunctionTable {
  PFN_AgsiDefineSFR AgsiDefineSFR;                            // 0
  PFN_AgsiDefineVTR AgsiDefineVTR;                            // 1
  PFN_AgsiSetWatchOnSFR AgsiSetWatchOnSFR;                    // 2
  PFN_AgsiSetWatchOnVTR AgsiSetWatchOnVTR;                    // 3
  PFN_AgsiSetWatchOnMemory AgsiSetWatchOnMemory;              // 4
  PFN_AgsiCreateTimer AgsiCreateTimer;                        // 5
  PFN_AgsiDefineMenuItem AgsiDefineMenuItem;                  // 6
  PFN_AgsiRegisterExecCallBack AgsiRegisterExecCallBack;      // 7 (may be missing)
  PFN_AgsiWriteSFR AgsiWriteSFR;                              // 8
  PFN_AgsiReadSFR AgsiReadSFR;                                // 9
  PFN_AgsiWriteVTR AgsiWriteVTR;                              // 10
  PFN_AgsiReadVTR AgsiReadVTR;                                // 11
  PFN_AgsiSetSFRReadValue AgsiSetSFRReadValue;                // 12
  PFN_AgsiReadMemory AgsiReadMemory;                          // 13
  PFN_AgsiWriteMemory AgsiWriteMemory;                        // 14
  PFN_AgsiGetLastMemoryAddress AgsiGetLastMemoryAddress;      // 15
  PFN_AgsiIsSimulatorAccess AgsiIsSimulatorAccess;            // 16
  PFN_AgsiSetTimer AgsiSetTimer;                              // 17
  PFN_AgsiGetStates AgsiGetStates;                            // 18
  PFN_AgsiGetProgramCounter AgsiGetProgramCounter;            // 19
  PFN_AgsiDeclareInterrupt AgsiDeclareInterrupt;              // 20
  PFN_IsInterruptActive IsInterruptActive;                    // 21 (the core's own)
  PFN_SetInterruptPending SetInterruptPending;                // 22 (the core's own)
  PFN_AgsiIsSleeping AgsiIsSleeping;                          // 23
  PFN_AgsiStopSimulator AgsiStopSimulator;                    // 24
  PFN_AgsiTriggerReset AgsiTriggerReset;                      // 25
  PFN_AgsiUpdateWindows AgsiUpdateWindows;                    // 26
  PFN_AgsiHandleFocus AgsiHandleFocus;                        // 27
  PFN_AgsiGetExternalClockRate AgsiGetExternalClockRate;      // 28
  PFN_AgsiGetInternalClockRate AgsiGetInternalClockRate;      // 29
  PFN_AgsiGetClockFactor AgsiGetClockFactor;                  // 30
  PFN_AgsiMessage AgsiMessage;                                // 31
  PFN_AgsiGetTargetKey AgsiGetTargetKey;                      // 32
  PFN_AgsiSetTargetKey AgsiSetTargetKey;                      // 33
  PFN_AgsiGetSymbolByName AgsiGetSymbolByName;                // 34
  PFN_AgsiGetSymbolByValue AgsiGetSymbolByValue;              // 35
  PFN_AgsiGetTime AgsiGetTime;                                // 36
  PFN_AgsiGetExtInfo AgsiGetExtInfo;                          // 37 (may be missing)
  PFN_AgsiExecuteCommand AgsiExecuteCommand;                  // 38
  void* hostModule;                                           // the handle the names were bound on
};

extern "C" {
// The one table; valid (non-null entries) once the host's initialisation call has bound it.
KORVEL_API HostFunctionTable* getAgsi(void);
// The core's entry point, called by the host.
KORVEL_API uint32_t AgsiEntry(uint32_t code, void* record);
// Frees the component modules before the host unloads the core (see entry.cpp).
KORVEL_API void KorvelUnload(void);
}
