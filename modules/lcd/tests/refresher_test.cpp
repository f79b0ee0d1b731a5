// The refresh thread: copies only a dirty frame, only while the picture shows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "frame_refresher.h"
#include "lcd_controller.h"

using namespace std::chrono_literals;
using pictor::FrameBuffer;
using pictor::FrameRefresher;

namespace {

// Waits until pred holds or a generous limit passes (the limit only guards against hangs).
template <class Pred>
bool eventually(Pred pred) {
  for (int i = 0; i < 2000 && !pred(); ++i) std::this_thread::sleep_for(1ms);
  return pred();
}

TEST(FrameRefresher, CopiesADirtyFrameOnlyWhileThePictureShows) {
  auto frame = std::make_unique<FrameBuffer>();
  std::atomic<bool> showing{false};
  std::atomic<int> deliveries{0};
  std::atomic<uint32_t> firstPixel{0};
  FrameRefresher refresher(
      *frame, [&] { return showing.load(); },
      [&](const FrameBuffer& delivered) {
        firstPixel = delivered.load(0);
        ++deliveries;
      },
      1ms);
  frame->store(0, 0x123456);
  frame->markDirty();
  const uint64_t start = refresher.polls();
  ASSERT_TRUE(eventually([&] { return refresher.polls() > start + 3; }));
  EXPECT_EQ(deliveries.load(), 0) << "copied while hidden";
  EXPECT_TRUE(frame->isDirty()) << "a hidden change must wait for the picture to show";

  showing = true;
  ASSERT_TRUE(eventually([&] { return deliveries.load() == 1; }));
  EXPECT_EQ(firstPixel.load(), 0x123456u);
  EXPECT_FALSE(frame->isDirty());
  const uint64_t after = refresher.polls();
  ASSERT_TRUE(eventually([&] { return refresher.polls() > after + 3; }));
  EXPECT_EQ(deliveries.load(), 1) << "an unchanged frame was copied again";
}

TEST(FrameRefresher, StopsWithinAPollPeriodEvenWithALongPeriod) {
  auto frame = std::make_unique<FrameBuffer>();
  auto refresher = std::make_unique<FrameRefresher>(
      *frame, [] { return true; }, [](const FrameBuffer&) {}, std::chrono::milliseconds(3600 * 1000));
  ASSERT_TRUE(eventually([&] { return refresher->polls() == 1; }));
  refresher.reset();  // would hang for an hour if the sleep ignored the stop request
  SUCCEED();
}

TEST(LcdController, PictureShowsOnlyWithStepUpOnAndDisplayFullyOn) {
  auto frame = std::make_unique<FrameBuffer>();
  pictor::LcdController lcd(*frame);
  auto write = [&](uint16_t index, uint16_t value) {
    lcd.setCs(false);
    lcd.setRs(false);
    lcd.driveBus(index);
    lcd.setWr(false);
    lcd.evaluate();
    lcd.setWr(true);
    lcd.setRs(true);
    lcd.driveBus(value);
    lcd.setWr(false);
    lcd.evaluate();
    lcd.setWr(true);
    lcd.setCs(true);
  };
  write(0x07, 0x0133);
  EXPECT_FALSE(lcd.displayShowing()) << "power control bit 12 is still clear";
  write(0x10, 0x1000);
  EXPECT_TRUE(lcd.displayShowing());
  write(0x07, 0x0001);
  EXPECT_FALSE(lcd.displayShowing()) << "D1..0 must both be set";
  write(0x07, 0x0003);
  EXPECT_FALSE(lcd.displayShowing()) << "GON or DTE must be set";
  write(0x07, 0x0013);
  EXPECT_TRUE(lcd.displayShowing());
}

}  // namespace
