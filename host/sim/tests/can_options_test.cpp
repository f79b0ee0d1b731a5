// korvel-sim's CAN port options: what a user types reaches the port, and mistakes are named.
#include <gtest/gtest.h>

#include "options.h"

namespace {

using korvel::simapp::parseOptions;

TEST(CanOptions, DirIdAndColourConfigureTheirPort) {
  std::string error;
  auto o = parseOptions({"--can2-dir", "/tmp/bus", "--can2-id", "5", "--can2-colour", "0x0000FF", "fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->can[1].dir, "/tmp/bus");
  EXPECT_EQ(o->can[1].acceptance, "5");
  EXPECT_EQ(o->can[1].colour, 0x0000FFu);
  EXPECT_TRUE(o->can[0].dir.empty());
  EXPECT_EQ(o->firmware, "fw.elf");
  auto d = parseOptions({"--can1-dir", "bus"}, &error);
  ASSERT_TRUE(d) << error;
  EXPECT_EQ(d->can[0].acceptance, "987654321") << "every identifier unless told";
}

TEST(CanOptions, MistakesSayWhatIsWrongInOneLine) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--can1-id", "5"}, "need --can1-dir"},
      {{"--can1-dir", "b", "--can1-id", "0x10"}, "not a decimal identifier"},
      {{"--can2-dir", "b", "--can2-colour", "blue"}, "not a colour"},
      {{"--can2-dir", "b", "--can2-colour", "0x1000000"}, "not a colour"},
      {{"--can1-dir"}, "needs a value"},
      {{"--can3-dir", "b"}, "unknown option"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseOptions(c.args, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
