#include "session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "korvel/platform/platform.h"

namespace korvel::simapp {

namespace {
// Every write to a port's pin levels (PORT0..PORT4), by anyone: a button's contact bounce plays
// out on a thread of its own, and a scripted step waits until these stop.
std::atomic<uint64_t> gPinWrites{0};
void countPinWrite(uint32_t, uint32_t) { ++gPinWrites; }

bool isLineOf(const std::string& text, const std::string& line) {
  for (size_t p = 0; p <= text.size();) {
    size_t q = text.find('\n', p);
    if (q == std::string::npos) q = text.size();
    if (text.compare(p, q - p, line) == 0 && q - p == line.size()) return true;
    p = q + 1;
  }
  return false;
}
}  // namespace

std::filesystem::path defaultPluginPath() {
  auto exe = platform::modulePathOf(reinterpret_cast<const void*>(&defaultPluginPath));
  return exe.parent_path().parent_path() / "lib" / "korvel" / "libKorvel.so";
}

Session::Session(const Options& options, std::function<void(std::function<void()>)> post)
    : options_(options), post_(std::move(post)), sim_(agsi_host::Host::instance(), options.cpu),
      expectations_(options.script) {
  sim_.setRealTime(options.realTime);
  if (options.timeLimit >= 0) sim_.setTimeLimit(options.timeLimit);
  sim_.setOutput([this](const std::string& l) { firmwareLine(l); });
  sim_.setOnStopped([this](sim::StopReason r) {
    post_([this, r] {
      if (onStopped_) onStopped_(r);
    });
  });
  sim_.setOnRequestedReset([this] {
    if (initialised_) plugin_.reset();
  });
  if (options.traceUnmodelled)
    sim_.setTraceUnmodelled([this](uint32_t address, bool write) {
      char text[128];
      std::snprintf(text, sizeof text, "korvel-sim: the firmware %s 0x%08X, a register nothing models (it reads its reset value)",
                    write ? "wrote" : "read", unsigned(address));
      print(text, OutputKind::Error);
    });
}

Session::~Session() { shutdown(); }

void Session::print(const std::string& line, OutputKind kind) {
  bool first;
  {
    std::lock_guard lock(outputMutex_);
    first = output_.empty();
    output_.push_back({kind, line});
    // Lines wait here for a window that takes them a few times a second; a firmware printing
    // faster than anyone can read keeps only its latest lines, with a note of how many went.
    if (!outputListener_ && output_.size() > kMaxWaitingLines) {
      output_.pop_front();
      ++droppedLines_;
    }
  }
  if (outputListener_) outputListener_();
  else if (first && outputArrived_) outputArrived_();
}

std::vector<OutputLine> Session::takeOutput() {
  std::lock_guard lock(outputMutex_);
  std::vector<OutputLine> out;
  if (droppedLines_)
    out.push_back({OutputKind::Message, "korvel-sim: " + std::to_string(droppedLines_) +
                                            " lines of output dropped: the firmware printed faster than they can be shown"});
  droppedLines_ = 0;
  out.insert(out.end(), output_.begin(), output_.end());
  output_.clear();
  return out;
}

void Session::firmwareLine(const std::string& line) {
  // The simulator reports a fault through the same channel as the firmware's text; the report is
  // ours, not the firmware's, and must not mix into its output.
  if (!sim_.faultReport().empty() && isLineOf(sim_.faultReport(), line)) {
    print(line, OutputKind::Error);
    return;
  }
  print(line, OutputKind::Firmware);
  if (expectations_.line(line) && options_.untilExpected) {
    print("korvel-sim: every expectation met at t = " + std::to_string(sim_.seconds()) + " s");
    endRun();
  }
}

void Session::endRun() {
  if (ended_.exchange(true)) return;
  sim_.stopSimulation();
  post_([this] {
    if (onStopped_) onStopped_(sim::StopReason::Requested);
  });
}

bool Session::open(std::string* error) {
  agsi_host::Host& host = agsi_host::Host::instance();
  host.setMessageSink([this](const std::string& m) {
    // Messages carry their own line breaks; the pane shows one line per message line.
    std::string text = m;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t p = 0;
    for (size_t q; (q = text.find('\n', p)) != std::string::npos; p = q + 1) print(text.substr(p, q - p));
    print(text.substr(p));
  });
  if (!options_.firmware.empty() && !sim_.loadFirmware(options_.firmware, error)) return false;
  std::filesystem::path pluginPath = options_.plugin.empty() ? defaultPluginPath() : options_.plugin;
  if (!plugin_.load(pluginPath, error)) return false;
  if (!plugin_.check()) {
    *error = pluginPath.string() + " refused this simulator (its check call returned 0)";
    return false;
  }
  if (!plugin_.init(options_.firmware.string())) {
    *error = pluginPath.string() + " failed to initialise (see the messages above)";
    return false;
  }
  initialised_ = true;
  // The plug-in seeds the C random generator from the clock when it starts; a chosen seed
  // replaces that, so the contact bounce repeats from run to run.
  if (options_.seed) std::srand(*options_.seed);
  auto watch = reinterpret_cast<PFN_AgsiSetWatchOnVTR>(platform::findSymbol(host.moduleHandle(), "AgsiSetWatchOnVTR"));
  // Pins nobody drives float high: the LPC17xx's pull-ups are on after reset.
  for (int n = 0; n < 5; ++n) {
    std::string name = "PORT" + std::to_string(n);
    if (auto handle = host.vtrHandle(name)) {
      host.writeVtr(name, 0xFFFFFFFF, false);
      if (watch) watch(*handle, countPinWrite, AGSIWRITE);
    }
  }
  plugin_.reset();
  if (!options_.vcd.empty()) {
    vcdFile_.open(options_.vcd, std::ios::binary | std::ios::trunc);
    if (!vcdFile_) {
      *error = "--vcd: cannot write " + options_.vcd.string() + " (is the folder there and writable?)";
      return false;
    }
    vcd_ = std::make_unique<VcdWriter>(vcdFile_, options_.vcdPins);
    std::array<uint32_t, VcdWriter::kPorts> levels{};
    for (int p = 0; p < VcdWriter::kPorts; ++p) levels[size_t(p)] = sim_.pinLevels(p);
    vcd_->begin(levels);
    sim_.setPinListener([this](int port, uint32_t levels, double seconds) { vcd_->change(port, levels, seconds); });
  }
  return openUarts(error) && openGdb(error);
}

bool Session::openGdb(std::string* error) {
  if (!options_.gdbPort) return true;
  GdbServer::Hooks hooks;
  hooks.resetPlugin = [this] {
    if (initialised_) plugin_.reset();
  };
  hooks.kill = [this] { endRun(); };
  hooks.note = [this](const std::string& l) { print(l, OutputKind::Error); };
  hooks.debuggerGone = [this] {
    post_([this] {
      if (onDebuggerGone_) onDebuggerGone_();
    });
  };
  sim_.setOnRunEnded([this](sim::StopReason r) { gdb_.runEnded(r); });
  if (!gdb_.open(*options_.gdbPort, std::move(hooks), error)) return false;
  // Where to connect, even with --quiet: the user needs it (and tests read the port from it).
  std::string where = "korvel-sim: GDB server on 127.0.0.1:" + std::to_string(gdb_.port()) +
                      (options_.gdbWait ? " (halted at reset until the debugger continues)" : "");
  if (!options_.headless) std::fprintf(stderr, "%s\n", where.c_str());
  print(where, OutputKind::Error);
  return true;
}

bool Session::openUarts(std::string* error) {
  UartChannels::Hooks hooks;
  hooks.setSink = [this](int n, std::function<void(uint8_t)> sink) { sim_.setUartSink(n, std::move(sink)); };
  hooks.input = [this](int n, uint8_t b) { return sim_.uartInput(n, b); };
  hooks.stdoutLine = [this](const std::string& l) { print(l, OutputKind::Firmware); };
  // Even --quiet shows where a terminal can connect: the user needs it.
  hooks.note = [this](const std::string& l) {
    if (!options_.headless) std::fprintf(stderr, "%s\n", l.c_str());
    print(l, OutputKind::Error);
  };
  if (!uarts_.open(options_.uart, std::move(hooks), error)) return false;
  // The window's terminals watch their UARTs' bytes; UART0's text stays in the output lines.
  for (int n = 0; n < 4; ++n)
    if (uartInWindow(n))
      sim_.setUartMonitor(n, [this, feed = &uartFeeds_[size_t(n)]](uint8_t b) {
        if (!feed->push(b)) return;
        std::lock_guard lock(terminalWakeMutex_);
        if (terminalBytesArrived_) terminalBytesArrived_();
      });
  return true;
}

bool Session::uartInWindow(int n) const {
  using Kind = Options::UartChannel::Kind;
  if (options_.headless || n < 0 || n > 3) return false;
  Kind kind = options_.uart[n].kind;
  return kind == Kind::Default || kind == Kind::Window;
}

bool Session::uartActive(int n) {
  if (!uartInWindow(n)) return false;
  if (n == 0 || options_.uart[n].kind == Options::UartChannel::Kind::Window) return true;
  return uartFeeds_[size_t(n)].seen() || sim_.uartUsed(n);
}

void Session::drivePins(int port, uint32_t mask, uint32_t levels) {
  auto& host = agsi_host::Host::instance();
  std::string name = "PORT" + std::to_string(port);
  if (host.vtrHandle(name)) {
    uint32_t now = host.readVtr(name).value_or(0xFFFFFFFF);
    host.writeVtr(name, (now & ~mask) | (levels & mask), false);
    return;
  }
  // No part of the board uses this port: the simulator's pins take the levels directly.
  std::lock_guard lock(host.mutex());
  uint32_t& in = portInputs_[size_t(port)];
  in = (in & ~mask) | (levels & mask);
  sim_.vtrChanged(name, in);
}

void Session::squareEdge(int port, int pin, double start, double half, uint64_t edge, uint64_t generation) {
  if (squareGeneration_[size_t(port * 32 + pin)] != generation || closing_) return;
  uint32_t bit = 1u << pin;
  drivePins(port, bit, edge % 2 ? bit : 0);
  sim_.at(start + double(edge + 1) * half,
          [=, this] { squareEdge(port, pin, start, half, edge + 1, generation); });
}

bool Session::configureCanPorts(std::string* error) {
  bool any = false;
  for (const Options::CanPort& p : options_.can) any |= !p.dir.empty();
  if (!any) return true;
  // The module the plug-in loaded from its bundle folder; looked up, never loaded a second time.
  std::filesystem::path pluginPath = options_.plugin.empty() ? defaultPluginPath() : options_.plugin;
  std::filesystem::path module = pluginPath.parent_path() / "DOCS" / "Quillon" / "libQuillon.so";
  platform::LibraryHandle lib = platform::loadedLibrary(module);
  using Configure = int (*)(int, const char*, const char*, uint32_t);
  auto configure = reinterpret_cast<Configure>(platform::findSymbol(lib, "QuillonConfigurePort"));
  if (configure == nullptr) {
    if (lib) platform::freeLibrary(lib);
    *error = "--can options: the plug-in did not load its CAN module " + module.string() +
             " (is the Quillon bundle installed beside the plug-in?)";
    return false;
  }
  bool ok = true;
  for (int n = 0; n < 2 && ok; ++n) {
    const Options::CanPort& p = options_.can[n];
    if (p.dir.empty()) continue;
    std::error_code ec;
    std::string dir = std::filesystem::absolute(p.dir, ec).string();
    if (configure(n + 1, dir.c_str(), p.acceptance.c_str(), p.colour) == 0) {
      *error = "--can" + std::to_string(n + 1) + "-dir: CAN " + std::to_string(n + 1) + " could not use " + dir +
               " (see the message above; use --canN-id other than -1)";
      ok = false;
    }
  }
  platform::freeLibrary(lib);
  return ok;
}

bool Session::hasVtr(const std::string& name) const {
  // The pins' input levels can always be driven, whether or not a part of the board uses the port.
  if (name.size() == 5 && name.compare(0, 4, "PORT") == 0 && name[4] >= '0' && name[4] <= '4') return true;
  return agsi_host::Host::instance().vtrHandle(name).has_value();
}

AGSIMENU* Session::menu(const std::string& text) const {
  for (AGSIMENU* m : menus())
    if (m && m->szText && text == m->szText) return m;
  return nullptr;
}

void Session::run() {
  // --gdb-wait: the debugger's first continue starts the run.
  if (options_.gdbWait && !gdbWaitOver_) {
    gdbWaitOver_ = true;
    return;
  }
  if (!sim_.running()) sim_.start();
}

void Session::stop() { sim_.stop(); }

bool Session::loadFirmware(const std::filesystem::path& file, std::string* error) {
  bool wasRunning = sim_.running();
  sim::StopReason ended = sim_.lastStop();
  sim_.stop();
  if (!sim_.loadFirmware(file, error)) {
    if (wasRunning) sim_.start();
    return false;
  }
  options_.firmware = file;
  if (initialised_) plugin_.reset();
  ended_ = false;
  if (wasRunning || ended == sim::StopReason::Exited || ended == sim::StopReason::Fault) sim_.start();
  return true;
}

void Session::reset() {
  bool wasRunning = sim_.running();
  sim_.stop();
  if (initialised_) plugin_.reset();
  sim_.resetChip();
  if (wasRunning) sim_.start();
}

void Session::followBoard(bool resetHeld, bool powered) {
  if (!sim_.hasFirmware()) return;
  bool poweredOn = powered && !powered_;
  resetHeld_ = resetHeld;
  powered_ = powered;
  // Power coming back starts the firmware afresh, as the chip's power-on reset does; the plug-in
  // resets its peripherals with it.
  if (poweredOn) sim_.triggerReset();
  sim_.setHeld(resetHeld_ || !powered_);
}

namespace {
// What a board step can set off on other threads: pin changes and the chip's reset requests.
uint64_t boardActivity() { return gPinWrites.load() + agsi_host::Host::instance().resetRequests(); }
}  // namespace

void Session::waitForBoardToSettle(uint64_t activityBefore, bool expectActivity) {
  // A button's contact bounce is a burst of pin changes a few microseconds apart on a thread of
  // its own, which a busy machine may start late. The simulation waits for the burst to begin
  // and then until the pins have been quiet for a while, so the firmware sees the whole burst at
  // the same simulated time in every run, however busy the machine is.
  auto stopped = [this] { return closing_ || sim_.stopping(); };
  // A button that is disabled (no power, JP5 open) or already in the asked state sets off
  // nothing, so the wait for a start is bounded.
  if (expectActivity) {
    for (int i = 0; i < 300 && boardActivity() == activityBefore && !stopped(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int i = 0; i < 200 && !stopped(); ++i) {
    uint64_t before = boardActivity();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (boardActivity() == before) return;
  }
}

void Session::scheduleScript(BoardStep board) {
  size_t expectIndex = 0;
  for (const ScriptStep& written : options_.script) {
    if (written.action == "expect") {
      size_t i = expectIndex++;
      sim_.at(written.seconds, [this, i] { expectations_.open(i); });
      sim_.at(written.seconds + written.within, [this, i] {
        // A failed expectation ends the run at once: what follows would only hide where it failed.
        if (!expectations_.close(i)) endRun();
      });
      continue;
    }
    if (written.action == "square") {
      int port = 0, pin = 0;
      double hz = 0;
      parsePin(written.args[0], &port, &pin);
      bool off = !parseFrequency(written.args[1], &hz);
      double start = written.seconds;
      sim_.at(start, [this, port, pin, hz, off, start] {
        uint64_t generation = ++squareGeneration_[size_t(port * 32 + pin)];
        if (off) drivePins(port, 1u << pin, 1u << pin);
        else squareEdge(port, pin, start, 0.5 / hz, 0, generation);
      });
      continue;
    }
    // A click is a press now and a release a little later, so that polling firmware sees it.
    std::vector<ScriptStep> parts{written};
    if (written.action == "click") {
      parts[0].action = "press";
      parts.push_back(written);
      parts[1].action = "release";
      parts[1].seconds += kClickHoldSeconds;
    }
    for (const ScriptStep& step : parts) {
      sim_.at(step.seconds, [this, step, board] {
        if (step.action == "vtr") {
          auto& host = agsi_host::Host::instance();
          bool isFloat = false, defined = false;
          for (const agsi_host::VtrInfo& v : host.vtrs())
            if (v.name == step.args[0]) defined = true, isFloat = v.type == AGSIVTRFLOAT;
          uint32_t value = 0;
          bool pins = !defined && hasVtr(step.args[0]);
          if (pins && vtrValue(step.args[1], false, &value))
            drivePins(step.args[0][4] - '0', 0xFFFFFFFF, value);
          else if (!defined && !pins)
            print("korvel-sim: " + step.where + ": script step \"" + step.text + "\": no virtual register " + step.args[0], OutputKind::Error);
          else if (!vtrValue(step.args[1], isFloat, &value))
            print("korvel-sim: " + step.where + ": script step \"" + step.text + "\": " + step.args[0] + " holds whole numbers (write e.g. 0xFFFF)", OutputKind::Error);
          else
            host.writeVtr(step.args[0], value, false);
          return;
        }
        if (step.action == "reset") {
          sim_.triggerReset();
          return;
        }
        if (step.action == "stop") {
          endRun();
          return;
        }
        // The LCD hands its frame to its window from a refresh thread of its own every 16 ms of
        // real time; with the simulation paused here, a short wait lets the latest drawing reach
        // the window (its repaint is posted ahead of the picture step) before it is pictured.
        if (step.action == "lcd-png" || step.action == "board-png")
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Board steps run on the UI thread; the simulation waits so they land at their time.
        uint64_t activity = boardActivity();
        auto done = std::make_shared<std::promise<bool>>();
        std::future<bool> finished = done->get_future();
        post_([this, step, board, done] {
          std::string error;
          bool later = false;
          if (!board(step, &error, &later)) print("korvel-sim: " + step.where + ": script step \"" + step.text + "\": " + error, OutputKind::Error);
          done->set_value(later);
        });
        while (finished.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout)
          if (closing_ || sim_.stopping()) return;
        waitForBoardToSettle(activity, finished.get());
      });
    }
  }
}

void Session::updateDialogs() {
  for (AGSIMENU* m : menus())
    if (m && m->pDlg && m->pDlg->iOpen && m->pDlg->Update) m->pDlg->Update();
}

void Session::killDialogs() {
  for (AGSIMENU* m : menus())
    if (m && m->pDlg && m->pDlg->iOpen && m->pDlg->Kill) m->pDlg->Kill(m->pDlg);
}

void Session::shutdown() {
  if (closing_.exchange(true)) return;
  gdb_.close();
  sim_.stop();
  if (vcd_) {
    sim_.setPinListener(nullptr);
    vcd_->flush();
  }
  uarts_.close();
  for (int n = 0; n < 4; ++n) sim_.setUartMonitor(n, {});
  if (initialised_) {
    plugin_.terminate();
    initialised_ = false;
  }
  agsi_host::Host::instance().setMessageSink(nullptr);
}

int Session::exitCode(bool picturesWritten) const {
  RunOutcome o;
  o.faulted = sim_.lastStop() == sim::StopReason::Fault;
  if (sim_.lastStop() == sim::StopReason::Exited) o.firmwareExit = sim_.exitStatus().value_or(0);
  o.expectationFailed = expectations_.anyFailed();
  o.expectationWaiting = expectations_.anyWaiting();
  o.picturesWritten = picturesWritten;
  return exitStatusFor(o);
}

}  // namespace korvel::simapp
