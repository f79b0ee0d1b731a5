// The CAN parts on a real board window: the base board's picture as parent, the module's own
// DefineAllComponents placing them (through the board tests' recording module), colours arriving
// from other threads, and the settings page's "OK" showing the confirmed colour. Screenshots of
// the CAN corner of the board and of the page are written for people to look at.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <wx/frame.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/textctrl.h>

#include "can_gui_support.h"
#include "can_settings_dialog.h"
#include "can_sfondo.h"
#include "fake_can_bus.h"
#include "gui_test_main.h"
#include "korvel/agsi.h"
#include "korvel/board_testing.h"
#include "korvel/exports.h"
#include "korvel/platform/platform.h"
#include "korvel/settings.h"
#include "kvquillon.h"

extern "C" int DefineAllComponents(wxWindow* board, KVRect area, ComponentModule* module);

namespace fs = std::filesystem;
using can_test::pumpUntil;
using can_test::rgb;
using quillon::CanBus;

namespace {

using DefineHook = int (*)(wxWindow*, KVRect, ComponentModule*);
int defineResult = -1;
int defineCan(wxWindow* board, KVRect area, ComponentModule* module) {
  defineResult = DefineAllComponents(board, area, module);
  return defineResult;
}

void writeBundle(const fs::path& folder, const std::string& id, const std::string& lib,
                 const std::string& after) {
  fs::create_directories(folder);
  std::ofstream(folder / "Info.list") << "ID = " << id << "\nLib = " << lib << "\n"
                                      << (after.empty() ? "" : "LoadAfterID = " + after + "\n");
}

void press(wxWindow* control, wxEventType type) {
  wxCommandEvent event(type, control->GetId());
  event.SetEventObject(control);
  control->GetEventHandler()->ProcessEvent(event);
}

class CanOnBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    quillon::fake::reset();
    dir_ = fs::temp_directory_path() / ("korvel-can-board-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    SettingsManager::resetForTesting((dir_ / "korvel.ini").string());
    writeBundle(dir_ / "DOCS/KorvelBase", "KorvelBase", KORVEL_BASE_LIB, "");
    writeBundle(dir_ / "DOCS/Jumpers", "Jumpers", KORVEL_JUMPERS_LIB, "KorvelBase");
    writeBundle(dir_ / "DOCS/Quillon", "Quillon", BOARD_FIXTURE_LIB, "Jumpers");
    ASSERT_EQ(korvelUseModulesForTesting((dir_ / "DOCS").string().c_str()), 1);
    fixture_ = korvel::platform::loadLibrary(BOARD_FIXTURE_LIB);
    ASSERT_NE(fixture_, nullptr);
    setHook_ = reinterpret_cast<void (*)(DefineHook)>(korvel::platform::findSymbol(fixture_, "fixtureSetDefineHook"));
    ASSERT_NE(setHook_, nullptr);
    setHook_(&defineCan);
    defineResult = -1;
    menu_ = korvelBoardMenuForTesting();
    menu_->pDlg->rc = AGSIRECT{-1, -1, -1, -1};
    menu_->fp(menu_);  // the user opens the board
    ASSERT_NE(menu_->pDlg->hw, nullptr) << "the board window did not open";
    board()->Move(0, 0);
    ASSERT_TRUE(pumpUntil([&] { return square(1) && square(1)->drawn() && square(2)->drawn(); }))
        << "the squares were never painted";
    can_test::pumpFor(std::chrono::milliseconds(150));
  }
  void TearDown() override {
    if (page_) page_->GetParent()->Destroy();
    if (menu_ && menu_->pDlg->hw) menu_->pDlg->Kill(menu_->pDlg);
    if (setHook_) setHook_(nullptr);
    for (int i = 0; i < 3; ++i) wxTheApp->ProcessIdle();
    korvel::guitest::drainEvents();
    if (fixture_) korvel::platform::freeLibrary(fixture_);
    korvelUseModulesForTesting(nullptr);
    CANBusSettingsDialog::setPickers(nullptr, nullptr);
    fs::remove_all(dir_);
  }

  wxWindow* board() { return static_cast<wxWindow*>(menu_->pDlg->hw); }
  KVQuillon* square(int port) {
    return dynamic_cast<KVQuillon*>(getBoardChipWithID(port == 1 ? "Quillon1" : "Quillon2"));
  }
  CANBusSettingsDialog* openPage() {
    auto* dialog = new wxFrame(nullptr, wxID_ANY, "CAN Bus", wxPoint(0, 620));
    dialog->SetClientSize(wxSize(560, 330));
    // The information dialog destroys itself on close; this stand-in only hides.
    dialog->Bind(wxEVT_CLOSE_WINDOW, [dialog](wxCloseEvent&) { dialog->Hide(); });
    page_ = new CANBusSettingsDialog(dialog);
    page_->SetLabel("CAN Bus settings");
    dialog->Show();
    can_test::pumpFor(std::chrono::milliseconds(100));
    return page_;
  }

  fs::path dir_;
  void* fixture_ = nullptr;
  void (*setHook_)(DefineHook) = nullptr;
  AGSIMENU* menu_ = nullptr;
  CANBusSettingsDialog* page_ = nullptr;
};

TEST_F(CanOnBoard, PartsSitAtTheirRectanglesOnTheBoardPicture) {
  EXPECT_EQ(defineResult, 1);
  KVBase* picture = getBoardChipWithID("Korvel");
  ASSERT_NE(picture, nullptr);
  KVBase* area = getBoardChipWithID("CAN Bus");
  ASSERT_NE(dynamic_cast<canSfondo*>(area), nullptr);
  EXPECT_EQ(area->GetParent(), picture);
  EXPECT_EQ(area->GetRect(), wxRect(wxPoint(328, 0), wxPoint(476, 37)));
  ASSERT_NE(square(1), nullptr);
  ASSERT_NE(square(2), nullptr);
  EXPECT_EQ(square(1)->GetParent(), picture);
  EXPECT_EQ(square(1)->GetRect(), wxRect(wxPoint(371, 0), wxPoint(383, 12)));
  EXPECT_EQ(square(2)->GetRect(), wxRect(wxPoint(421, 0), wxPoint(433, 12)));
  EXPECT_EQ(square(1)->GetBundleID(), "Quillon");
  EXPECT_EQ(square(1)->getColor(), 0u);
  EXPECT_EQ(quillon::fake::record().resets, 1) << "the ports start over with each board";
  EXPECT_FALSE(quillon::fake::record().pagePresent) << "a new board has no settings page yet";
  EXPECT_TRUE(quillon::fake::record().sink) << "no colour sink registered";

  // The squares show black in their plates, over the board picture.
  const wxImage screen = can_test::grab(picture, wxRect(320, 0, 170, 45));
  EXPECT_EQ(rgb(screen, 371 - 320 + 6, 6), "0,0,0");
  EXPECT_EQ(rgb(screen, 421 - 320, 0), "255,255,255");
  EXPECT_EQ(rgb(screen, 421 - 320 + 1, 1), "2,82,131");
  screen.SaveFile(CAN_BOARD_SCREENSHOT, wxBITMAP_TYPE_PNG);
  std::fprintf(stderr, "screenshot: %s\n", CAN_BOARD_SCREENSHOT);
}

TEST_F(CanOnBoard, ColourFromAnotherThreadReachesOnlyItsSquare) {
  auto sink = quillon::fake::record().sink;
  ASSERT_TRUE(sink);
  std::thread watcher([&] { sink(2, 0x000000FF); });
  watcher.join();
  EXPECT_EQ(square(2)->getColor(), 0u) << "changed off the UI thread";
  ASSERT_TRUE(pumpUntil([&] { return square(2)->getColor() == 0x000000FFu; }));
  EXPECT_EQ(square(1)->getColor(), 0u);
  ASSERT_TRUE(pumpUntil([&] {
    return rgb(can_test::grab(square(2)), 6, 6) == "255,0,0";
  })) << "the red never reached the screen";
  EXPECT_EQ(rgb(can_test::grab(square(1)), 6, 6), "0,0,0");

  // After the board has closed a late colour finds no square and does nothing.
  menu_->pDlg->Kill(menu_->pDlg);
  sink(1, 0x0000FF00);
  korvel::guitest::drainEvents();
  EXPECT_EQ(getBoardChipWithID("Quillon1"), nullptr);
}

TEST_F(CanOnBoard, OkShowsTheConfirmedColourOnTheSquareAtOnce) {
  CANBusSettingsDialog::setPickers([](wxWindow*, int) { return std::optional<std::string>("/tmp/can"); },
                                   [](wxWindow*, int) { return std::optional<uint32_t>(0x00FF8000); });
  CANBusSettingsDialog* page = openPage();
  press(page->enableBox(1), wxEVT_CHECKBOX);
  press(page->control(1), wxEVT_BUTTON);
  press(page->control(2), wxEVT_BUTTON);
  press(page->control(6), wxEVT_BUTTON);  // port 2's colour picked but port 2 not confirmed
  page->acceptanceEdit(1)->SetValue("5");
  can_test::pumpFor(std::chrono::milliseconds(100));
  const wxImage shown = can_test::grab(page);
  shown.SaveFile(CAN_PAGE_SCREENSHOT, wxBITMAP_TYPE_PNG);
  std::fprintf(stderr, "screenshot: %s\n", CAN_PAGE_SCREENSHOT);

  press(page->okButton(), wxEVT_BUTTON);
  EXPECT_EQ(square(1)->getColor(), 0x00FF8000u) << "the confirmed port's square";
  EXPECT_EQ(square(2)->getColor(), 0u) << "a skipped port's square";
  EXPECT_FALSE(page->GetParent()->IsShown()) << "the dialog was not closed";
  ASSERT_TRUE(pumpUntil([&] { return rgb(can_test::grab(square(1)), 6, 6) == "0,128,255"; }))
      << "the confirmed colour never reached the screen";
}

}  // namespace
