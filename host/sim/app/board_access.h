// What korvel-sim does to the board the plug-in shows: find its components, play scripted
// inputs on them as mouse events (the same handlers a user's clicks reach), and write PNG
// pictures of the LCD and the board window. UI thread only.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "korvel/platform/platform.h"

#include "script.h"

#include <wx/event.h>

class wxWindow;
class KVBase;

namespace korvel::simapp {

class BoardAccess : public wxEvtHandler {
 public:
  // Binds the core's component look-up in the loaded plug-in library.
  explicit BoardAccess(const std::filesystem::path& plugin);
  ~BoardAccess();

  // The component window registered under id, or null (no board open, or no such part).
  wxWindow* component(const std::string& id) const;
  // The board's top-level window, or null.
  wxWindow* boardWindow() const;

  // Plays one scripted step; false with one line in *error. (vtr, reset, stop and expect are
  // the caller's, as they do not touch the board.)
  bool perform(const ScriptStep& step, std::string* error);
  // Whether the step may set a button bouncing (a press or release of a push button), whose pin
  // changes then come from the button's own thread. (A disabled button, or one already in that
  // state, sets off nothing; the caller waits a bounded time for it.)
  bool startsBounce(const ScriptStep& step) const;
  // Before the run: whether the step's part is on the open board and its point inside the part.
  bool check(const ScriptStep& step, std::string* error) const;

  // The board's power (the core's answer; true while no board is open, as the chip then has
  // nothing to lose power with).
  bool powered() const;
  // Whether RESET is held down with the mouse (or a scripted press), or by the key R while the
  // board window is in front.
  bool resetHeld();

  bool writeLcdPng(const std::filesystem::path& file, std::string* error) const;
  bool writeBoardPng(const std::filesystem::path& file, std::string* error) const;

 private:
  bool mouse(const std::string& id, int type, int x, int y, bool left, bool middle, std::string* error);
  void followReset();
  void unfollowReset();
  void onResetMouse(wxMouseEvent& event);
  void onResetDestroyed(wxWindowDestroyEvent& event);
  void* library_ = nullptr;
  KVBase* (*lookup_)(const std::string&) = nullptr;
  int (*isPowered_)() = nullptr;
  int (*isForeground_)() = nullptr;
  std::unique_ptr<platform::KeyboardReader> keyboard_;
  wxWindow* resetButton_ = nullptr;  // the RESET window we follow
  bool resetDown_ = false;
};

}  // namespace korvel::simapp
