// korvel-sim's main window, in the IDE's place: the output pane, a terminal tab per active UART
// below it, File > Open firmware... (and the firmware loaded again when its file is rebuilt),
// Run/Stop/Reset, and the Peripherals menu with every entry the plug-in defined.
#pragma once

#include <chrono>
#include <functional>

#include <wx/frame.h>
#include <wx/timer.h>

#include "firmware_reload.h"
#include "output_history.h"

class wxNotebook;
class wxSplitterWindow;
class wxStaticText;
class wxTextCtrl;

namespace korvel::simapp {

class Session;

class MainFrame : public wxFrame {
 public:
  explicit MainFrame(Session& session);
  ~MainFrame() override;
  void appendOutput();
  // Output arrived while none was waiting: it is taken a moment later, with whatever follows it.
  void outputArrived();
  // The simulation started, stopped, or was held or let go: the status line shows it at once.
  void stateChanged();
  // Called at every tick as well (the program follows the board's RESET and power with it, so
  // that one timer wakes the window instead of two).
  void setTickHook(std::function<void()> hook) { tickHook_ = std::move(hook); }
  // A UART's bytes arrived while none waited: the terminals take them a moment later.
  void terminalBytesArrived();
  // UARTn's terminal tab, or null while the UART is not active (or not in the window).
  class TerminalPane* terminal(int n) const { return n >= 0 && n < 4 ? terminals_[n] : nullptr; }
  wxTextCtrl* output() const { return output_; }

  // How often the window looks at the simulation: dialogs follow it ten times a second, the
  // clock in the status line once a second while it runs; with neither, the window sleeps.
  static constexpr int kDialogPeriodMs = 100;
  static constexpr int kClockPeriodMs = 1000;
  static constexpr int kOutputBatchMs = 100;
  // The terminals take a UART's bytes 40 ms after the first of them: an echo feels immediate,
  // and a firmware printing without pause costs one change per pane 25 times a second.
  static constexpr int kTerminalBatchMs = 40;
  // The firmware file is looked at four times a second, so a rebuild is loaded soon after the
  // linker is done (FirmwareReload waits until the file has held still).
  static constexpr int kReloadPollMs = 250;

 private:
  void buildMenus();
  void onTick(wxTimerEvent&);
  // Opens the tabs of UARTs that became active, shows what the firmware sent, and hands what the
  // user typed to the wires.
  void updateTerminals();
  // Gives UARTs that became active their tabs.
  void openActiveTerminals();
  void onClose(wxCloseEvent& event);
  void openFirmware();
  void showLoad(const FirmwareReload::Event& event);
  void updateStatus();
  // Starts, re-times or stops the tick for what is there to follow now.
  void reschedule();
  bool dialogOpen() const;

  Session& session_;
  wxSplitterWindow* split_;
  wxTextCtrl* output_;
  wxNotebook* tabs_;
  TerminalPane* terminals_[4] = {};
  wxStaticText* status_;      // the run's state and clock
  wxStaticText* loadStatus_;  // what became of the latest firmware load
  std::chrono::steady_clock::time_point statusShown_{};
  std::function<void()> tickHook_;
  wxTimer timer_;          // dialogs and the clock (its events come to itself)
  wxTimer outputTimer_;    // one batch of output lines
  wxTimer terminalTimer_;  // one batch of the terminals' bytes, or typing that waits for a wire
  wxTimer reloadTimer_;    // the firmware file
  bool anyTerminal_ = false;
  OutputHistory history_;  // what the output pane shows
  FirmwareReload reload_;
};

}  // namespace korvel::simapp
