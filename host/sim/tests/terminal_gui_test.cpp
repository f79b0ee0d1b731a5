// korvel-sim's window as a user has it: the real plug-in, our UART firmware, the main window with
// its terminal tabs, keys typed through the X server into UART0's tab, and what the pane shows.
// Each test runs in a process of its own (the plug-in is loaded once per process).
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/notebook.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "main_frame.h"
#include "options.h"
#include "session.h"
#include "terminal_pane.h"

namespace {

namespace fs = std::filesystem;
using namespace korvel::simapp;
using namespace std::chrono_literals;

fs::path stage() { return fs::path(KORVEL_STAGE_DIR); }

// A private copy of the staged plug-in folder: no korvel.ini shared with other tests.
fs::path privatePlugin() {
  fs::path dir = fs::temp_directory_path() / ("korvel-terminal-gui-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(stage() / "lib/korvel", dir / "korvel", fs::copy_options::recursive);
  fs::remove(dir / "korvel" / "korvel.ini");
  setenv("KORVEL_INI", (dir / "korvel.ini").c_str(), 1);
  return dir / "korvel" / "libKorvel.so";
}

template <class Pred>
bool pumpUntil(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

std::string shown(TerminalPane* pane) { return pane->view()->GetValue().utf8_string(); }

// The window on one firmware, as korvel-sim opens it without the board.
struct Window {
  Session session;
  MainFrame* frame = nullptr;
  explicit Window(const char* firmware, bool realTime = true, int windowUart = -1)
      : session(
            [&] {
              Options o;
              o.firmware = stage() / "share/korvel/firmware" / (std::string(firmware) + ".elf");
              o.plugin = privatePlugin();
              o.showBoard = false;
              o.realTime = realTime;
              if (windowUart >= 0) o.uart[windowUart].kind = Options::UartChannel::Kind::Window;
              return o;
            }(),
            [](std::function<void()> fn) { wxTheApp->CallAfter(std::move(fn)); }) {
    std::string error;
    if (!session.open(&error)) {
      ADD_FAILURE() << error;
      return;
    }
    frame = new MainFrame(session);
    // As korvel-sim wires it: the first line of a batch wakes the window.
    session.setOutputListener(nullptr);
    session.setOutputArrived([this] {
      wxTheApp->CallAfter([this] {
        if (frame) frame->outputArrived();
      });
    });
    frame->Show();
    frame->appendOutput();
    frame->Raise();
    session.run();
  }
  ~Window() {
    session.stop();
    session.setOutputArrived(nullptr);
    if (frame) frame->Destroy();
    pumpUntil([] { return false; }, 200ms);
    session.shutdown();
  }
};

TEST(TerminalWindow, KeysTypedIntoUart0sTabReachTheEchoFirmwareAndTheEchoShowsThere) {
  Window w("uart_echo", true, 2);  // as with --uart2 window
  ASSERT_NE(w.frame, nullptr);
  TerminalPane* pane = nullptr;
  ASSERT_TRUE(pumpUntil([&] { return (pane = w.frame->terminal(0)) && shown(pane) == "uart echo ready\n"; }, 20s))
      << (pane ? shown(pane) : "no UART0 tab");
  EXPECT_EQ(w.frame->terminal(1), nullptr) << "the firmware never used UART1";
  EXPECT_EQ(w.frame->terminal(3), nullptr) << "nor UART3";
  ASSERT_NE(w.frame->terminal(2), nullptr) << "--uart2 window shows its tab from the start";
  auto* tabs = dynamic_cast<wxNotebook*>(pane->GetParent());
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->GetPageCount(), 2u);
  EXPECT_EQ(tabs->GetPageText(0), "UART0");
  EXPECT_EQ(tabs->GetPageText(1), "UART2");
  EXPECT_EQ(tabs->GetSelection(), 0) << "UART0's tab is in front";

  // Real key presses through the X server, into the pane the user clicked.
  wxUIActionSimulator keys;
  wxTextCtrl* view = pane->view();
  keys.MouseMove(view->GetScreenPosition() + wxPoint(40, 40));
  keys.MouseClick();
  pumpUntil([&] { return wxWindow::FindFocus() == view; }, 2s);
  ASSERT_EQ(wxWindow::FindFocus(), view) << "a click puts the keyboard on the terminal";
  keys.Text("Hi, UART0!");
  keys.Char(WXK_RETURN);
  ASSERT_TRUE(pumpUntil([&] { return shown(pane).find("Hi, UART0!") != std::string::npos; }, 10s)) << shown(pane);
  EXPECT_EQ(shown(pane), "uart echo ready\nHi, UART0!") << "Enter sends CR: the echo returns to the line's start";
  keys.Text("xy");
  keys.Char(WXK_BACK);
  keys.Char(WXK_BACK);
  keys.Text("Bye");
  ASSERT_TRUE(pumpUntil([&] { return shown(pane).find("Bye") != std::string::npos; }, 10s)) << shown(pane);
  EXPECT_EQ(shown(pane), "uart echo ready\nBye UART0!") << "CR and two backspaces put Bye at the start";

  // A paste longer than the UART's 4096-byte wire: the rest waits in the pane, nothing is lost.
  pane->setEnterSends(EnterSends::CrLf);
  std::string text;
  for (int i = 0; i < 90; ++i) text += "pasted line " + std::to_string(1000 + i) + " ........................................\n";
  ASSERT_GT(text.size(), 5000u);
  pane->paste("\n" + text);
  EXPECT_GT(pane->pending(), 0u) << "the wire took its 4096 bytes, the rest waits";
  const std::string last = text.substr(text.rfind("pasted line"));
  ASSERT_TRUE(pumpUntil([&] { return shown(pane).find(last) != std::string::npos; }, 30s)) << pane->pending() << " bytes still waiting";
  EXPECT_EQ(pane->pending(), 0u);
  EXPECT_NE(shown(pane).find("Bye UART0!\n" + text), std::string::npos) << "every pasted line came back, in order:\n" << shown(pane);
  EXPECT_TRUE(pumpUntil([&] { return w.frame->output()->GetValue().utf8_string().find("pasted line 1089 .....") != std::string::npos; }, 5s))
      << "UART0's text still reaches the output pane";

  // Ctrl+D ends the echo firmware, which says bye on its way out.
  keys.Char('d', wxMOD_CONTROL);
  ASSERT_TRUE(pumpUntil([&] { return shown(pane).find("bye\n") != std::string::npos; }, 10s)) << shown(pane);
  pumpUntil([] { return false; }, 300ms);
  if (const char* picture = std::getenv("KORVEL_TERMINAL_SCREENSHOT")) {
    std::string command = std::string("import -window root png:'") + picture + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
}

TEST(TerminalWindow, AFirmwarePrintingWithoutPauseLeavesTheWindowResponsiveAndLosesNoLine) {
  Window w("uart_flood", false);
  ASSERT_NE(w.frame, nullptr);
  TerminalPane* pane = nullptr;
  // (A sanitizer build simulates this polling loop far slower than the chip runs it.)
  ASSERT_TRUE(pumpUntil([&] { return (pane = w.frame->terminal(0)) && pane->screen().lineCount() > 20; }, 90s))
      << (pane ? pane->screen().lineCount() : 0) << " lines at t = " << w.session.simulator().seconds() << " s";
  // The UI thread still answers quickly while the flood goes on.
  for (int i = 0; i < 5; ++i) {
    bool done = false;
    auto posted = std::chrono::steady_clock::now();
    wxTheApp->CallAfter([&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - posted, 2s) << "a posted call waited behind the terminal";
  }
  std::string text = shown(pane);
  EXPECT_EQ(text, pane->screen().text()) << "the control holds exactly the kept lines";
  // The kept lines are consecutive: none lost between batches.
  size_t first = text.find("line ");
  ASSERT_NE(first, std::string::npos);
  unsigned long n = std::stoul(text.substr(first + 5));
  size_t at = first;
  for (size_t i = 0; i + 1 < pane->screen().lineCount(); ++i, ++n) {
    std::string expect = "line " + std::to_string(n) + "\n";
    ASSERT_EQ(text.compare(at, expect.size(), expect), 0) << "after line " << n - 1;
    at += expect.size();
  }
}

// The pane alone, fed far more than it keeps, with characters that take several bytes: the
// control's positions (characters) follow the screen's, so what it shows is the kept text.
TEST(TerminalPaneAlone, KeepsItsBoundAndFollowsTheEndUnlessTheUserScrolledUp) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "pane", wxDefaultPosition, wxSize(600, 400));
  std::string wire;
  auto* pane = new TerminalPane(frame, 2, [&](uint8_t b) {
    if (wire.size() >= 10) return false;
    wire.push_back(char(b));
    return true;
  });
  frame->Show();
  pumpUntil([] { return false; }, 200ms);
  for (int batch = 0; batch < 60; ++batch) {
    std::string bytes;
    for (int i = 0; i < 200; ++i) bytes += "caf\xC3\xA9 \x07 " + std::to_string(batch * 200 + i) + "\r\n";
    pane->show(bytes.substr(0, bytes.size() / 2), 0);
    pane->show(bytes.substr(bytes.size() / 2), 0);
  }
  pane->show("prompt> ", 0);
  EXPECT_EQ(pane->screen().lineCount(), 5000u);
  EXPECT_EQ(shown(pane), pane->screen().text());
  EXPECT_EQ(shown(pane).substr(0, 16), "caf\xC3\xA9 \\x07 7001\n") << "the oldest kept line";
  pane->show("\b\b\bX", 0);
  EXPECT_EQ(shown(pane).substr(shown(pane).size() - 15), " 11999\nprompX> ") << "the cursor's line is rewritten in place";
  EXPECT_EQ(pane->view()->GetInsertionPoint(), pane->view()->GetLastPosition() - 2) << "the caret is where the next character lands";

  // The user scrolls up to read (the wheel, then the view moves): new output waits and the
  // view stays where it is until the user scrolls back to the end.
  wxTextCtrl* view = pane->view();
  wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
  wheel.m_wheelRotation = 120;
  view->GetEventHandler()->ProcessEvent(wheel);
  view->ShowPosition(0);
  pumpUntil([] { return false; }, 300ms);
  pane->pump();
  EXPECT_FALSE(pane->following());
  const int top = view->GetScrollPos(wxVERTICAL);
  EXPECT_LT(top + view->GetScrollThumb(wxVERTICAL), view->GetScrollRange(wxVERTICAL) / 2);
  const std::string before = shown(pane);
  pane->show("more\nand more\n", 0);
  pumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(view->GetScrollPos(wxVERTICAL), top) << "the view stays where the user reads";
  EXPECT_EQ(shown(pane), before);
  view->ShowPosition(view->GetLastPosition());
  pumpUntil([] { return false; }, 300ms);
  pane->pump();
  EXPECT_TRUE(pane->following()) << "back at the end, the view follows again";
  EXPECT_EQ(shown(pane), pane->screen().text()) << "with what came meanwhile";
  pane->show("at the end again\n", 0);
  pumpUntil([] { return false; }, 300ms);
  EXPECT_GE(view->GetScrollPos(wxVERTICAL) + view->GetScrollThumb(wxVERTICAL), view->GetScrollRange(wxVERTICAL) - 2);

  pane->paste("0123456789abcdef\n");
  EXPECT_EQ(wire, "0123456789") << "the wire takes what it can";
  EXPECT_EQ(pane->pending(), 7u) << "the rest waits (Enter sends CR)";
  wire.clear();
  pane->pump();
  EXPECT_EQ(wire, "abcdef\r");
  frame->Destroy();
  pumpUntil([] { return false; }, 100ms);
}

}  // namespace
