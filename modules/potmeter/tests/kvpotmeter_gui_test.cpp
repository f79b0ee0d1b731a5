// KVPotmeter on screen: dragging the knob turns it to the mouse, the wheel and keys step it, and
// keys from another thread repaint on the UI thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "gui_test_main.h"
#include "kvpotmeter.h"

using korvel::guitest::mouse;

namespace {

class KVPotmeterGui : public ::testing::Test {
 protected:
  void SetUp() override {
    knob = frame.place(new KVPotmeter([this](float v) { writes.push_back(v); }, [] { return korvel::potmeter::NoiseSettings{}; }),
                       10, 10, wxSize(56, 56));
  }

  korvel::guitest::ComponentFrame frame;
  KVPotmeter* knob = nullptr;
  std::vector<float> writes;
};

TEST_F(KVPotmeterGui, DraggingTurnsTheKnobToTheMouseAndOnlyFromTheKnob) {
  mouse(knob, wxEVT_LEFT_DOWN, 1, 1, true);
  EXPECT_TRUE(writes.empty()) << "a press beside the knob turns nothing";
  mouse(knob, wxEVT_LEFT_DOWN, 28, 14, true);  // straight up from the centre: mid-scale
  EXPECT_TRUE(writes.empty()) << "the knob already stood in the middle";
  mouse(knob, wxEVT_MOTION, 10, 28, true);  // left of the centre
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_NEAR(writes[0], 3.3 * 45 / 270, 1e-4);
  mouse(knob, wxEVT_MOTION, 300, 28, true);  // far right, outside the window: the mouse is captured
  EXPECT_NEAR(knob->model().position(), 225.0 / 270, 1e-6);
  mouse(knob, wxEVT_LEFT_UP, 300, 28);
  mouse(knob, wxEVT_MOTION, 10, 28, false);
  EXPECT_NEAR(knob->model().position(), 225.0 / 270, 1e-6) << "without the button the knob stays";
}

TEST_F(KVPotmeterGui, TheWheelAndKeysStepTheKnob) {
  wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
  wheel.m_wheelRotation = 240;
  wheel.m_wheelDelta = 120;
  knob->GetEventHandler()->ProcessEvent(wheel);
  EXPECT_DOUBLE_EQ(knob->model().position(), 0.5 + 2 * korvel::potmeter::kKeyStep);
  knob->key(korvel::potmeter::kVkPageDown);
  knob->key(0x41);  // 'A' does nothing
  EXPECT_DOUBLE_EQ(knob->model().position(), 0.5 + korvel::potmeter::kKeyStep);
}

TEST_F(KVPotmeterGui, ThePointerShowsThePositionAndKeysFromAnotherThreadRepaint) {
  const wxImage before = korvel::guitest::render(knob);
  // Mid-scale: the pointer line runs straight up from the centre.
  wxColour up = korvel::guitest::pixel(before, 28, 14);
  EXPECT_GT(up.Red(), 200) << "the pointer mark is light";
  std::thread keys([this] { knob->key(korvel::potmeter::kVkPlus); });
  keys.join();
  korvel::guitest::drainEvents();
  knob->model().setPosition(0.0);
  const wxImage after = korvel::guitest::render(knob);
  EXPECT_LT(korvel::guitest::pixel(after, 28, 14).Red(), 120) << "the mark left the top";
  EXPECT_GT(korvel::guitest::pixel(after, 20, 36).Red(), 200) << "and points down-left at 0 V";
}

}  // namespace
