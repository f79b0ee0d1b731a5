// The board window of the real plug-in on the (virtual) screen, for GUI tests: the staged copy
// of the core with the base, LCD and touch bundles, the board opened through the host's
// "&Korvel" menu entry, components found by identifier through the core's export, the UI
// thread's queue pumped while waiting, and what the screen shows grabbed into an image.
// Needs ImageMagick's import on the path (scripts/install-deps installs it).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/toplevel.h>
#include <wx/window.h>

#include "korvel/agsi.h"
#include "korvel/platform/platform.h"
#include "screen_grab.h"
#include "staged_plugin.h"

namespace korvel_testing {

using korvel::test::pumpFor;
using korvel::test::pumpUntil;

// "r,g,b" of one pixel, for readable failure messages.
inline std::string rgbAt(const wxImage& image, wxPoint p) {
  return std::to_string(image.GetRed(p.x, p.y)) + "," + std::to_string(image.GetGreen(p.x, p.y)) +
         "," + std::to_string(image.GetBlue(p.x, p.y));
}

class BoardOnScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_.host().addSymbol("ScaleFlag", 0x10000000);
    ASSERT_NO_FATAL_FAILURE(plugin_.load());
    for (AGSIMENU* entry : plugin_.host().menuEntries())
      if (entry->szText && std::string(entry->szText) == "&Korvel") menu_ = entry;
    ASSERT_NE(menu_, nullptr) << "the core registered no \"&Korvel\" menu entry";
    // The core's getBoardChipWithID, found by its plain name in the copy this test loaded.
    core_ = korvel::platform::loadLibrary(plugin_.tree().plugin());
    ASSERT_NE(core_, nullptr);
    findChip_ = reinterpret_cast<FindChip>(korvel::platform::findSymbol(core_, "getBoardChipWithID"));
    ASSERT_NE(findChip_, nullptr) << "the core exports no getBoardChipWithID";

    menu_->fp(menu_);  // the user picks "&Korvel": the board opens
    ASSERT_NE(board(), nullptr) << "the board window did not open:\n" << plugin_.host().output();
    board()->Move(0, 0);
    board()->Raise();
    ASSERT_TRUE(pumpUntil([&] { return board()->IsShownOnScreen(); }));
    pumpFor(std::chrono::milliseconds(200));  // first paint of every component
  }

  void TearDown() override {
    if (menu_ && menu_->pDlg && menu_->pDlg->hw) menu_->fp(menu_);  // closes the board
    for (int i = 0; i < 3; ++i) wxTheApp->ProcessIdle();          // pending deletions
    if (core_) korvel::platform::freeLibrary(core_);
    plugin_.unload();
  }

  wxTopLevelWindow* board() {
    return menu_ && menu_->pDlg ? static_cast<wxTopLevelWindow*>(menu_->pDlg->hw) : nullptr;
  }
  wxWindow* chip(const std::string& id) { return reinterpret_cast<wxWindow*>(findChip_(id)); }
  // The board's power as the power switch sets it: every component enabled or disabled.
  void setPowered(bool powered) {
    using SetPowered = void (*)(int);
    auto set = reinterpret_cast<SetPowered>(korvel::platform::findSymbol(core_, "setBoardPowered"));
    ASSERT_NE(set, nullptr) << "the core exports no setBoardPowered";
    set(powered ? 1 : 0);
  }

  // What the X server shows of a window's client area, other windows included: the user's view.
  wxImage grabClient(wxWindow* window) { return korvel::test::grabClient(window); }

  StagedPlugin plugin_;
  PluginLcdBus bus_ = plugin_.bus();
  AGSIMENU* menu_ = nullptr;

 private:
  // Returns a KVBase*, whose first base is wxWindow.
  using FindChip = void* (*)(const std::string&);
  void* core_ = nullptr;
  FindChip findChip_ = nullptr;
};

}  // namespace korvel_testing
