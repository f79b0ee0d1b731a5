// korvel-sim's main window, in the IDE's place: the output pane, File > Open firmware... (and
// the firmware loaded again when its file is rebuilt), Run/Stop/Reset, and the Peripherals menu
// with every entry the plug-in defined.
#pragma once

#include <wx/frame.h>
#include <wx/timer.h>

#include "firmware_reload.h"
#include "output_history.h"

class wxTextCtrl;

namespace korvel::simapp {

class Session;

class MainFrame : public wxFrame {
 public:
  explicit MainFrame(Session& session);
  ~MainFrame() override;
  void appendOutput();

 private:
  void buildMenus();
  void onTick(wxTimerEvent&);
  void onClose(wxCloseEvent& event);
  void openFirmware();
  void showLoad(const FirmwareReload::Event& event);
  // force: a user action changed the state; otherwise the running clock is shown twice a second.
  void updateStatus(bool force = true);

  Session& session_;
  wxTextCtrl* output_;
  wxTimer timer_;
  wxString shownState_;
  unsigned statusTicks_ = 0;
  unsigned outputTicks_ = 0;
  OutputHistory history_;  // what the output pane shows
  FirmwareReload reload_;
};

}  // namespace korvel::simapp
