// What korvel-sim does to the board the plug-in shows: find its components, play scripted
// inputs on them as mouse events (the same handlers a user's clicks reach), and write PNG
// pictures of the LCD and the board window. UI thread only.
#pragma once

#include <filesystem>
#include <string>

#include "script.h"

class wxWindow;
class KVBase;

namespace korvel::simapp {

class BoardAccess {
 public:
  // Binds the core's component look-up in the loaded plug-in library.
  explicit BoardAccess(const std::filesystem::path& plugin);
  ~BoardAccess();

  // The component window registered under id, or null (no board open, or no such part).
  wxWindow* component(const std::string& id) const;
  // The board's top-level window, or null.
  wxWindow* boardWindow() const;

  // Plays one scripted step; false with one line in *error. (vtr, reset and stop are the
  // caller's, as they do not touch the board.)
  bool perform(const ScriptStep& step, std::string* error);

  bool writeLcdPng(const std::filesystem::path& file, std::string* error) const;
  bool writeBoardPng(const std::filesystem::path& file, std::string* error) const;

 private:
  bool mouse(const std::string& id, int type, int x, int y, bool left, bool middle, std::string* error);
  void* library_ = nullptr;
  KVBase* (*lookup_)(const std::string&) = nullptr;
};

}  // namespace korvel::simapp
