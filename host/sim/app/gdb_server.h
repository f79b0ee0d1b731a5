// korvel-sim's GDB server (--gdb PORT): a TCP server on 127.0.0.1 (through platform/'s byte
// streams) with a thread of its own that speaks the remote protocol (gdb_protocol.*) for one
// debugger at a time and drives the simulator through its debugger calls. A debugger that
// connects halts the firmware; one that detaches or goes away leaves it running.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "gdb_protocol.h"
#include "korvel_sim/simulator.h"

namespace korvel::platform {
class ByteListener;
class ByteStream;
}

namespace korvel::simapp {

class GdbServer {
 public:
  struct Hooks {
    std::function<void()> resetPlugin;  // the plug-in's reset code (monitor reset), before the chip's
    std::function<void()> kill;         // the debugger ended the run (k)
    std::function<void(const std::string&)> note;  // a line for the user
    std::function<void()> debuggerGone;  // a debugger connection ended (server thread)
  };
  explicit GdbServer(sim::Simulator& sim);
  ~GdbServer();
  GdbServer(const GdbServer&) = delete;
  GdbServer& operator=(const GdbServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port) and starts the server thread; false with one
  // line in *error (the port taken, ...).
  bool open(uint16_t port, Hooks hooks, std::string* error);
  uint16_t port() const { return port_; }
  // Sends what the debugger is still owed (a stop reply), closes the connection and ends the thread.
  void close();
  bool debuggerConnected() const { return connected_; }
  // The simulation thread's run ended (Simulator::setOnRunEnded).
  void runEnded(sim::StopReason reason);

 private:
  class Target;
  void loop();
  void serve(platform::ByteStream& client);
  void push(const gdb::StopEvent& e);

  sim::Simulator& sim_;
  Hooks hooks_;
  std::unique_ptr<platform::ByteListener> listener_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> connected_{false};
  std::atomic<bool> haltRequested_{false};  // our own stop: report it as an interrupt
  std::mutex stopsMutex_;
  std::deque<gdb::StopEvent> stops_;
};

}  // namespace korvel::simapp
