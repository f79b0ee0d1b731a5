// korvel-sim's main window, in the IDE's place: the output pane, Run/Stop/Reset, and the
// Peripherals menu with every entry the plug-in defined.
#pragma once

#include <chrono>
#include <functional>

#include <wx/frame.h>
#include <wx/timer.h>

#include "output_history.h"

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

  // How often the window looks at the simulation: dialogs follow it ten times a second, the
  // clock in the status line once a second while it runs; with neither, the window sleeps.
  static constexpr int kDialogPeriodMs = 100;
  static constexpr int kClockPeriodMs = 1000;
  static constexpr int kOutputBatchMs = 100;

 private:
  void buildMenus();
  void onTick(wxTimerEvent&);
  void onClose(wxCloseEvent& event);
  void updateStatus();
  // Starts, re-times or stops the tick for what is there to follow now.
  void reschedule();
  bool dialogOpen() const;

  Session& session_;
  wxTextCtrl* output_;
  wxStaticText* status_;  // the run's state and clock
  std::chrono::steady_clock::time_point statusShown_{};
  std::function<void()> tickHook_;
  wxTimer timer_;        // dialogs and the clock (its events come to itself)
  wxTimer outputTimer_;  // one batch of output lines
  OutputHistory history_;  // what the output pane shows
};

}  // namespace korvel::simapp
