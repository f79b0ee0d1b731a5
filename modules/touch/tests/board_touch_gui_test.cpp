// The touch panel on the board window of the real plug-in: the mouse pressed and dragged on the
// LCD (real pointer events through the X server) moves the pen that the firmware reads over
// SSP1 (bytes sent reported on "SSP1_OUT", answers delivered to its read of the data register),
// and P2.13 in "PORT2" is low exactly while the button is held.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include <wx/uiaction.h>

#include "board_on_screen.h"

using korvel_testing::BoardOnScreen;
using korvel_testing::pumpUntil;

namespace {

constexpr uint32_t kSsp1Data = 0x40030008;
constexpr uint32_t kPenDown = 1u << 13;

class BoardTouch : public BoardOnScreen {
 protected:
  // The firmware sends one byte on SSP1 and reads the data register once.
  int exchange(uint8_t byte) {
    EXPECT_TRUE(plugin_.host().writeVtr("SSP1_OUT", byte)) << "no SSP1_OUT virtual register";
    return static_cast<int>(plugin_.host().firmwareRead(kSsp1Data) & 0xFF);
  }
  // A command followed by enough zero bytes to clock the whole answer out.
  std::vector<int> conversion(uint8_t command, int bytes) {
    std::vector<int> got{exchange(command)};
    for (int i = 1; i < bytes; ++i) got.push_back(exchange(0x00));
    return got;
  }
  bool penLineLow() { return (plugin_.host().vtr("PORT2").value_or(kPenDown) & kPenDown) == 0; }
  // The screen point of a panel pixel.
  wxPoint panelPoint(int x, int y) { return chip("TP")->ClientToScreen(wxPoint(x, y)); }

  wxUIActionSimulator mouse_;
};

using Bytes = std::vector<int>;

// What the toolkit does when the window system takes the mouse away from the window holding it
// (another program's grab, a dialog popping up mid-drag): the button-up never reaches it.
void stealMouseCapture() {
#ifdef __WXGTK__
  wxWindow::GTKHandleCaptureLost();  // GTK's grab-broken signal
#else
  struct Thief : wxWindow {
    static void steal() { NotifyCaptureLost(); }
  };
  Thief::steal();
#endif
}

TEST_F(BoardTouch, PressDragAndReleaseOnTheLcdMoveThePenTheFirmwareReads) {
  ASSERT_NE(chip("TP"), nullptr) << "no touch panel on the board";
  ASSERT_TRUE(plugin_.host().writeVtr("PORT2", 0x000020FF));  // P2.13 high, LCD byte set

  EXPECT_EQ(conversion(0x90, 3), (Bytes{0x80, 0xFF, 0xFF})) << "pen up: 12-bit X reads full scale";
  EXPECT_EQ(conversion(0x98, 2), (Bytes{0x80, 0xFF})) << "pen up: 8-bit X reads full scale";

  mouse_.MouseMove(panelPoint(120, 160));
  mouse_.MouseDown();
  ASSERT_TRUE(pumpUntil([&] { return penLineLow(); })) << "pressing on the LCD left P2.13 high";
  EXPECT_EQ(plugin_.host().vtr("PORT2").value_or(0) & ~kPenDown, 0xFFu)
      << "the pen-down line changed other PORT2 bits";
  EXPECT_EQ(conversion(0x90, 3), (Bytes{0x80, 0x7F, 0xF0})) << "12-bit X at column 120: v = 2047";
  EXPECT_EQ(conversion(0xD0, 3), (Bytes{0x80, 0x7F, 0xF0})) << "12-bit Y at row 160: v = 2047";
  EXPECT_EQ(conversion(0x98, 2), (Bytes{0x80, 0x7F})) << "8-bit X at column 120";

  // Dragging to (60, 80): both axes at a quarter, v = 1023.
  mouse_.MouseMove(panelPoint(60, 80));
  EXPECT_TRUE(pumpUntil([&] { return conversion(0x90, 3) == Bytes{0x80, 0x3F, 0xF0}; }))
      << "dragging did not move the pen's X";
  EXPECT_EQ(conversion(0xD0, 3), (Bytes{0x80, 0x3F, 0xF0})) << "dragging did not move the pen's Y";
  EXPECT_TRUE(penLineLow()) << "the pen lifted during the drag";

  mouse_.MouseUp();
  ASSERT_TRUE(pumpUntil([&] { return !penLineLow(); })) << "releasing left P2.13 low";
  EXPECT_EQ(conversion(0x90, 3), (Bytes{0x80, 0xFF, 0xFF})) << "released: full scale again";
}

TEST_F(BoardTouch, ThePointerPassingOverThePanelLeavesPort2Alone) {
  ASSERT_NE(chip("TP"), nullptr) << "no touch panel on the board";
  // P2.13 low as another part of the board left it: a hover must not write the register.
  ASSERT_TRUE(plugin_.host().writeVtr("PORT2", 0x000000FF));
  mouse_.MouseMove(panelPoint(120, 160));
  korvel_testing::pumpFor(std::chrono::milliseconds(100));
  mouse_.MouseMove(panelPoint(120, 160) + wxPoint(0, 400));  // off the LCD, onto the board
  korvel_testing::pumpFor(std::chrono::milliseconds(100));
  mouse_.MouseMove(panelPoint(10, 10));
  korvel_testing::pumpFor(std::chrono::milliseconds(100));
  mouse_.MouseMove(panelPoint(-30, 10));
  korvel_testing::pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(plugin_.host().vtr("PORT2").value_or(0), 0x000000FFu)
      << "moving the pointer over the panel without pressing drove P2.13";
}

TEST_F(BoardTouch, LosingTheMouseMidDragLiftsThePen) {
  ASSERT_NE(chip("TP"), nullptr) << "no touch panel on the board";
  ASSERT_TRUE(plugin_.host().writeVtr("PORT2", 0x000020FF));
  mouse_.MouseMove(panelPoint(120, 160));
  mouse_.MouseDown();
  ASSERT_TRUE(pumpUntil([&] { return penLineLow(); })) << "pressing on the LCD left P2.13 high";

  stealMouseCapture();
  EXPECT_FALSE(penLineLow()) << "the pen stayed down after the panel lost the mouse";
  EXPECT_EQ(conversion(0x90, 3), (Bytes{0x80, 0xFF, 0xFF})) << "lost mouse: X must read full scale";
  mouse_.MouseUp();
  korvel_testing::pumpFor(std::chrono::milliseconds(100));  // let the button-up settle
}

TEST_F(BoardTouch, DraggingOffThePanelKeepsThePenDownAtAnUnknownPosition) {
  ASSERT_NE(chip("TP"), nullptr) << "no touch panel on the board";
  ASSERT_TRUE(plugin_.host().writeVtr("PORT2", 0x000020FF));
  mouse_.MouseMove(panelPoint(120, 160));
  mouse_.MouseDown();
  ASSERT_TRUE(pumpUntil([&] { return penLineLow(); })) << "pressing on the LCD left P2.13 high";

  // Onto the LCD's frame above the screen: the position is unknown (-1), which the conversion
  // turns into v = -1 * 4095 / 240 = -17, i.e. the bytes FEh, F0h.
  mouse_.MouseMove(panelPoint(120, -8));
  EXPECT_TRUE(pumpUntil([&] { return conversion(0x90, 3) == Bytes{0x80, 0xFE, 0xF0}; }))
      << "off the panel X did not become unknown: " << ::testing::PrintToString(conversion(0x90, 3));
  EXPECT_TRUE(penLineLow()) << "leaving the panel with the button held lifted the pen";

  mouse_.MouseMove(panelPoint(60, 80));
  EXPECT_TRUE(pumpUntil([&] { return conversion(0x90, 3) == Bytes{0x80, 0x3F, 0xF0}; }))
      << "back on the panel the pen did not follow";
  mouse_.MouseUp();
  ASSERT_TRUE(pumpUntil([&] { return !penLineLow(); })) << "releasing left P2.13 low";
}

}  // namespace
