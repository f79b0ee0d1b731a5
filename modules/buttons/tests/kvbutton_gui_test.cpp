// KVButton on screen: clicks, leaving the window, keys from another thread, a disabled button.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "gui_test_main.h"
#include "korvel/settings.h"
#include "kvbutton.h"

using korvel::guitest::ComponentFrame;
using korvel::guitest::click;
using korvel::guitest::mouse;

namespace {

struct Calls {
  std::mutex lock;
  std::vector<ButtonState> states;
  void add(ButtonState s) {
    std::lock_guard<std::mutex> guard(lock);
    states.push_back(s);
  }
  std::vector<ButtonState> take() {
    std::lock_guard<std::mutex> guard(lock);
    return std::exchange(states, {});
  }
};

class KVButtonGui : public ::testing::Test {
 protected:
  void SetUp() override {
    SettingsManager::resetForTesting((std::filesystem::temp_directory_path() /
                                      ("korvel-buttons-" + std::to_string(::getpid()) + ".ini")).string());
    SettingsManager::sharedInstance().setValueWithKey("BTN_BOUNCE", 0);
    button = frame.place(new KVButton("KEY1", Orientation0), 10, 10, KVButton::Size(Orientation0));
    button->setCallback([this](KVButton*, ButtonState s) { calls.add(s); });
    image = korvel::guitest::render(button);  // the first paint places the disc
  }
  void TearDown() override { std::filesystem::remove(SettingsManager::sharedInstance().filePath()); }

  ComponentFrame frame;
  KVButton* button = nullptr;
  Calls calls;
  wxImage image;
};

constexpr ButtonState P = ButtonState::Pressed;
constexpr ButtonState R = ButtonState::Released;

TEST_F(KVButtonGui, DiscIsSeventeenPixelsAcrossInTheMiddleWithCornerDots) {
  EXPECT_EQ(button->hitRect(), wxRect(8, 8, 17, 17));
  EXPECT_EQ(korvel::guitest::pixel(image, 16, 16), *wxBLACK) << "released disc is black";
  EXPECT_EQ(korvel::guitest::pixel(image, 6, 6), *wxBLACK) << "top-left leg dot";
  EXPECT_EQ(korvel::guitest::pixel(image, 0, 0), *wxWHITE) << "plate outline";
  EXPECT_EQ(korvel::guitest::pixel(image, 16, 3), wxColour(155, 155, 155)) << "plate fill";
}

TEST_F(KVButtonGui, ClickOnTheDiscPressesThenReleases) {
  mouse(button, wxEVT_LEFT_DOWN, 16, 16, true);
  EXPECT_EQ(button->state(), P);
  EXPECT_EQ(korvel::guitest::pixel(korvel::guitest::render(button), 16, 16), wxColour(50, 50, 50))
      << "pressed disc is dark grey";
  mouse(button, wxEVT_LEFT_UP, 16, 16);
  EXPECT_EQ(button->state(), R);
  EXPECT_EQ(calls.take(), (std::vector<ButtonState>{P, R}));
}

TEST_F(KVButtonGui, APressBeforeTheFirstPaintIsTaken) {
  // A scripted click can reach a button the busy UI thread has not painted yet.
  KVButton* fresh = frame.place(new KVButton("KEY2", Orientation0), 60, 10, KVButton::Size(Orientation0));
  mouse(fresh, wxEVT_LEFT_DOWN, 16, 16, true);
  EXPECT_EQ(fresh->state(), P);
  mouse(fresh, wxEVT_LEFT_UP, 16, 16);
  EXPECT_EQ(fresh->state(), R);
}

TEST_F(KVButtonGui, ClickBesideTheDiscDoesNothing) {
  click(button, 2, 2);
  EXPECT_TRUE(calls.take().empty());
}

TEST_F(KVButtonGui, DraggingOffAHeldButtonReleasesIt) {
  mouse(button, wxEVT_LEFT_DOWN, 16, 16, true);
  mouse(button, wxEVT_LEAVE_WINDOW, 40, 16, true);
  EXPECT_EQ(button->state(), R);
  EXPECT_EQ(calls.take(), (std::vector<ButtonState>{P, R}));
}

TEST_F(KVButtonGui, DisabledButtonIgnoresMouseAndKeys) {
  button->setEnabled(0);
  click(button, 16, 16);
  std::thread key([this] { button->UpdateState(P); });
  key.join();
  EXPECT_EQ(button->state(), R);
  EXPECT_TRUE(calls.take().empty());
}

TEST_F(KVButtonGui, KeyFromAnotherThreadBouncesAndEndsAtTheKeysState) {
  SettingsManager::sharedInstance().setValueWithKey("BTN_BOUNCE", 1);
  std::thread down([this] { button->UpdateState(P); });
  down.join();
  button->waitUntilSettled();
  std::thread up([this] { button->UpdateState(R); });
  up.join();
  button->waitUntilSettled();
  korvel::guitest::drainEvents();  // the posted repaints
  std::vector<ButtonState> seen = calls.take();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front(), P) << "a press burst starts closed";
  EXPECT_EQ(seen.back(), R) << "and the release burst ends open";
  EXPECT_EQ(seen.size() % 2, 0u) << "an odd burst each way";
}

}  // namespace
