// The host functions the plug-in binds by name on the module handle. Each takes the host lock
// and works on the one Host; the static_asserts keep every signature identical to the
// function-pointer type the plug-in calls it through.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "agsi_host/functions.h"
#include "host_impl.h"

using agsi_host::Host;
using agsi_host::gHost;
using agsi_host::gImpl;

namespace {

// The plug-in calls in only after the host program made the Host (it loads the plug-in through it).
Host& host() { return gHost != nullptr ? *gHost : Host::instance(); }
Host::Impl& impl() { return gImpl != nullptr ? *gImpl : Host::instance().impl(); }

using Lock = std::lock_guard<agsi_host::HostMutex>;

}  // namespace

#define AGSI_EXPORT extern "C" AGSI_HOST_API
#define SAME_SIGNATURE(name) \
  static_assert(std::is_same_v<decltype(&name), PFN_##name>, #name " must match its pointer type")

AGSI_EXPORT int AgsiDefineSFR(const char* name, uint32_t address, uint32_t type, uint8_t bitpos) {
  Lock lock(host().mutex());
  if (name == nullptr) return 0;
  for (auto& s : impl().sfrs) {
    if (s.name == name) {
      s = {name, address, type, bitpos};
      return 1;
    }
  }
  impl().sfrs.push_back({name, address, type, bitpos});
  return 1;
}
SAME_SIGNATURE(AgsiDefineSFR);

AGSI_EXPORT uint32_t AgsiDefineVTR(const char* name, uint32_t type, uint32_t init) {
  Lock lock(host().mutex());
  return impl().defineVtr(name, type, init);
}
SAME_SIGNATURE(AgsiDefineVTR);

AGSI_EXPORT int AgsiSetWatchOnSFR(uint32_t address, AGSICALLBACK cb, uint32_t access) {
  Lock lock(host().mutex());
  // A register watch covers the whole 32-bit register: byte and half-word accesses to any of its
  // lanes reach it.
  uint32_t last = address > UINT32_MAX - 3 ? UINT32_MAX : address + 3;
  return impl().addWatch(address, last, cb, access, true) ? 1 : 0;
}
SAME_SIGNATURE(AgsiSetWatchOnSFR);

AGSI_EXPORT int AgsiSetWatchOnVTR(uint32_t vtr, AGSICALLBACK cb, uint32_t access) {
  Lock lock(host().mutex());
  auto* v = impl().vtr(vtr);
  if (v == nullptr || cb == nullptr || access > AGSIREADWRITE) return 0;
  for (const auto& w : v->watches)
    if (w.callBack == cb && w.access == access) return 1;
  v->watches.push_back({cb, access});
  return 1;
}
SAME_SIGNATURE(AgsiSetWatchOnVTR);

AGSI_EXPORT int AgsiSetWatchOnMemory(uint32_t first, uint32_t last, AGSICALLBACK cb, uint32_t access) {
  Lock lock(host().mutex());
  return impl().addWatch(first, last, cb, access, false) ? 1 : 0;
}
SAME_SIGNATURE(AgsiSetWatchOnMemory);

AGSI_EXPORT AGSITIMER AgsiCreateTimer(AGSITIMERCALLBACK cb) {
  Lock lock(host().mutex());
  if (cb == nullptr) return nullptr;
  impl().timers.push_back(std::make_unique<Host::Impl::Timer>(Host::Impl::Timer{cb}));
  return impl().timers.back().get();
}
SAME_SIGNATURE(AgsiCreateTimer);

AGSI_EXPORT int AgsiDefineMenuItem(AGSIMENU* menu) {
  Lock lock(host().mutex());
  if (menu == nullptr) return 0;
  auto& menus = impl().menus;
  if (std::find(menus.begin(), menus.end(), menu) == menus.end()) menus.push_back(menu);
  return 1;
}
SAME_SIGNATURE(AgsiDefineMenuItem);

AGSI_EXPORT int AgsiRegisterExecCallBack(void (*cb)(uint32_t pc)) {
  Lock lock(host().mutex());
  impl().execCallBack = cb;  // kept, never called: no host here traces single instructions
  return 1;
}
SAME_SIGNATURE(AgsiRegisterExecCallBack);

AGSI_EXPORT int AgsiWriteSFR(uint32_t address, uint32_t value, uint32_t mask) {
  Lock lock(host().mutex());
  auto old = impl().read32(address);
  if (!old) return 0;
  uint32_t now = (*old & ~mask) | (value & mask);
  impl().targetMayHaveChanged();
  if (!impl().write32(address, now)) return 0;
  auto& r = impl().registerAt(address);
  r.previous = *old;
  r.hasPrevious = true;
  r.shadow = now;
  r.seen = true;
  if (impl().pluginWritesFireWatches) impl().fireEveryOverlapping(address, 4, true);
  return 1;
}
SAME_SIGNATURE(AgsiWriteSFR);

namespace {
// Everything else AgsiReadSFR answers, kept apart so that the short way stays short.
[[gnu::noinline]] int readSfrLocked(uint32_t address, uint32_t* current, uint32_t* previous, uint32_t mask);
}

AGSI_EXPORT int AgsiReadSFR(uint32_t address, uint32_t* current, uint32_t* previous, uint32_t mask) {
  Host& h = host();
  // The usual case first: a pin watch asking for the register its store just wrote. Its thread
  // holds the lock for the whole call-back, so the lock need not be taken again to look.
  if (h.mutex().heldHere()) {
    // The record of the register the store wrote holds that value as the last one seen.
    const auto* r = h.impl().known.record;
    if (r != nullptr && r->address == address) {
      if (current != nullptr) *current = r->shadow & mask;
      if (previous != nullptr) *previous = (r->hasPrevious ? r->previous : r->shadow) & mask;
      return 1;
    }
  }
  return readSfrLocked(address, current, previous, mask);
}
SAME_SIGNATURE(AgsiReadSFR);

namespace {
int readSfrLocked(uint32_t address, uint32_t* current, uint32_t* previous, uint32_t mask) {
  Lock lock(host().mutex());
  auto& m = impl();
  // From a store's own call-back the host was just told the register's value: no read-back.
  const bool known = m.known.valid && m.known.address == address;
  auto now = known ? std::optional<uint32_t>(m.known.value) : m.read32(address);
  if (!now) return 0;
  const auto* r = known && m.known.record != nullptr ? m.known.record : m.findRegister(address);
  uint32_t before = r != nullptr && r->hasPrevious ? r->previous : *now;
  if (current != nullptr) *current = *now & mask;
  if (previous != nullptr) *previous = before & mask;
  return 1;
}
}  // namespace

AGSI_EXPORT int AgsiWriteVTR(uint32_t vtr, uint32_t value) {
  Lock lock(host().mutex());
  return impl().writeVtr(vtr, value, false) ? 1 : 0;
}
SAME_SIGNATURE(AgsiWriteVTR);

AGSI_EXPORT int AgsiReadVTR(uint32_t vtr, uint32_t* value) {
  Lock lock(host().mutex());
  auto* v = impl().vtr(vtr);
  if (v == nullptr || value == nullptr) return 0;
  *value = v->value;
  return 1;
}
SAME_SIGNATURE(AgsiReadVTR);

AGSI_EXPORT int AgsiSetSFRReadValue(uint32_t value) {
  Lock lock(host().mutex());
  if (impl().readOverride == nullptr) return 0;  // only a running read watch has a load to answer
  *impl().readOverride = value;
  return 1;
}
SAME_SIGNATURE(AgsiSetSFRReadValue);

AGSI_EXPORT int AgsiReadMemory(uint32_t address, uint32_t count, uint8_t* buffer) {
  Lock lock(host().mutex());
  if (buffer == nullptr && count != 0) return 0;
  bool all = true;
  for (uint32_t i = 0; i < count; ++i) {
    if (!impl().target->read(address + i, 1, buffer + i)) {
      buffer[i] = 0;
      all = false;
    }
  }
  return all ? 1 : 0;
}
SAME_SIGNATURE(AgsiReadMemory);

AGSI_EXPORT int AgsiWriteMemory(uint32_t address, uint32_t count, uint8_t* buffer) {
  Lock lock(host().mutex());
  if (buffer == nullptr && count != 0) return 0;
  impl().targetMayHaveChanged();
  bool all = true;
  for (uint32_t i = 0; i < count; ++i)
    if (!impl().target->write(address + i, 1, buffer + i)) all = false;
  return all ? 1 : 0;
}
SAME_SIGNATURE(AgsiWriteMemory);

AGSI_EXPORT uint32_t AgsiGetLastMemoryAddress(void) {
  Lock lock(host().mutex());
  return impl().lastAddress;
}
SAME_SIGNATURE(AgsiGetLastMemoryAddress);

AGSI_EXPORT int AgsiIsSimulatorAccess(void) {
  // Call-backs the firmware caused run with the lock held on the firmware's thread: a thread that
  // does not hold it is in none of them, and the one that does reads its own state.
  if (!host().mutex().heldHere()) return 0;
  return impl().simulatorAccessDepth > 0 ? 1 : 0;
}
SAME_SIGNATURE(AgsiIsSimulatorAccess);

AGSI_EXPORT int AgsiSetTimer(AGSITIMER timer, uint32_t states) {
  Lock lock(host().mutex());
  auto* t = impl().timer(timer);
  if (t == nullptr) return 0;
  // All ones disarms the timer; any other count arms it that many states from now.
  t->due = states == UINT32_MAX ? Host::Impl::kNever : impl().target->states() + states;
  impl().updateNextDue();
  return 1;
}
SAME_SIGNATURE(AgsiSetTimer);

AGSI_EXPORT uint64_t AgsiGetStates(void) {
  Lock lock(host().mutex());
  return impl().target->states();
}
SAME_SIGNATURE(AgsiGetStates);

AGSI_EXPORT uint32_t AgsiGetProgramCounter(void) {
  Lock lock(host().mutex());
  return impl().target->programCounter();
}
SAME_SIGNATURE(AgsiGetProgramCounter);

AGSI_EXPORT int AgsiDeclareInterrupt(AGSIINTERRUPT* irq) {
  Lock lock(host().mutex());
  if (irq == nullptr) return 0;
  impl().interrupts.push_back(*irq);
  return 1;
}
SAME_SIGNATURE(AgsiDeclareInterrupt);

AGSI_EXPORT int AgsiIsSleeping(void) {
  Lock lock(host().mutex());
  return impl().target->sleeping() ? 1 : 0;
}
SAME_SIGNATURE(AgsiIsSleeping);

AGSI_EXPORT void AgsiStopSimulator(void) {
  Lock lock(host().mutex());
  ++impl().stops;
  impl().target->stopSimulation();
}
SAME_SIGNATURE(AgsiStopSimulator);

AGSI_EXPORT void AgsiTriggerReset(void) {
  Lock lock(host().mutex());
  ++impl().resets;
  impl().targetMayHaveChanged();
  impl().target->triggerReset();
}
SAME_SIGNATURE(AgsiTriggerReset);

AGSI_EXPORT void AgsiUpdateWindows(void) {
  Lock lock(host().mutex());  // the host's own windows refresh on their own timer
}
SAME_SIGNATURE(AgsiUpdateWindows);

AGSI_EXPORT void AgsiHandleFocus(void* window) {
  Lock lock(host().mutex());
  impl().focus = window;
}
SAME_SIGNATURE(AgsiHandleFocus);

AGSI_EXPORT uint32_t AgsiGetExternalClockRate(void) {
  Lock lock(host().mutex());
  return impl().target->externalClockHz();
}
SAME_SIGNATURE(AgsiGetExternalClockRate);

AGSI_EXPORT uint32_t AgsiGetInternalClockRate(void) {
  Lock lock(host().mutex());
  return impl().target->clockHz();
}
SAME_SIGNATURE(AgsiGetInternalClockRate);

AGSI_EXPORT double AgsiGetClockFactor(void) {
  Lock lock(host().mutex());
  // The core clock as a multiple of the crystal (the PLL's overall factor).
  uint32_t crystal = impl().target->externalClockHz();
  return crystal == 0 ? 1.0 : static_cast<double>(impl().target->clockHz()) / crystal;
}
SAME_SIGNATURE(AgsiGetClockFactor);

AGSI_EXPORT void AgsiMessage(const char* format, ...) {
  Lock lock(host().mutex());
  if (format == nullptr) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  if (length < 0) text = format;  // an encoding error: keep the raw format rather than nothing
  impl().message(std::move(text));
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"  // the printf-format check is not part of the type
SAME_SIGNATURE(AgsiMessage);
#pragma GCC diagnostic pop

AGSI_EXPORT int AgsiGetTargetKey(uint32_t key) {
  Lock lock(host().mutex());
  auto it = impl().targetKeys.find(key);
  return it != impl().targetKeys.end() ? it->second : 0;
}
SAME_SIGNATURE(AgsiGetTargetKey);

AGSI_EXPORT int AgsiSetTargetKey(uint32_t key, int value) {
  Lock lock(host().mutex());
  impl().targetKeys[key] = value;
  return 1;
}
SAME_SIGNATURE(AgsiSetTargetKey);

AGSI_EXPORT uint32_t AgsiGetSymbolByName(AGSISYMDSC* symbol) {
  Lock lock(host().mutex());
  if (symbol == nullptr) return 0;
  std::string name(symbol->szName, strnlen(symbol->szName, sizeof symbol->szName));
  for (const auto& s : impl().symbols) {
    if (s.name == name) {
      symbol->val = s.address;
      symbol->type = s.type;
      symbol->ok = 1;
      return 1;
    }
  }
  symbol->ok = 0;
  return 0;
}
SAME_SIGNATURE(AgsiGetSymbolByName);

AGSI_EXPORT uint32_t AgsiGetSymbolByValue(AGSISYMDSC* symbol) {
  Lock lock(host().mutex());
  if (symbol == nullptr) return 0;
  for (const auto& s : impl().symbols) {
    if (s.address == static_cast<uint32_t>(symbol->val)) {
      size_t n = std::min(s.name.size(), sizeof symbol->szName - 1);
      std::memcpy(symbol->szName, s.name.data(), n);
      symbol->szName[n] = '\0';
      symbol->type = s.type;
      symbol->ok = 1;
      return 1;
    }
  }
  symbol->ok = 0;
  return 0;
}
SAME_SIGNATURE(AgsiGetSymbolByValue);

AGSI_EXPORT double AgsiGetTime(void) {
  Lock lock(host().mutex());
  return impl().target->seconds();
}
SAME_SIGNATURE(AgsiGetTime);

AGSI_EXPORT void* AgsiGetExtInfo(void* info) {
  Lock lock(host().mutex());
  return nullptr;  // no extended information to offer
}
SAME_SIGNATURE(AgsiGetExtInfo);

AGSI_EXPORT int AgsiExecuteCommand(const char* command) {
  Lock lock(host().mutex());
  return 0;  // there is no command line to run it on: say so rather than pretend
}
SAME_SIGNATURE(AgsiExecuteCommand);
