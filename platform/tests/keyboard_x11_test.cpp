// The X11 key reader against a real X server (the tests run under Xvfb): keys pressed there with
// xdotool read as down under their Windows virtual-key codes, and as up again once released.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "korvel/platform/platform.h"

namespace {

bool xdotool(const std::string& args) { return std::system(("xdotool " + args).c_str()) == 0; }

TEST(X11KeyReader, SeesKeysPressedOnTheDisplayUnderTheirWindowsCodes) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (run under xvfb-run)";
  auto reader = korvel::platform::openKeyboardReader();
  ASSERT_TRUE(reader->available());
  struct Case {
    const char* key;
    uint32_t code;
  };
  for (Case c : {Case{"1", 0x31}, Case{"2", 0x32}, Case{"0", 0x30}, Case{"r", 0x52}, Case{"Up", 0x26},
                 Case{"Down", 0x28}, Case{"Left", 0x25}, Case{"Right", 0x27}, Case{"Return", 0x0D}}) {
    reader->refresh();
    EXPECT_FALSE(reader->isDown(c.code)) << c.key << " reads down before it was pressed";
    ASSERT_TRUE(xdotool(std::string("keydown ") + c.key)) << "xdotool could not press " << c.key;
    reader->refresh();
    EXPECT_TRUE(reader->isDown(c.code)) << c.key << " held but read as up";
    const uint32_t other = c.code == 0x31 ? 0x32 : 0x31;
    EXPECT_FALSE(reader->isDown(other)) << c.key << " held made key " << other << " read down";
    ASSERT_TRUE(xdotool(std::string("keyup ") + c.key));
    reader->refresh();
    EXPECT_FALSE(reader->isDown(c.code)) << c.key << " released but read as down";
  }
  EXPECT_FALSE(reader->isDown(0x07)) << "a code with no key reads up";
  EXPECT_FALSE(reader->isDown(300)) << "a code past the table reads up";
}

TEST(X11KeyReader, WithoutADisplayEveryKeyReadsUp) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  ::setenv("DISPLAY", ":none-such", 1);
  auto reader = korvel::platform::openKeyboardReader();
  if (!saved.empty()) ::setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_FALSE(reader->available());
  reader->refresh();
  EXPECT_FALSE(reader->isDown(0x31));
}

}  // namespace
