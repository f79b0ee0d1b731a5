#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

#include "host_impl.h"
#include "korvel/platform/platform.h"

namespace agsi_host {

namespace {

// A VTR keeps only the bits its type holds, as the register it stands for would.
uint32_t vtrWidthMask(uint32_t type) {
  switch (type) {
    case AGSIVTRCHAR: return 0xFFu;
    case AGSIVTRWORD: return 0xFFFFu;
    default: return 0xFFFFFFFFu;
  }
}

// Marks the call-backs run now as caused (or not) by the firmware, restoring the outer state
// afterwards so that nested firings answer for themselves.
class SimulatorAccessScope {
 public:
  SimulatorAccessScope(int& depth, bool simulator) : depth_(depth), saved_(depth) {
    depth_ = simulator ? saved_ + 1 : 0;
  }
  ~SimulatorAccessScope() { depth_ = saved_; }
  SimulatorAccessScope(const SimulatorAccessScope&) = delete;
  SimulatorAccessScope& operator=(const SimulatorAccessScope&) = delete;

 private:
  int& depth_;
  int saved_;
};

// Call-backs of one access, collected before any runs (a call-back may add watches). Most
// accesses have one or two, so they live on the stack.
class CallBackList {
 public:
  void add(AGSICALLBACK cb) {
    if (count_ < kInline) inline_[count_] = cb; else more_.push_back(cb);
    ++count_;
  }
  size_t size() const { return count_; }
  AGSICALLBACK operator[](size_t i) const { return i < kInline ? inline_[i] : more_[i - kInline]; }

 private:
  static constexpr size_t kInline = 8;
  AGSICALLBACK inline_[kInline];
  std::vector<AGSICALLBACK> more_;
  size_t count_ = 0;
};

void anchor() {}  // an address inside this library, to find its own file

}  // namespace

// ---------------------------------------------------------------------------------------------
// HostMutex

namespace {
// How long a thread that found the lock held sleeps at most before it looks again: the holder's
// release may have missed it (see HostMutex).
constexpr long kSleepNanos = 200'000;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
}  // namespace

void HostMutex::lockContended() {
  for (;;) {
    // The holder is usually out within a watch call-back's time: spin a little first.
    for (int i = 0; i < 100; ++i) {
      uint32_t free = 0;
      if (state_.load(std::memory_order_relaxed) == 0 &&
          state_.compare_exchange_weak(free, 1, std::memory_order_acquire, std::memory_order_relaxed))
        return;
      cpuRelax();
    }
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
#if defined(__linux__)
    // Sleeps only while the lock is still held (the kernel compares state_ with 1 first).
    const timespec timeout{0, kSleepNanos};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_), FUTEX_WAIT_PRIVATE, 1u, &timeout, nullptr, 0);
#else
    if (state_.load(std::memory_order_relaxed) != 0) std::this_thread::sleep_for(std::chrono::nanoseconds(kSleepNanos));
#endif
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
  }
}

const void* HostMutex::threadTag() {
  static thread_local const char tag = 0;
  return &tag;
}

void HostMutex::wakeOne() {
#if defined(__linux__)
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#endif
}

// ---------------------------------------------------------------------------------------------
// Impl

bool Host::Impl::addWatch(uint32_t first, uint32_t last, AGSICALLBACK cb, uint32_t access, bool sfr) {
  if (cb == nullptr || access > AGSIREADWRITE || first > last) return false;
  for (const Watch& w : watches) {
    if (w.first == first && w.last == last && w.callBack == cb && w.access == access && w.sfr == sfr)
      return true;  // the same watch twice is one watch: its call-back must not run twice
  }
  watches.push_back({first, last, cb, access, sfr});
  // Only registers watched for writes keep a previous value; reading a read-watched register
  // here could have the side effects of a load (a data register's FIFO).
  if (sfr && access != AGSIREAD) {
    Register& r = registerAt(first);
    if (!r.seen) {
      if (auto v = read32(first)) {
        r.shadow = *v;
        r.seen = true;
      }
    }
  }
  republish();
  return true;
}

Host::Impl::Register& Host::Impl::registerAt(uint32_t address) {
  if (Register* r = findRegister(address)) return *r;
  Register& r = registers.emplace_back(Register{address});
  registerByAddress.emplace(address, &r);
  return r;
}

Host::Impl::Register* Host::Impl::findRegister(uint32_t address) {
  auto it = registerByAddress.find(address);
  return it == registerByAddress.end() ? nullptr : it->second;
}

void Host::Impl::forgetRegisterValues() {
  for (Register& r : registers) r.seen = r.hasPrevious = false;
  known = {};
}

void Host::Impl::noteRegisterWrite(Register& r, uint32_t now) {
  // The store has landed: what was there before is the value last seen.
  if (r.seen) {
    r.previous = r.shadow;
    r.hasPrevious = true;
  }
  r.shadow = now;
  r.seen = true;
}

void Host::Impl::republish() {
  std::vector<WatchIndex::Entry> reads, writes;
  for (const Watch& w : watches) {
    if (w.access != AGSIWRITE) reads.push_back({w.first, w.last, w.callBack, nullptr});
    if (w.access != AGSIREAD) writes.push_back({w.first, w.last, w.callBack, w.sfr ? &registerAt(w.first) : nullptr});
  }
  readIndex.publish(reads);
  writeIndex.publish(writes);
}

void Host::Impl::fireWatches(const WatchIndex::Hit& found, uint32_t address, uint32_t size, bool write,
                             const uint32_t* wordAfter) {
  const WatchIndex& index = write ? writeIndex : readIndex;
  // Found before the lock was taken: watches may have changed since (or the plug-in gone).
  const WatchIndex::Hit hit = index.stillCurrent(found) ? found : index.find(address, size);
  if (hit.kind == WatchIndex::Hit::None) return;
  if (hit.kind == WatchIndex::Hit::Several) return fireEveryOverlapping(address, size, write);

  const WatchIndex::Entry* e = hit.entries + hit.segment->begin;
  const uint32_t n = hit.segment->count;
  const uint32_t word = address & ~3u;
  if (write) {
    known = {wordAfter != nullptr, word, wordAfter != nullptr ? *wordAfter : 0, nullptr};
    for (uint32_t i = 0; i < n; ++i) {
      Register* r = e[i].record;
      if (r == nullptr) continue;
      // Several watches on one register: it still changed once.
      bool again = false;
      for (uint32_t j = 0; j < i && !again; ++j) again = e[j].record == r;
      if (again) continue;
      if (wordAfter != nullptr && r->address == word) {
        noteRegisterWrite(*r, *wordAfter);
        known.record = r;
      } else if (auto now = read32(r->address)) {
        noteRegisterWrite(*r, *now);
      }
    }
  } else {
    known = {};
  }
  const uint32_t kind = write ? AGSI_WRITE : AGSI_READ;
  {
    SimulatorAccessScope scope(simulatorAccessDepth, true);
    lastAddress = address;
    e[0].callBack(address, kind);
    for (uint32_t i = 1; i < n; ++i) {
      lastAddress = address;
      e[i].callBack(address, kind);
    }
  }
  known = {};
}

void Host::Impl::fireSoleWrite(const WatchIndex::Entry& w, uint32_t address, uint32_t wordAfter) {
  const uint32_t word = address & ~3u;
  known = {true, word, wordAfter, nullptr};
  if (Register* r = w.record) {
    if (r->address == word) {
      noteRegisterWrite(*r, wordAfter);
      known.record = r;
    } else if (auto now = read32(r->address)) {
      noteRegisterWrite(*r, *now);
    }
  }
  {
    SimulatorAccessScope scope(simulatorAccessDepth, true);
    lastAddress = address;
    w.callBack(address, AGSI_WRITE);
  }
  known = {};
}

void Host::Impl::fireEveryOverlapping(uint32_t address, uint32_t size, bool write, bool simulator) {
  const uint64_t last = static_cast<uint64_t>(address) + size - 1;
  CallBackList callBacks;
  std::vector<Register*> updated;
  for (const Watch& w : watches) {
    if (w.access == (write ? AGSIREAD : AGSIWRITE)) continue;
    if (last < w.first || address > w.last) continue;
    if (write && w.sfr) {
      Register* r = &registerAt(w.first);
      if (std::find(updated.begin(), updated.end(), r) == updated.end()) {
        updated.push_back(r);
        if (auto now = read32(w.first)) noteRegisterWrite(*r, *now);
      }
    }
    callBacks.add(w.callBack);
  }
  known = {};
  if (callBacks.size() == 0) return;
  SimulatorAccessScope scope(simulatorAccessDepth, simulator);
  for (size_t i = 0; i < callBacks.size(); ++i) {
    lastAddress = address;
    callBacks[i](address, write ? AGSI_WRITE : AGSI_READ);
  }
}

std::optional<uint32_t> Host::Impl::read32(uint32_t address) {
  uint8_t b[4] = {};
  if (!target->read(address, 4, b)) return std::nullopt;
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

bool Host::Impl::write32(uint32_t address, uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                  static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return target->write(address, 4, b);
}

uint32_t Host::Impl::defineVtr(const char* name, uint32_t type, uint32_t init) {
  if (name == nullptr || *name == '\0') return 0;
  auto it = vtrByName.find(name);
  if (it != vtrByName.end()) return it->second;  // shared: each definer owns some of its bits
  vtrs.push_back({name, type, init & vtrWidthMask(type), {}});
  uint32_t handle = static_cast<uint32_t>(vtrs.size());
  vtrByName.emplace(name, handle);
  return handle;
}

Host::Impl::Vtr* Host::Impl::vtr(uint32_t handle) {
  if (handle == 0 || handle > vtrs.size()) return nullptr;
  return &vtrs[handle - 1];
}

bool Host::Impl::writeVtr(uint32_t handle, uint32_t value, bool simulatorAccess) {
  Vtr* v = vtr(handle);
  if (v == nullptr) return false;
  v->value = value & vtrWidthMask(v->type);
  targetMayHaveChanged();  // e.g. PORT2 becomes the levels of port 2's input pins
  std::string name = v->name;  // the target or a call-back may define VTRs and move the vector
  uint32_t stored = v->value;
  target->vtrChanged(name, stored);
  CallBackList callBacks;
  for (const VtrWatch& w : vtrs[handle - 1].watches)
    if (w.access != AGSIREAD) callBacks.add(w.callBack);
  SimulatorAccessScope scope(simulatorAccessDepth, simulatorAccess);
  for (size_t i = 0; i < callBacks.size(); ++i) callBacks[i](handle, AGSI_VT_WRITE);
  return true;
}

Host::Impl::Timer* Host::Impl::timer(AGSITIMER handle) {
  for (auto& t : timers)
    if (t.get() == handle) return t.get();
  return nullptr;
}

void Host::Impl::updateNextDue() {
  uint64_t next = kNever;
  for (auto& t : timers) next = std::min(next, t->due);
  nextDue.store(next, std::memory_order_release);
}

void Host::Impl::message(std::string text) {
  messages.push_back(text);
  if (sink) sink(messages.back());
}

// ---------------------------------------------------------------------------------------------
// Host

std::atomic<Host*> Host::made_{nullptr};
Host* gHost = nullptr;
Host::Impl* gImpl = nullptr;

Host& Host::make() {
  // Never destroyed: a plug-in still loaded at exit (or one of its threads) may call the host
  // from its own static destructors, which can run after this library's.
  static Host* host = [] {
    Host* h = new Host;
    gImpl = h->impl_;
    gHost = h;
    return h;
  }();
  made_.store(host, std::memory_order_release);
  return *host;
}

Host::Host() : impl_(new Impl) {}
Host::~Host() { delete impl_; }

void Host::setTarget(Target* target) {
  std::lock_guard lock(mutex_);
  impl_->target = target != nullptr ? target : &impl_->memory;
  impl_->ownClock.store(target == nullptr, std::memory_order_release);
  // Values seen in another address space say nothing about this one.
  impl_->forgetRegisterValues();
  for (const auto& w : impl_->watches) {
    if (!w.sfr || w.access == AGSIREAD) continue;
    if (auto v = impl_->read32(w.first)) {
      Impl::Register& r = impl_->registerAt(w.first);
      r.shadow = *v;
      r.seen = true;
    }
  }
}

void Host::clear() {
  std::lock_guard lock(mutex_);
  forgetPlugin();
  Impl& m = *impl_;
  m.forgetRegisterValues();
  m.vtrs.clear();
  m.vtrByName.clear();
  m.sfrs.clear();
  m.symbols.clear();
  m.messages.clear();
  m.focus = nullptr;
  m.pluginWritesFireWatches = false;
  m.resets = m.stops = 0;
  m.lastAddress = 0;
  m.targetKeys.clear();
  m.memory.clear();
  m.memory.setTime(0.0, 0);
}

void Host::forgetPlugin() {
  std::lock_guard lock(mutex_);
  Impl& m = *impl_;
  m.watches.clear();
  m.republish();
  for (auto& v : m.vtrs) v.watches.clear();
  m.timers.clear();
  m.updateNextDue();
  m.menus.clear();
  m.interrupts.clear();
  m.execCallBack = nullptr;
}

void* Host::moduleHandle() {
  std::lock_guard lock(mutex_);
  if (impl_->moduleHandle == nullptr) {
    auto path = korvel::platform::modulePathOf(reinterpret_cast<const void*>(&anchor));
    std::string error;
    impl_->moduleHandle = korvel::platform::loadLibrary(path, &error);
  }
  return impl_->moduleHandle;
}

void Host::firmwareWrote(uint32_t address, uint32_t size) {
  const WatchIndex::Hit hit = impl_->writeIndex.find(address, size);
  if (hit.kind == WatchIndex::Hit::None) return;
  std::lock_guard lock(mutex_);
  impl_->fireWatches(hit, address, size, true, nullptr);
}

void Host::firmwareWrote(uint32_t address, uint32_t size, uint32_t wordAfter) {
  const WatchIndex::Hit hit = impl_->writeIndex.find(address, size);
  if (hit.kind == WatchIndex::Hit::None) return;
  std::lock_guard lock(mutex_);
  Impl& m = *impl_;
  // A pin register with one watch on it (the LCD's): the short way.
  if (hit.sole != nullptr && m.writeIndex.stillCurrent(hit)) return m.fireSoleWrite(*hit.sole, address, wordAfter);
  m.fireWatches(hit, address, size, true, &wordAfter);
}

void Host::debuggerWrote(uint32_t address, uint32_t size) {
  if (!impl_->writeIndex.covers(address, size)) return;
  std::lock_guard lock(mutex_);
  impl_->fireEveryOverlapping(address, size, true, false);
}

void Host::setPluginWritesFireWatches(bool fire) {
  std::lock_guard lock(mutex_);
  impl_->pluginWritesFireWatches = fire;
}

std::optional<uint32_t> Host::firmwareRead(uint32_t address, uint32_t size) {
  const WatchIndex::Hit hit = impl_->readIndex.find(address, size);
  if (hit.kind == WatchIndex::Hit::None) return std::nullopt;
  std::lock_guard lock(mutex_);
  std::optional<uint32_t> value;
  auto* saved = impl_->readOverride;
  impl_->readOverride = &value;
  impl_->fireWatches(hit, address, size, false, nullptr);
  impl_->readOverride = saved;
  return value;
}

bool Host::watched(uint32_t address, uint32_t size) const {
  return impl_->writeIndex.covers(address, size) || impl_->readIndex.covers(address, size);
}

std::optional<uint32_t> Host::vtrHandle(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = impl_->vtrByName.find(name);
  if (it == impl_->vtrByName.end()) return std::nullopt;
  return it->second;
}

std::optional<uint32_t> Host::readVtr(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = impl_->vtrByName.find(name);
  if (it == impl_->vtrByName.end()) return std::nullopt;
  return impl_->vtrs[it->second - 1].value;
}

bool Host::writeVtr(const std::string& name, uint32_t value, bool simulatorAccess) {
  std::lock_guard lock(mutex_);
  auto it = impl_->vtrByName.find(name);
  if (it == impl_->vtrByName.end()) return false;
  return impl_->writeVtr(it->second, value, simulatorAccess);
}

std::vector<VtrInfo> Host::vtrs() const {
  std::lock_guard lock(mutex_);
  std::vector<VtrInfo> out;
  for (const auto& v : impl_->vtrs) out.push_back({v.name, v.type, v.value});
  return out;
}

std::vector<SfrDefinition> Host::sfrs() const {
  std::lock_guard lock(mutex_);
  return impl_->sfrs;
}

std::vector<AGSIMENU*> Host::menuEntries() const {
  std::lock_guard lock(mutex_);
  return impl_->menus;
}

std::vector<AGSIINTERRUPT> Host::interrupts() const {
  std::lock_guard lock(mutex_);
  return impl_->interrupts;
}

void Host::addSymbol(const Symbol& symbol) {
  std::lock_guard lock(mutex_);
  for (auto& s : impl_->symbols) {
    if (s.name == symbol.name) {
      s = symbol;
      return;
    }
  }
  impl_->symbols.push_back(symbol);
}

void Host::clearSymbols() {
  std::lock_guard lock(mutex_);
  impl_->symbols.clear();
}

void Host::setMessageSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(mutex_);
  impl_->sink = std::move(sink);
}

std::vector<std::string> Host::messages() const {
  std::lock_guard lock(mutex_);
  return impl_->messages;
}

std::string Host::output() const {
  std::lock_guard lock(mutex_);
  std::string all;
  for (const auto& m : impl_->messages) all += m;
  return all;
}

void Host::clearMessages() {
  std::lock_guard lock(mutex_);
  impl_->messages.clear();
}

void Host::advanceTo(uint64_t states) {
  auto setOwnTime = [this](uint64_t s) {
    impl_->memory.setTime(static_cast<double>(s) / impl_->memory.clockHz(), s);
  };
  // The simulator calls this after every slice: without a due timer it takes no lock.
  if (states < impl_->nextDue.load(std::memory_order_acquire)) {
    if (impl_->ownClock.load(std::memory_order_acquire)) setOwnTime(states);
    return;
  }
  std::lock_guard lock(mutex_);
  bool own = impl_->target == &impl_->memory;
  uint64_t from = impl_->target->states();
  // A timer re-armed with no delay fires again on the next advance, not in this one, or a
  // zero-period timer would hold the simulation here for ever.
  std::unordered_map<Impl::Timer*, uint64_t> firedAt;
  for (;;) {
    Impl::Timer* next = nullptr;
    for (auto& t : impl_->timers) {
      if (t->due > states) continue;
      auto f = firedAt.find(t.get());
      if (f != firedAt.end() && t->due <= f->second) continue;
      if (next == nullptr || t->due < next->due) next = t.get();
    }
    if (next == nullptr) break;
    // The call-back sees the time it was due at, but time never runs backwards for an overdue one.
    uint64_t at = std::max(next->due, from);
    firedAt[next] = at;
    next->due = Impl::kNever;
    impl_->updateNextDue();
    if (own) setOwnTime(at);
    next->callBack();
  }
  if (own) setOwnTime(states);
}

uint64_t Host::nextTimerDue() const { return impl_->nextDue.load(std::memory_order_acquire); }

void* Host::focusWindow() const {
  std::lock_guard lock(mutex_);
  return impl_->focus;
}

uint64_t Host::resetRequests() const {
  std::lock_guard lock(mutex_);
  return impl_->resets;
}

uint64_t Host::stopRequests() const {
  std::lock_guard lock(mutex_);
  return impl_->stops;
}

void Host::setTime(double seconds, uint64_t states) {
  std::lock_guard lock(mutex_);
  impl_->memory.setTime(seconds, states);
}

}  // namespace agsi_host
