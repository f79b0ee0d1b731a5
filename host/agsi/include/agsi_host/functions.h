// Declarations of the host functions that libAgsiHost.so exports, for host programs and tests
// that call them directly (the plug-in binds them by name instead).
#pragma once

#include "agsi_host/host.h"

extern "C" {
AGSI_HOST_API int AgsiDefineSFR(const char* name, uint32_t address, uint32_t type, uint8_t bitpos);
AGSI_HOST_API uint32_t AgsiDefineVTR(const char* name, uint32_t type, uint32_t init);
AGSI_HOST_API int AgsiSetWatchOnSFR(uint32_t address, AGSICALLBACK cb, uint32_t access);
AGSI_HOST_API int AgsiSetWatchOnVTR(uint32_t vtr, AGSICALLBACK cb, uint32_t access);
AGSI_HOST_API int AgsiSetWatchOnMemory(uint32_t first, uint32_t last, AGSICALLBACK cb, uint32_t access);
AGSI_HOST_API AGSITIMER AgsiCreateTimer(AGSITIMERCALLBACK cb);
AGSI_HOST_API int AgsiDefineMenuItem(AGSIMENU* menu);
AGSI_HOST_API int AgsiRegisterExecCallBack(void (*cb)(uint32_t pc));
AGSI_HOST_API int AgsiWriteSFR(uint32_t address, uint32_t value, uint32_t mask);
AGSI_HOST_API int AgsiReadSFR(uint32_t address, uint32_t* current, uint32_t* previous, uint32_t mask);
AGSI_HOST_API int AgsiWriteVTR(uint32_t vtr, uint32_t value);
AGSI_HOST_API int AgsiReadVTR(uint32_t vtr, uint32_t* value);
AGSI_HOST_API int AgsiSetSFRReadValue(uint32_t value);
AGSI_HOST_API int AgsiReadMemory(uint32_t address, uint32_t count, uint8_t* buffer);
AGSI_HOST_API int AgsiWriteMemory(uint32_t address, uint32_t count, uint8_t* buffer);
AGSI_HOST_API uint32_t AgsiGetLastMemoryAddress(void);
AGSI_HOST_API int AgsiIsSimulatorAccess(void);
AGSI_HOST_API int AgsiSetTimer(AGSITIMER timer, uint32_t states);
AGSI_HOST_API uint64_t AgsiGetStates(void);
AGSI_HOST_API uint32_t AgsiGetProgramCounter(void);
AGSI_HOST_API int AgsiDeclareInterrupt(AGSIINTERRUPT* irq);
AGSI_HOST_API int AgsiIsSleeping(void);
AGSI_HOST_API void AgsiStopSimulator(void);
AGSI_HOST_API void AgsiTriggerReset(void);
AGSI_HOST_API void AgsiUpdateWindows(void);
AGSI_HOST_API void AgsiHandleFocus(void* window);
AGSI_HOST_API uint32_t AgsiGetExternalClockRate(void);
AGSI_HOST_API uint32_t AgsiGetInternalClockRate(void);
AGSI_HOST_API double AgsiGetClockFactor(void);
AGSI_HOST_API void AgsiMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
AGSI_HOST_API int AgsiGetTargetKey(uint32_t key);
AGSI_HOST_API int AgsiSetTargetKey(uint32_t key, int value);
AGSI_HOST_API uint32_t AgsiGetSymbolByName(AGSISYMDSC* symbol);
AGSI_HOST_API uint32_t AgsiGetSymbolByValue(AGSISYMDSC* symbol);
AGSI_HOST_API double AgsiGetTime(void);
AGSI_HOST_API void* AgsiGetExtInfo(void* info);
AGSI_HOST_API int AgsiExecuteCommand(const char* command);
}
