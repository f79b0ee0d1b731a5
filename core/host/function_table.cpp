#include "host/function_table.h"

#include "korvel/platform/platform.h"

namespace korvel {
namespace {

HostFunctionTable table{};

// NVIC: interrupt active bit registers start at 0xE000E300, set-pending at 0xE000E200, one bit
// per interrupt in consecutive 32-bit words.
constexpr uint32_t kNvicActive = 0xE000E300;
constexpr uint32_t kNvicSetPending = 0xE000E200;

struct Slot {
  const char* name;
  void** field;
  bool optional;
};

}  // namespace

uint32_t isInterruptActive(uint32_t irq) {
  uint32_t w = irq / 32, b = irq % 32;
  uint32_t current = 0, previous = 0;
  if (table.AgsiReadSFR == nullptr) return 0;
  table.AgsiReadSFR(kNvicActive + 4 * w, &current, &previous, 1u << b);
  return current >> b;
}

uint32_t setInterruptPending(uint32_t irq) {
  uint32_t w = irq / 32, b = irq % 32;
  if (table.AgsiWriteSFR == nullptr) return 0;
  return static_cast<uint32_t>(table.AgsiWriteSFR(kNvicSetPending + 4 * w, 1u << b, 1u << b));
}

bool bindHostFunctions(void* hostModule, std::string* missing) {
  HostFunctionTable t{};
#define SLOT(n, opt) Slot{#n, reinterpret_cast<void**>(&t.n), opt}
  // AgsiDeclareInterrupt is looked up third, as the host expects; the rest in slot order.
  const Slot slots[] = {
      SLOT(AgsiDefineSFR, false),          SLOT(AgsiDefineVTR, false),
      SLOT(AgsiDeclareInterrupt, false),   SLOT(AgsiSetWatchOnSFR, false),
      SLOT(AgsiSetWatchOnVTR, false),      SLOT(AgsiSetWatchOnMemory, false),
      SLOT(AgsiCreateTimer, false),        SLOT(AgsiDefineMenuItem, false),
      SLOT(AgsiRegisterExecCallBack, true), SLOT(AgsiWriteSFR, false),
      SLOT(AgsiReadSFR, false),            SLOT(AgsiWriteVTR, false),
      SLOT(AgsiReadVTR, false),            SLOT(AgsiSetSFRReadValue, false),
      SLOT(AgsiReadMemory, false),         SLOT(AgsiWriteMemory, false),
      SLOT(AgsiGetLastMemoryAddress, false), SLOT(AgsiIsSimulatorAccess, false),
      SLOT(AgsiSetTimer, false),           SLOT(AgsiGetStates, false),
      SLOT(AgsiGetProgramCounter, false),  SLOT(AgsiIsSleeping, false),
      SLOT(AgsiStopSimulator, false),      SLOT(AgsiTriggerReset, false),
      SLOT(AgsiUpdateWindows, false),      SLOT(AgsiHandleFocus, false),
      SLOT(AgsiGetExternalClockRate, false), SLOT(AgsiGetInternalClockRate, false),
      SLOT(AgsiGetClockFactor, false),     SLOT(AgsiMessage, false),
      SLOT(AgsiGetTargetKey, false),       SLOT(AgsiSetTargetKey, false),
      SLOT(AgsiGetSymbolByName, false),    SLOT(AgsiGetSymbolByValue, false),
      SLOT(AgsiGetTime, false),            SLOT(AgsiGetExtInfo, true),
      SLOT(AgsiExecuteCommand, false),
  };
#undef SLOT
  for (const Slot& s : slots) {
    *s.field = platform::findSymbol(hostModule, s.name);
    if (*s.field == nullptr && !s.optional) {
      if (missing != nullptr) *missing = s.name;
      return false;
    }
  }
  t.IsInterruptActive = &isInterruptActive;
  t.SetInterruptPending = &setInterruptPending;
  t.hostModule = hostModule;
  table = t;
  return true;
}

}  // namespace korvel

extern "C" KORVEL_API HostFunctionTable* getAgsi(void) { return &korvel::table; }
