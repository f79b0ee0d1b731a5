// One simulator session: the plug-in loaded into our AGSI host, the LPC17xx running the
// firmware, the output lines of both, and the scripted inputs. The windows (or the headless
// runner) sit on top of it; it knows nothing about them beyond "post this to the UI thread".
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agsi_host/host.h"
#include "korvel_sim/simulator.h"
#include "options.h"

namespace korvel::simapp {

class Session {
 public:
  // post(fn) must run fn later on the UI thread.
  Session(const Options& options, std::function<void(std::function<void()>)> post);
  ~Session();

  // Loads the firmware and the plug-in and initialises it; false with one line in *error.
  bool open(std::string* error);

  void run();
  void stop();
  // The plug-in's reset code, then the chip's reset.
  void reset();
  bool running() const { return sim_.running(); }

  // Plays a scripted step on the UI thread. `board` plays the steps that act on the board.
  using BoardStep = std::function<bool(const ScriptStep&, std::string*)>;
  void scheduleScript(BoardStep board);

  // Puts the CAN ports given by --canN-dir on their buses through the CAN module's own
  // confirmation (call once the board, if any, is built); false with one line in *error.
  bool configureCanPorts(std::string* error);

  // Output lines (plug-in messages, UART0, semihosting, faults) not yet taken.
  std::vector<std::string> takeOutput();
  void setOutputListener(std::function<void()> cb) { outputListener_ = std::move(cb); }
  void print(const std::string& line);

  agsi_host::Plugin& plugin() { return plugin_; }
  sim::Simulator& simulator() { return sim_; }
  std::vector<AGSIMENU*> menus() const { return agsi_host::Host::instance().menuEntries(); }
  AGSIMENU* menu(const std::string& text) const;
  // Calls the update function of every open dialog the plug-in defined (periodically).
  void updateDialogs();
  void killDialogs();
  void shutdown();

  // Told on the UI thread when the run ends by itself (exit, fault, time limit, a stop step).
  void setOnStopped(std::function<void(sim::StopReason)> cb) { onStopped_ = std::move(cb); }
  int exitCode() const;

 private:
  Options options_;
  std::function<void(std::function<void()>)> post_;
  sim::Simulator sim_;
  agsi_host::Plugin plugin_;
  std::mutex outputMutex_;
  std::deque<std::string> output_;
  std::function<void()> outputListener_;
  std::function<void(sim::StopReason)> onStopped_;
  std::atomic<bool> closing_{false};
  bool initialised_ = false;
};

std::filesystem::path defaultPluginPath();

}  // namespace korvel::simapp
