// The headless script language, the command line, expectations and exit statuses.
#include <gtest/gtest.h>

#include "expectations.h"
#include <bit>

#include "options.h"
#include "parts.h"
#include "script.h"

namespace {

using namespace korvel::simapp;

std::string refusal(const std::string& step) {
  ScriptStep s;
  std::string error;
  EXPECT_FALSE(parseStep(step, &s, &error)) << step << " was accepted";
  return error;
}

TEST(Script, ParsesTimesWithUnitsAndStepsWithArguments) {
  double s = 0;
  EXPECT_TRUE(parseDuration("100ms", &s));
  EXPECT_DOUBLE_EQ(s, 0.1);
  EXPECT_TRUE(parseDuration("1.5s", &s));
  EXPECT_DOUBLE_EQ(s, 1.5);
  EXPECT_TRUE(parseDuration("250us", &s));
  EXPECT_DOUBLE_EQ(s, 250e-6);
  EXPECT_TRUE(parseDuration("86400", &s)) << "a whole day is the longest run";

  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(parseScript("# inputs\n100ms press KEY1\n\n200ms touch 120 160\r\n300ms joystick up-left\n"
                          "  1s expect \"KEY1 pressed\" within 500ms\n2s vtr PORT2 0xFFFF\n",
                          &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[1].action, "touch");
  EXPECT_EQ(steps[1].args, (std::vector<std::string>{"120", "160"}));
  EXPECT_EQ(steps[1].where, "line 4");
  EXPECT_DOUBLE_EQ(steps[2].seconds, 0.3);
  EXPECT_EQ(steps[3].args[0], "KEY1 pressed") << "quoted text keeps its blank";
  EXPECT_DOUBLE_EQ(steps[3].within, 0.5);
}

TEST(Script, RefusesTimesThatNeverEnd) {
  double s = 7;
  for (const char* t : {"nan", "inf", "infinity", "-inf", "1e30", "1e30ms", "86401", "-1", "0x10", "soon", "5min", ""})
    EXPECT_FALSE(parseDuration(t, &s)) << t;
  EXPECT_EQ(s, 7) << "a refused time leaves the value alone";
  EXPECT_NE(refusal("nan press KEY1").find("\"nan\" is not a time"), std::string::npos);
}

TEST(Script, ChecksPartsActionsAndRangesWithTheReason) {
  struct Case {
    const char* step;
    const char* reason;
  } cases[] = {
      {"10ms press KEY9", "the board has no part \"KEY9\""},
      {"10ms click LCD1", "the board has no part \"LCD1\""},
      {"10ms click Pictor", "Pictor (the LCD) takes no click"},
      {"10ms press SW6", "SW6 (power switch"},
      {"10ms click LD12", "takes no click; it takes: shown only"},
      {"10ms touch 300 10", "x 0..239, y 0..319"},
      {"10ms touch 240 0", "x 0..239"},
      {"10ms touch 0 320", "y 0..319"},
      {"10ms touch -1 5", "x 0..239"},
      {"10ms touch 120", "touch takes 2 argument"},
      {"10ms click KEY1 5", "takes a part, optionally followed by X Y"},
      {"10ms click KEY1 5 y", "\"y\" is not a point"},
      {"10ms joystick sideways", "joystick takes up, down"},
      {"10ms turn 3.4", "not a voltage for the potentiometer"},
      {"10ms turn -0.1", "0 to 3.3"},
      {"10ms turn nan", "not a voltage"},
      {"10ms turn 0x1", "not a voltage"},
      {"10ms turn 1.2mV", "not a voltage"},
      {"10ms turn", "turn takes 1 argument"},
      {"10ms vtr PORT2 lots", "\"lots\" is not a 32-bit value"},
      {"10ms vtr PORT2 0x100000000", "is not a 32-bit value"},
      {"10ms vtr PORT2 -1", "is not a 32-bit value"},
      {"10ms expect ready", "write expect \"TEXT\" within TIME"},
      {"10ms expect \"ready\" after 1s", "within TIME"},
      {"10ms expect \"ready\" within 0s", "within TIME"},
      {"10ms expect \"\" within 1s", "expect needs the text"},
      {"10ms expect \"ready within 1s", "a quote is not closed"},
      {"later press KEY1", "\"later\" is not a time"},
      {"10ms", "no action"},
  };
  for (const Case& c : cases) {
    std::string error = refusal(c.step);
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.step << ": " << error;
    EXPECT_NE(error.find(std::string("\"") + c.step + "\""), std::string::npos) << "the step is quoted: " << error;
  }
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(parseScript("100ms press KEY1\n200ms touch 120\n", &steps, &error));
  EXPECT_EQ(error.find("line 2: "), 0u) << error;
  for (const PartInfo& p : boardParts())
    for (const std::string& a : p.actions)
      if (a == "press" || a == "click") {
        ScriptStep s;
        EXPECT_TRUE(parseStep("1ms " + a + " " + p.id, &s, &error)) << error;
      }
}

TEST(Script, StepsAfterTheTimeLimitAreRefused) {
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(parseScript("100ms click KEY1\n1s click KEY2\n1001ms click KEY1\n", &steps, &error)) << error;
  EXPECT_TRUE(checkScript(steps, -1, &error)) << "no limit";
  EXPECT_TRUE(checkScript(steps, 1.001, &error)) << "a step at the limit still plays";
  EXPECT_FALSE(checkScript(steps, 1.0, &error));
  EXPECT_NE(error.find("line 3: script step \"1001ms click KEY1\" comes after the end of the run at --time 1s"), std::string::npos) << error;
}

TEST(Script, VtrStepsTakeNumbers) {
  std::string error;
  ScriptStep vtrStep;
  EXPECT_FALSE(parseStep("10ms vtr PORT2 high", &vtrStep, &error)) << "a value that is no number";
  EXPECT_TRUE(parseStep("10ms vtr AIN5 1.65", &vtrStep, &error)) << error;
}

TEST(Script, TurnStepsTakeVoltsOnThePotentiometersScale) {
  std::string error;
  ScriptStep step;
  ASSERT_TRUE(parseStep("10ms turn 1.65", &step, &error)) << error;
  EXPECT_EQ(step.action, "turn");
  double v = 0;
  EXPECT_TRUE(parseVolts("2.5V", &v));
  EXPECT_EQ(v, 2.5);
  EXPECT_TRUE(parseVolts("0", &v));
  EXPECT_TRUE(parseVolts("3.3v", &v));
  EXPECT_EQ(v, 3.3);
  EXPECT_FALSE(parseVolts("V", &v));
  EXPECT_FALSE(parseVolts(" 1", &v));
  EXPECT_FALSE(parseVolts("inf", &v));
  const PartInfo* pot = findPart("Potmeter");
  ASSERT_NE(pot, nullptr);
  EXPECT_EQ(pot->actions, std::vector<std::string>{"turn"});
  EXPECT_NE(partList().find("turn VOLTS"), std::string::npos);
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
  EXPECT_FALSE(o->seed);
  o = parseOptions({"--headless", "--fast", "--no-board", "--time", "2s", "--at", "1ms press KEY2", "--seed", "4294967295",
                    "-q", "--settings", "a.ini", "--keep-settings", "--until-expected", "--at",
                    "0s expect \"ready\" within 1s", "fw.elf"},
                   &error);
  ASSERT_TRUE(o) << error;
  EXPECT_FALSE(o->realTime);
  EXPECT_FALSE(o->showBoard);
  EXPECT_DOUBLE_EQ(o->timeLimit, 2.0);
  ASSERT_EQ(o->script.size(), 2u);
  EXPECT_EQ(o->script[0].where, "--at");
  EXPECT_EQ(o->seed, 4294967295u);
  EXPECT_TRUE(o->quiet && o->keepSettings && o->untilExpected);
  EXPECT_EQ(o->settings, "a.ini");

  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"a.elf", "b.elf"}, "only one firmware file"},
      {{"--headless"}, "needs --time"},
      {{"--plugin"}, "--plugin needs a value"},
      {{"--time", "nan", "a.elf"}, "--time: \"nan\" is not a time"},
      {{"--time", "1e30", "a.elf"}, "at most 24 hours"},
      {{"--seed", "4294967296", "a.elf"}, "--seed: \"4294967296\" is not a number"},
      {{"--seed", "7x", "a.elf"}, "--seed"},
      {{"--settings", "a.txt", "a.elf"}, "must end in .ini"},
      {{"--time", "1s", "--at", "2s stop", "a.elf"}, "comes after the end of the run"},
      {{"--at", "1ms press KEY9", "a.elf"}, "no part \"KEY9\""},
      {{"--script", "/no/such/script", "a.elf"}, "cannot read the script file /no/such/script"},
      {{"--until-expected", "--at", "1ms click KEY1", "a.elf"}, "--until-expected needs at least one expect step"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(parseOptions(c.args, &error)) << c.args[0];
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
  EXPECT_TRUE(parseOptions({"--list-parts"}, &error)) << "lists without firmware or display";
}

TEST(Options, HelpDocumentsEveryOptionOfTheTable) {
  std::string help = usage();
  for (const OptionSpec& o : optionTable()) {
    EXPECT_NE(help.find(o.name), std::string::npos) << o.name;
    if (o.valueName) {
      EXPECT_NE(help.find(std::string(o.name) + " " + o.valueName), std::string::npos) << o.name;
    }
  }
  for (int status : {kExitUsage, kExitFault, kExitPicture, kExitExpectFailed, kExitExpectUnfinished})
    EXPECT_NE(help.find("\n  " + std::to_string(status) + "   "), std::string::npos) << "exit status " << status;
  std::string parts = partList();
  for (const PartInfo& p : boardParts()) EXPECT_NE(parts.find(std::string("  ") + p.id + " "), std::string::npos) << p.id;
}

std::vector<ScriptStep> twoExpectations() {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_TRUE(parseScript("0s expect \"ready\" within 1s\n10ms click KEY1\n1s expect \"KEY1 pressed\" within 100ms\n", &steps, &error))
      << error;
  return steps;
}

TEST(Expectations, LinesMeetOnlyOpenExpectations) {
  Expectations e(twoExpectations());
  ASSERT_EQ(e.size(), 2u) << "only the expect steps";
  EXPECT_FALSE(e.line("board demo ready")) << "nothing open yet";
  e.open(0);
  EXPECT_FALSE(e.line("KEY1 pressed")) << "the second is not open";
  EXPECT_FALSE(e.line("board demo ready")) << "met one, but one still outstanding";
  EXPECT_TRUE(e.close(0));
  EXPECT_TRUE(e.anyWaiting());
  e.open(1);
  EXPECT_TRUE(e.line("-> KEY1 pressed <-")) << "a line containing the text meets it; now all are met";
  EXPECT_TRUE(e.allMet());
  EXPECT_FALSE(e.anyWaiting());
  EXPECT_TRUE(e.problems().empty());
}

TEST(Expectations, TimeRunningOutFailsAndUnopenedOnesStillWait) {
  Expectations e(twoExpectations());
  e.open(0);
  EXPECT_FALSE(e.close(0));
  EXPECT_FALSE(e.line("ready")) << "a failed expectation stays failed";
  EXPECT_TRUE(e.anyFailed());
  EXPECT_TRUE(e.anyWaiting()) << "the second never opened";
  auto p = e.problems();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_NE(p[0].find("line 1: expectation failed: no line containing \"ready\" between 0 s and 1 s"), std::string::npos) << p[0];
  EXPECT_NE(p[1].find("line 3: expectation unfinished"), std::string::npos) << p[1];
}

TEST(Expectations, ExitStatusSaysWhatEndedTheRun) {
  RunOutcome o;
  EXPECT_EQ(exitStatusFor(o), 0);
  o.picturesWritten = false;
  EXPECT_EQ(exitStatusFor(o), kExitPicture);
  o.expectationWaiting = true;
  EXPECT_EQ(exitStatusFor(o), kExitExpectUnfinished) << "hung is not passed";
  o.firmwareExit = 0;
  EXPECT_EQ(exitStatusFor(o), kExitExpectUnfinished) << "the firmware exiting with 0 does not meet an expectation";
  o.firmwareExit = 9;
  EXPECT_EQ(exitStatusFor(o), 9) << "the firmware's own failure says more";
  o.expectationFailed = true;
  EXPECT_EQ(exitStatusFor(o), kExitExpectFailed);
  o.faulted = true;
  EXPECT_EQ(exitStatusFor(o), kExitFault);
}

}  // namespace
