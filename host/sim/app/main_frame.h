// korvel-sim's main window, in the IDE's place: the output pane, a terminal tab per active UART
// below it, File > Open firmware... (and the firmware loaded again when its file is rebuilt),
// Run/Stop/Reset, and the Peripherals menu with every entry the plug-in defined.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include "firmware_reload.h"
#include "output_history.h"

class wxNotebook;
class wxSplitterWindow;
class wxTextCtrl;

namespace korvel::simapp {

class Session;

class MainFrame : public wxFrame {
 public:
  explicit MainFrame(Session& session);
  ~MainFrame() override;
  void appendOutput();
  // UARTn's terminal tab, or null while the UART is not active (or not in the window).
  class TerminalPane* terminal(int n) const { return n >= 0 && n < 4 ? terminals_[n] : nullptr; }
  wxTextCtrl* output() const { return output_; }

 private:
  void buildMenus();
  void onTick(wxTimerEvent&);
  // Opens the tabs of UARTs that became active, shows what the firmware sent, and hands what the
  // user typed to the wires.
  void updateTerminals();
  void onClose(wxCloseEvent& event);
  void openFirmware();
  void showLoad(const FirmwareReload::Event& event);
  // force: a user action changed the state; otherwise the running clock is shown twice a second.
  void updateStatus(bool force = true);

  Session& session_;
  wxSplitterWindow* split_;
  wxTextCtrl* output_;
  wxNotebook* tabs_;
  TerminalPane* terminals_[4] = {};
  wxTimer timer_, terminalTimer_;
  unsigned terminalTicks_ = 0;
  wxString shownState_;
  unsigned statusTicks_ = 0;
  unsigned outputTicks_ = 0;
  OutputHistory history_;  // what the output pane shows
  FirmwareReload reload_;
};

}  // namespace korvel::simapp
