// The Reset stage's settle time: the board's windows and parts get half a second to catch up
// with a reset, and a reset with no board open (a simulator's start-up, a headless run without
// pictures) holds nothing back.
#include <chrono>

#include <gtest/gtest.h>

#include "board/board_registry.h"
#include "host/stages.h"

namespace {

std::chrono::steady_clock::duration timedReset() {
  const auto start = std::chrono::steady_clock::now();
  korvel::runStage(korvel::Stage::Reset);
  return std::chrono::steady_clock::now() - start;
}

TEST(ResetStage, WaitsHalfASecondOnlyWhileABoardIsOpen) {
  korvel::setResetSettleMillis(500);
  EXPECT_LT(timedReset(), std::chrono::milliseconds(500)) << "no board: nothing to settle";

  // The stage only asks whether a board window exists; it never touches it.
  alignas(8) static unsigned char stand_in[64];
  korvel::boardState().window.store(reinterpret_cast<wxWindow*>(stand_in));
  const auto waited = timedReset();
  korvel::boardState().window.store(nullptr);
  EXPECT_GE(waited, std::chrono::milliseconds(500)) << "the reset returned before the settle time";
}

}  // namespace
