// The input parts on a real board window: the base board, the jumpers, Buttons, Joystick and
// Power loaded as the core loads them, with the virtual registers behind a stand-in host. Clicks
// and keys go in as the user makes them; PORT1, PORT2 and the board's power come out.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
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
#include "kvjumper.h"
#include "kvled.h"

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
    for (const char* id : {"KEY1", "KEY2", "INT0", "RESET", "Joystick", "SW6"})
      korvel::guitest::render(getBoardChipWithID(id));
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

  // Closes the board and opens it again: every component is made anew from the stored settings.
  void reopenBoard() {
    menu_->pDlg->Kill(menu_->pDlg);
    for (int i = 0; i < 3; ++i) wxTheApp->ProcessIdle();
    menu_->fp(menu_);
    ASSERT_NE(menu_->pDlg->hw, nullptr) << "the board window did not open again";
    for (const char* id : {"KEY1", "KEY2", "INT0", "RESET", "Joystick", "SW6"})
      korvel::guitest::render(getBoardChipWithID(id));
  }
  void store(const std::string& id, float value) {
    SettingsManager::sharedInstance().setValueWithKey("KORVEL_COMPONENT_ID_" + id, value);
  }
  KVButton* button(const char* id) { return dynamic_cast<KVButton*>(getBoardChipWithID(id)); }
  // A mouse click on a button's disc, waiting for its bounce bursts to end.
  void clickButton(const char* id) {
    KVButton* b = button(id);
    ASSERT_NE(b, nullptr) << id;
    const wxRect disc = b->hitRect();
    mouse(b, wxEVT_LEFT_DOWN, disc.x + 8, disc.y + 8, true);
    b->waitUntilSettled();
    mouse(b, wxEVT_LEFT_UP, disc.x + 8, disc.y + 8);
    b->waitUntilSettled();
  }
  // Holds a key down for two key-listener passes, then lets it go for two more.
  void tapKey(HeldKeys& keys, unsigned int key, uint32_t* portWhileHeld = nullptr) {
    keys.down.insert(key);
    KeyListener::sharedInstance()->waitForPasses(2);
    if (portWhileHeld) *portWhileHeld = host_.vtr(port2_);
    keys.down.erase(key);
    KeyListener::sharedInstance()->waitForPasses(2);
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

// Where each part lies: its parent and its rectangle (left, top, right, bottom) in the parent's
// client coordinates, as the board's layout places them over the picture.
TEST_F(BoardInputs, EveryPartLiesAtItsPlaceOnTheBoard) {
  wxWindow* window = static_cast<wxWindow*>(menu_->pDlg->hw);
  KVBase* board = getBoardChipWithID("Korvel");
  ASSERT_NE(board, nullptr);
  const wxSize led = KVLed::Size(Orientation1);
  struct Place {
    const char* id;
    wxWindow* parent;
    wxRect rect;
  };
  const auto ltrb = [](int l, int t, int r, int b) { return wxRect(wxPoint(l, t), wxSize(r - l, b - t)); };
  for (const Place& p : {Place{"Korvel", window, ltrb(10, 10, 778, 562)},
                         Place{"KEY1", board, ltrb(249, 514, 281, 546)},
                         Place{"KEY2", board, ltrb(299, 514, 331, 546)},
                         Place{"INT0", board, ltrb(349, 514, 381, 546)},
                         Place{"RESET", board, ltrb(399, 514, 431, 546)},
                         Place{"JP5", board, ltrb(151, 233, 166, 257)},
                         Place{"Joystick", board, ltrb(135, 474, 203, 542)},
                         Place{"LD12", board, ltrb(648, 211, 648 + led.x, 211 + led.y)},
                         Place{"JP3", board, ltrb(693, 48, 708, 83)},
                         Place{"SW6", board, ltrb(672, 95, 768, 133)}}) {
    KVBase* part = getBoardChipWithID(p.id);
    ASSERT_NE(part, nullptr) << p.id << " is not on the board";
    EXPECT_EQ(part->GetParent(), p.parent) << p.id << " has the wrong parent";
    EXPECT_EQ(wxRect(part->GetPosition(), part->GetSize()), p.rect) << p.id << " is out of place";
  }
}

TEST_F(BoardInputs, EachButtonDrivesOnlyItsOwnPinAndResetResetsTheChip) {
  struct Case { const char* id; uint32_t low; };
  for (Case c : {Case{"KEY1", 0x1400}, Case{"KEY2", 0x0C00}, Case{"INT0", 0x1800}}) {
    KVButton* b = button(c.id);
    ASSERT_NE(b, nullptr) << c.id;
    const wxRect disc = b->hitRect();
    mouse(b, wxEVT_LEFT_DOWN, disc.x + 8, disc.y + 8, true);
    EXPECT_EQ(host_.vtr(port2_), c.low) << c.id << " pressed";
    mouse(b, wxEVT_LEFT_UP, disc.x + 8, disc.y + 8);
    EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << c.id << " released";
  }
  EXPECT_EQ(host_.resets(), 0);
  clickButton("RESET");
  EXPECT_EQ(host_.resets(), 1) << "a RESET click resets the chip";
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "RESET has no port pin";
}

TEST_F(BoardInputs, KeysTwoZeroAndRActOnlyWhileTheBoardIsInFront) {
  auto keys = std::make_shared<HeldKeys>();
  KeyListener::setKeyStateSourceForTesting(keys);
  uint32_t held = 0;
  tapKey(*keys, 0x32, &held);
  EXPECT_EQ(held, 0x0C00u) << "key 2 held: P2.12 low only";
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "key 2 let go";
  tapKey(*keys, 0x30, &held);
  EXPECT_EQ(held, 0x1800u) << "key 0 held: P2.10 low only";
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "key 0 let go";
  tapKey(*keys, 0x52, &held);
  EXPECT_EQ(host_.resets(), 1) << "key R resets the chip once";
  EXPECT_EQ(held, 0x1C00u);

  korvelSetBoardForegroundForTesting(0);
  for (unsigned int key : {0x32u, 0x30u, 0x52u}) {
    tapKey(*keys, key, &held);
    EXPECT_EQ(held, 0x1C00u) << "key " << key << " with the board behind another window";
  }
  EXPECT_EQ(host_.resets(), 1) << "R behind another window resets nothing";
}

// The real keyboard: keys pressed on the X server (with xdotool) reach the buttons through the
// key listener's X11 reader, only while the board window is in front.
TEST_F(BoardInputs, KeysPressedOnTheDisplayPressTheButtonsOnlyWhileTheBoardIsInFront) {
  KeyListener::setKeyStateSourceForTesting(nullptr);
  auto xdotool = [](const std::string& args) { return std::system(("xdotool " + args).c_str()) == 0; };
  auto* listener = KeyListener::sharedInstance();
  ASSERT_TRUE(xdotool("keydown 2"));
  listener->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port2_), 0x0C00u) << "key 2 held on the display: P2.12 low";
  ASSERT_TRUE(xdotool("keyup 2"));
  listener->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "key 2 let go";

  korvelSetBoardForegroundForTesting(0);
  ASSERT_TRUE(xdotool("keydown 2"));
  listener->waitForPasses(2);
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "another window in front: the key is not the board's";
  ASSERT_TRUE(xdotool("keyup 2"));
  listener->waitForPasses(2);
}

TEST_F(BoardInputs, OneResetClickResetsTheChipOnceDespiteContactBounce) {
  auto& settings = SettingsManager::sharedInstance();
  settings.setValueWithKey("BTN_BOUNCE", 1);
  settings.setValueWithKey("BTN_MIN_BOUNCE", 6);  // seven closings and openings per burst
  settings.setValueWithKey("BTN_MAX_BOUNCE", 6);
  settings.setValueWithKey("BTN_BASE_US", 1);
  settings.setValueWithKey("BTN_US_RANGE", 0);
  settings.setValueWithKey("BTN_UP_BOUNCE_RATE", 1);
  clickButton("RESET");
  EXPECT_EQ(host_.resets(), 1) << "one click";
  clickButton("RESET");
  EXPECT_EQ(host_.resets(), 2) << "two clicks";
}

TEST_F(BoardInputs, Int0StaysDisconnectedThroughAPowerCycleWhileJp5IsOff) {
  auto* jp5 = dynamic_cast<KVJumper*>(getBoardChipWithID("JP5"));
  ASSERT_NE(jp5, nullptr);
  jp5->setState(0);
  EXPECT_EQ(getBoardChipWithID("INT0")->isEnabled(), 0) << "JP5 off disconnects INT0";
  KVBase* sw = getBoardChipWithID("SW6");
  clickCentre(sw, kLever);
  ASSERT_EQ(isBoardPowered(), 0);
  clickCentre(sw, kLever);
  ASSERT_EQ(isBoardPowered(), 1);
  EXPECT_EQ(getBoardChipWithID("INT0")->isEnabled(), 0) << "power came back but JP5 is still off";
  EXPECT_EQ(getBoardChipWithID("KEY1")->isEnabled(), 1);
  clickButton("INT0");
  EXPECT_EQ(host_.vtr(port2_), 0x1C00u) << "a disconnected INT0 leaves P2.10 alone";

  jp5->setState(1);
  EXPECT_EQ(getBoardChipWithID("INT0")->isEnabled(), 1) << "the cap back on connects INT0";
  store("SW6", 0.0f);
  reopenBoard();
  EXPECT_EQ(isBoardPowered(), 0);
  EXPECT_EQ(getBoardChipWithID("INT0")->isEnabled(), 0) << "JP5 on, board off: INT0 disabled";
}

TEST_F(BoardInputs, StoredSwitchAndJumperPositionsDecideThePowerAtStart) {
  struct Case { float sw6; float jp3; int powered; };
  for (Case c : {Case{0, 1, 0}, Case{1, 0, 0}, Case{1, 2, 1}, Case{1, 1, 1}}) {
    store("SW6", c.sw6);
    store("JP3", c.jp3);
    reopenBoard();
    EXPECT_EQ(isBoardPowered(), c.powered) << "SW6 " << c.sw6 << ", JP3 " << c.jp3;
    EXPECT_EQ(getBoardChipWithID("KEY1")->isEnabled(), c.powered) << "SW6 " << c.sw6 << ", JP3 " << c.jp3;
    EXPECT_EQ(getBoardChipWithID("SW6")->isEnabled(), 1) << "the switch stays usable";
    EXPECT_EQ(getBoardChipWithID("JP3")->isEnabled(), 1) << "the jumper stays usable";
  }
  // JP3 steps through its three states: 0 (no cap) unpowers, 1 and 2 power.
  auto* jp3 = dynamic_cast<KVJumper*>(getBoardChipWithID("JP3"));
  ASSERT_NE(jp3, nullptr);
  ASSERT_EQ(jp3->getState(), 1);
  jp3->nextState();
  EXPECT_EQ(isBoardPowered(), 1) << "JP3 in state 2";
  jp3->nextState();
  EXPECT_EQ(isBoardPowered(), 0) << "JP3 in state 0";
  jp3->nextState();
  EXPECT_EQ(isBoardPowered(), 1) << "JP3 in state 1";
}

TEST_F(BoardInputs, AStoredJumperValueOutOfRangeKeepsTheJumpersStartPosition) {
  store("JP5", 1e10f);
  store("JP3", -1e10f);
  reopenBoard();
  auto* jp5 = dynamic_cast<KVJumper*>(getBoardChipWithID("JP5"));
  auto* jp3 = dynamic_cast<KVJumper*>(getBoardChipWithID("JP3"));
  ASSERT_NE(jp5, nullptr);
  ASSERT_NE(jp3, nullptr);
  EXPECT_EQ(jp5->getState(), 1) << "JP5 starts with its cap on";
  EXPECT_EQ(jp3->getState(), 1) << "JP3 starts with its cap on";
  EXPECT_EQ(isBoardPowered(), 1);
  EXPECT_EQ(getBoardChipWithID("INT0")->isEnabled(), 1);
}

// The board as the user sees it while holding KEY1, pushing the joystick up-left and switching
// the power off: each part drawn through its own painting, as the board window paints it.
TEST_F(BoardInputs, HeldKey1PushedKnobAndSwitchOffShowOnTheirParts) {
  auto* key1 = dynamic_cast<KVButton*>(getBoardChipWithID("KEY1"));
  KVBase* stick = getBoardChipWithID("Joystick");
  KVBase* sw = getBoardChipWithID("SW6");
  ASSERT_TRUE(key1 && stick && sw);
  const wxRect disc = key1->hitRect();
  const wxPoint discCentre(disc.x + 8, disc.y + 8);
  EXPECT_EQ(korvel::guitest::pixel(korvel::guitest::render(key1), discCentre.x, discCentre.y), *wxBLACK)
      << "a released button's disc is black";
  const wxImage stickBefore = korvel::guitest::render(stick);
  const wxImage switchBefore = korvel::guitest::render(sw);

  mouse(key1, wxEVT_LEFT_DOWN, discCentre.x, discCentre.y, true);
  mouse(stick, wxEVT_LEFT_DOWN, 34, 34, true);
  mouse(stick, wxEVT_MOTION, 10, 10, true);
  clickCentre(sw, kLever);

  EXPECT_EQ(korvel::guitest::pixel(korvel::guitest::render(key1), discCentre.x, discCentre.y),
            wxColour(50, 50, 50))
      << "a held button's disc is dark grey";
  const wxImage stickAfter = korvel::guitest::render(stick);
  EXPECT_NE(korvel::guitest::pixel(stickAfter, 34, 34), korvel::guitest::pixel(stickBefore, 34, 34))
      << "the knob did not leave the centre";
  const wxImage switchAfter = korvel::guitest::render(sw);
  int changed = 0;
  for (int y = kLever.y - 8; y < kLever.GetBottom() + 8; ++y)
    for (int x = kLever.x; x <= kLever.GetRight(); ++x)
      if (korvel::guitest::pixel(switchAfter, x, y) != korvel::guitest::pixel(switchBefore, x, y)) ++changed;
  EXPECT_GT(changed, 20) << "the lever did not tilt the other way";
  EXPECT_EQ(isBoardPowered(), 0);
  mouse(stick, wxEVT_LEFT_UP, 10, 10);
  mouse(key1, wxEVT_LEFT_UP, discCentre.x, discCentre.y);
}

}  // namespace
