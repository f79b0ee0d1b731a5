#include "terminal_pane.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace korvel::simapp {

TerminalPane::TerminalPane(wxWindow* parent, int uart, std::function<bool(uint8_t)> wire)
    : wxPanel(parent, wxID_ANY), uart_(uart), wire_(std::move(wire)) {
  const wxString name = wxString::Format("UART%d", uart);
  SetName(name + " terminal");
  // Read-only: the text is the firmware's; what the user types goes to the UART, and only its
  // echo (if the firmware sends one) shows here, as on a real terminal.
  text_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                         wxTE_MULTILINE | wxTE_READONLY | wxTE_CHARWRAP | wxTE_PROCESS_TAB | wxWANTS_CHARS);
  text_->SetName(name + " screen");
  text_->SetFont(wxFont(wxFontInfo(10).Family(wxFONTFAMILY_TELETYPE)));
  text_->SetBackgroundColour(wxColour(0x1E, 0x1E, 0x1E));
  text_->SetForegroundColour(wxColour(0xE0, 0xE0, 0xE0));
  text_->SetDefaultStyle(wxTextAttr(wxColour(0xE0, 0xE0, 0xE0), wxColour(0x1E, 0x1E, 0x1E)));
  text_->SetToolTip("Keys typed here go to " + name + "'s receiver (Ctrl+V or Shift+Insert pastes)");

  auto* bar = new wxBoxSizer(wxHORIZONTAL);
  bar->Add(new wxStaticText(this, wxID_ANY, "Enter sends:"), 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 4);
  wxString choices[] = {"CR", "CR LF"};
  enterChoice_ = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 2, choices);
  enterChoice_->SetSelection(0);
  enterChoice_->SetName(name + " enter");
  bar->Add(enterChoice_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
  auto* pasteButton = new wxButton(this, wxID_ANY, "Paste");
  auto* clearButton = new wxButton(this, wxID_ANY, "Clear");
  bar->Add(pasteButton, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
  bar->Add(clearButton, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
  bar_ = new wxStaticText(this, wxID_ANY, "");
  bar->Add(bar_, 1, wxALIGN_CENTER_VERTICAL);

  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(text_, 1, wxEXPAND);
  sizer->Add(bar, 0, wxEXPAND | wxTOP | wxBOTTOM, 2);
  SetSizer(sizer);

  text_->Bind(wxEVT_KEY_DOWN, &TerminalPane::onKeyDown, this);
  text_->Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& e) {
    userScrolled_ = true;
    e.Skip();
  });
  // Upward moves and a released thumb: the view's own scrolling to the end only goes down.
  for (auto type : {wxEVT_SCROLLWIN_THUMBRELEASE, wxEVT_SCROLLWIN_LINEUP, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_TOP})
    text_->Bind(type, [this](wxScrollWinEvent& e) {
      userScrolled_ = true;
      e.Skip();
    });
  text_->Bind(wxEVT_CHAR, &TerminalPane::onChar, this);
  enterChoice_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) {
    enter_ = enterChoice_->GetSelection() == 1 ? EnterSends::CrLf : EnterSends::Cr;
    text_->SetFocus();
  });
  pasteButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    pasteClipboard();
    text_->SetFocus();
  });
  clearButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    screen_.clear();
    apply(screen_.update());
    text_->SetFocus();
  });
  updateBar();
}

void TerminalPane::setEnterSends(EnterSends enter) {
  enter_ = enter;
  enterChoice_->SetSelection(enter == EnterSends::CrLf ? 1 : 0);
}

void TerminalPane::show(std::string_view bytes, size_t lost) {
  if (lost)
    screen_.note("[korvel-sim: " + std::to_string(lost) + " bytes from the firmware dropped while the window was busy]");
  screen_.feed(bytes);
  // Writing into the control scrolls it to the end: while the user reads further up, the new
  // output waits in the screen and the view stays put.
  if (following_ && screen_.changed()) apply(screen_.update());
  if (!following_) updateBar();
}

bool TerminalPane::scrolledToEnd() const {
  const int range = text_->GetScrollRange(wxVERTICAL);
  if (range <= 0) return true;
  return text_->GetScrollPos(wxVERTICAL) + text_->GetScrollThumb(wxVERTICAL) >= range - 2;
}

void TerminalPane::apply(const TerminalScreen::Update& u) {
  const wxString text = wxString::FromUTF8(u.text.data(), u.text.size());
  if (u.rebuild) {
    text_->ChangeValue(text);
  } else {
    if (u.removeFront) text_->Remove(0, long(u.removeFront));
    const long last = text_->GetLastPosition();
    const long from = std::min(long(u.replaceFrom), last);
    if (from == last) text_->AppendText(text);
    else text_->Replace(from, last, text);
  }
  // The caret shows where the firmware's next character lands (after a CR, the line's start).
  text_->ShowPosition(text_->GetLastPosition());
  text_->SetInsertionPoint(long(screen_.cursorOffset()));
}

bool TerminalPane::send(std::string_view bytes) {
  if (!input_.send(bytes)) {
    refused_ = wxString::Format("Not sent: %zu bytes already wait for UART%d's wire; paste less at a time", input_.pending(), uart_);
    updateBar();
    return false;
  }
  pump();
  return true;
}

void TerminalPane::paste(const std::string& text) { send(pasteBytes(text, enter_)); }

void TerminalPane::pasteClipboard() {
  wxClipboardLocker lock;
  if (!lock) return;
  wxTextDataObject data;
  if (wxTheClipboard->IsSupported(wxDF_UNICODETEXT) && wxTheClipboard->GetData(data)) {
    const wxScopedCharBuffer utf8 = data.GetText().utf8_str();
    paste(std::string(utf8.data(), utf8.length()));
  }
}

void TerminalPane::pump() {
  // Whether the user scrolled away from the end is asked only after they scrolled: right after
  // a batch the view may still be on its way to the end.
  if (userScrolled_) {
    userScrolled_ = false;
    following_ = scrolledToEnd();
  } else if (!following_ && scrolledToEnd()) {
    following_ = true;
    if (screen_.changed()) apply(screen_.update());
  }
  input_.pump(wire_);
  if (input_.pending() == 0) refused_.clear();
  updateBar();
}

void TerminalPane::updateBar() {
  const bool held = !following_ && screen_.changed();
  if (input_.pending() == shownPending_ && refused_.empty() && held == shownHeld_) return;
  shownPending_ = input_.pending();
  shownHeld_ = held;
  wxString text = !refused_.empty() ? refused_
                  : held ? wxString("Scrolled up: new output waits until you scroll back to the end")
                  : shownPending_ ? wxString::Format("%zu typed bytes wait for UART%d's wire (it takes one per character time)", shownPending_, uart_)
                                  : wxString::Format("Type here: keys go to UART%d's receiver", uart_);
  if (text != bar_->GetLabel()) bar_->SetLabel(text);
}

void TerminalPane::onKeyDown(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  const bool ctrl = event.RawControlDown(), shift = event.ShiftDown();
  // Clipboard keys as in other programs; Ctrl+C without a selection stays the firmware's ^C.
  if ((ctrl && key == 'V') || (shift && key == WXK_INSERT)) {
    pasteClipboard();
    return;
  }
  if (ctrl && key == 'C') {
    long from = 0, to = 0;
    text_->GetSelection(&from, &to);
    if (from != to || shift) {
      text_->Copy();
      return;
    }
  }
  if ((ctrl && (key == WXK_HOME || key == WXK_END)) || key == WXK_PAGEUP || key == WXK_PAGEDOWN) {
    userScrolled_ = true;
    event.Skip();  // scrolls the pane
    return;
  }
  static const struct {
    int code;
    TerminalKey key;
  } keys[] = {{WXK_RETURN, TerminalKey::Enter},   {WXK_NUMPAD_ENTER, TerminalKey::Enter}, {WXK_BACK, TerminalKey::Backspace},
              {WXK_TAB, TerminalKey::Tab},        {WXK_ESCAPE, TerminalKey::Escape},      {WXK_DELETE, TerminalKey::Delete},
              {WXK_NUMPAD_DELETE, TerminalKey::Delete}, {WXK_UP, TerminalKey::Up},        {WXK_DOWN, TerminalKey::Down},
              {WXK_RIGHT, TerminalKey::Right},    {WXK_LEFT, TerminalKey::Left},          {WXK_HOME, TerminalKey::Home},
              {WXK_END, TerminalKey::End}};
  for (const auto& k : keys)
    if (k.code == key) {
      send(keyBytes(k.key, enter_));
      return;
    }
  // Ctrl with @, a letter or [ \ ] ^ _ is the control code terminals send for it.
  if (ctrl && !event.AltDown() && key >= '@' && key <= '_') {
    send(characterBytes(uint32_t(key) & 0x1F));
    return;
  }
  if (ctrl && key == WXK_SPACE) {
    send(std::string(1, '\0'));
    return;
  }
#if defined(__WXGTK__)
  // A read-only text control gets no character events under GTK (its input method is off), and
  // this event's key code is the unshifted key: the character is the key's keysym.
  if (!ctrl && !event.AltDown()) {
    if (uint32_t cp = keysymCodePoint(event.GetRawKeyCode())) {
      send(characterBytes(cp));
      return;
    }
  }
#endif
  event.Skip();  // Page Up/Down scroll; elsewhere characters come as wxEVT_CHAR
}

void TerminalPane::onChar(wxKeyEvent& event) {
  wxChar uc = event.GetUnicodeKey();
  if (uc == WXK_NONE) {
    event.Skip();
    return;
  }
  uint32_t cp = uint32_t(uc);
  // Ctrl with @, a letter or [ \ ] ^ _ is the control code terminals send for it.
  if (event.RawControlDown() && ((cp >= '@' && cp <= '_') || (cp >= 'a' && cp <= 'z'))) cp &= 0x1F;
  send(characterBytes(cp));
}

}  // namespace korvel::simapp
