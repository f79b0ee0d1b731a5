// The key listener reading the real keyboard of an X server (the test runs under Xvfb): a key
// pressed there with xdotool reaches the call-back registered for it, down and then up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "korvel/keys.h"

namespace {

bool xdotool(const std::string& args) { return std::system(("xdotool " + args).c_str()) == 0; }

TEST(KeyListenerOnX11, AKeyPressedOnTheDisplayReachesItsCallback) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (run under xvfb-run)";
  KeyListener::setKeyStateSourceForTesting(nullptr);  // the real keyboard
  std::mutex lock;
  std::vector<std::string> calls;
  auto record = [&](const char* name) {
    return [&, name](unsigned int key, int state) {
      std::lock_guard<std::mutex> guard(lock);
      calls.push_back(std::string(name) + ":" + std::to_string(key) + ":" + std::to_string(state));
    };
  };
  auto take = [&] {
    std::lock_guard<std::mutex> guard(lock);
    return std::exchange(calls, {});
  };
  KeyRAI one(0x31, record("one"));
  KeyRAI reset(0x52, record("R"));
  EXPECT_EQ(take(), (std::vector<std::string>{"one:49:0", "R:82:0"}))
      << "each registration learns at once that its key is up";
  auto* listener = KeyListener::sharedInstance();
  listener->waitForPasses(2);
  EXPECT_EQ(take(), std::vector<std::string>{}) << "nothing changes while no key is pressed";

  ASSERT_TRUE(xdotool("keydown 1"));
  listener->waitForPasses(2);
  EXPECT_EQ(take(), std::vector<std::string>{"one:49:1"});
  ASSERT_TRUE(xdotool("keyup 1"));
  listener->waitForPasses(2);
  EXPECT_EQ(take(), std::vector<std::string>{"one:49:0"});

  ASSERT_TRUE(xdotool("keydown r"));
  listener->waitForPasses(2);
  ASSERT_TRUE(xdotool("keyup r"));
  listener->waitForPasses(2);
  EXPECT_EQ(take(), (std::vector<std::string>{"R:82:1", "R:82:0"})) << "only R's call-back, down then up";
}

}  // namespace
