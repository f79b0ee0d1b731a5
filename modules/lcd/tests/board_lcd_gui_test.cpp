// The LCD on the board window of the real plug-in: firmware bus cycles played through the test
// host show on the screen in the board's LCD, pixel for pixel, and a screenshot of the board
// with the drawn frame is written for people to look at.
#include <gtest/gtest.h>

#include <cstdio>

#include "board_on_screen.h"
#include "korvel/exports.h"

using korvel_testing::BoardOnScreen;
using korvel_testing::pumpUntil;
using korvel_testing::rgbAt;

namespace {

// Where the 240 x 320 picture sits in the LCD component's client area.
const wxPoint kScreenOrigin(16, 16);

class BoardLcd : public BoardOnScreen {
 protected:
  wxWindow* lcd() { return chip("Pictor"); }

  // Power-up as a driver does it: step-up circuit on, display on (the glass turns white),
  // both address increments, horizontal first.
  void displayOn() {
    bus_.idle();
    bus_.writeRegister(0x10, 0x1000);
    bus_.writeRegister(0x07, 0x0133);
    bus_.writeRegister(0x03, 0x1030);
  }
  // Fills columns x0..x1 of address rows y0..y1 through the window, one chip-select period.
  void fill(int x0, int x1, int y0, int y1, uint16_t colour) {
    bus_.writeRegister(0x50, x0);
    bus_.writeRegister(0x51, x1);
    bus_.writeRegister(0x52, y0);
    bus_.writeRegister(0x53, y1);
    bus_.writeRegister(0x20, x0);
    bus_.writeRegister(0x21, y0);
    bus_.beginGram();
    for (int i = 0; i < (x1 - x0 + 1) * (y1 - y0 + 1); ++i) bus_.pixel(colour);
    bus_.endGram();
  }
  // Screen point of graphics-RAM address (x, y) in the LCD's client area: with 60h = 0 the
  // controller scans the glass bottom-up, so address row 0 is the bottom row.
  static wxPoint onScreen(int x, int y) { return kScreenOrigin + wxPoint(x, 319 - y); }
};

TEST_F(BoardLcd, FirmwareDrawingShowsInTheBoardsLcd) {
  ASSERT_NE(lcd(), nullptr) << "no LCD on the board";
  displayOn();
  ASSERT_TRUE(pumpUntil([&] { return rgbAt(grabClient(lcd()), onScreen(120, 160)) == "255,255,255"; }))
      << "turning the display on did not paint the screen white; it shows "
      << rgbAt(grabClient(lcd()), onScreen(120, 160));

  bus_.writeRegister(0x20, 0);
  bus_.writeRegister(0x21, 0);
  bus_.writeRegister(0x22, 0x07E0);  // pure green in the reset format
  bus_.writeRegister(0x20, 239);
  bus_.writeRegister(0x21, 319);
  bus_.writeRegister(0x22, 0xF800);  // pure red
  const bool shown = pumpUntil([&] {
    const wxImage screen = grabClient(lcd());
    return rgbAt(screen, onScreen(0, 0)) == "0,252,0" && rgbAt(screen, onScreen(239, 319)) == "252,0,0";
  });
  const wxImage screen = grabClient(lcd());
  ASSERT_TRUE(shown) << "the drawn pixels never reached the screen: bottom-left shows "
                     << rgbAt(screen, onScreen(0, 0)) << ", top-right " << rgbAt(screen, onScreen(239, 319));
  EXPECT_EQ(rgbAt(screen, onScreen(1, 0)), "255,255,255") << "a pixel beside the green one changed";
  EXPECT_EQ(rgbAt(screen, wxPoint(12, 100)), "50,50,50") << "the dark frame around the screen";
}

TEST_F(BoardLcd, PoweringTheBoardOffBlanksTheScreenAndOnShowsThePictureAgain) {
  ASSERT_NE(lcd(), nullptr) << "no LCD on the board";
  displayOn();
  bus_.writeRegister(0x20, 0);
  bus_.writeRegister(0x21, 0);
  bus_.writeRegister(0x22, 0x07E0);
  ASSERT_TRUE(pumpUntil([&] { return rgbAt(grabClient(lcd()), onScreen(0, 0)) == "0,252,0"; }))
      << "the drawn pixel never reached the screen";

  setPowered(false);
  const bool black = pumpUntil([&] {
    const wxImage screen = grabClient(lcd());
    return rgbAt(screen, onScreen(0, 0)) == "0,0,0" && rgbAt(screen, onScreen(120, 160)) == "0,0,0";
  });
  const wxImage off = grabClient(lcd());
  EXPECT_TRUE(black) << "with the board off the screen still shows " << rgbAt(off, onScreen(0, 0))
                     << " at the drawn pixel and " << rgbAt(off, onScreen(120, 160)) << " beside it";
  EXPECT_EQ(rgbAt(off, wxPoint(12, 100)), "50,50,50") << "the dark frame around the screen";

  setPowered(true);
  EXPECT_TRUE(pumpUntil([&] {
    const wxImage screen = grabClient(lcd());
    return rgbAt(screen, onScreen(0, 0)) == "0,252,0" && rgbAt(screen, onScreen(120, 160)) == "255,255,255";
  })) << "powering on again did not bring the last picture back";
}

TEST_F(BoardLcd, ScreenshotShowsTheFrameTheFirmwareDrew) {
  ASSERT_NE(lcd(), nullptr) << "no LCD on the board";
  displayOn();
  // A full-screen fill of blue from the origin, then two rectangles through the window.
  bus_.writeRegister(0x20, 0);
  bus_.writeRegister(0x21, 0);
  bus_.beginGram();
  for (int i = 0; i < 240 * 320; ++i) bus_.pixel(0x001F);
  bus_.endGram();
  fill(20, 219, 20, 99, 0xF800);    // red band near the bottom of the glass
  fill(60, 179, 140, 259, 0x07E0);  // green square above it
  auto expected = [](int x, int y) {
    if (x >= 60 && x <= 179 && y >= 140 && y <= 259) return std::string("0,252,0");
    if (x >= 20 && x <= 219 && y >= 20 && y <= 99) return std::string("252,0,0");
    return std::string("0,0,248");
  };
  ASSERT_TRUE(pumpUntil([&] {
    const wxImage screen = grabClient(lcd());
    return rgbAt(screen, onScreen(100, 200)) == "0,252,0" && rgbAt(screen, onScreen(5, 5)) == "0,0,248";
  })) << "the frame never reached the screen";

  const wxImage screen = grabClient(lcd());
  int wrong = 0;
  std::string first;
  for (int y = 0; y < 320; ++y)
    for (int x = 0; x < 240; ++x)
      if (rgbAt(screen, onScreen(x, y)) != expected(x, y)) {
        if (wrong++ == 0)
          first = "address (" + std::to_string(x) + ", " + std::to_string(y) + ") shows " +
                  rgbAt(screen, onScreen(x, y)) + " instead of " + expected(x, y);
      }
  EXPECT_EQ(wrong, 0) << "pixels of the LCD differ from what the firmware drew; first: " << first;

  const wxImage whole = grabClient(board());
  ASSERT_TRUE(whole.SaveFile(BOARD_LCD_SCREENSHOT, wxBITMAP_TYPE_PNG));
  std::fprintf(stderr, "screenshot: %s\n", BOARD_LCD_SCREENSHOT);
}

// The LCD on the board picture and the touch panel exactly over its 240 x 320 screen.
TEST_F(BoardLcd, TheLcdAndItsTouchPanelLieAtTheirPlaces) {
  ASSERT_NE(lcd(), nullptr) << "no LCD on the board";
  ASSERT_NE(chip("TP"), nullptr) << "no touch panel on the board";
  EXPECT_EQ(lcd()->GetParent(), chip("Korvel"));
  EXPECT_EQ(wxRect(lcd()->GetPosition(), lcd()->GetSize()), wxRect(wxPoint(236, 90), wxSize(272, 379)));
  EXPECT_EQ(chip("TP")->GetParent(), lcd());
  EXPECT_EQ(wxRect(chip("TP")->GetPosition(), chip("TP")->GetSize()), wxRect(wxPoint(16, 16), wxSize(240, 320)));
}

TEST_F(BoardLcd, AnLcdThatCannotStartItsRefreshThreadLeavesTheBoardUpAndSaysWhy) {
  const auto library = plugin_.tree().docs() / "Pictor" / "libPictor.so";
  void* pictor = korvel::platform::loadLibrary(library);
  ASSERT_NE(pictor, nullptr) << library;
  using Hook = void (*)();
  using DefineAll = int (*)(wxWindow*, KVRect, ComponentModule*);
  auto failNext = reinterpret_cast<Hook>(korvel::platform::findSymbol(pictor, "pictorFailNextRefreshThreadForTesting"));
  auto defineAll = reinterpret_cast<DefineAll>(korvel::platform::findSymbol(pictor, "DefineAllComponents"));
  ASSERT_NE(failNext, nullptr);
  ASSERT_NE(defineAll, nullptr);

  // Called directly, the failure must come back as a result, not as an exception.
  plugin_.host().clearMessages();
  failNext();
  int result = -1;
  EXPECT_NO_THROW(result = defineAll(board(), KVRect{10, 10, 778, 562}, nullptr));
  EXPECT_EQ(result, 0);
  EXPECT_NE(plugin_.host().output().find("[Pictor]: the LCD cannot be shown"), std::string::npos)
      << plugin_.host().output();

  // Opened again while the system refuses the thread: the board comes up without its LCD.
  menu_->fp(menu_);
  for (int i = 0; i < 3; ++i) wxTheApp->ProcessIdle();
  failNext();
  menu_->fp(menu_);
  ASSERT_NE(board(), nullptr) << "the board did not open";
  EXPECT_EQ(lcd(), nullptr) << "no LCD should have been placed";
  EXPECT_NE(chip("Korvel"), nullptr) << "the rest of the board is there";
  korvel::platform::freeLibrary(pictor);
}

}  // namespace
