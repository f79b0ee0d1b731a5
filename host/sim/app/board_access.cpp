#include "board_access.h"

#include <cmath>

#include <wx/dcmemory.h>
#include <wx/dcclient.h>
#include <wx/image.h>
#include <wx/toplevel.h>
#include <wx/window.h>

#include "korvel/kvbase.h"
#include "korvel/platform/platform.h"
#include "parts.h"

namespace korvel::simapp {

namespace {
// Exported with C linkage like every core export (its parameter is a const std::string&).
constexpr const char* kLookupSymbol = "getBoardChipWithID";

constexpr uint32_t kResetKey = 0x52;  // virtual-key code of R

// The LCD's screen inside the LCD component: a 16-pixel bezel around 240 x 320.
constexpr int kLcdBezel = 16, kLcdWidth = 240, kLcdHeight = 320;

// Reads the window's own pixels. Reading them through a screen DC instead gave every later
// picture of the run the pixels of the first one (GTK 3), so a mid-run picture froze the rest.
bool grab(wxWindow* w, const wxRect& clientRect, const std::filesystem::path& file, std::string* error) {
  w->Update();
  wxBitmap bitmap(clientRect.GetWidth(), clientRect.GetHeight(), 24);
  {
    wxClientDC window(w);
    wxMemoryDC memory(bitmap);
    if (!memory.Blit(0, 0, clientRect.GetWidth(), clientRect.GetHeight(), &window, clientRect.x, clientRect.y)) {
      *error = "cannot read the screen to write " + file.string();
      return false;
    }
  }
  if (!bitmap.ConvertToImage().SaveFile(wxString(file.string()), wxBITMAP_TYPE_PNG)) {
    *error = "cannot write " + file.string();
    return false;
  }
  return true;
}
}  // namespace

BoardAccess::BoardAccess(const std::filesystem::path& plugin) {
  std::string error;
  library_ = platform::loadLibrary(plugin, &error);
  if (!library_) return;
  void* lookup = platform::findSymbol(library_, "getBoardChipWithID");
  if (!lookup) lookup = platform::findSymbol(library_, kLookupSymbol);
  lookup_ = reinterpret_cast<KVBase* (*)(const std::string&)>(lookup);
  isPowered_ = reinterpret_cast<int (*)()>(platform::findSymbol(library_, "isBoardPowered"));
  isForeground_ = reinterpret_cast<int (*)()>(platform::findSymbol(library_, "isDialogForeMost"));
}

bool BoardAccess::powered() const {
  if (!isPowered_ || !component("Korvel")) return true;
  return isPowered_() != 0;
}

void BoardAccess::followReset() {
  wxWindow* button = component("RESET");
  if (button == resetButton_) return;
  unfollowReset();
  resetButton_ = button;
  if (!button) return;
  // Handlers bound here run before the button's own, which still gets every event.
  button->Bind(wxEVT_LEFT_DOWN, &BoardAccess::onResetMouse, this);
  button->Bind(wxEVT_LEFT_UP, &BoardAccess::onResetMouse, this);
  button->Bind(wxEVT_LEAVE_WINDOW, &BoardAccess::onResetMouse, this);
  button->Bind(wxEVT_DESTROY, &BoardAccess::onResetDestroyed, this);
}

void BoardAccess::unfollowReset() {
  if (resetButton_) {
    resetButton_->Unbind(wxEVT_LEFT_DOWN, &BoardAccess::onResetMouse, this);
    resetButton_->Unbind(wxEVT_LEFT_UP, &BoardAccess::onResetMouse, this);
    resetButton_->Unbind(wxEVT_LEAVE_WINDOW, &BoardAccess::onResetMouse, this);
    resetButton_->Unbind(wxEVT_DESTROY, &BoardAccess::onResetDestroyed, this);
  }
  resetButton_ = nullptr;
  resetDown_ = false;
}

void BoardAccess::onResetMouse(wxMouseEvent& event) {
  resetDown_ = event.GetEventType() == wxEVT_LEFT_DOWN;
  event.Skip();
}

void BoardAccess::onResetDestroyed(wxWindowDestroyEvent& event) {
  if (event.GetEventObject() == resetButton_) resetButton_ = nullptr, resetDown_ = false;
  event.Skip();
}

bool BoardAccess::resetHeld() {
  followReset();
  if (!resetButton_) return false;
  if (resetDown_) return true;
  // The key R holds RESET too, while the board window is in front (as the Buttons module sees it).
  if (!keyboard_) keyboard_ = platform::openKeyboardReader();
  if (!keyboard_ || !keyboard_->available() || !isForeground_ || !isForeground_()) return false;
  keyboard_->refresh();
  return keyboard_->isDown(kResetKey);
}

bool BoardAccess::startsBounce(const ScriptStep& step) const {
  if (step.action != "press" && step.action != "release") return false;
  const PartInfo* part = findPart(step.args[0]);
  if (!part || !part->bounces || !component(step.args[0])) return false;
  // RESET has no pin: only its press asks for a reset; its release sets off nothing we can see.
  return !(step.args[0] == "RESET" && step.action == "release");
}

bool BoardAccess::check(const ScriptStep& step, std::string* error) const {
  const std::string& a = step.action;
  std::string id;
  if (a == "press" || a == "release" || a == "click") id = step.args[0];
  else if (a == "touch" || a == "untouch") id = "TP";
  else if (a == "joystick") id = "Joystick";
  else if (a == "turn") id = "Potmeter";
  else if (a == "lcd-png") id = "Pictor";
  else if (a == "board-png") id = "Korvel";
  else return true;
  wxWindow* w = component(id);
  if (!w) {
    *error = "the board has no part \"" + id + "\" (its module is not installed, or the board window did not open)";
    return false;
  }
  if (step.args.size() == 3) {
    wxSize size = w->GetClientSize();
    int x = std::stoi(step.args[1]), y = std::stoi(step.args[2]);
    if (x >= size.x || y >= size.y) {
      *error = "the point (" + step.args[1] + ", " + step.args[2] + ") lies outside " + id + ", which is " +
               std::to_string(size.x) + " x " + std::to_string(size.y) + " pixels";
      return false;
    }
  }
  return true;
}

BoardAccess::~BoardAccess() {
  unfollowReset();
  if (library_) platform::freeLibrary(library_);
}

wxWindow* BoardAccess::component(const std::string& id) const {
  if (!lookup_) return nullptr;
  KVBase* c = lookup_(id);
  return c ? static_cast<wxWindow*>(c) : nullptr;
}

wxWindow* BoardAccess::boardWindow() const {
  wxWindow* base = component("Korvel");
  return base ? wxGetTopLevelParent(base) : nullptr;
}

bool BoardAccess::mouse(const std::string& id, int type, int x, int y, bool left, bool middle, std::string* error) {
  wxWindow* w = component(id);
  if (!w) {
    *error = "the board has no component \"" + id + "\" (is the board window open and the module installed?)";
    return false;
  }
  wxMouseEvent ev(type);
  ev.SetEventObject(w);
  ev.SetId(w->GetId());
  ev.SetPosition(wxPoint(x, y));
  ev.m_leftDown = left;
  ev.m_middleDown = middle;
  w->HandleWindowEvent(ev);
  return true;
}

bool BoardAccess::perform(const ScriptStep& step, std::string* error) {
  const std::string& a = step.action;
  if (a == "press" || a == "release" || a == "click") {
    wxWindow* w = component(step.args[0]);
    wxSize size = w ? w->GetClientSize() : wxSize();
    int x = size.x / 2, y = size.y / 2;
    if (const PartInfo* part = findPart(step.args[0]); part && part->defaultX >= 0) x = part->defaultX, y = part->defaultY;
    if (step.args.size() == 3) {
      x = std::stoi(step.args[1]);
      y = std::stoi(step.args[2]);
    }
    if (a != "release" && !mouse(step.args[0], wxEVT_LEFT_DOWN, x, y, true, false, error)) return false;
    if (a != "press" && !mouse(step.args[0], wxEVT_LEFT_UP, x, y, false, false, error)) return false;
    return true;
  }
  if (a == "touch") {
    // The panel component covers exactly the LCD's 240 x 320 pixels.
    return mouse("TP", wxEVT_LEFT_DOWN, std::stoi(step.args[0]), std::stoi(step.args[1]), true, false, error);
  }
  if (a == "untouch") return mouse("TP", wxEVT_LEFT_UP, 0, 0, false, false, error);
  if (a == "joystick") {
    wxWindow* w = component("Joystick");
    if (!w) {
      *error = "the board has no component \"Joystick\"";
      return false;
    }
    wxSize size = w->GetClientSize();
    int cx = size.x / 2, cy = size.y / 2, r = std::min(size.x, size.y) / 3;
    const std::string& d = step.args[0];
    if (d == "push") return mouse("Joystick", wxEVT_MIDDLE_DOWN, cx, cy, false, true, error);
    if (d == "unpush") return mouse("Joystick", wxEVT_MIDDLE_UP, cx, cy, false, false, error);
    if (d == "release") return mouse("Joystick", wxEVT_LEFT_UP, cx, cy, false, false, error);
    int dx = 0, dy = 0;
    if (d.find("up") != std::string::npos) dy = -r;
    if (d.find("down") != std::string::npos) dy = r;
    if (d.find("left") != std::string::npos) dx = -r;
    if (d.find("right") != std::string::npos) dx = r;
    // Grab the knob at rest and drag it in the direction.
    return mouse("Joystick", wxEVT_LEFT_DOWN, cx, cy, true, false, error) &&
           mouse("Joystick", wxEVT_MOTION, cx + dx, cy + dy, true, false, error);
  }
  if (a == "turn") {
    wxWindow* w = component("Potmeter");
    double volts = 0;
    if (!w || !parseVolts(step.args[0], &volts)) {
      *error = "the board has no component \"Potmeter\"";
      return false;
    }
    // Grab the knob in its middle and drag it round to the angle of the voltage: 0 V at 7:30,
    // 3.3 V at 4:30, clockwise. The pointer goes far out (the knob holds the mouse while
    // dragged), so the angle, and with it the voltage, comes out to a few microvolts.
    wxSize size = w->GetClientSize();
    const int cx = size.x / 2, cy = size.y / 2;
    const double degrees = 225.0 - 270.0 * volts / kPotFullScaleVolts;
    const double rad = degrees * 3.14159265358979323846 / 180.0;
    const int x = cx + int(std::lround(100000.0 * std::cos(rad))), y = cy - int(std::lround(100000.0 * std::sin(rad)));
    return mouse("Potmeter", wxEVT_LEFT_DOWN, cx, cy, true, false, error) &&
           mouse("Potmeter", wxEVT_MOTION, x, y, true, false, error) &&
           mouse("Potmeter", wxEVT_LEFT_UP, x, y, false, false, error);
  }
  if (a == "lcd-png") return writeLcdPng(step.args[0], error);
  if (a == "board-png") return writeBoardPng(step.args[0], error);
  *error = "the action \"" + a + "\" does not act on the board";
  return false;
}

bool BoardAccess::writeLcdPng(const std::filesystem::path& file, std::string* error) const {
  wxWindow* lcd = component("Pictor");
  if (!lcd) {
    *error = "no LCD to picture: the board window is not open or the LCD module is missing";
    return false;
  }
  return grab(lcd, wxRect(kLcdBezel, kLcdBezel, kLcdWidth, kLcdHeight), file, error);
}

bool BoardAccess::writeBoardPng(const std::filesystem::path& file, std::string* error) const {
  wxWindow* board = boardWindow();
  if (!board) {
    *error = "no board window to picture: it is not open";
    return false;
  }
  return grab(board, wxRect(wxPoint(0, 0), board->GetClientSize()), file, error);
}

}  // namespace korvel::simapp
