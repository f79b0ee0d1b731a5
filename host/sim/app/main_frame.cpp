#include "main_frame.h"

#include <wx/filedlg.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "session.h"
#include "terminal_pane.h"

namespace korvel::simapp {

namespace {
enum { kRun = wxID_HIGHEST + 1, kStop, kReset, kOpenFirmware, kFirstPeripheral = wxID_HIGHEST + 100 };
}

MainFrame::MainFrame(Session& session)
    : wxFrame(nullptr, wxID_ANY, "Korvel Simulator", wxDefaultPosition, wxSize(760, 620)),
      session_(session),
      reload_([&session](const std::filesystem::path& file, std::string* error) {
        return session.loadFirmware(file, error);
      }) {
  if (!session_.firmware().empty()) reload_.watch(session_.firmware());
  // The output pane on top; the UARTs' terminals, as tabs, below it once one is active.
  split_ = new wxSplitterWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSP_LIVE_UPDATE | wxSP_3DSASH);
  output_ = new wxTextCtrl(split_, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                           wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
  output_->SetName("output");
  output_->SetFont(wxFont(wxFontInfo(9).Family(wxFONTFAMILY_TELETYPE)));
  tabs_ = new wxNotebook(split_, wxID_ANY);
  tabs_->Hide();
  split_->SetMinimumPaneSize(80);
  split_->SetSashGravity(0.5);
  split_->Initialize(output_);
  // The status line is made of plain labels: the toolkit's status bar repaints itself at once
  // through a theme look-up at every change, which made the clock the most expensive thing an
  // idle window did.
  status_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  loadStatus_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxSize(240, -1),
                                 wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  auto* line = new wxBoxSizer(wxHORIZONTAL);
  line->Add(status_, 1, wxEXPAND | wxRIGHT, 8);
  line->Add(loadStatus_, 0, wxEXPAND);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(split_, 1, wxEXPAND);
  sizer->Add(line, 0, wxEXPAND | wxALL, 3);
  SetSizer(sizer);
  buildMenus();
  timer_.Bind(wxEVT_TIMER, &MainFrame::onTick, this);
  outputTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { appendOutput(); });
  reloadTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    if (auto event = reload_.poll()) showLoad(*event);
    // A UART the firmware starts using gets its tab within a quarter of a second.
    if (anyTerminal_) openActiveTerminals();
    for (TerminalPane* pane : terminals_)
      if (pane && pane->pending() > 0) terminalBytesArrived();  // typing waits for its wire
  });
  reloadTimer_.Start(kReloadPollMs);
  Bind(wxEVT_CLOSE_WINDOW, &MainFrame::onClose, this);
  reschedule();
  for (int n = 0; n < 4; ++n) anyTerminal_ |= session_.uartInWindow(n);
  if (anyTerminal_) {
    // The terminals wake only when bytes come (or typing waits for a full wire): an idle board
    // costs the window nothing for them.
    terminalTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { updateTerminals(); });
    session_.setTerminalBytesArrived([this] { CallAfter([this] { terminalBytesArrived(); }); });
    updateTerminals();
  }
}

void MainFrame::terminalBytesArrived() {
  if (!terminalTimer_.IsRunning()) terminalTimer_.StartOnce(kTerminalBatchMs);
}

MainFrame::~MainFrame() {
  session_.setTerminalBytesArrived(nullptr);
  timer_.Stop();
  outputTimer_.Stop();
  terminalTimer_.Stop();
  reloadTimer_.Stop();
}

void MainFrame::openActiveTerminals() {
  // Whether a UART became active asks the simulator (under its lock): a few times a second is
  // soon enough for a tab to appear.
  for (int n = 0; n < 4; ++n) {
    if (terminals_[n] || !session_.uartActive(n)) continue;
    auto* pane = new TerminalPane(tabs_, n, [this, n](uint8_t b) { return session_.uartInput(n, b); });
    size_t at = 0;
    for (int m = 0; m < n; ++m) at += terminals_[m] != nullptr;
    tabs_->InsertPage(at, pane, wxString::Format("UART%d", n), tabs_->GetPageCount() == 0);
    terminals_[n] = pane;
    if (!split_->IsSplit()) {
      tabs_->Show();
      split_->SplitHorizontally(output_, tabs_);  // half each
      pane->view()->SetFocus();  // typing goes to the first terminal straight away
    }
  }
}

void MainFrame::updateTerminals() {
  openActiveTerminals();
  for (TerminalPane* pane : terminals_) {
    if (!pane) continue;
    size_t lost = 0;
    std::string bytes = session_.takeUartBytes(pane->uart(), &lost);
    if (!bytes.empty() || lost) pane->show(bytes, lost);
    pane->pump();
    // Typing that waits for a full wire is handed on as the wire drains.
    if (pane->pending() > 0 && !terminalTimer_.IsRunning()) terminalTimer_.StartOnce(kTerminalBatchMs);
  }
}

void MainFrame::buildMenus() {
  auto* file = new wxMenu;
  file->Append(kOpenFirmware, wxString::FromUTF8("&Open firmware\u2026\tCtrl+O"));
  file->AppendSeparator();
  file->Append(wxID_EXIT, "E&xit");
  auto* sim = new wxMenu;
  sim->Append(kRun, "&Run\tF5");
  sim->Append(kStop, "&Stop\tShift+F5");
  sim->Append(kReset, "R&eset\tCtrl+R");
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
  bar->Append(file, "&File");
  bar->Append(sim, "&Simulation");
  bar->Append(peripherals, "&Peripherals");
  SetMenuBar(bar);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { session_.run(); stateChanged(); }, kRun);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { session_.stop(); stateChanged(); }, kStop);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { session_.reset(); stateChanged(); }, kReset);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, wxID_EXIT);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { openFirmware(); }, kOpenFirmware);
}

void MainFrame::openFirmware() {
  std::filesystem::path current = reload_.file();
  wxFileDialog dialog(this, "Open firmware", wxString::FromUTF8(current.parent_path().string()),
                      wxString::FromUTF8(current.filename().string()),
                      "Firmware (*.elf;*.hex;*.ihex;*.bin)|*.elf;*.hex;*.ihex;*.bin|ELF files (*.elf)|*.elf|"
                      "Intel HEX files (*.hex;*.ihex)|*.hex;*.ihex|Raw binaries, loaded at 0 (*.bin)|*.bin|"
                      "All files|*",
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return;
  showLoad(reload_.open(std::filesystem::path(dialog.GetPath().utf8_string())));
}

void MainFrame::showLoad(const FirmwareReload::Event& event) {
  session_.print(event.text, event.ok ? OutputKind::Message : OutputKind::Error);
  loadStatus_->SetLabel(wxString::FromUTF8(event.text));
  loadStatus_->SetToolTip(wxString::FromUTF8(event.text));
  appendOutput();
  stateChanged();
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
  terminalTimer_.Stop();
  reloadTimer_.Stop();
  session_.stop();
  while (wxWindow* w = wxWindow::GetCapture()) w->ReleaseMouse();
  session_.killDialogs();
  event.Skip();
}

}  // namespace korvel::simapp
