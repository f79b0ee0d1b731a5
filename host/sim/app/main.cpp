// korvel-sim: the AGSI host that runs LPC17xx firmware with the Korvel plug-in and its board.
#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/timer.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "board_access.h"
#include "main_frame.h"
#include "options.h"
#include "session.h"

namespace korvel::simapp {
namespace {

Options gOptions;
int gExitCode = 0;  // survives the application object

class SimApp : public wxApp {
 public:
  bool OnInit() override {
    wxInitAllImageHandlers();
    session_ = new Session(gOptions, [this](std::function<void()> fn) { CallAfter(std::move(fn)); });
    if (gOptions.headless) {
      wxLog::SetActiveTarget(new wxLogStderr);
      // No one is there to answer an assertion dialog: print it and go on.
      wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
        std::fprintf(stderr, "korvel-sim: toolkit assertion %s:%d %s: %s %s\n", static_cast<const char*>(file.utf8_str()), line,
                     static_cast<const char*>(func.utf8_str()), static_cast<const char*>(cond.utf8_str()),
                     static_cast<const char*>(msg.utf8_str()));
      });
      // Output goes straight to standard output, from whichever thread produced it.
      session_->setOutputListener([this] {
        for (const std::string& l : session_->takeOutput()) std::printf("%s\n", l.c_str());
        std::fflush(stdout);
      });
    }
    std::string error;
    if (!session_->open(&error)) {
      for (const std::string& l : session_->takeOutput()) std::fprintf(stderr, "%s\n", l.c_str());
      std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
      exitCode_ = gExitCode = 2;
      return false;
    }
    std::filesystem::path plugin = gOptions.plugin.empty() ? defaultPluginPath() : gOptions.plugin;
    board_ = std::make_unique<BoardAccess>(plugin);
    if (!gOptions.headless) {
      frame_ = new MainFrame(*session_);
      session_->setOutputListener([this] { CallAfter([this] { if (frame_) frame_->appendOutput(); }); });
      frame_->Show();
      frame_->appendOutput();
    }
    bool needBoard = gOptions.showBoard || !gOptions.lcdPng.empty() || !gOptions.boardPng.empty();
    for (const ScriptStep& s : gOptions.script) needBoard |= s.action != "vtr" && s.action != "reset" && s.action != "stop";
    if (needBoard) {
      if (AGSIMENU* m = session_->menu("&Korvel"); m && m->fp) m->fp(m);
      else session_->print("korvel-sim: the plug-in defined no \"&Korvel\" menu entry: no board to show");
    }
    session_->scheduleScript([this](const ScriptStep& s, std::string* e) { return board_->perform(s, e); });
    session_->setOnStopped([this](sim::StopReason r) { stopped(r); });
    if (gOptions.headless) {
      dialogTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { session_->updateDialogs(); });
      dialogTimer_.Start(100);
    }
    session_->run();
    return true;
  }

  void stopped(sim::StopReason reason) {
    if (frame_) frame_->appendOutput();
    if (!gOptions.headless) return;  // the window stays; the user decides
    session_->print(std::string("korvel-sim: ") + sim::toString(reason) + " at t = " +
                    std::to_string(session_->simulator().seconds()) + " s");
    if (gOptions.lcdPng.empty() && gOptions.boardPng.empty()) {
      CallAfter([this] { finish(); });  // no picture to take: nothing to wait for
      return;
    }
    // Give the LCD's refresh a moment to show the last frame before pictures are taken.
    finishTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { finish(); });
    finishTimer_.StartOnce(300);
  }

  void finish() {
    std::string error;
    bool ok = true;
    if (!gOptions.lcdPng.empty() && !board_->writeLcdPng(gOptions.lcdPng, &error)) ok = false, session_->print("korvel-sim: " + error);
    if (!gOptions.boardPng.empty() && !board_->writeBoardPng(gOptions.boardPng, &error)) ok = false, session_->print("korvel-sim: " + error);
    exitCode_ = session_->exitCode();
    if (!ok && exitCode_ == 0) exitCode_ = 4;
    gExitCode = exitCode_;
    shutdown();
    ExitMainLoop();
  }

  void shutdown() {
    dialogTimer_.Stop();
    session_->stop();
    // A scripted drag may still hold the mouse; windows must not be destroyed while they do.
    while (wxWindow* w = wxWindow::GetCapture()) w->ReleaseMouse();
    session_->killDialogs();
    session_->shutdown();
    for (const std::string& l : session_->takeOutput()) std::printf("%s\n", l.c_str());
    std::fflush(stdout);
  }

  int OnRun() override {
    wxApp::OnRun();
    return exitCode_;
  }

  int OnExit() override {
    if (session_) session_->shutdown();
    // The plug-in's windows and code stay loaded until the process ends: toolkit objects made
    // by the plug-in may be destroyed after this point, and must find its code still there.
    static Session* keptAlive = session_;
    (void)keptAlive;
    board_.reset();
    return exitCode_;
  }

  int exitCode() const { return exitCode_; }

 private:
  Session* session_ = nullptr;
  std::unique_ptr<BoardAccess> board_;
  MainFrame* frame_ = nullptr;
  wxTimer dialogTimer_, finishTimer_;
  int exitCode_ = 0;
};

}  // namespace
}  // namespace korvel::simapp

wxIMPLEMENT_APP_NO_MAIN(korvel::simapp::SimApp);

int main(int argc, char** argv) {
  using namespace korvel::simapp;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = parseOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(usage(), stdout);
    return 0;
  }
  gOptions = *options;
  // A bad firmware file is refused before any window opens.
  if (!gOptions.firmware.empty()) {
    korvel::sim::ElfImage image;
    std::vector<korvel::sim::MemoryRange> allowed = {
        {korvel::sim::Simulator::kFlashBase, korvel::sim::Simulator::kFlashSize, "flash"},
        {korvel::sim::Simulator::kSramBase, korvel::sim::Simulator::kSramSize, "SRAM"},
        {korvel::sim::Simulator::kAhbSramBase, korvel::sim::Simulator::kAhbSramSize, "AHB SRAM"}};
    if (!korvel::sim::readElf(gOptions.firmware, allowed, &image, &error)) {
      std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
      return 2;
    }
  }
#if defined(__WXGTK__)
  // Headless runs still draw the board (its windows are what the scripts click and picture), so
  // every run needs an X display; say so plainly instead of the toolkit's repeated error.
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    std::fprintf(stderr,
                 "korvel-sim: no display to open windows on: run it from a desktop session, or "
                 "under 'xvfb-run -a' for headless runs\n");
    return 2;
  }
#endif
  int argcWx = 1;
  char* argvWx[] = {argv[0], nullptr};
  if (wxEntry(argcWx, argvWx) < 0 && gExitCode == 0) {
    std::fprintf(stderr, "korvel-sim: the window system could not be started (check DISPLAY)\n");
    return 2;
  }
  return gExitCode;
}
