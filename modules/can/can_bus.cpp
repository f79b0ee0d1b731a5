// The module-wide CAN state and the controllers' frame path: the firmware's register accesses
// (simulation thread), deliveries from the frame watchers (their threads) and the settings page
// (UI thread) all meet here.
#include "can_bus.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "can_files.h"
#include "can_watchers.h"
#include "korvel/platform/platform.h"

namespace quillon {
namespace {

constexpr uint32_t kCan1Base = 0x40044000, kCan2Base = 0x40048000;
enum Offset : uint32_t {
  kMod = 0x00, kCmr = 0x04, kIcr = 0x0C, kBtr = 0x14,
  kRfs = 0x20, kRid = 0x24, kRda = 0x28, kRdb = 0x2C,
  kTfi1 = 0x30,  // buffer n at kTfi1 + 0x10 * (n - 1): TFI, TID, TDA, TDB
};
constexpr uint32_t kNvicSetPending0 = 0xE000E200, kCanIrqBit = 1u << 25;
constexpr uint32_t kFull = 0xFFFFFFFFu;
constexpr uint32_t kPollMs = 5;     // a frame file lives 20 ms: poll well within that
constexpr uint32_t kSettleMs = 5;   // after a notification, give the writer time to finish

uint32_t baseOf(int port) { return port == 1 ? kCan1Base : kCan2Base; }
int portOf(uint32_t address) { return (address & 0xFFFFC000u) == kCan1Base ? 1 : 2; }

struct Port {
  std::atomic<bool> enabled{false};
  std::atomic<uint32_t> acceptance{kNoAcceptanceId};
  std::atomic<uint32_t> bitTiming{0xFFFFFFFFu};
  std::atomic<uint32_t> event{uint32_t(CanEventState::Consumed)};
  std::atomic<uint32_t> colour{0};
  std::atomic<uint32_t> shownColour{0};  // what the port's square shows
  // Guarded by State::mutex:
  std::string directory = "/";
  bool directoryChosen = false;
  bool directoryChanged = false;  // a pick changed the directory; the next confirmation applies it
  bool setFromCommandLine = false;
  std::string sending;  // file name of the frame this port is transmitting, if any  // configured headless: the run's options hold for the whole run
  // The record the watchers follow (as last confirmed).
  std::atomic<bool> running{false};
  std::atomic<uint32_t> recordAcceptance{kNoAcceptanceId};
  std::string recordDirectory;  // guarded by State::mutex
  std::unique_ptr<FolderWatcher> frameWatcher, colourWatcher;  // guarded by State::watcherMutex
};

struct State {
  std::mutex mutex;
  std::mutex watcherMutex;  // starting and stopping watchers (never held by a watcher thread)
  std::array<Port, 2> ports;
  std::atomic<const HostFunctionTable*> host{nullptr};
  std::atomic<bool> pagePresent{false};
  std::atomic<bool> forcePolling{false};
  std::mutex sinkMutex;  // held while a sink runs, so detaching waits for calls in flight
  std::function<void(int, uint32_t)> colourSink;
  std::function<void(int, uint32_t)> deliveryListener;
};

State& state() {
  static State s;
  return s;
}
Port& portState(int port) { return state().ports[port == 1 ? 0 : 1]; }

// ---- register access through the host ----
uint32_t readSfr(const HostFunctionTable& h, uint32_t address, uint32_t mask) {
  uint32_t value = 0, previous = 0;
  h.AgsiReadSFR(address, &value, &previous, mask);
  return value;
}
void writeSfr(const HostFunctionTable& h, uint32_t address, uint32_t value, uint32_t mask = kFull) {
  h.AgsiWriteSFR(address, value, mask);
}
// RM, which here marks "a frame waits in the receive registers".
void clearModBit0(const HostFunctionTable& h, uint32_t base) {
  if (readSfr(h, base + kMod, 0xF) & 1) writeSfr(h, base + kMod, 0, 1);
}
void setModBit0(const HostFunctionTable& h, uint32_t base) {
  if (!(readSfr(h, base + kMod, 0xF) & 1)) writeSfr(h, base + kMod, 1, 1);
}
void pendCanInterrupt(const HostFunctionTable& h) { writeSfr(h, kNvicSetPending0, kCanIrqBit, kCanIrqBit); }

bool lookUpSymbol(const HostFunctionTable& h, const char* name, uint32_t* address) {
  AGSISYMDSC symbol{};
  std::snprintf(symbol.szName, sizeof symbol.szName, "%s", name);
  if (h.AgsiGetSymbolByName(&symbol) == 0 || symbol.ok != 1) return false;
  *address = static_cast<uint32_t>(symbol.val);
  return true;
}

std::string directoryOf(int port) {
  std::lock_guard lock(state().mutex);
  return portState(port).directory;
}

void showColour(int port, uint32_t colour) {
  Port& p = portState(port);
  if (p.shownColour.exchange(colour) == colour) return;
  std::lock_guard lock(state().sinkMutex);
  if (state().colourSink) state().colourSink(port, colour);
}

// Sends the frame of transmit buffer n (1 to 3) as a frame file: the file appears after a spread
// of 0 to 19 ms (so that senders that start together do not collide) and lives 20 ms.
void transmit(const HostFunctionTable& h, int port, int n) {
  uint32_t base = baseOf(port), buffer = base + kTfi1 + 0x10 * uint32_t(n - 1);
  Frame f;
  f.information = readSfr(h, buffer, kFull);
  f.identifier = readSfr(h, buffer + 4, kFull);
  std::string name = frameFileName(directoryOf(port), f.identifier);
  f.dataA = readSfr(h, buffer + 8, kFull);
  f.dataB = readSfr(h, buffer + 12, kFull);
  f.bitTiming = readSfr(h, base + kBtr, kFull);
  writeSfr(h, base + kMod, 0, 1);
  auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch()).count();
  korvel::platform::sleepMillis(static_cast<uint32_t>(nowMs % 20));
  Port& p = portState(port);
  {
    std::lock_guard lock(state().mutex);
    p.sending = std::filesystem::path(name).filename().string();
  }
  if (writeTextFile(name, formatFrame(f))) {
    korvel::platform::sleepMillis(20);
    std::error_code ignored;
    std::filesystem::remove(name, ignored);
  }
  {
    std::lock_guard lock(state().mutex);
    p.sending.clear();
  }
  portState(port).event = uint32_t(CanEventState::Transmitted);
}

void selfReceive(const HostFunctionTable& h, int port, int n) {
  uint32_t base = baseOf(port), buffer = base + kTfi1 + 0x10 * uint32_t(n - 1);
  uint32_t information = readSfr(h, buffer, kFull), identifier = readSfr(h, buffer + 4, kFull);
  uint32_t dataA = readSfr(h, buffer + 8, kFull), dataB = readSfr(h, buffer + 12, kFull);
  readSfr(h, base + kBtr, kFull);
  writeSfr(h, base + kMod, 0, 1);
  Port& p = portState(port);
  p.event = uint32_t(CanEventState::Transmitted);
  // Only the exact acceptance ID: accept-all means nothing to the loop-back.
  if (identifier != p.acceptance) return;
  setModBit0(h, base);
  writeSfr(h, base + kRfs, information);
  writeSfr(h, base + kRid, identifier);
  writeSfr(h, base + kRda, dataA);
  writeSfr(h, base + kRdb, dataB);
  p.event = uint32_t(CanEventState::Received);
  pendCanInterrupt(h);
  p.event = uint32_t(CanEventState::Transmitted);
}

int64_t parseAcceptance(const std::string& text) {
  // Leading sign and digits, as a number box reads them; anything else counts as 0.
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t v = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && v < (int64_t(1) << 40))
    v = v * 10 + (text[i++] - '0');
  return negative ? -v : v;
}

}  // namespace

// The state is made first so that it outlives the bus: the bus's destructor joins the watchers
// that still use it.
CanBus::CanBus() { state(); }
CanBus::~CanBus() { shutdown(); }

CanBus& CanBus::instance() {
  static CanBus bus;
  return bus;
}

PortView CanBus::port(int port) const {
  Port& p = portState(port);
  PortView v;
  std::lock_guard lock(state().mutex);
  v.directory = p.directory;
  v.colour = p.colour;
  v.acceptanceId = p.acceptance;
  v.enabled = p.enabled;
  v.directoryChosen = p.directoryChosen;
  return v;
}

void CanBus::setEnabled(int port, bool enabled) { portState(port).enabled = enabled; }

bool CanBus::pickDirectory(int port, const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  Port& p = portState(port);
  std::lock_guard lock(state().mutex);
  bool changed = path != p.directory;
  p.directoryChanged = changed;
  p.directory = path;
  p.directoryChosen = true;
  return changed;
}

void CanBus::setColour(int port, uint32_t colour) { portState(port).colour = colour; }

void CanBus::confirm(const std::string acceptanceText[2], PortOutcome outcome[2]) {
  State& s = state();
  std::lock_guard watchers(s.watcherMutex);
  for (int port = 1; port <= 2; ++port) {
    Port& p = portState(port);
    p.running = p.enabled.load();
    // A port switched off ends its watchers now rather than at their next wake-up.
    if (!p.running) {
      if (p.frameWatcher) p.frameWatcher->stop(), p.frameWatcher.reset();
      if (p.colourWatcher) p.colourWatcher->stop(), p.colourWatcher.reset();
    }
  }
  for (int port = 1; port <= 2; ++port) {
    Port& p = portState(port);
    PortOutcome& out = outcome[port - 1];
    out = PortOutcome{};
    std::string directory;
    bool changed;
    {
      std::lock_guard lock(s.mutex);
      if (!p.enabled || !p.directoryChosen) continue;
      directory = p.directory;
      changed = p.directoryChanged;
    }
    uint32_t a = static_cast<uint32_t>(parseAcceptance(acceptanceText[port - 1]));
    if (a == 0xFFFFFFFFu) continue;
    out.skipped = false;
    out.error = prepareDirectory(directory, p.colour);
    showColour(port, p.colour);
    if (!out.error.empty()) continue;  // no folders to watch
    bool polling = s.forcePolling || pollingForcedByEnvironment() ||
                   korvel::platform::isNetworkFileSystem(dataFolder(directory));
    uint32_t pollMs = polling ? kPollMs : 0, settleMs = polling ? 0 : kSettleMs;
    if (changed) {
      p.acceptance = a;
      p.recordAcceptance = a;
      {
        std::lock_guard lock(s.mutex);
        p.recordDirectory = directory;
        p.directoryChanged = false;  // applied: a further confirmation starts nothing more
      }
      if (p.colourWatcher) p.colourWatcher->stop();
      auto scanner = std::make_shared<ColourScanner>();
      p.colourWatcher = FolderWatcher::start(settingsFolder(directory), pollMs, settleMs, [port, directory, scanner] {
        Port& q = portState(port);
        {
          std::lock_guard lock(state().mutex);
          if (q.recordDirectory != directory) return false;
        }
        if (!q.running) return false;
        if (std::optional<uint32_t> colour = scanner->scan(settingsFolder(directoryOf(port)))) {
          q.colour = *colour;
          showColour(port, *colour);
        }
        return true;
      });
      out.colourWatcherStarted = p.colourWatcher != nullptr;
    }
    if (a != p.acceptance || changed) {
      p.acceptance = a;
      p.recordAcceptance = a;
      {
        std::lock_guard lock(s.mutex);
        p.recordDirectory = directory;
      }
      if (p.frameWatcher) p.frameWatcher->stop();
      auto scanner = std::make_shared<FrameScanner>();
      p.frameWatcher = FolderWatcher::start(dataFolder(directory), pollMs, settleMs, [port, directory, a, scanner] {
        Port& q = portState(port);
        if (q.recordAcceptance != a || !q.running) return false;
        std::string own;
        {
          std::lock_guard lock(state().mutex);
          if (q.recordDirectory != directory) return false;
          own = q.sending;
        }
        if (auto d = scanner->scan(dataFolder(directory), a, q.bitTiming, own))
          CanBus::instance().deliverReceivedFrame(port, d->information, d->identifier, d->dataA, d->dataB);
        return true;
      });
      out.frameWatcherStarted = p.frameWatcher != nullptr;
    }
  }
}

void CanBus::setColourSink(std::function<void(int port, uint32_t colour)> sink) {
  std::lock_guard lock(state().sinkMutex);
  state().colourSink = std::move(sink);
}

void CanBus::setSettingsPagePresent(bool present) { state().pagePresent = present; }

void CanBus::resetPortsForNewBoard() {
  for (int port = 1; port <= 2; ++port) {
    Port& p = portState(port);
    std::lock_guard lock(state().mutex);
    if (p.setFromCommandLine) continue;
    p.directory.assign(1, '/');  // (not = "/": GCC 12 warns falsely about the copy)
    // The root was never picked: confirming must not empty "/data" and "/settings".
    p.directoryChosen = false;
    p.directoryChanged = false;
    p.colour = 0;
    p.shownColour = 0;
  }
}

void CanBus::closeBoard() {
  State& s = state();
  std::string dirs[2];
  bool chosen[2];
  for (int port = 1; port <= 2; ++port) {
    Port& p = portState(port);
    p.enabled = false;
    p.running = false;
    std::lock_guard lock(s.mutex);
    dirs[port - 1] = p.directory;
    chosen[port - 1] = p.directoryChosen;
  }
  // Other instances' watchers on the same folders wake up too (and find no frame).
  for (int i = 0; i < 2; ++i)
    if (chosen[i]) touchWakeUpFile(dataFolder(dirs[i]) + "tmp.txt");
  for (int i = 0; i < 2; ++i)
    if (chosen[i]) touchWakeUpFile(settingsFolder(dirs[i]) + "tmp.txt");
  shutdown();
}

void CanBus::shutdown() {
  State& s = state();
  std::lock_guard watchers(s.watcherMutex);
  for (Port& p : s.ports) {
    p.frameWatcher.reset();  // wakes and joins
    p.colourWatcher.reset();
  }
}

void CanBus::setHost(const HostFunctionTable* host) { state().host = host; }

void CanBus::commandWritten(uint32_t address, uint32_t) {
  const HostFunctionTable* h = state().host;
  if (h == nullptr) return;
  clearModBit0(*h, kCan2Base);
  clearModBit0(*h, kCan1Base);
  int port = portOf(address);
  if (!portState(port).enabled || !state().pagePresent) return;
  uint32_t command = readSfr(*h, baseOf(port) + kCmr, 0xFF);
  switch (command) {
    case 0x21: transmit(*h, port, 1); break;
    case 0x41: transmit(*h, port, 2); break;
    case 0x81: transmit(*h, port, 3); break;
    case 0x31: selfReceive(*h, port, 1); break;
    case 0x51: selfReceive(*h, port, 2); break;
    case 0x91: selfReceive(*h, port, 3); break;
    default: break;  // release, abort, several buffers at once...
  }
}

void CanBus::bitTimingWritten(uint32_t address, uint32_t) {
  const HostFunctionTable* h = state().host;
  if (h == nullptr || !h->AgsiIsSimulatorAccess()) return;
  uint32_t symbol = 0;
  if (!lookUpSymbol(*h, "result", &symbol)) return;
  uint8_t bytes[4] = {};
  h->AgsiReadMemory(symbol, 4, bytes);
  uint32_t value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
  // The baud-rate prescaler field's width: what receivers compare.
  portState(portOf(address)).bitTiming = value & 0x3FF;
}

void CanBus::interruptCauseRead(uint32_t address, uint32_t) {
  const HostFunctionTable* h = state().host;
  if (h == nullptr || !h->AgsiIsSimulatorAccess()) return;
  uint32_t symbol = 0;
  if (!lookUpSymbol(*h, "icr", &symbol)) return;
  Port& p = portState(portOf(address));
  uint8_t cause;
  switch (CanEventState(p.event.load())) {
    case CanEventState::Received: cause = 1; break;     // RI
    case CanEventState::Transmitted: cause = 2; break;  // TI1
    default: return;
  }
  h->AgsiWriteMemory(symbol, 1, &cause);
  p.event = uint32_t(CanEventState::Consumed);
}

void CanBus::deliverReceivedFrame(int port, uint32_t information, uint32_t identifier, uint32_t dataA,
                                  uint32_t dataB) {
  const HostFunctionTable* h = state().host;
  if (h == nullptr) return;
  uint32_t base = baseOf(port);
  setModBit0(*h, base);
  writeSfr(*h, base + kRfs, information);
  writeSfr(*h, base + kRid, identifier);
  writeSfr(*h, base + kRda, dataA);
  writeSfr(*h, base + kRdb, dataB);
  portState(port).event = uint32_t(CanEventState::Received);
  pendCanInterrupt(*h);
  std::lock_guard lock(state().sinkMutex);
  if (state().deliveryListener) state().deliveryListener(port, identifier);
}

void CanBus::setDeliveryListener(std::function<void(int port, uint32_t identifier)> listener) {
  std::lock_guard lock(state().sinkMutex);
  state().deliveryListener = std::move(listener);
}

CanEventState CanBus::eventState(int port) const { return CanEventState(portState(port).event.load()); }
uint32_t CanBus::bitTimingReference(int port) const { return portState(port).bitTiming; }
void CanBus::setForcePolling(bool polling) { state().forcePolling = polling; }

PortOutcome CanBus::configurePort(int port, const std::string& dir, const std::string& acceptanceText,
                                  uint32_t colour) {
  setSettingsPagePresent(true);
  {
    std::lock_guard lock(state().mutex);
    portState(port).setFromCommandLine = true;
  }
  setEnabled(port, true);
  pickDirectory(port, dir);
  setColour(port, colour);
  std::string texts[2] = {"-1", "-1"};
  texts[port - 1] = acceptanceText;
  PortOutcome outcome[2];
  confirm(texts, outcome);
  return outcome[port - 1];
}

}  // namespace quillon
