// The run loop, memory, exceptions and faults of korvel-sim's own Cortex-M3 engine.
#include "core.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace korvel::sim::armv7m {

namespace {

constexpr uint32_t kPages = 1u << (32 - Core::kPageBits);
constexpr uint32_t kPageSize = 1u << Core::kPageBits;
constexpr uint32_t kCacheEntries = 1u << 16;  // 128 KiB of code without a conflict
constexpr uint32_t kExecuteNeverFrom = 0xE0000000;
constexpr uint32_t kNoTag = 1;  // odd: no instruction lives there

// Per-page flags.
enum : uint8_t { kMemory = 1, kExec = 2, kBusWindow = 4, kHasCode = 8, kWatched = 16 };

// The decode cache's entries are the Ops themselves, tagged with their address.
struct Entry {
  Op op;
};

struct Watch {
  uint32_t address, length;
  bool read, write;
};

}  // namespace

void undefined(Core& core, const Op&) { core.fault(FaultKind::UndefinedInstruction, "undefined instruction"); }

void breakpointMarker(Core& core, const Op& op);

struct Core::Impl final : CoreAccess {
  Core& core;
  // Indexed by page number; calloc'ed, so untouched pages of the tables cost no memory.
  uintptr_t* readPage;
  uintptr_t* writePage;
  uintptr_t* memPage;  // plain memory whatever the fast path says (0: none)
  uintptr_t* codePage;  // the memory instructions are fetched from, routed through the bus or not
  uint8_t* flags;
  std::unique_ptr<Entry[]> cache{new Entry[kCacheEntries]};
  std::map<uint32_t, Op> breakpoints;  // address -> the real instruction once decoded
  std::vector<Watch> watches;

  explicit Impl(Core& c)
      : core(c),
        readPage(static_cast<uintptr_t*>(std::calloc(kPages, sizeof(uintptr_t)))),
        writePage(static_cast<uintptr_t*>(std::calloc(kPages, sizeof(uintptr_t)))),
        memPage(static_cast<uintptr_t*>(std::calloc(kPages, sizeof(uintptr_t)))),
        codePage(static_cast<uintptr_t*>(std::calloc(kPages, sizeof(uintptr_t)))),
        flags(static_cast<uint8_t*>(std::calloc(kPages, 1))) {
    if (!readPage || !writePage || !memPage || !codePage || !flags) throw std::bad_alloc();
  }
  ~Impl() override {
    std::free(readPage), std::free(writePage), std::free(memPage), std::free(codePage), std::free(flags);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // The fast path's view of a page follows its flags.
  void refresh(uint32_t page) {
    uint8_t f = flags[page];
    bool plain = (f & kMemory) && !(f & kWatched);
    readPage[page] = plain ? memPage[page] : 0;
    writePage[page] = plain && !(f & kHasCode) ? memPage[page] : 0;
  }

  // ---- CoreAccess, for exception entry and return ----
  uint32_t reg(int n) override { return core.r_[n]; }
  void setReg(int n, uint32_t value) override { core.r_[n] = n == 15 ? value & ~1u : value; }
  uint32_t readWord(uint32_t address) override {
    uint32_t v = 0;
    if (!peek(address, 4, &v)) v = 0;
    return v;
  }
  void writeWord(uint32_t address, uint32_t value) override { poke(address, value, 4); }

  // Plain accesses without faults or cycles (stacking, the vector table, the debugger's view).
  bool peek(uint32_t address, uint32_t size, uint32_t* value) {
    uint32_t page = address >> kPageBitsImpl;
    if (memPage[page] && (address & (kPageSize - 1)) <= kPageSize - size) {
      *value = 0;
      std::memcpy(value, reinterpret_cast<const void*>(memPage[page] + address), size);
      return true;
    }
    if (flags[page] & kBusWindow) {
      core.cycles_.store(core.now_ + core.extra_, std::memory_order_relaxed);
      // Only the bytes asked for, whatever the model answers (as a narrower bus would).
      *value = core.bus_.busRead(address, size) & (size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1);
      core.noteStopRequest();
      return true;
    }
    return false;
  }
  bool poke(uint32_t address, uint32_t value, uint32_t size) {
    uint32_t page = address >> kPageBitsImpl;
    if (memPage[page] && (address & (kPageSize - 1)) <= kPageSize - size) {
      std::memcpy(reinterpret_cast<void*>(memPage[page] + address), &value, size);
      if (flags[page] & kHasCode) invalidate(address, size);
      return true;
    }
    if (flags[page] & kBusWindow) {
      core.cycles_.store(core.now_ + core.extra_, std::memory_order_relaxed);
      core.bus_.busWrite(address, value, size);
      core.noteStopRequest();
      // A RAM page routed through the bus may hold code that was decoded.
      if (flags[page] & kHasCode) invalidate(address, size);
      return true;
    }
    return false;
  }
  static constexpr uint32_t kPageBitsImpl = Core::kPageBits;

  void invalidate(uint32_t address, uint32_t size) {
    if (size >= 2 * kCacheEntries) {
      for (uint32_t i = 0; i < kCacheEntries; ++i) cache[i].op.tag = kNoTag;
      return;
    }
    // A 32-bit instruction that starts two bytes before also covers the address.
    uint32_t from = (address - 2) & ~1u, to = address + size;
    for (uint32_t a = from; a - from < to - from; a += 2) {
      Entry& e = cache[(a >> 1) & (kCacheEntries - 1)];
      if (e.op.tag == a) e.op.tag = kNoTag;
    }
  }

  // Decodes the instruction at pc into e; false (with the fault set) when it cannot be fetched.
  bool decode(uint32_t pc, Entry& e) {
    uint16_t hw1 = 0, hw2 = 0;
    if (!fetch(pc, &hw1)) return false;
    Op op;
    if (isThumb32(hw1)) {
      if (!fetch(pc + 2, &hw2)) return false;
      decode32(hw1, hw2, pc, op);
      op.raw = uint32_t(hw1) | uint32_t(hw2) << 16;
      op.len = 4;
    } else {
      decode16(hw1, pc, op);
      op.raw = hw1;
      op.len = 2;
    }
    if (!op.fn) op.fn = undefined;
    for (uint32_t p = pc >> kPageBitsImpl; p <= (pc + op.len - 1) >> kPageBitsImpl; ++p) {
      if (!(flags[p] & kHasCode)) flags[p] |= kHasCode, refresh(p);
    }
    if (!breakpoints.empty()) {
      auto b = breakpoints.find(pc);
      if (b != breakpoints.end()) {
        b->second = op;
        op.fn = breakpointMarker;
      }
    }
    op.tag = pc;
    e.op = op;
    return true;
  }

  bool fetch(uint32_t address, uint16_t* out) {
    uint32_t page = address >> kPageBitsImpl;
    if (codePage[page] && (flags[page] & kExec)) {
      std::memcpy(out, reinterpret_cast<const void*>(codePage[page] + address), 2);
      return true;
    }
    char b[64];
    bool neverExecutes = address >= kExecuteNeverFrom || (flags[page] & kMemory);
    // Worded as the Unicorn engine words it, so reports read the same whichever engine runs.
    std::snprintf(b, sizeof b, neverExecutes ? "instruction fetch from 0x%08X" : "instruction fetch from unmapped address 0x%08X",
                  address);
    core.fault(neverExecutes ? FaultKind::InstructionAccess : FaultKind::InstructionBus, b, address);
    return false;
  }

  bool inBusWindow(uint32_t address) const { return flags[address >> kPageBitsImpl] & kBusWindow; }

  void watchCheck(uint32_t address, uint32_t size, bool write) {
    for (const Watch& w : watches) {
      if (!(write ? w.write : w.read)) continue;
      if (address < w.address + w.length && w.address < address + size) {
        core.events_ |= kEvWatch;
        watchAddress = address;
        return;
      }
    }
  }
  uint32_t watchAddress = 0;
  uint32_t excReturn = 0;
  uint32_t breakResume = kNoTag;  // a run that starts on a breakpoint executes it once
  bool sleeping = false, exitRequested = false;
  int exitStatus = 0;
  FaultEvent noFault;
};

// The handler put in place of an instruction with a breakpoint: ends the run before it, unless
// the run started there (resuming from the breakpoint), when the real instruction runs.
void breakpointMarker(Core& core, const Op& op) {
  auto& bps = core.impl_->breakpoints;
  auto it = bps.find(core.pc_);
  if (core.pc_ == core.impl_->breakResume || it == bps.end()) {
    core.impl_->breakResume = kNoTag;
    if (it != bps.end()) it->second.fn(core, it->second);
    return;
  }
  (void)op;
  core.events_ |= Core::kEvBreak;
}

Core::Core(Bus& bus) : impl_(std::make_unique<Impl>(*this)), bus_(bus) {
  readPage_ = impl_->readPage;
  writePage_ = impl_->writePage;
}

Core::~Core() = default;

// ---- memory ----

void Core::mapMemory(uint32_t base, uint32_t size, uint8_t* buffer, bool executable) {
  for (uint64_t off = 0; off < size; off += kPageSize) {
    uint32_t page = uint32_t((base + off) >> kPageBits);
    impl_->memPage[page] = reinterpret_cast<uintptr_t>(buffer + off) - (uintptr_t(page) << kPageBits);
    impl_->codePage[page] = impl_->memPage[page];
    impl_->flags[page] = uint8_t((impl_->flags[page] & (kHasCode | kWatched)) | kMemory | (executable ? kExec : 0));
    impl_->refresh(page);
  }
  invalidateCode(base, size);
}

void Core::mapBus(uint32_t base, uint32_t size) {
  for (uint64_t off = 0; off < size; off += kPageSize) {
    uint32_t page = uint32_t((base + off) >> kPageBits);
    impl_->memPage[page] = impl_->codePage[page] = 0;
    impl_->flags[page] = uint8_t((impl_->flags[page] & kWatched) | kBusWindow);
    impl_->refresh(page);
  }
  invalidateCode(base, size);
}

void Core::routePagesThroughBus(uint32_t base, uint32_t size, uint8_t* buffer, bool throughBus, bool executable) {
  if (!throughBus) return mapMemory(base, size, buffer, executable);
  mapBus(base, size);
  // Data accesses go to the bus (the plug-in sees them); code there still runs, fetched from
  // the same memory.
  for (uint64_t off = 0; off < size; off += kPageSize) {
    uint32_t page = uint32_t((base + off) >> kPageBits);
    impl_->codePage[page] = reinterpret_cast<uintptr_t>(buffer + off) - (uintptr_t(page) << kPageBits);
    if (executable) impl_->flags[page] |= kExec;
  }
}

void Core::invalidateCode(uint32_t base, uint32_t size) {
  if (size) impl_->invalidate(base, size);
}

// New firmware may have put code anywhere (flash, RAM): everything decoded goes.
void Core::codeLoaded(const uint8_t*, uint32_t) { impl_->invalidate(0, 2 * kCacheEntries); }

uint32_t Core::slowRead(uint32_t address, uint32_t size) {
  Impl& m = *impl_;
  if (address & (size - 1)) {
    if (unalignedTrapOn()) {
      fault(FaultKind::Unaligned, "unaligned access");
      return 0;
    }
    // The M3 splits an unaligned access; byte by byte keeps page and window edges right.
    uint32_t v = 0;
    for (uint32_t i = 0; i < size; ++i) {
      v |= (slowRead(address + i, 1) & 0xFF) << (8 * i);
      if (faulted()) return 0;
    }
    return v;
  }
  uint32_t v = 0;
  if (!m.peek(address, size, &v)) {
    char b[64];
    std::snprintf(b, sizeof b, "read from unmapped address 0x%08X", address);
    fault(FaultKind::PreciseBus, b, address);
    return 0;
  }
  if (m.flags[address >> kPageBits] & kWatched) m.watchCheck(address, size, false);
  return v;
}

void Core::slowWrite(uint32_t address, uint32_t value, uint32_t size) {
  Impl& m = *impl_;
  if (address & (size - 1)) {
    if (unalignedTrapOn()) {
      fault(FaultKind::Unaligned, "unaligned access");
      return;
    }
    for (uint32_t i = 0; i < size && !faulted(); ++i) {
      slowWrite(address + i, (value >> (8 * i)) & 0xFF, 1);
    }
    return;
  }
  if (!m.poke(address, value, size)) {
    char b[64];
    std::snprintf(b, sizeof b, "write to unmapped address 0x%08X", address);
    fault(FaultKind::PreciseBus, b, address);
    return;
  }
  if (m.flags[address >> kPageBits] & kWatched) m.watchCheck(address, size, true);
}

uint32_t Core::read32Aligned(uint32_t address) {
  if (address & 3) {
    fault(FaultKind::Unaligned, "unaligned multiple or exclusive access");
    return 0;
  }
  return read32(address);
}

void Core::write32Aligned(uint32_t address, uint32_t value) {
  if (address & 3) {
    fault(FaultKind::Unaligned, "unaligned multiple or exclusive access");
    return;
  }
  write32(address, value);
}

void Core::fault(FaultKind kind, const std::string& what, uint32_t address) {
  if (!fault_) fault_ = FaultEvent{kind, address, what};
  events_ |= kEvFault;
}

bool Core::divideByZeroTrapOn() { return divideByZeroTraps && divideByZeroTraps(); }
bool Core::unalignedTrapOn() { return unalignedTraps && unalignedTraps(); }

// ---- the instructions that talk to the rest of the chip ----

void Core::bxWritePc(uint32_t address) {
  next_ = address & ~1u;
  events_ |= kEvBranch;
  if (ipsr_ != 0 && (address >> 28) == 0xF) {
    impl_->excReturn = address;
    events_ |= kEvExcReturn;
    return;
  }
  if (!(address & 1)) thumb_ = false, events_ |= kEvInvState;
}

uint32_t Core::mrs(uint32_t sysm) {
  bool privileged = ipsr_ != 0 || !(control_ & SpecialRegisters::kNpriv);
  switch (sysm) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: {
      uint32_t v = 0;
      if (sysm & 1) v |= ipsr_;
      if (!(sysm & 4)) v |= uint32_t(n_) << 31 | uint32_t(z_) << 30 | uint32_t(c_) << 29 | uint32_t(v_) << 28 | uint32_t(q_) << 27;
      return v;  // the EPSR bits read as zero
    }
    case 8: return !privileged ? 0 : (ipsr_ == 0 && (control_ & SpecialRegisters::kSpsel)) ? msp_ : r_[13];
    case 9: return !privileged ? 0 : (ipsr_ == 0 && (control_ & SpecialRegisters::kSpsel)) ? r_[13] : psp_;
    // The masks read as zero from unprivileged code; CONTROL is readable by all.
    case 16: return privileged ? primask_ & 1 : 0;
    case 17: case 18: return privileged ? basepri_ & 0xFF : 0;
    case 19: return privileged ? faultmask_ & 1 : 0;
    case 20: return control_ & 3;
    default: return 0;
  }
}

void Core::msr(uint32_t sysm, uint32_t value, uint32_t mask) {
  bool privileged = ipsr_ != 0 || !(control_ & SpecialRegisters::kNpriv);
  if (sysm < 8) {
    if ((sysm & 4) == 0 && (mask & 2)) {
      n_ = value >> 31 & 1, z_ = value >> 30 & 1, c_ = value >> 29 & 1, v_ = value >> 28 & 1, q_ = value >> 27 & 1;
    }
    return;
  }
  if (!privileged) return;
  bool psp = ipsr_ == 0 && (control_ & SpecialRegisters::kSpsel);
  bool lowered = false;
  switch (sysm) {
    case 8: (psp ? msp_ : r_[13]) = value & ~3u; break;
    case 9: (psp ? r_[13] : psp_) = value & ~3u; break;
    case 16: lowered = primask_ && !(value & 1), primask_ = value & 1; break;
    case 17: {
      uint32_t v = value & 0xFF;
      lowered = basepri_ && (v == 0 || v > basepri_);
      basepri_ = v;
      break;
    }
    case 18: {  // BASEPRI_MAX only raises the priority mask
      uint32_t v = value & 0xFF;
      if (v && (basepri_ == 0 || v < basepri_)) basepri_ = v;
      break;
    }
    case 19:
      // FAULTMASK cannot be set at priority -1 and above (the HardFault and NMI handlers).
      if ((value & 1) && (ipsr_ == 2 || ipsr_ == 3)) break;
      lowered = faultmask_ && !(value & 1), faultmask_ = value & 1;
      break;
    case 20: {
      uint32_t spsel = value & SpecialRegisters::kSpsel;
      if (ipsr_ == 0 && spsel != (control_ & SpecialRegisters::kSpsel)) {
        // The stack pointer in use changes bank.
        if (spsel) msp_ = r_[13], r_[13] = psp_;
        else psp_ = r_[13], r_[13] = msp_;
        control_ = (control_ & ~SpecialRegisters::kSpsel) | spsel;
      }
      control_ = (control_ & ~SpecialRegisters::kNpriv) | (value & SpecialRegisters::kNpriv);
      break;
    }
    default: break;
  }
  if (lowered && interruptWaiting && interruptWaiting()) events_ |= kEvEndAfter;
}

void Core::cps(bool disable, bool affectI, bool affectF) {
  bool privileged = ipsr_ != 0 || !(control_ & SpecialRegisters::kNpriv);
  if (!privileged) return;
  bool lowered = false;
  if (affectI) lowered |= primask_ && !disable, primask_ = disable;
  if (affectF) {
    if (!disable) lowered |= faultmask_ != 0, faultmask_ = 0;
    else if (ipsr_ != 2 && ipsr_ != 3) faultmask_ = 1;
  }
  if (lowered && interruptWaiting && interruptWaiting()) events_ |= kEvEndAfter;
}

void Core::wfi() { events_ |= kEvSleep; }

void Core::svc(uint32_t) {
  if (onSupervisorCall) onSupervisorCall();
  events_ |= kEvEndAfter;
}

void Core::bkpt(uint32_t imm) {
  if (imm != 0xAB) {
    fault(FaultKind::Other, "breakpoint instruction");
    return;
  }
  cycles_.store(now_ + extra_, std::memory_order_relaxed);
  r_[0] = bus_.semihost(r_[0], r_[1]);
  noteStopRequest();
  if (impl_->exitRequested) events_ |= kEvExit;
}

// ---- the run loop ----

namespace {
inline void itAdvance(uint8_t& it) {
  if ((it & 7) == 0) it = 0;
  else it = uint8_t((it & 0xE0) | ((it << 1) & 0x1F));
}
}  // namespace

// After a handler that raised an event other than a plain branch: commits the instruction or
// not (its base cycles are counted already), and says whether the run ends.
bool Core::finishEvents(const Op& op, bool inIt, RunEnd& end) {
  uint32_t ev = events_;
  events_ = 0;
  extra_ = 0;
  Impl& m = *impl_;
  if (ev & (kEvFault | kEvBreak)) {
    // The instruction did not happen: the PC stays on it, no cycles, no IT advance.
    now_ -= op.cycles;
    next_ = pc_;
    end = (ev & kEvFault) ? RunEnd::Fault : RunEnd::Breakpoint;
    return true;
  }
  r_[15] = next_;
  if (inIt) itAdvance(itState_);
  if (ev & kEvExcReturn) {
    SpecialRegisters sr = special();
    std::string error;
    int finished = exceptionReturn(m, sr, m.excReturn, &error);
    if (!error.empty()) {
      r_[15] = next_ = pc_;
      fault(FaultKind::InvalidPc, error);
      events_ = 0;
      end = RunEnd::Fault;
      return true;
    }
    setSpecial(sr);
    next_ = r_[15];
    exclusiveOpen_ = false;
    if (onExceptionReturn) onExceptionReturn(finished);
    end = RunEnd::Interrupted;  // tail-chaining is decided between runs
    return true;
  }
  if (ev & kEvInvState) {
    fault(FaultKind::InvalidState, "instruction executed with the Thumb bit clear");
    events_ = 0;
    end = RunEnd::Fault;
    return true;
  }
  if (ev & kEvExit) return end = RunEnd::Exited, true;
  if (ev & kEvSleep) return m.sleeping = true, end = RunEnd::Sleeping, true;
  if (ev & kEvWatch) return end = RunEnd::Watchpoint, true;
  if (ev & kEvEndAfter) return end = RunEnd::Interrupted, true;
  return false;
}

// The interpreter. The PC and the cycle count live in locals: a handler that does not branch
// leaves the PC to go on at pc + len, and cycles beyond an instruction's base come back through
// an event, so nothing the next instruction needs waits on memory the handler may have written.
template <bool kSingle>
RunEnd Core::loop(uint64_t until) {
  Entry* cache = impl_->cache.get();
  RunEnd end = RunEnd::Budget;
  uint32_t pc = r_[15];
  uint64_t now = now_;
  // ITSTATE in a register: the loop writes it through to itState_ (which handlers read), and
  // only IT (kEvIt) and exception return (finishEvents) change it behind the loop's back.
  uint8_t it = itState_;
  events_ &= ~uint32_t(kEvStop);  // left by stacking between runs: stop_ was reset since
  for (;;) {
    Entry& e = cache[(pc >> 1) & (kCacheEntries - 1)];
    if (e.op.tag != pc) [[unlikely]] {
      if (!impl_->decode(pc, e)) {
        events_ = 0;
        end = RunEnd::Fault;
        break;
      }
    }
    const Op& op = e.op;
    uint32_t fallThrough = pc + op.len;
    // next_ is only read where a handler branched (it set it then) or in finishEvents (set
    // below), so the common instruction does not store it.
    pc_ = pc;
    now_ = now;
    bool inIt = it != 0;
    if (!inIt || conditionPassed(it >> 4)) [[likely]] {
      op.fn(*this, op);
      now += op.cycles;
      if (uint32_t ev = events_) [[unlikely]] {
        now += extra_;
        extra_ = 0;
        if ((ev & ~uint32_t(kEvBranch | kEvCycles | kEvIt)) == 0) {
          events_ = 0;
          pc = (ev & kEvBranch) ? next_ : fallThrough;
          if (ev & kEvIt) it = itState_;
          if (inIt) itAdvance(it), itState_ = it;
        } else {
          if (!(ev & kEvBranch)) next_ = fallThrough;
          now_ = now;
          bool ends = finishEvents(op, inIt, end);
          it = itState_;
          now = now_;
          pc = next_;
          if (ends) break;
        }
        // A stop asked for from another thread is looked at on branches and other events
        // only: a loop always branches, and the slice's budget bounds straight-line code.
        if (stop_.load(std::memory_order_relaxed)) [[unlikely]] {
          if (!kSingle && now < until) end = RunEnd::Interrupted;
          break;
        }
      } else {
        pc = fallThrough;
        if (inIt) [[unlikely]] itAdvance(it), itState_ = it;
      }
    } else {
      // A skipped instruction in an IT block still takes its cycle.
      now += 1;
      pc = fallThrough;
      itAdvance(it), itState_ = it;
    }
    if (kSingle || now >= until) [[unlikely]] {
      if (!kSingle && now < until) end = RunEnd::Interrupted;
      break;
    }
  }
  r_[15] = pc;
  now_ = now;
  cycles_.store(now, std::memory_order_relaxed);
  return end;
}

// Executing with EPSR.T clear (a return or a debugger write left it so): the next instruction
// faults before it runs.
RunEnd Core::invalidState() {
  fault(FaultKind::InvalidState, "instruction executed with the Thumb bit clear");
  events_ = 0;
  return RunEnd::Fault;
}

RunEnd Core::run(uint64_t untilCycle) {
  stop_.store(false, std::memory_order_relaxed);
  impl_->sleeping = false;
  if (fault_) return RunEnd::Fault;
  // At least one instruction runs, so time always moves on.
  if (untilCycle <= now_) untilCycle = now_ + 1;
  if (!thumb_) return invalidState();
  impl_->breakResume = r_[15];
  RunEnd end = loop<false>(untilCycle);
  impl_->breakResume = kNoTag;
  return end;
}

RunEnd Core::step() {
  stop_.store(false, std::memory_order_relaxed);
  impl_->sleeping = false;
  if (!thumb_) return invalidState();
  impl_->breakResume = r_[15];
  RunEnd end = loop<true>(UINT64_MAX);
  impl_->breakResume = kNoTag;
  // A step ends after its instruction whatever it was; only what stops the firmware is told.
  if (end == RunEnd::Interrupted) end = RunEnd::Budget;
  return end;
}

void Core::requestStop() { stop_.store(true, std::memory_order_relaxed); }
void Core::exitRequested(int status) {
  impl_->exitStatus = status;
  impl_->exitRequested = true;
}
int Core::exitStatus() const { return impl_->exitStatus; }
uint64_t Core::cycles() const { return cycles_.load(std::memory_order_relaxed); }
void Core::addCycles(uint64_t n) {
  now_ += n;
  cycles_.store(now_, std::memory_order_relaxed);
}

// ---- registers and exceptions ----

void Core::reset(uint32_t sp, uint32_t pc) {
  for (uint32_t& r : r_) r = 0;
  r_[13] = sp & ~3u;
  r_[14] = 0xFFFFFFFF;
  r_[15] = pc & ~1u;
  n_ = z_ = c_ = v_ = q_ = false;
  itState_ = 0;
  thumb_ = true;  // as the Unicorn engine: the reset vector's bit 0 is not looked at
  primask_ = faultmask_ = basepri_ = control_ = ipsr_ = 0;
  msp_ = sp & ~3u;
  psp_ = 0;
  exclusiveOpen_ = false;
  events_ = 0;
  extra_ = 0;
  impl_->sleeping = impl_->exitRequested = false;
  fault_.reset();
}

uint32_t Core::currentException() { return ipsr_; }
bool Core::primask() { return primask_ & 1; }
bool Core::faultmask() { return faultmask_ & 1; }
uint32_t Core::basepri() { return basepri_ & 0xFF; }

void Core::enterException(int number, uint32_t vectorTable) {
  SpecialRegisters sr = special();
  uint32_t handler = impl_->readWord(vectorTable + 4 * uint32_t(number));
  exceptionEntry(*impl_, sr, number, handler);
  setSpecial(sr);
  exclusiveOpen_ = false;
  impl_->sleeping = false;
}

uint32_t Core::pc() { return r_[15]; }
uint32_t Core::reg(int index) { return index >= 0 && index < 16 ? r_[index] : 0; }

SpecialRegisters Core::special() {
  SpecialRegisters s;
  s.xpsr = uint32_t(n_) << 31 | uint32_t(z_) << 30 | uint32_t(c_) << 29 | uint32_t(v_) << 28 | uint32_t(q_) << 27 |
           uint32_t(itState_ & 3) << 25 | uint32_t(thumb_) << 24 | uint32_t(itState_ >> 2) << 10 | (ipsr_ & 0x1FF);
  s.control = control_ & 3;
  bool psp = ipsr_ == 0 && (control_ & SpecialRegisters::kSpsel);
  s.msp = psp ? msp_ : r_[13];
  s.psp = psp ? r_[13] : psp_;
  return s;
}

void Core::setSpecial(const SpecialRegisters& s) {
  uint32_t x = s.xpsr;
  n_ = x >> 31 & 1, z_ = x >> 30 & 1, c_ = x >> 29 & 1, v_ = x >> 28 & 1, q_ = x >> 27 & 1;
  itState_ = uint8_t(((x >> 25) & 3) | ((x >> 10) & 0x3F) << 2);
  thumb_ = (x >> 24) & 1;
  ipsr_ = x & 0x1FF;
  control_ = s.control & 3;
  if (ipsr_ != 0) control_ &= ~SpecialRegisters::kSpsel;  // handler mode always uses the MSP
  bool psp = ipsr_ == 0 && (control_ & SpecialRegisters::kSpsel);
  r_[13] = psp ? s.psp : s.msp;
  (psp ? msp_ : psp_) = psp ? s.msp : s.psp;
}

CoreRegisters Core::registers() {
  CoreRegisters r;
  for (int i = 0; i < 13; ++i) r.r[i] = r_[i];
  r.sp = r_[13], r.lr = r_[14], r.pc = r_[15] & ~1u;
  SpecialRegisters s = special();
  r.xpsr = s.xpsr, r.msp = s.msp, r.psp = s.psp, r.control = s.control;
  r.primask = primask_ & 1, r.faultmask = faultmask_ & 1, r.basepri = basepri_ & 0xFF;
  return r;
}

void Core::setRegisters(const CoreRegisters& r) {
  for (int i = 0; i < 13; ++i) r_[i] = r.r[i];
  r_[14] = r.lr;
  r_[15] = r.pc & ~1u;
  SpecialRegisters s;
  s.xpsr = r.xpsr, s.control = r.control, s.msp = r.msp, s.psp = r.psp;
  if (s.handlerMode()) s.control &= ~SpecialRegisters::kSpsel;
  s.setSp(r.sp);  // the banked copy in use follows what the debugger wrote to SP
  setSpecial(s);
  primask_ = r.primask & 1, faultmask_ = r.faultmask & 1, basepri_ = r.basepri & 0xFF;
}

std::string Core::registerDump() {
  static const char* names[] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r11", "r12", "sp", "lr", "pc"};
  std::string out;
  char buf[32];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(buf, sizeof buf, "%s=%08X%s", names[i], r_[i], i % 4 == 3 ? "\n" : " ");
    out += buf;
  }
  std::snprintf(buf, sizeof buf, "xpsr=%08X", special().xpsr);
  return out + buf;
}

const FaultEvent& Core::fault() const { return fault_ ? *fault_ : impl_->noFault; }
void Core::clearFault() { fault_.reset(); }

// ---- debugger ----

void Core::setBreakpoint(uint32_t address, bool on) {
  address &= ~1u;
  if (on) impl_->breakpoints.emplace(address, Op{});
  else impl_->breakpoints.erase(address);
  impl_->invalidate(address, 2);  // decoded again, with or without the marker
}

void Core::setWatchpoint(uint32_t address, uint32_t length, bool read, bool write, bool on) {
  Impl& m = *impl_;
  if (length == 0) length = 1;
  auto& w = m.watches;
  w.erase(std::remove_if(w.begin(), w.end(), [&](const Watch& x) { return x.address == address && x.length == length; }),
          w.end());
  if (on) w.push_back({address, length, read, write});
  // Pages with a watch leave the fast path; all others keep it.
  std::set<uint32_t> watchedPages;
  for (const Watch& x : w)
    for (uint64_t a = x.address & ~uint64_t(kPageSize - 1); a < uint64_t(x.address) + x.length; a += kPageSize)
      watchedPages.insert(uint32_t(a >> kPageBits));
  for (uint64_t a = address & ~uint64_t(kPageSize - 1); a < uint64_t(address) + length; a += kPageSize)
    watchedPages.insert(uint32_t(a >> kPageBits));
  for (uint32_t page : watchedPages) {
    bool watched = false;
    for (const Watch& x : w)
      if ((x.address >> kPageBits) <= page && page <= ((x.address + x.length - 1) >> kPageBits)) watched = true;
    m.flags[page] = uint8_t(watched ? m.flags[page] | kWatched : m.flags[page] & ~kWatched);
    m.refresh(page);
  }
}

uint32_t Core::watchHit() const { return impl_->watchAddress; }

}  // namespace korvel::sim::armv7m
