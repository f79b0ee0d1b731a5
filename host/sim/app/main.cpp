// korvel-sim: the AGSI host that runs LPC17xx firmware with the Korvel plug-in and its board.
#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/timer.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "board_access.h"
#include "korvel/platform/platform.h"
#include "main_frame.h"
#include "options.h"
#include "parts.h"
#include "session.h"

namespace korvel::simapp {
namespace {

Options gOptions;
int gExitCode = 0;  // survives the application object

// What must happen after everything else at process exit, when the plug-in's static objects are
// gone: the settings store writes korvel.ini from its destructor, and the virtual X server must
// outlive every X connection the plug-in's threads hold.
struct ProcessEnd {
  std::filesystem::path privateSettingsDir;  // headless: the run's own korvel.ini lives here
  std::filesystem::path keepSettingsIn;      // where to copy it back, if asked
  std::unique_ptr<platform::VirtualDisplay> display;
};
ProcessEnd gEnd;

void endOfProcess() {
  if (!gEnd.privateSettingsDir.empty()) {
    std::error_code ec;
    if (!gEnd.keepSettingsIn.empty()) {
      std::filesystem::copy_file(gEnd.privateSettingsDir / "korvel.ini", gEnd.keepSettingsIn,
                                 std::filesystem::copy_options::overwrite_existing, ec);
      if (ec) std::fprintf(stderr, "korvel-sim: cannot keep the settings in %s: %s\n", gEnd.keepSettingsIn.c_str(), ec.message().c_str());
    }
    std::filesystem::remove_all(gEnd.privateSettingsDir, ec);
  }
  gEnd.display.reset();
}

// Where the firmware's output goes: standard output, which headless runs keep for it alone.
std::FILE* gFirmwareOut = stdout;

void writeLine(const OutputLine& l) {
  if (l.kind == OutputKind::Firmware) {
    std::fprintf(gFirmwareOut, "%s\n", l.text.c_str());
  } else if (l.kind == OutputKind::Error || !gOptions.quiet) {
    std::fprintf(stderr, "%s\n", l.text.c_str());
  }
}

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
      // Output goes straight to its stream, from whichever thread produced it.
      session_->setOutputListener([this] {
        for (const OutputLine& l : session_->takeOutput()) writeLine(l);
        std::fflush(gFirmwareOut);
      });
    }
    std::string error;
    if (!session_->open(&error)) {
      for (const OutputLine& l : session_->takeOutput()) writeLine(l);
      std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
      exitCode_ = gExitCode = kExitUsage;
      return false;
    }
    std::filesystem::path plugin = gOptions.plugin.empty() ? defaultPluginPath() : gOptions.plugin;
    board_ = std::make_unique<BoardAccess>(plugin);
    if (!gOptions.headless) {
      frame_ = new MainFrame(*session_);
      frame_->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
        if (e.GetEventObject() == frame_) frame_ = nullptr;
        e.Skip();
      });
      // The window takes the output in batches: posting an event per line would flood the UI
      // thread when firmware prints in a tight loop. Only the first line of a batch posts.
      session_->setOutputListener(nullptr);
      session_->setOutputArrived([this] {
        CallAfter([this] {
          if (frame_) frame_->outputArrived();
        });
      });
      frame_->Show();
      frame_->appendOutput();
    }
    bool needBoard = gOptions.showBoard || !gOptions.lcdPng.empty() || !gOptions.boardPng.empty();
    for (const ScriptStep& s : gOptions.script)
      needBoard |= s.action != "vtr" && s.action != "reset" && s.action != "stop" && s.action != "expect" &&
                   s.action != "square";
    if (needBoard) {
      if (AGSIMENU* m = session_->menu("&Korvel"); m && m->fp) m->fp(m);
      else session_->print("korvel-sim: the plug-in defined no \"&Korvel\" menu entry: no board to show", OutputKind::Error);
    }
    // After the board: building it resets the CAN ports to their defaults.
    if (!session_->configureCanPorts(&error)) {
      for (const OutputLine& l : session_->takeOutput()) writeLine(l);
      std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
      exitCode_ = gExitCode = kExitUsage;
      shutdown();
      return false;
    }
    if (!checkScript()) {
      exitCode_ = gExitCode = kExitUsage;
      shutdown();
      return false;
    }
    session_->scheduleScript([this](const ScriptStep& s, std::string* e, bool* later) {
      *later = board_->startsBounce(s);
      bool ok = board_->perform(s, e);
      if (!ok && (s.action == "lcd-png" || s.action == "board-png")) pictureFailed_ = true;
      followBoard();  // before the simulation goes on: a press of RESET or SW6 acts at once
      return ok;
    });
    session_->setOnStopped([this](sim::StopReason r) { stopped(r); });
    session_->setOnDebuggerGone([this] {
      if (endedWhileDebugging_) stopped(*endedWhileDebugging_);
    });
    followBoard();
    if (frame_) {
      // The window's tick follows the board too: ten times a second while the board (or another
      // dialog) is open, once a second otherwise while the simulation runs.
      frame_->setTickHook([this] { followBoard(); });
    } else {
      boardTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
        session_->updateDialogs();
        followBoard();
      });
      boardTimer_.Start(100);
    }
    session_->run();
    if (frame_) frame_->stateChanged();
    return true;
  }

  // Every step is checked against the open board and the plug-in's virtual registers before the
  // run starts, so a script never fails halfway through a long run.
  bool checkScript() {
    for (const ScriptStep& s : gOptions.script) {
      std::string error;
      if (s.action == "square") continue;  // its pin and frequency were checked with the options
      bool ok = s.action == "vtr" ? session_->hasVtr(s.args[0]) : board_->check(s, &error);
      if (s.action == "vtr" && !ok) error = "the plug-in defined no virtual register \"" + s.args[0] + "\"";
      if (!ok) {
        session_->print("korvel-sim: " + s.where + ": script step \"" + s.text + "\": " + error, OutputKind::Error);
        for (const OutputLine& l : session_->takeOutput()) writeLine(l);
        return false;
      }
    }
    return true;
  }

  void followBoard() {
    if (!board_ || !session_) return;
    const bool held = session_->simulator().held();
    session_->followBoard(board_->resetHeld(), board_->powered());
    if (frame_ && session_->simulator().held() != held) frame_->stateChanged();
  }

  void stopped(sim::StopReason reason) {
    if (frame_) {
      frame_->appendOutput();
      frame_->stateChanged();
    }
    if (!gOptions.headless || stopping_) return;  // the window stays; the user decides
    if (session_->debuggerConnected()) {
      // The debugger may still look at the firmware's last state: end when it leaves.
      endedWhileDebugging_ = reason;
      return;
    }
    stopping_ = true;
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
    if (!gOptions.lcdPng.empty() && !board_->writeLcdPng(gOptions.lcdPng, &error))
      ok = false, session_->print("korvel-sim: " + error, OutputKind::Error);
    if (!gOptions.boardPng.empty() && !board_->writeBoardPng(gOptions.boardPng, &error))
      ok = false, session_->print("korvel-sim: " + error, OutputKind::Error);
    for (const std::string& p : session_->expectations().problems()) session_->print("korvel-sim: " + p, OutputKind::Error);
    exitCode_ = gExitCode = session_->exitCode(ok && !pictureFailed_);
    shutdown();
    ExitMainLoop();
  }

  void shutdown() {
    boardTimer_.Stop();
    session_->stop();
    // A scripted drag may still hold the mouse; windows must not be destroyed while they do.
    while (wxWindow* w = wxWindow::GetCapture()) w->ReleaseMouse();
    session_->killDialogs();
    session_->shutdown();
    for (const OutputLine& l : session_->takeOutput()) writeLine(l);
    std::fflush(gFirmwareOut);
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

 private:
  Session* session_ = nullptr;
  std::unique_ptr<BoardAccess> board_;
  MainFrame* frame_ = nullptr;
  wxTimer boardTimer_, finishTimer_;
  int exitCode_ = 0;
  bool stopping_ = false;
  bool pictureFailed_ = false;
  std::optional<sim::StopReason> endedWhileDebugging_;
};

// Headless runs keep the board state in a private copy of the chosen settings (or the defaults)
// and leave the original alone unless asked; window runs use the chosen file in place.
bool prepareSettings(std::string* error) {
  namespace fs = std::filesystem;
  if (!gOptions.headless) {
    if (!gOptions.settings.empty()) setenv("KORVEL_INI", fs::absolute(gOptions.settings).c_str(), 1);
    return true;
  }
  std::string pattern = (fs::temp_directory_path() / "korvel-sim-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    *error = "cannot make a private folder for the run's settings in " + fs::temp_directory_path().string();
    return false;
  }
  gEnd.privateSettingsDir = pattern;
  fs::path ini = gEnd.privateSettingsDir / "korvel.ini";
  if (!gOptions.settings.empty()) {
    std::error_code ec;
    if (fs::exists(gOptions.settings)) {
      fs::copy_file(gOptions.settings, ini, ec);
      if (ec) {
        *error = "cannot read the settings file " + gOptions.settings.string() + ": " + ec.message();
        return false;
      }
    } else if (!gOptions.keepSettings) {
      *error = "no settings file " + gOptions.settings.string() + " (with --keep-settings it would be made)";
      return false;
    }
  }
  if (gOptions.keepSettings) {
    fs::path plugin = gOptions.plugin.empty() ? defaultPluginPath() : gOptions.plugin;
    gEnd.keepSettingsIn = gOptions.settings.empty() ? plugin.parent_path() / "korvel.ini" : gOptions.settings;
  }
  setenv("KORVEL_INI", ini.c_str(), 1);
  return true;
}

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
    return kExitUsage;
  }
  if (options->help) {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }
  if (options->version) {
    std::fputs(versionText().c_str(), stdout);
    return 0;
  }
  if (options->listParts) {
    std::fputs(partList().c_str(), stdout);
    return 0;
  }
  gOptions = *options;
  if (gOptions.headless && !gOptions.seed) gOptions.seed = 1;
  // A bad firmware file is refused before any window opens.
  if (!gOptions.firmware.empty()) {
    korvel::sim::ElfImage image;
    std::vector<korvel::sim::MemoryRange> allowed = {
        {korvel::sim::Simulator::kFlashBase, korvel::sim::Simulator::kFlashSize, "flash"},
        {korvel::sim::Simulator::kSramBase, korvel::sim::Simulator::kSramSize, "SRAM"},
        {korvel::sim::Simulator::kAhbSramBase, korvel::sim::Simulator::kAhbSramSize, "AHB SRAM"}};
    if (!korvel::sim::readFirmware(gOptions.firmware, allowed, &image, &error)) {
      std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  // Registered before the plug-in is loaded, so it runs after the plug-in's own exit work.
  std::atexit(endOfProcess);
  if (gOptions.headless) {
    // Nobody listens: no sound device, no desktop settings or accessibility bus to talk to, and
    // none of their complaints on standard error.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("GSETTINGS_BACKEND", "memory", 0);
    setenv("NO_AT_BRIDGE", "1", 0);
    // Opening the display would otherwise load and probe the GL driver (a software one on a
    // virtual display: a sixth of a second) for windows that draw no GL here.
    setenv("GDK_GL", "disable", 0);
    // The firmware's output alone on standard output: what the plug-in's modules and the
    // libraries print there (the CAN watchers' progress lines, toolkit notices) goes to standard
    // error with korvel-sim's own messages.
    if (std::FILE* out = korvel::platform::reserveStandardOutput()) gFirmwareOut = out;
  }
  if (!prepareSettings(&error)) {
    std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
    return kExitUsage;
  }
#if defined(__WXGTK__)
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    if (gOptions.headless) {
      // The board's parts are windows even in headless runs (they are what scripts click and
      // picture): without a display, run on a private virtual one.
      gEnd.display = korvel::platform::startVirtualDisplay(&error);
      if (!gEnd.display) {
        std::fprintf(stderr, "korvel-sim: %s\n", error.c_str());
        return kExitUsage;
      }
      setenv("DISPLAY", gEnd.display->name().c_str(), 1);
      setenv("GDK_BACKEND", "x11", 1);
    } else if (std::getenv("WAYLAND_DISPLAY") == nullptr) {
      std::fprintf(stderr,
                   "korvel-sim: no display to open windows on: run it from a desktop session, or use "
                   "--headless (which runs on a private virtual display)\n");
      return kExitUsage;
    }
  }
#endif
  int argcWx = 1;
  char* argvWx[] = {argv[0], nullptr};
  if (wxEntry(argcWx, argvWx) < 0 && gExitCode == 0) {
    std::fprintf(stderr, "korvel-sim: the window system could not be started (check DISPLAY)\n");
    return kExitUsage;
  }
  return gExitCode;
}
