#include "lockstep.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace korvel::sim::lockstep {

namespace {

uint64_t mix(uint64_t x) {  // splitmix64's finaliser: a fixed, well-spread function of its input
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint32_t sizeMask(uint32_t size) { return size >= 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1; }

}  // namespace

std::string toString(const BusEvent& e) {
  char b[96];
  switch (e.kind) {
    case BusEvent::Read: std::snprintf(b, sizeof b, "read%u [0x%08X] = 0x%X", e.size * 8, e.address, e.value); break;
    case BusEvent::Write: std::snprintf(b, sizeof b, "write%u [0x%08X] = 0x%X", e.size * 8, e.address, e.value); break;
    case BusEvent::Semihost: std::snprintf(b, sizeof b, "semihosting op 0x%X r1=0x%08X", e.address, e.value); break;
    case BusEvent::ExceptionReturn: std::snprintf(b, sizeof b, "return from exception %u", e.value); break;
    case BusEvent::SupervisorCall: std::snprintf(b, sizeof b, "SVC"); break;
  }
  return b;
}

std::string toString(RunEnd end) {
  switch (end) {
    case RunEnd::Budget: return "ran";
    case RunEnd::Interrupted: return "interrupted";
    case RunEnd::Sleeping: return "sleeping";
    case RunEnd::Fault: return "fault";
    case RunEnd::Exited: return "exited";
    case RunEnd::Breakpoint: return "breakpoint";
    case RunEnd::Watchpoint: return "watchpoint";
  }
  return "?";
}

// One engine with its own memory and a bus that records what it is asked.
class Side final : public Bus {
 public:
  Side(const Options& options, EngineKind kind, Side* reference) : reference_(reference), seed_(options.modelSeed) {
    engine = makeEngine(kind, *this);
    for (const MemoryRegion& r : options.memory) {
      regions.push_back(r);
      buffers.emplace_back(r.size, 0);
      engine->mapMemory(r.base, r.size, buffers.back().data(), r.executable);
    }
    for (auto [base, size] : options.busWindows) engine->mapBus(base, size);
    engine->interruptWaiting = [] { return false; };
    engine->divideByZeroTraps = [this] { return divideByZeroTraps; };
    engine->unalignedTraps = [this] { return unalignedTraps; };
    engine->onExceptionReturn = [this](int e) { log.push_back({BusEvent::ExceptionReturn, 0, uint32_t(e), 0}); };
    engine->onSupervisorCall = [this] { log.push_back({BusEvent::SupervisorCall, 0, 0, 0}); };
  }

  uint32_t busRead(uint32_t address, uint32_t size) override {
    uint32_t value = 0;
    if (!reference_) {
      // A register the firmware wrote reads back what it wrote (configuration checks pass);
      // the others, status registers mostly, give fresh values so that polling loops end.
      auto w = written_.find(address);
      if (w != written_.end() && w->second.size == size) value = w->second.value;
      else value = uint32_t(mix(seed_ ^ (uint64_t(address) << 20) ^ reads_++)) & sizeMask(size);
    } else {
      // The reference's answer to the same read; a read it did not make gets 0 and shows as a
      // difference in the bus traffic.
      size_t i = log.size();
      const std::vector<BusEvent>& theirs = reference_->log;
      if (i < theirs.size() && theirs[i].kind == BusEvent::Read && theirs[i].address == address && theirs[i].size == size)
        value = theirs[i].value;
    }
    log.push_back({BusEvent::Read, address, value, size});
    return value;
  }
  void busWrite(uint32_t address, uint32_t value, uint32_t size) override {
    log.push_back({BusEvent::Write, address, value & sizeMask(size), size});
    written_[address] = log.back();
  }
  uint32_t semihost(uint32_t op, uint32_t param) override {
    log.push_back({BusEvent::Semihost, op, param, 0});
    if (op == 0x18 || op == 0x20) engine->exitRequested(0);  // SYS_EXIT, SYS_EXIT_EXTENDED
    return 0;
  }

  uint8_t* memory(uint32_t address, size_t size) {
    for (size_t i = 0; i < regions.size(); ++i)
      if (address >= regions[i].base && uint64_t(address) + size <= uint64_t(regions[i].base) + regions[i].size)
        return buffers[i].data() + (address - regions[i].base);
    return nullptr;
  }

  std::unique_ptr<Engine> engine;
  std::vector<MemoryRegion> regions;
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<BusEvent> log;  // this step's events
  bool divideByZeroTraps = false, unalignedTraps = false;

 private:
  Side* reference_;
  uint64_t seed_;
  uint64_t reads_ = 0;
  std::unordered_map<uint32_t, BusEvent> written_;
};

Lockstep::Lockstep(const Options& options) {
  sides_[0] = std::make_unique<Side>(options, options.reference, nullptr);
  sides_[1] = std::make_unique<Side>(options, options.other, sides_[0].get());
}

Lockstep::~Lockstep() = default;

Engine& Lockstep::reference() { return *sides_[0]->engine; }
Engine& Lockstep::other() { return *sides_[1]->engine; }
bool Lockstep::differential() { return reference().kind() != other().kind(); }

void Lockstep::write(uint32_t address, const void* data, size_t size) {
  for (auto& s : sides_) {
    uint8_t* p = s->memory(address, size);
    if (!p) continue;
    std::memcpy(p, data, size);
    s->engine->invalidateCode(address, uint32_t(size));
  }
}

uint8_t* Lockstep::memory(int side, uint32_t address, size_t size) { return sides_[side]->memory(address, size); }

void Lockstep::codeLoaded(uint32_t base, uint32_t size) {
  for (auto& s : sides_)
    if (const uint8_t* p = s->memory(base, size)) s->engine->codeLoaded(p, size);
}

void Lockstep::reset(uint32_t sp, uint32_t pc) {
  for (auto& s : sides_) s->engine->reset(sp, pc);
}

void Lockstep::setRegisters(const CoreRegisters& regs) {
  for (auto& s : sides_) s->engine->setRegisters(regs), s->log.clear();
}

void Lockstep::setTraps(bool divideByZero, bool unaligned) {
  for (auto& s : sides_) s->divideByZeroTraps = divideByZero, s->unalignedTraps = unaligned;
}

bool Lockstep::supervisorCalled() const {
  for (const BusEvent& e : sides_[0]->log)
    if (e.kind == BusEvent::SupervisorCall) return true;
  return false;
}

std::string Lockstep::encodingAt(uint32_t address) {
  address &= ~1u;
  const uint8_t* p = sides_[0]->memory(address, 2);
  if (!p) return "(not in memory)";
  uint16_t first = uint16_t(p[0] | p[1] << 8);
  char b[16];
  const uint8_t* q = sides_[0]->memory(address + 2, 2);
  if ((first & 0xE000) == 0xE000 && (first & 0x1800) != 0 && q)
    std::snprintf(b, sizeof b, "%04X %04X", first, q[0] | q[1] << 8);
  else
    std::snprintf(b, sizeof b, "%04X", first);
  return b;
}

std::string stateDiff(const CoreRegisters& a, const CoreRegisters& b, const char* nameA, const char* nameB) {
  static const char* names[] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r11", "r12",
                                "sp", "lr", "pc", "xpsr", "msp", "psp", "primask", "basepri", "faultmask", "control"};
  auto values = [](const CoreRegisters& r) {
    std::vector<uint32_t> v(r.r, r.r + 13);
    v.insert(v.end(), {r.sp, r.lr, r.pc, r.xpsr, r.msp, r.psp, r.primask, r.basepri, r.faultmask, r.control});
    return v;
  };
  std::vector<uint32_t> va = values(a), vb = values(b);
  std::string lineA = std::string("  ") + nameA + ":", lineB = std::string("  ") + nameB + ":", diff;
  char buf[48];
  for (size_t i = 0; i < va.size(); ++i) {
    bool differs = va[i] != vb[i];
    std::snprintf(buf, sizeof buf, " %s%s=%08X", differs ? "*" : "", names[i], va[i]);
    lineA += buf;
    std::snprintf(buf, sizeof buf, " %s%s=%08X", differs ? "*" : "", names[i], vb[i]);
    lineB += buf;
    if (differs) diff += std::string(diff.empty() ? "" : ", ") + names[i];
  }
  return lineA + "\n" + lineB + "\n  differ: " + (diff.empty() ? "nothing" : diff) + "\n";
}

std::string Lockstep::describeStep(uint32_t pc, const CoreRegisters& before, const std::string& what) {
  char head[160];
  std::snprintf(head, sizeof head, "step %llu: instruction at 0x%08X, encoding %s (reference %s, other %s): ",
                static_cast<unsigned long long>(steps_), pc, encodingAt(pc).c_str(), korvel::sim::toString(reference().kind()),
                korvel::sim::toString(other().kind()));
  CoreRegisters r = reference().registers(), o = other().registers();
  std::string inputs = stateDiff(before, before, "before   ", "");
  return head + what + "\n" + inputs.substr(0, inputs.find('\n') + 1) + stateDiff(r, o, "reference", "other    ");
}

std::string Lockstep::compareMemory() {
  for (size_t i = 0; i < sides_[0]->buffers.size(); ++i) {
    const std::vector<uint8_t>& a = sides_[0]->buffers[i];
    const std::vector<uint8_t>& b = sides_[1]->buffers[i];
    if (std::memcmp(a.data(), b.data(), a.size()) == 0) continue;
    size_t at = 0;
    while (a[at] == b[at]) ++at;
    size_t from = at & ~size_t(7);
    std::string out;
    char buf[64];
    std::snprintf(buf, sizeof buf, "memory differs at 0x%08X:", uint32_t(sides_[0]->regions[i].base + at));
    out = buf;
    for (int side = 0; side < 2; ++side) {
      std::snprintf(buf, sizeof buf, "\n  %s [0x%08X]:", side ? "other    " : "reference", uint32_t(sides_[0]->regions[i].base + from));
      out += buf;
      const std::vector<uint8_t>& m = side ? b : a;
      for (size_t k = from; k < from + 16 && k < m.size(); ++k) {
        std::snprintf(buf, sizeof buf, " %02X", m[k]);
        out += buf;
      }
    }
    return out;
  }
  return "";
}

std::string Lockstep::compare(bool withMemory) {
  CoreRegisters r = reference().registers(), o = other().registers();
  if (std::memcmp(&r, &o, sizeof r) != 0) return "registers differ";
  const std::vector<BusEvent>& lr = sides_[0]->log;
  const std::vector<BusEvent>& lo = sides_[1]->log;
  if (lr != lo) {
    std::string out = "bus traffic differs:";
    for (size_t i = 0; i < lr.size() || i < lo.size(); ++i) {
      std::string a = i < lr.size() ? toString(lr[i]) : "-", b = i < lo.size() ? toString(lo[i]) : "-";
      out += "\n  " + std::string(a == b ? "  " : "* ") + a + " | " + b;
    }
    return out;
  }
  return withMemory ? compareMemory() : "";
}

std::string Lockstep::step(bool withMemory) {
  ++steps_;
  CoreRegisters before = reference().registers();
  for (auto& s : sides_) s->log.clear();
  RunEnd ends[2];
  FaultEvent faults[2];
  for (int i = 0; i < 2; ++i) {
    Engine& e = *sides_[i]->engine;
    ends[i] = e.step();
    if (ends[i] == RunEnd::Fault) faults[i] = e.fault();
    e.clearFault();
  }
  // A fault met between instructions (a BX to an even address clears the Thumb bit; the next
  // instruction faults) may end this step on one engine and the next step on the other, with
  // the same state: the engine that ran on steps once more to meet it.
  if ((ends[0] == RunEnd::Fault) != (ends[1] == RunEnd::Fault) && compare(false).empty()) {
    int behind = ends[0] == RunEnd::Fault ? 1 : 0;
    Engine& e = *sides_[behind]->engine;
    RunEnd end = e.step();
    if (end == RunEnd::Fault) ends[behind] = end, faults[behind] = e.fault();
    e.clearFault();
  }
  lastPc_ = before.pc;
  for (int i = 0; i < 2; ++i) lastEnd_[i] = ends[i], lastFault_[i] = faults[i];
  // After one instruction, "ran" and "stopped on request" (SVC, an exception return) both mean
  // the instruction completed; the caller goes on either way.
  auto same = [](RunEnd a, RunEnd b) {
    auto plain = [](RunEnd e) { return e == RunEnd::Interrupted ? RunEnd::Budget : e; };
    return plain(a) == plain(b);
  };
  std::string what;
  if (!same(ends[0], ends[1])) {
    what = "the step ended differently: reference " + toString(ends[0]) + (ends[0] == RunEnd::Fault ? " (" + faults[0].text + ")" : "") +
           ", other " + toString(ends[1]) + (ends[1] == RunEnd::Fault ? " (" + faults[1].text + ")" : "");
  } else if (ends[0] == RunEnd::Fault &&
             (faults[0].kind != faults[1].kind ||
              (faults[0].kind == FaultKind::PreciseBus && faults[0].address != faults[1].address))) {
    char b[64];
    std::snprintf(b, sizeof b, " (kinds %d and %d, addresses 0x%08X and 0x%08X)", int(faults[0].kind),
                  int(faults[1].kind), faults[0].address, faults[1].address);
    what = "different faults: reference \"" + faults[0].text + "\", other \"" + faults[1].text + "\"" + b;
  } else {
    what = compare(withMemory);
  }
  return what.empty() ? "" : describeStep(before.pc, before, what);
}

std::string Lockstep::enterException(int number, uint32_t vectorTable) {
  CoreRegisters before = reference().registers();
  for (auto& s : sides_) {
    s->log.clear();
    s->engine->enterException(number, vectorTable);
  }
  std::string what = compare(true);
  if (what.empty()) return "";
  return "entering exception " + std::to_string(number) + ": " + describeStep(before.pc, before, what);
}

}  // namespace korvel::sim::lockstep
