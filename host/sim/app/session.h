// One simulator session: the plug-in loaded into our AGSI host, the LPC17xx running the
// firmware, the output lines of both, the scripted inputs and expectations, and the chip's hold
// while RESET is down or the board has no power. The windows (or the headless runner) sit on top
// of it; it knows nothing about them beyond "post this to the UI thread".
#pragma once

#include <array>
#include <atomic>
#include <fstream>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agsi_host/host.h"
#include "expectations.h"
#include "korvel_sim/simulator.h"
#include "options.h"
#include "gdb_server.h"
#include "vcd_writer.h"
#include "terminal.h"
#include "uart_channels.h"

namespace korvel::simapp {

// Where a line of output belongs: the firmware's own text (UART0, semihosting), the plug-in's
// and korvel-sim's messages, or errors (faults, script failures) that even --quiet shows.
enum class OutputKind { Firmware, Message, Error };
struct OutputLine {
  OutputKind kind;
  std::string text;
};

class Session {
 public:
  // post(fn) must run fn later on the UI thread.
  Session(const Options& options, std::function<void(std::function<void()>)> post);
  ~Session();

  // Loads the firmware and the plug-in and initialises it; false with one line in *error.
  bool open(std::string* error);

  void run();
  void stop();
  // Loads another firmware file (or the same one rebuilt), resets the plug-in and the chip, and
  // runs it if the simulation ran or had ended by itself (exit, fault). A file that cannot be
  // loaded leaves the firmware before it running as it was; false with one line in *error.
  bool loadFirmware(const std::filesystem::path& file, std::string* error);
  const std::filesystem::path& firmware() const { return options_.firmware; }
  // The plug-in's reset code, then the chip's reset.
  void reset();
  bool running() const { return sim_.running(); }

  // Plays a scripted step on the UI thread. `board` plays the steps that act on the board; it
  // sets *later when the step sets off work on another thread (a button's contact bounce) that
  // the simulation must wait for.
  using BoardStep = std::function<bool(const ScriptStep&, std::string*, bool* later)>;
  void scheduleScript(BoardStep board);
  bool hasVtr(const std::string& name) const;

  // Puts the CAN ports given by --canN-dir on their buses through the CAN module's own
  // confirmation (call once the board, if any, is built); false with one line in *error.
  bool configureCanPorts(std::string* error);

  // Output lines not yet taken.
  std::vector<OutputLine> takeOutput();
  void setOutputListener(std::function<void()> cb) { outputListener_ = std::move(cb); }
  // Without a listener: called (on the thread that printed) when a line arrives while none was
  // waiting, so that a window takes the lines in batches without polling for them. Set it before
  // the simulation runs.
  void setOutputArrived(std::function<void()> cb) { outputArrived_ = std::move(cb); }
  // Told (on the simulation thread) when a UART's first byte arrives while none of its bytes
  // wait to be taken: the window wakes for its terminals only then. Any thread may set it.
  void setTerminalBytesArrived(std::function<void()> cb) {
    std::lock_guard lock(terminalWakeMutex_);
    terminalBytesArrived_ = std::move(cb);
  }
  void print(const std::string& line, OutputKind kind = OutputKind::Message);

  // The window's UART terminals (window runs only): UARTn has one unless --uartN puts it
  // elsewhere. A terminal shows once the UART is active: UART0 and the UARTs --uartN window names
  // from the start, the others once the firmware writes their registers or sends on them.
  bool uartInWindow(int n) const;
  bool uartActive(int n);
  // What the firmware sent on UARTn since the last call (UI thread); *lost: bytes dropped
  // because nobody took them for long.
  std::string takeUartBytes(int n, size_t* lost) { return uartFeeds_[size_t(n & 3)].take(lost); }
  // A byte for UARTn's receiver; false while its wire is full (try again later).
  bool uartInput(int n, uint8_t byte) { return sim_.uartInput(n, byte); }

  agsi_host::Plugin& plugin() { return plugin_; }
  sim::Simulator& simulator() { return sim_; }
  std::vector<AGSIMENU*> menus() const { return agsi_host::Host::instance().menuEntries(); }
  AGSIMENU* menu(const std::string& text) const;
  // Calls the update function of every open dialog the plug-in defined (periodically).
  void updateDialogs();
  void killDialogs();
  void shutdown();

  // The board as the chip sees it (UI thread): the processor is held while RESET is down or the
  // board has no power, and starts afresh from reset when power comes back.
  void followBoard(bool resetHeld, bool powered);
  bool powered() const { return powered_; }

  // Told on the UI thread when the run ends by itself (exit, fault, time limit, a stop step, an
  // expectation failed or all met with --until-expected).
  void setOnStopped(std::function<void(sim::StopReason)> cb) { onStopped_ = std::move(cb); }
  const Expectations& expectations() const { return expectations_; }
  // With --gdb: whether a debugger is connected now, and a call (on the UI thread) when one leaves.
  bool debuggerConnected() const { return gdb_.debuggerConnected(); }
  void setOnDebuggerGone(std::function<void()> cb) { onDebuggerGone_ = std::move(cb); }
  // The headless exit status for the run so far (picturesWritten: every picture was written).
  int exitCode(bool picturesWritten = true) const;

 private:
  void firmwareLine(const std::string& line);
  // Sets the input levels of a port's pins in `mask` (through its PORTn virtual register when
  // the plug-in defined one, so the board's parts keep seeing what the pins carry).
  void drivePins(int port, uint32_t mask, uint32_t levels);
  // One edge of a scripted square wave, and the next one scheduled; a later square step on the
  // same pin bumps its generation and ends the older wave.
  void squareEdge(int port, int pin, double start, double half, uint64_t edge, uint64_t generation);
  std::array<uint32_t, 5> portInputs_{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  std::array<uint64_t, 5 * 32> squareGeneration_{};  // simulation thread only
  std::ofstream vcdFile_;
  std::unique_ptr<VcdWriter> vcd_;
  void endRun();
  void waitForBoardToSettle(uint64_t activityBefore, bool expectActivity);
  bool openUarts(std::string* error);
  bool openGdb(std::string* error);

  Options options_;
  std::function<void(std::function<void()>)> post_;
  sim::Simulator sim_;
  agsi_host::Plugin plugin_;
  Expectations expectations_;
  UartChannels uarts_;  // after sim_: closed before the simulator goes
  std::array<TerminalFeed, 4> uartFeeds_;
  GdbServer gdb_{sim_};  // likewise
  std::function<void()> onDebuggerGone_;
  std::mutex outputMutex_;
  std::deque<OutputLine> output_;
  static constexpr size_t kMaxWaitingLines = 20000;
  size_t droppedLines_ = 0;  // guarded by outputMutex_
  std::function<void()> outputListener_;
  std::function<void()> outputArrived_;
  std::mutex terminalWakeMutex_;
  std::function<void()> terminalBytesArrived_;  // guarded by terminalWakeMutex_
  std::function<void(sim::StopReason)> onStopped_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> ended_{false};
  bool initialised_ = false;
  bool resetHeld_ = false, powered_ = true;
  bool gdbWaitOver_ = false;  // --gdb-wait held back the first run()
};

std::filesystem::path defaultPluginPath();

}  // namespace korvel::simapp
