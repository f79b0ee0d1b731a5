#include "gdb_server.h"

#include "korvel/platform/platform.h"

namespace korvel::simapp {

using gdb::StopEvent;

// The protocol's view of the simulator.
class GdbServer::Target : public gdb::DebugTarget {
 public:
  explicit Target(GdbServer& server) : server_(server), sim_(server.sim_) {}

  bool readRegisters(gdb::Registers* regs) override { return sim_.debugRegisters(regs); }
  bool writeRegisters(const gdb::Registers& regs) override { return sim_.setDebugRegisters(regs); }
  bool readMemory(uint32_t address, size_t length, uint8_t* out) override {
    return uint64_t(address) + length <= 0x100000000ull && sim_.debugRead(address, uint32_t(length), out);
  }
  bool writeMemory(uint32_t address, size_t length, const uint8_t* in) override {
    return uint64_t(address) + length <= 0x100000000ull && sim_.debugWrite(address, uint32_t(length), in);
  }
  bool setBreakpoint(uint32_t address, bool on) override { return sim_.setBreakpoint(address, on); }
  bool setWatchpoint(uint32_t address, uint32_t length, gdb::WatchKind kind, bool on) override {
    return sim_.setWatchpoint(address, length, kind != gdb::WatchKind::Write, kind != gdb::WatchKind::Read, on);
  }
  void resume() override { sim_.start(); }
  void step() override {
    sim::StopReason r = sim_.debugStep();
    if (r == sim::StopReason::Exited) server_.push({StopEvent::Kind::Exited, 0, sim_.exitStatus().value_or(0), {}});
    else if (r == sim::StopReason::Fault) server_.push({StopEvent::Kind::Fault, 0, 0, sim_.faultReport()});
    else server_.push({StopEvent::Kind::Trap});
  }
  void interrupt() override {
    server_.haltRequested_ = true;
    if (sim_.stopIfRunning()) {
      // The run's end reached runEnded() as Requested.
    } else {
      // Stopped by someone else meanwhile (the window's Stop): the debugger still gets its stop.
      server_.haltRequested_ = false;
      server_.push({StopEvent::Kind::Interrupt});
    }
  }
  void reset() override {
    halt();
    if (server_.hooks_.resetPlugin) server_.hooks_.resetPlugin();
    sim_.resetChip();
  }
  bool eraseFlash(uint32_t address, uint32_t length) override { return sim_.eraseFlash(address, length); }
  void flashDone() override {}
  void detach() override {
    halt();
    sim_.clearDebugPoints();
    sim_.start();
  }
  void kill() override {
    halt();
    sim_.clearDebugPoints();
    if (server_.hooks_.kill) server_.hooks_.kill();
  }
  // Stops the simulation thread for the debugger without telling it a stop it did not ask for.
  void halt() {
    server_.haltRequested_ = true;
    sim_.stopIfRunning();
    server_.haltRequested_ = false;
    std::lock_guard lock(server_.stopsMutex_);
    server_.stops_.clear();
  }

 private:
  GdbServer& server_;
  sim::Simulator& sim_;
};

GdbServer::GdbServer(sim::Simulator& sim) : sim_(sim) {}

GdbServer::~GdbServer() { close(); }

bool GdbServer::open(uint16_t port, Hooks hooks, std::string* error) {
  close();
  hooks_ = std::move(hooks);
  listener_ = platform::listenOnLoopback(port, error);
  if (!listener_) {
    *error = "--gdb: " + *error + " (is another program, or another korvel-sim, using the port? choose another with --gdb PORT)";
    return false;
  }
  port_ = listener_->port();
  quit_ = false;
  thread_ = std::thread([this] { loop(); });
  return true;
}

void GdbServer::close() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.reset();
}

void GdbServer::push(const StopEvent& e) {
  std::lock_guard lock(stopsMutex_);
  stops_.push_back(e);
}

void GdbServer::runEnded(sim::StopReason reason) {
  using sim::StopReason;
  switch (reason) {
    case StopReason::Breakpoint: push({StopEvent::Kind::Trap}); break;
    case StopReason::Watchpoint: push({StopEvent::Kind::Watchpoint, sim_.watchHit(), 0, {}}); break;
    case StopReason::Exited: push({StopEvent::Kind::Exited, 0, sim_.exitStatus().value_or(0), {}}); break;
    case StopReason::Fault: push({StopEvent::Kind::Fault, 0, 0, sim_.faultReport()}); break;
    case StopReason::TimeLimit: push({StopEvent::Kind::Ended}); break;
    case StopReason::Requested:
      // Only a stop the debugger asked for is its business: the window's Reset stops and
      // restarts the run, and the window's Stop is answered when the debugger interrupts.
      if (haltRequested_.exchange(false)) push({StopEvent::Kind::Interrupt});
      break;
    case StopReason::None: break;
  }
}

void GdbServer::loop() {
  while (!quit_) {
    std::unique_ptr<platform::ByteStream> client = listener_->accept(100);
    if (!client) continue;
    connected_ = true;
    if (hooks_.note) hooks_.note("korvel-sim: debugger connected on 127.0.0.1:" + std::to_string(port_));
    serve(*client);
    connected_ = false;
    if (hooks_.debuggerGone) hooks_.debuggerGone();
  }
}

void GdbServer::serve(platform::ByteStream& client) {
  Target target(*this);
  // A debugger that connects finds the firmware halted.
  target.halt();
  {
    std::lock_guard lock(stopsMutex_);
    stops_.clear();
  }
  gdb::Connection connection(target);
  uint8_t buffer[4096];
  auto sendAll = [&](const std::string& out) {
    return out.empty() || client.write(reinterpret_cast<const uint8_t*>(out.data()), out.size(), 2000);
  };
  bool gone = false;
  while (!gone) {
    long n = client.read(buffer, sizeof buffer, 20);
    if (n < 0) {
      gone = true;
      break;
    }
    if (n > 0 && !sendAll(connection.receive(buffer, size_t(n)))) gone = true;
    for (;;) {
      StopEvent e;
      {
        std::lock_guard lock(stopsMutex_);
        if (stops_.empty()) break;
        e = stops_.front();
        stops_.pop_front();
      }
      if (!sendAll(connection.stopped(e))) gone = true;
    }
    if (connection.finished()) {
      if (hooks_.note) hooks_.note("korvel-sim: debugger detached");
      return;
    }
    if (quit_) return;  // korvel-sim ends: the debugger's connection closes with it
  }
  // The debugger went away without detaching: the firmware runs on without its breakpoints.
  if (hooks_.note) hooks_.note("korvel-sim: the debugger's connection closed; the firmware runs on");
  target.detach();
}

}  // namespace korvel::simapp
