#include "main_frame.h"

#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "session.h"

namespace korvel::simapp {

namespace {
enum { kRun = wxID_HIGHEST + 1, kStop, kReset, kFirstPeripheral = wxID_HIGHEST + 100 };
}

MainFrame::MainFrame(Session& session)
    : wxFrame(nullptr, wxID_ANY, "Korvel Simulator", wxDefaultPosition, wxSize(720, 420)),
      session_(session) {
  output_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                           wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
  output_->SetFont(wxFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE)));
  // The status line is a plain label: the toolkit's status bar repaints itself at once through
  // a theme look-up at every change, which made the clock the most expensive thing an idle
  // window did.
  status_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(output_, 1, wxEXPAND);
  sizer->Add(status_, 0, wxEXPAND | wxALL, 3);
  SetSizer(sizer);
  buildMenus();
  timer_.Bind(wxEVT_TIMER, &MainFrame::onTick, this);
  outputTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { appendOutput(); });
  Bind(wxEVT_CLOSE_WINDOW, &MainFrame::onClose, this);
  reschedule();
}

MainFrame::~MainFrame() {
  timer_.Stop();
  outputTimer_.Stop();
}

void MainFrame::buildMenus() {
  auto* sim = new wxMenu;
  sim->Append(kRun, "&Run\tF5");
  sim->Append(kStop, "&Stop\tShift+F5");
  sim->Append(kReset, "R&eset\tCtrl+R");
  sim->AppendSeparator();
  sim->Append(wxID_EXIT, "E&xit");
  auto* peripherals = new wxMenu;
  int id = kFirstPeripheral;
  for (AGSIMENU* m : session_.menus()) {
    if (!m || !m->szText || !*m->szText) {
      peripherals->AppendSeparator();
      continue;
    }
    peripherals->Append(id, wxString::FromUTF8(m->szText));
    Bind(wxEVT_MENU, [this, m](wxCommandEvent&) {
      if (m->fp) m->fp(m);
      reschedule();  // a dialog it opened follows the simulation from now on
    }, id++);
  }
  auto* bar = new wxMenuBar;
  bar->Append(sim, "&Simulation");
  bar->Append(peripherals, "&Peripherals");
  SetMenuBar(bar);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { session_.run(); stateChanged(); }, kRun);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { session_.stop(); stateChanged(); }, kStop);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { session_.reset(); stateChanged(); }, kReset);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, wxID_EXIT);
}

void MainFrame::appendOutput() {
  std::vector<std::string> batch;
  for (OutputLine& line : session_.takeOutput()) batch.push_back(std::move(line.text));
  if (batch.empty()) return;
  // One change of the control per batch: a firmware printing in a tight loop costs the UI
  // thread one append (or one rebuild of at most the kept lines) a few times a second.
  if (history_.add(batch)) {
    output_->ChangeValue(wxString::FromUTF8(history_.text()));
    output_->SetInsertionPointEnd();
    output_->ShowPosition(output_->GetLastPosition());
  } else {
    output_->AppendText(wxString::FromUTF8(history_.appended()));
  }
}

void MainFrame::outputArrived() {
  if (!outputTimer_.IsRunning()) outputTimer_.StartOnce(kOutputBatchMs);
}

void MainFrame::stateChanged() {
  updateStatus();
  reschedule();
}

void MainFrame::updateStatus() {
  auto& sim = session_.simulator();
  wxString state;
  if (sim.lastStop() == sim::StopReason::Exited)
    state = wxString::Format("firmware exited with status %d", sim.exitStatus().value_or(0));
  else if (sim.lastStop() == sim::StopReason::Fault)
    state = "firmware fault (registers in the output)";
  else if (session_.running() && sim.held())
    state = session_.powered() ? "held in reset (RESET is down)" : "board unpowered (SW6 off or JP3 open)";
  else if (session_.running())
    state = "running";
  else
    state = sim.lastStop() == sim::StopReason::None ? "stopped" : sim::toString(sim.lastStop());
  wxString text = wxString::Format("%s   t = %.6f s   %llu cycles", state, sim.seconds(),
                                   static_cast<unsigned long long>(sim.cycles()));
  statusShown_ = std::chrono::steady_clock::now();
  if (text != status_->GetLabel()) status_->SetLabel(text);
}

bool MainFrame::dialogOpen() const {
  for (AGSIMENU* m : session_.menus())
    if (m && m->pDlg && m->pDlg->iOpen) return true;
  return false;
}

void MainFrame::reschedule() {
  const int period = dialogOpen() ? kDialogPeriodMs : session_.running() ? kClockPeriodMs : 0;
  if (period == 0) {
    timer_.Stop();
  } else if (!timer_.IsRunning() || timer_.GetInterval() != period) {
    timer_.Start(period);
  }
}

void MainFrame::onTick(wxTimerEvent&) {
  session_.updateDialogs();
  if (tickHook_) tickHook_();
  // The clock moves at every tick; the line shows it once a second however fast the dialogs go.
  const auto now = std::chrono::steady_clock::now();
  if (now - statusShown_ >= std::chrono::milliseconds(kClockPeriodMs - kDialogPeriodMs / 2)) updateStatus();
  reschedule();
}

void MainFrame::onClose(wxCloseEvent& event) {
  timer_.Stop();
  outputTimer_.Stop();
  session_.stop();
  while (wxWindow* w = wxWindow::GetCapture()) w->ReleaseMouse();
  session_.killDialogs();
  event.Skip();
}

}  // namespace korvel::simapp
