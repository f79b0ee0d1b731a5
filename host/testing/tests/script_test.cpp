// The korvel-testhost script: what it accepts, how it reports a bad line, and what it does.
#include <gtest/gtest.h>

#include <sstream>

#include "agsi_host/functions.h"
#include "korvel_test/script.h"
#include "korvel_test/test_host.h"

using korvel_test::ScriptCommand;

namespace {
std::string parseError(const std::string& text) {
  std::istringstream in(text);
  std::vector<ScriptCommand> commands;
  std::string error;
  return korvel_test::parseScript(in, "s.txt", &commands, &error) ? "" : error;
}
}  // namespace

TEST(Script, ParsesEveryCommandWithCommentsAndNumberBases) {
  std::istringstream in("# set-up\n\nwrite 0x40004018 123\nwrite 0x10 0xFF 1  # one byte\nread 0x40030008 2\n"
                        "vtr PORT2 0x1000\nvtr PORT2\ntime 1.5\nreset\n");
  std::vector<ScriptCommand> c;
  std::string error;
  ASSERT_TRUE(korvel_test::parseScript(in, "s.txt", &c, &error)) << error;
  ASSERT_EQ(c.size(), 7u);
  EXPECT_EQ(c[0].address, 0x40004018u);
  EXPECT_EQ(c[0].value, 123u);
  EXPECT_EQ(c[0].size, 4u);
  EXPECT_EQ(c[1].size, 1u);
  EXPECT_EQ(c[2].kind, ScriptCommand::Kind::Read);
  EXPECT_EQ(c[2].size, 2u);
  EXPECT_EQ(c[3].kind, ScriptCommand::Kind::WriteVtr);
  EXPECT_EQ(c[4].kind, ScriptCommand::Kind::ReadVtr);
  EXPECT_DOUBLE_EQ(c[5].seconds, 1.5);
  EXPECT_EQ(c[6].kind, ScriptCommand::Kind::Reset);
  EXPECT_EQ(c[6].line, 9);
}

TEST(Script, BadLinesAreReportedWithFileAndLine) {
  EXPECT_EQ(parseError("write 1 2\njump 4\n"), "s.txt line 2: unknown command 'jump' (write, read, vtr, time, reset)");
  EXPECT_EQ(parseError("write 0x1FFFFFFFF 1"), "s.txt line 1: '0x1FFFFFFFF' is not a 32-bit address");
  EXPECT_EQ(parseError("write 4 -1"), "s.txt line 1: '-1' is not a 32-bit value");
  EXPECT_EQ(parseError("write 4 1 3"), "s.txt line 1: size must be 1, 2 or 4, not '3'");
  EXPECT_EQ(parseError("read"), "s.txt line 1: expected 'read ADDRESS [SIZE]'");
  EXPECT_EQ(parseError("time soon"), "s.txt line 1: 'soon' is not a time in seconds");
  EXPECT_EQ(parseError("reset now"), "s.txt line 1: 'reset' takes nothing after it");
}

namespace {
void onWrite(uint32_t a, uint32_t) { AgsiMessage("wrote 0x%X\n", a); }
}  // namespace

TEST(Script, RunPlaysFirmwareAccessesAndPrintsWhatReadsShow) {
  korvel_test::TestHost host;
  AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  AgsiSetWatchOnSFR(0x40004018, onWrite, AGSIWRITE);
  std::istringstream in("write 0x40004018 123\nread 0x40004018\nread 0x40004018 1\nvtr PORT2 0x1000\nvtr PORT2\ntime 0.25\nvtr PORT9 1\n");
  std::vector<ScriptCommand> c;
  std::string error;
  ASSERT_TRUE(korvel_test::parseScript(in, "s.txt", &c, &error)) << error;
  std::ostringstream out;
  EXPECT_FALSE(korvel_test::runScript(host, c, "s.txt", out, &error));
  EXPECT_EQ(error, "s.txt line 7: the plug-in defined no VTR named 'PORT9'");
  EXPECT_EQ(out.str(), "read 0x40004018 = 0x0000007B\nread 0x40004018 = 0x0000007B\nvtr PORT2 = 0x00001000\n");
  EXPECT_EQ(host.output(), "wrote 0x40004018\n");
  EXPECT_DOUBLE_EQ(AgsiGetTime(), 0.25);
  EXPECT_EQ(AgsiGetStates(), 25000000u);
}
