// One UART's terminal tab in the main window: the screen (terminal.h) in a read-only monospace
// text control, keys typed into it queued for the UART's wire, and a small bar with what Enter
// sends, Paste, Clear and how many typed bytes still wait. UI thread only.
#pragma once

#include <wx/panel.h>

#include <functional>
#include <string>
#include <string_view>

#include "terminal.h"

class wxChoice;
class wxKeyEvent;
class wxStaticText;
class wxTextCtrl;

namespace korvel::simapp {

class TerminalPane : public wxPanel {
 public:
  // wire(byte): the UART's receiver; false while its wire is full.
  TerminalPane(wxWindow* parent, int uart, std::function<bool(uint8_t)> wire);

  // The firmware's latest bytes; lost: bytes dropped before them. They show at once while the
  // view is at the end; while the user has scrolled up they wait until the view is back there.
  void show(std::string_view bytes, size_t lost);
  // Hands what the user typed to the wire, as far as it takes it, and notices the user scrolling
  // back to the end (on the window's timer).
  void pump();
  // What typing and pasting end in: bytes queued for the wire (false, with a note in the bar,
  // when too much already waits).
  bool send(std::string_view bytes);
  void paste(const std::string& text);
  void setEnterSends(EnterSends enter);

  int uart() const { return uart_; }
  bool following() const { return following_; }
  size_t pending() const { return input_.pending(); }
  wxTextCtrl* view() const { return text_; }
  const TerminalScreen& screen() const { return screen_; }

 private:
  void onKeyDown(wxKeyEvent& event);
  void onChar(wxKeyEvent& event);
  void pasteClipboard();
  void apply(const TerminalScreen::Update& u);
  bool scrolledToEnd() const;
  void updateBar();

  int uart_;
  std::function<bool(uint8_t)> wire_;
  TerminalScreen screen_;
  TerminalInput input_;
  EnterSends enter_ = EnterSends::Cr;
  wxTextCtrl* text_;
  wxChoice* enterChoice_;
  wxStaticText* bar_;
  wxString refused_;  // why the last paste was refused, until the queue empties
  size_t shownPending_ = SIZE_MAX;
  bool shownHeld_ = false;
  bool following_ = true;     // the view shows the end, and new output keeps it there
  bool userScrolled_ = false;  // the user scrolled since the last tick
};

}  // namespace korvel::simapp
