// The input parts on a real board window: the base board, the jumpers, Buttons, Joystick and
// Power loaded as the core loads them, with the virtual registers behind a stand-in host. Clicks
// and keys go in as the user makes them; PORT1, PORT2 and the board's power come out.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "fake_host.h"
#include "gui_test_main.h"
#include "korvel/board_testing.h"
#include "korvel/exports.h"
#include "korvel/keys.h"
#include "korvel/platform/platform.h"
#include "korvel/settings.h"
#include "kvbutton.h"

namespace fs = std::filesystem;
using korvel::guitest::mouse;

namespace {

void printMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

// Keys held down as the key listener would read them from the keyboard.
class HeldKeys : public korvel::KeyStateSource {
 public:
  std::set<unsigned int> down;
  bool isDown(unsigned int key) override { return down.count(key) != 0; }
};

// SW6's lever in the switch window's client coordinates.
const wxRect kLever(69, 13, 25, 12);

void writeBundle(const fs::path& folder, const std::string& id, const std::string& lib) {
  fs::create_directories(folder);
  std::ofstream(folder / "Info.list") << "ID = " << id << "\nLib = " << lib
                                      << (id == "KorvelBase" ? "\n" : "\nLoadAfterID = KorvelBase\n");
}

class BoardInputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("korvel-inputs-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    SettingsManager::resetForTesting((dir_ / "korvel.ini").string());
    SettingsManager::sharedInstance().setValueWithKey("BTN_BOUNCE", 0);

    HostFunctionTable* agsi = getAgsi();
    agsi->AgsiDefineVTR = host_.table().AgsiDefineVTR;
    agsi->AgsiReadVTR = host_.table().AgsiReadVTR;
    agsi->AgsiWriteVTR = host_.table().AgsiWriteVTR;
    agsi->AgsiTriggerReset = host_.table().AgsiTriggerReset;
    agsi->AgsiMessage = &printMessage;

    writeBundle(dir_ / "DOCS/KorvelBase", "KorvelBase", KORVEL_BASE_LIB);
    writeBundle(dir_ / "DOCS/Jumpers", "Jumpers", JUMPERS_LIB);
    writeBundle(dir_ / "DOCS/Buttons", "Buttons", BUTTONS_LIB);
    writeBundle(dir_ / "DOCS/Joystick", "Joystick", JOYSTICK_LIB);
    writeBundle(dir_ / "DOCS/Power", "Power", POWER_LIB);
    ASSERT_EQ(korvelUseModulesForTesting((dir_ / "DOCS").string().c_str()), 1);
    // The host's VTREG stage, which the board window does not run.
    for (const char* lib : {BUTTONS_LIB, JOYSTICK_LIB}) {
      void* module = korvel::platform::loadLibrary(lib);
      ASSERT_NE(module, nullptr) << lib;
      auto stage = reinterpret_cast<int (*)()>(korvel::platform::findSymbol(module, "DefineAllVTREG"));
      ASSERT_EQ(stage(), 1) << lib;
      modules_.push_back(module);
    }
    port1_ = host_.defineVtr("PORT1", 0);
    port2_ = host_.defineVtr("PORT2", 0);
    host_.setVtr(port1_, 0x3E000000);  // the pins' pull-ups
    host_.setVtr(port2_, 0x1C00);

    menu_ = korvelBoardMenuForTesting();
    menu_->fp(menu_);
    ASSERT_NE(menu_->pDlg->hw, nullptr) << "the board window did not open";
    korvelSetBoardForegroundForTesting(1);
    for (const char* id : {"KEY1", "Joystick", "SW6"}) korvel::guitest::render(getBoardChipWithID(id));
  }
  void TearDown() override {
    KeyListener::setKeyStateSourceForTesting(nullptr);
    korvelSetBoardForegroundForTesting(-1);
    if (menu_ && menu_->pDlg->hw) menu_->pDlg->Kill(menu_->pDlg);
    for (int i = 0; i < 3; ++i) wxTheApp->ProcessIdle();
    korvelUseModulesForTesting(nullptr);
    for (void* module : modules_) korvel::platform::freeLibrary(module);
    fs::remove_all(dir_);
  }

  void clickCentre(KVBase* component, wxRect area) {
    wxPoint c(area.x + area.width / 2, area.y + area.height / 2);
    mouse(component, wxEVT_LEFT_DOWN, c.x, c.y, true);
    mouse(component, wxEVT_LEFT_UP, c.x, c.y);
  }

  korvel::testing::FakeHost host_;
  fs::path dir_;
  std::vector<void*> modules_;
  uint32_t port1_ = 0, port2_ = 0;
  AGSIMENU* menu_ = nullptr;
};

TEST_F(BoardInputs, ClickingKey1DrivesP2_11LowThenHigh) {
  auto* key1 = dynamic_cast<KVButton*>(getBoardChipWithID("KEY1"));
  ASSERT_NE(key1, nullptr);
  wxRect disc = key1->hitRect();
  wxPoint c(disc.x + 8, disc.y + 8);
  mouse(key1, wxEVT_LEFT_DOWN, c.x, c.y, true);
  EXPECT_EQ(host_.vtr(port2_), 0x1400u) << "P2.11 low, P2.10 and P2.12 untouched";
  mouse(key1, wxEVT_LEFT_UP, c.x, c.y);
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "P2.11 high again";
}

TEST_F(BoardInputs, Key1OnTheKeyboardPressesTheButtonWhileTheBoardIsInFront) {
  auto keys = std::make_shared<HeldKeys>();
  KeyListener::setKeyStateSourceForTesting(keys);
  keys->down.insert(0x31);
  KeyListener::sharedInstance()->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port2_) & 0x800, 0u) << "key 1 held: P2.11 low";
  keys->down.clear();
  KeyListener::sharedInstance()->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port2_) & 0x800, 0x800u) << "key 1 let go: P2.11 high";

  korvelSetBoardForegroundForTesting(0);
  keys->down.insert(0x31);
  KeyListener::sharedInstance()->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port2_) & 0x800, 0x800u) << "the board behind another window ignores the key";
  keys->down.clear();
  KeyListener::sharedInstance()->waitForPasses(2);
}

TEST_F(BoardInputs, ArrowKeysDriveTheJoystickPinsOnPort1) {
  auto keys = std::make_shared<HeldKeys>();
  KeyListener::setKeyStateSourceForTesting(keys);
  keys->down = {0x26, 0x27};  // up and right
  KeyListener::sharedInstance()->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port1_), 0x0E000000u) << "P1.28 and P1.29 low, P1.25-P1.27 high";
  keys->down.clear();
  KeyListener::sharedInstance()->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port1_), 0x3E000000u);
}

TEST_F(BoardInputs, SwitchingOffUnpowersTheBoardAndOnlySwitchAndJumperStayUsable) {
  KVBase* sw = getBoardChipWithID("SW6");
  ASSERT_NE(sw, nullptr);
  EXPECT_EQ(isBoardPowered(), 1) << "nothing stored: the board starts powered";
  clickCentre(sw, kLever);
  EXPECT_EQ(isBoardPowered(), 0);
  for (const char* id : {"Korvel", "KEY1", "KEY2", "INT0", "RESET", "JP5", "Joystick", "LD12"}) {
    KVBase* part = getBoardChipWithID(id);
    ASSERT_NE(part, nullptr) << id;
    EXPECT_EQ(part->isEnabled(), 0) << id << " should be disabled on an unpowered board";
  }
  EXPECT_EQ(getBoardChipWithID("SW6")->isEnabled(), 1);
  EXPECT_EQ(getBoardChipWithID("JP3")->isEnabled(), 1);

  auto* key1 = dynamic_cast<KVButton*>(getBoardChipWithID("KEY1"));
  clickCentre(key1, key1->hitRect());
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "an unpowered KEY1 leaves P2.11 alone";

  clickCentre(sw, kLever);
  EXPECT_EQ(isBoardPowered(), 1) << "switched on again";
  EXPECT_EQ(getBoardChipWithID("KEY1")->isEnabled(), 1);
}

// KORVEL_SCREENSHOT=<file.png>: the board with KEY1 held, the joystick pushed up-left and the
// power switched off.
TEST_F(BoardInputs, ScreenshotOfPressedButtonTiltedKnobAndSwitchOff) {
  const char* out = std::getenv("KORVEL_SCREENSHOT");
  if (out == nullptr) GTEST_SKIP() << "set KORVEL_SCREENSHOT to a PNG path to take it";
  auto* key1 = dynamic_cast<KVButton*>(getBoardChipWithID("KEY1"));
  KVBase* stick = getBoardChipWithID("Joystick");
  KVBase* sw = getBoardChipWithID("SW6");
  wxRect disc = key1->hitRect();
  mouse(key1, wxEVT_LEFT_DOWN, disc.x + 8, disc.y + 8, true);
  mouse(stick, wxEVT_LEFT_DOWN, 34, 34, true);
  mouse(stick, wxEVT_MOTION, 10, 10, true);
  clickCentre(sw, kLever);
  wxWindow* board = static_cast<wxWindow*>(menu_->pDlg->hw);
  board->Refresh();
  board->Update();
  korvel::guitest::drainEvents();
  wxSize size = board->GetClientSize();
  wxBitmap shot(size.x, size.y, 24);
  {
    wxMemoryDC dc(shot);
    dc.SetBackground(wxBrush(wxColour(240, 240, 240)));
    dc.Clear();
    // Every component draws itself at its place, children over their parent.
    std::function<void(wxWindow*, wxPoint)> draw = [&](wxWindow* w, wxPoint at) {
      for (wxWindow* child : w->GetChildren()) {
        wxPoint p = at + child->GetPosition();
        if (auto* part = dynamic_cast<KVBase*>(child)) {
          wxSize s = part->GetClientSize();
          wxBitmap b(s.x, s.y, 24);
          {
            wxMemoryDC partDc(b);
            part->Render(partDc);
          }
          dc.DrawBitmap(b, p);
        }
        draw(child, p);
      }
    };
    draw(board, wxPoint(0, 0));
  }
  wxImage::AddHandler(new wxPNGHandler);
  ASSERT_TRUE(shot.ConvertToImage().SaveFile(out, wxBITMAP_TYPE_PNG));
  mouse(stick, wxEVT_LEFT_UP, 10, 10);
}

}  // namespace
