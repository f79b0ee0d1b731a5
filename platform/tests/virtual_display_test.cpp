// The private virtual X server that headless runs start where no display is set.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "korvel/platform/platform.h"

namespace {

namespace fs = std::filesystem;

fs::path socketOf(const std::string& display) { return fs::path("/tmp/.X11-unix") / ("X" + display.substr(1)); }

bool gone(const fs::path& socket) {
  for (int i = 0; i < 200 && fs::exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !fs::exists(socket);
}

TEST(VirtualDisplay, TwoServersGetTheirOwnDisplaysAndGoWithTheirOwners) {
  std::string error;
  auto first = korvel::platform::startVirtualDisplay(&error);
  if (!first && error.find("not installed") != std::string::npos) GTEST_SKIP() << error;
  ASSERT_TRUE(first) << error;
  auto second = korvel::platform::startVirtualDisplay(&error);
  ASSERT_TRUE(second) << error;
  ASSERT_EQ(first->name().rfind(":", 0), 0u) << first->name();
  EXPECT_NE(first->name(), second->name()) << "each server picks a free display";
  // Up means accepting connections: the server's socket is there when the call returns.
  fs::path a = socketOf(first->name()), b = socketOf(second->name());
  EXPECT_TRUE(fs::exists(a)) << a;
  EXPECT_TRUE(fs::exists(b)) << b;
  first.reset();
  EXPECT_TRUE(gone(a)) << "the server outlived its owner";
  EXPECT_TRUE(fs::exists(b)) << "stopping one stopped the other";
  second.reset();
  EXPECT_TRUE(gone(b));
}

TEST(VirtualDisplay, SaysWhatIsMissingWithoutXvfb) {
  const char* saved = std::getenv("PATH");
  std::string path = saved ? saved : "";
  setenv("PATH", "/nonexistent", 1);
  std::string error;
  auto display = korvel::platform::startVirtualDisplay(&error);
  setenv("PATH", path.c_str(), 1);
  EXPECT_FALSE(display);
  EXPECT_NE(error.find("Xvfb is not installed: install the xvfb package"), std::string::npos) << error;
}

}  // namespace
