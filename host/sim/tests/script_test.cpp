// The headless script language: times with units, the actions and their arguments.
#include <gtest/gtest.h>

#include <bit>

#include "options.h"
#include "script.h"

namespace {

using namespace korvel::simapp;

TEST(Script, ParsesTimesWithUnitsAndStepsWithArguments) {
  double s = 0;
  EXPECT_TRUE(parseDuration("100ms", &s));
  EXPECT_DOUBLE_EQ(s, 0.1);
  EXPECT_TRUE(parseDuration("1.5s", &s));
  EXPECT_DOUBLE_EQ(s, 1.5);
  EXPECT_TRUE(parseDuration("250us", &s));
  EXPECT_DOUBLE_EQ(s, 250e-6);
  EXPECT_FALSE(parseDuration("soon", &s));
  EXPECT_FALSE(parseDuration("5min", &s));

  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(parseScript("# inputs\n100ms press KEY1\n\n200ms touch 120 160\r\n300ms joystick up-left\n", &steps, &error)) << error;
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[1].action, "touch");
  EXPECT_EQ(steps[1].args, (std::vector<std::string>{"120", "160"}));
  EXPECT_DOUBLE_EQ(steps[2].seconds, 0.3);
}

TEST(Script, RefusesMistakesWithTheLineAndWhatIsWrong) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(parseScript("100ms press KEY1\n200ms touch 120\n", &steps, &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_NE(error.find("touch takes 2 argument"), std::string::npos) << error;
  ScriptStep step;
  EXPECT_FALSE(parseStep("10ms touch 400 10", &step, &error));
  EXPECT_NE(error.find("x 0..239"), std::string::npos) << error;
  EXPECT_FALSE(parseStep("10ms joystick sideways", &step, &error));
  EXPECT_FALSE(parseStep("later press KEY1", &step, &error));
  EXPECT_FALSE(parseStep("10ms vtr PORT2 high", &step, &error)) << "a value that is no number";
  EXPECT_NE(error.find("vtr takes a name and a number"), std::string::npos) << error;
  EXPECT_TRUE(parseStep("10ms vtr AIN5 1.65", &step, &error)) << error;
}

TEST(Script, VtrValuesAreWholeNumbersOrFloatBitsByTheVtrsType) {
  uint32_t v = 0;
  ASSERT_TRUE(vtrValue("0xFFFF", false, &v));
  EXPECT_EQ(v, 0xFFFFu);
  EXPECT_FALSE(vtrValue("1.65", false, &v)) << "an integer VTR refuses a fraction";
  EXPECT_FALSE(vtrValue("0x100000000", false, &v)) << "more than 32 bits";
  EXPECT_FALSE(vtrValue("-1", false, &v));
  ASSERT_TRUE(vtrValue("1.65", true, &v));
  EXPECT_EQ(v, std::bit_cast<uint32_t>(1.65f)) << "a float VTR holds the float's bits";
  EXPECT_FALSE(vtrValue("nan", true, &v));
  EXPECT_FALSE(vtrValue("", true, &v));
}

TEST(Options, DefaultsAndRefusals) {
  std::string error;
  auto o = parseOptions({"fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->showBoard);
  EXPECT_TRUE(o->realTime) << "real time unless --fast";
  EXPECT_LT(o->timeLimit, 0);
  o = parseOptions({"--headless", "--fast", "--no-board", "--time", "2s", "--at", "1ms press KEY2", "fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_FALSE(o->realTime);
  EXPECT_FALSE(o->showBoard);
  EXPECT_DOUBLE_EQ(o->timeLimit, 2.0);
  ASSERT_EQ(o->script.size(), 1u);
  EXPECT_FALSE(parseOptions({"a.elf", "b.elf"}, &error));
  EXPECT_NE(error.find("only one firmware file"), std::string::npos) << error;
  EXPECT_FALSE(parseOptions({"--headless"}, &error)) << "headless without firmware never ends";
  EXPECT_FALSE(parseOptions({"--plugin"}, &error));
  EXPECT_NE(error.find("--plugin needs a value"), std::string::npos) << error;
}

}  // namespace
