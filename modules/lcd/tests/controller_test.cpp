// The controller's finer rules, each played pin by pin through the watch on the array host
// (the plug-in tests play the main cases through the real plug-in).
#include <cstdint>
#include <vector>

#include "lcd_fixture.h"

using korvel_testing::ArrayHost;
using korvel_testing::LcdBusDriver;

namespace {

TEST_F(LcdFixture, AddressOriginIsBottomLeftUnlessGateScanIsReversed) {
  origin(0, 0);
  bus_.writeRegister(0x22, 0xFFFF);
  EXPECT_EQ(frameAt(0, 319), 0x00FCFCF8u) << "60h = 0 puts row 0 of the RAM at the bottom";
  EXPECT_EQ(frameAt(0, 0), 0u);

  bus_.writeRegister(0x60, 0x8000);
  origin(0, 0);
  bus_.writeRegister(0x22, 0xF800);
  EXPECT_EQ(frameAt(0, 0), 0x00FC0000u) << "60h bit 15 puts row 0 at the top";

  bus_.writeRegister(0x01, 0x0100);  // source outputs mirrored
  origin(0, 0);
  bus_.writeRegister(0x22, 0x001F);
  EXPECT_EQ(frameAt(239, 0), 0x000000F8u) << "01h bit 8 mirrors the column";
}

TEST_F(LcdFixture, WindowConfinesOneChipSelectPeriodOfPixels) {
  bus_.writeRegister(0x50, 10);
  bus_.writeRegister(0x51, 19);
  bus_.writeRegister(0x52, 20);
  bus_.writeRegister(0x53, 29);
  origin(10, 20);
  bus_.beginGram();
  for (int i = 0; i < 100; ++i) bus_.pixel(0xFFFF);
  EXPECT_EQ(lcd_->controller().x(), 10);
  EXPECT_EQ(lcd_->controller().y(), 20) << "the counter wraps back to the window's start";
  bus_.endGram();
  EXPECT_FALSE(lcd_->controller().windowActive()) << "raising CS after index 22h ends the window";

  int inside = 0, outside = 0;
  for (int row = 0; row < pictor::kLcdHeight; ++row)
    for (int col = 0; col < pictor::kLcdWidth; ++col) {
      const int y = 319 - row;
      const bool inWindow = col >= 10 && col <= 19 && y >= 20 && y <= 29;
      const bool lit = frameAt(col, row) != 0;
      inside += inWindow && lit;
      outside += !inWindow && lit;
    }
  EXPECT_EQ(inside, 100);
  EXPECT_EQ(outside, 0);

  bus_.beginGram();
  for (int i = 0; i < 12; ++i) bus_.pixel(0x001F);
  bus_.endGram();
  EXPECT_EQ(lcd_->controller().x(), 22) << "the next period runs on the whole glass";
  EXPECT_EQ(frameAt(21, 319 - 20), 0x000000F8u);
}

TEST_F(LcdFixture, WindowAddressesAreReducedToTheGlass) {
  bus_.writeRegister(0x50, 0x00F5);
  EXPECT_EQ(bus_.readRegister(0x50), 5) << "245 modulo 240";
  bus_.writeRegister(0x53, 0x0145);
  EXPECT_EQ(bus_.readRegister(0x53), 5) << "325 modulo 320";
  bus_.writeRegister(0x20, 250);
  EXPECT_EQ(lcd_->controller().x(), 10);
  EXPECT_EQ(bus_.readRegister(0x20), 250) << "address registers read back as written";
}

TEST_F(LcdFixture, StandbyIgnoresEveryCycleExceptTheWakeValue) {
  bus_.writeRegister(0x10, 0x0002);
  bus_.writeIndex(0x0007);
  EXPECT_EQ(lcd_->controller().index(), 0x10) << "an index write in standby was taken";
  bus_.writeData(0x0010);
  EXPECT_EQ(lcd_->controller().reg(0x10), 0x10u) << "the 0x0010 cycle must still be processed";
  bus_.writeRegister(0x07, 0x0133);
  EXPECT_EQ(lcd_->controller().reg(0x07), 0x133u) << "after waking, writes work again";
}

TEST_F(LcdFixture, ChangingTheBusDuringTheStrobeWritesAgain) {
  origin(0, 0);
  bus_.beginGram();
  bus_.putWord(0x001F);
  bus_.clr(LcdBusDriver::WR);
  bus_.data(0xF8);  // high byte changes while WR is still low
  bus_.set(LcdBusDriver::WR);
  bus_.endGram();
  EXPECT_EQ(frameAt(0, 319), 0x000000F8u);
  EXPECT_EQ(frameAt(1, 319), 0x00FC00F8u) << "the second level of the strobe wrote a pixel too";
  EXPECT_EQ(lcd_->controller().x(), 2);
}

TEST_F(LcdFixture, DebuggerAccessToThePinsChangesNothing) {
  ArrayHost::sfr(LcdBusDriver::kFio0Pin).value = 0;
  ArrayHost::debuggerWrite(LcdBusDriver::kFio0Pin, 0);
  EXPECT_TRUE(lcd_->controller().cs());
  EXPECT_TRUE(lcd_->controller().wr());
  EXPECT_EQ(lcd_->controller().index(), 0);
}

TEST_F(LcdFixture, DisplayOnPaintsWhiteAndResetClearsControllerButNotLines) {
  bus_.writeRegister(0x07, 0x0133);
  EXPECT_EQ(frameAt(120, 160), 0xFFFFFFFFu);
  EXPECT_TRUE(lcd_->frame().takeDirty());
  bus_.clr(LcdBusDriver::CS);
  lcd_->reset();
  EXPECT_EQ(frameAt(120, 160), 0u);
  EXPECT_EQ(lcd_->controller().reg(0x07), 0u);
  EXPECT_FALSE(lcd_->controller().cs()) << "reset must keep the line levels";
  EXPECT_FALSE(lcd_->frame().isDirty()) << "reset leaves the dirty flag alone";
}

// The interface formats, one pixel each, all meant to give R = 0x2A, G = 0x15, B = 0x33.
TEST_F(LcdFixture, EveryTransferFormatAssemblesTheSamePixel) {
  constexpr uint32_t p = (0x2Au << 12) | (0x15u << 6) | 0x33u;
  constexpr uint32_t expected = pictor::frameWordFromPixel(p);
  struct Case {
    const char* name;
    uint16_t entry, format;
    std::vector<uint16_t> transfers;
  };
  const Case cases[] = {
      {"three 6-bit transfers", 0x1030, 0x0002, {0x2A, 0x15, 0x33}},
      {"TRI with the two odd bits first", 0xD030, 0x0000,
       {static_cast<uint16_t>(p >> 16), static_cast<uint16_t>(p)}},
      {"TRI with the two odd bits last", 0x9030, 0x0000,
       {static_cast<uint16_t>(0xFFFF & (p >> 2)), static_cast<uint16_t>(p & 3)}},
  };
  for (const Case& c : cases) {
    lcd_->reset();
    bus_.writeRegister(0x03, c.entry);
    bus_.writeRegister(0x0C, c.format);
    if (c.entry & 0x8000) bus_.writeRegister(0x03, c.entry | 0x4000), bus_.writeRegister(0x03, c.entry);
    bus_.writeRegister(0x20, 0);
    bus_.writeRegister(0x21, 0);
    bus_.beginGram();
    for (uint16_t t : c.transfers) bus_.pixel(t);
    bus_.endGram();
    EXPECT_EQ(frameAt(0, 319), expected) << c.name;
    EXPECT_EQ(lcd_->controller().x(), 1) << c.name << ": one pixel, one step";
  }
  // 5-6-5 with blue's top bit repeated into its lowest bit.
  lcd_->reset();
  bus_.writeRegister(0x0C, 0x0001);
  origin(0, 0);
  bus_.writeRegister(0x22, 0x0010);
  EXPECT_EQ(frameAt(0, 319), pictor::frameWordFromPixel(0x21)) << "blue 10000b becomes 100001b";
}

TEST_F(LcdFixture, MultiTransferModeWithoutItsLoadingWriteWaitsForTheCounterToWrap) {
  // Three-transfer format chosen while TRI was on (no load), then TRI off: the byte-wide
  // counter starts at 0, so 256 transfers make the first pixel, the early ones shifted out.
  bus_.writeRegister(0x03, 0x9030);
  bus_.writeRegister(0x0C, 0x0002);
  bus_.writeRegister(0x03, 0x1030);
  bus_.writeRegister(0x20, 0);
  bus_.writeRegister(0x21, 0);
  bus_.beginGram();
  for (int i = 0; i < 255; ++i) bus_.pixel(0x3F);
  EXPECT_EQ(lcd_->controller().x(), 0) << "a pixel came before the counter wrapped";
  bus_.pixel(0x3F);
  bus_.endGram();
  EXPECT_EQ(frameAt(0, 319), 0x00FCFCFCu);
}

TEST_F(LcdFixture, WindowStoredThroughAnAliasedNumberNeverWritesOutsideTheGlass) {
  bus_.writeRegister(0x50, 0);
  bus_.writeRegister(0x51, 239);
  bus_.writeRegister(0x151, 0x00FF);  // stored into 51h without the reduction
  origin(238, 319);
  bus_.beginGram();
  for (int i = 0; i < 20; ++i) bus_.pixel(0xFFFF);
  bus_.endGram();
  EXPECT_EQ(frameAt(238, 0), 0x00FCFCF8u);
  EXPECT_EQ(frameAt(239, 0), 0x00FCFCF8u);
  EXPECT_EQ(frameAt(1, 319), 0x00FCFCF8u) << "x wraps to the window start on row 0";
  EXPECT_EQ(frameAt(0, 1), 0u) << "a pixel beyond column 239 wrapped into the next row";
}

// Where the pixels of one chip-select period land in the 3 x 2 window (10..12, 20..21) for an
// entry mode and a start address: pixel k (1..6) is written as blue level k, and the result lists
// the RAM addresses (x, y) in the order the pixels were written.
class EntryModes : public LcdFixture {
 protected:
  std::vector<std::pair<int, int>> landing(uint16_t entryMode, uint16_t x, uint16_t y) {
    bus_.writeRegister(0x50, 10);
    bus_.writeRegister(0x51, 12);
    bus_.writeRegister(0x52, 20);
    bus_.writeRegister(0x53, 21);
    origin(x, y, entryMode);
    bus_.beginGram();
    for (uint16_t k = 1; k <= 6; ++k) bus_.pixel(k);
    bus_.endGram();
    std::vector<std::pair<int, int>> order(6, {-1, -1});
    for (int ay = 20; ay <= 21; ++ay)
      for (int ax = 10; ax <= 12; ++ax) {
        const uint32_t level = frameAt(ax, 319 - ay) >> 3;
        if (level >= 1 && level <= 6) order[level - 1] = {ax, ay};
      }
    return order;
  }
  using Order = std::vector<std::pair<int, int>>;
};

TEST_F(EntryModes, EachAddressDirectionAndOrderFillsTheWindowItsOwnWay) {
  EXPECT_EQ(landing(0x1030, 10, 20), (Order{{10, 20}, {11, 20}, {12, 20}, {10, 21}, {11, 21}, {12, 21}}))
      << "both increments, horizontal first";
  EXPECT_EQ(landing(0x1038, 10, 20), (Order{{10, 20}, {10, 21}, {11, 20}, {11, 21}, {12, 20}, {12, 21}}))
      << "both increments, vertical first (AM)";
  EXPECT_EQ(landing(0x1000, 12, 21), (Order{{12, 21}, {11, 21}, {10, 21}, {12, 20}, {11, 20}, {10, 20}}))
      << "both decrements, horizontal first";
  EXPECT_EQ(landing(0x1010, 10, 21), (Order{{10, 21}, {11, 21}, {12, 21}, {10, 20}, {11, 20}, {12, 20}}))
      << "x increments, y decrements";
  EXPECT_EQ(landing(0x1028, 12, 20), (Order{{12, 20}, {12, 21}, {11, 20}, {11, 21}, {10, 20}, {10, 21}}))
      << "x decrements, y increments, vertical first";
}

TEST_F(EntryModes, DecrementingOnTheWholeGlassWrapsToTheFarEdge) {
  origin(0, 5, 0x1000);
  bus_.writeRegister(0x22, 0x001F);
  EXPECT_EQ(lcd_->controller().x(), 239) << "x wraps from 0 to the last column";
  EXPECT_EQ(lcd_->controller().y(), 4) << "and y steps down";
  origin(0, 0, 0x1008);
  bus_.writeRegister(0x22, 0x001F);
  EXPECT_EQ(lcd_->controller().y(), 319) << "vertical first: y wraps from 0 to the last row";
  EXPECT_EQ(lcd_->controller().x(), 239) << "and x steps down, wrapping too";
}

TEST_F(LcdFixture, SourceMirrorIsUndoneByInvertedDriveWithEor) {
  bus_.writeRegister(0x01, 0x0100);  // source outputs mirrored
  bus_.writeRegister(0x02, 0x0300);  // B/C with EOR: the mirror is inverted again
  origin(3, 0);
  bus_.writeRegister(0x22, 0x001F);
  EXPECT_EQ(frameAt(3, 319), 0x000000F8u) << "mirror and its inversion cancel";
  EXPECT_EQ(frameAt(236, 319), 0u);
  bus_.writeRegister(0x02, 0x0200);  // B/C without EOR: the mirror holds
  origin(4, 0);
  bus_.writeRegister(0x22, 0x001F);
  EXPECT_EQ(frameAt(235, 319), 0x000000F8u) << "SS alone mirrors column 4 to 235";
}

TEST_F(LcdFixture, ReadingGraphicsRamEndsTheWindow) {
  bus_.writeRegister(0x50, 10);
  bus_.writeRegister(0x51, 11);
  bus_.writeRegister(0x52, 20);
  bus_.writeRegister(0x53, 21);
  origin(11, 20);
  ASSERT_TRUE(lcd_->controller().windowActive());
  bus_.beginGram();  // index 22h, the chip stays selected
  bus_.readData();
  EXPECT_FALSE(lcd_->controller().windowActive());
  EXPECT_EQ(lcd_->controller().x(), 12)
      << "the read moved the counter on the whole glass, past the window's last column";
  EXPECT_EQ(lcd_->controller().y(), 20);
  bus_.writeRegister(0x22, 0x001F);
  EXPECT_EQ(frameAt(12, 319 - 20), 0x000000F8u) << "the next write lands outside the old window";
}

}  // namespace
