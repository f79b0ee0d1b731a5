// The host's calls into the core, played through the real libKorvel.so with fixture modules.
#include <algorithm>
#include <chrono>

#include "plugin_fixture.h"

namespace korvel::test {
namespace {

using Stages = PluginTest;

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(Stages, CheckAcceptsOnlyTargetKindSevenAndUnknownCodesSucceed) {
  load();
  uint32_t kind = 7;
  EXPECT_EQ(host.plugin().entry(AGSI_CHECK, &kind), 1u);
  kind = 6;
  EXPECT_EQ(host.plugin().entry(AGSI_CHECK, &kind), 0u);
  EXPECT_EQ(host.plugin().entry(4, nullptr), 1u);
  EXPECT_EQ(host.plugin().entry(99, nullptr), 1u);
  EXPECT_TRUE(host.output().empty()) << "no action for unknown codes";
}

TEST_F(Stages, WithoutModulesOnlyTheCoreDefinesItsRegistersAndMenu) {
  load();
  ASSERT_EQ(host.init(), 1u);
  EXPECT_TRUE(host.output().empty()) << host.output();
  auto sfrs = host.host().sfrs();
  ASSERT_EQ(sfrs.size(), 17u);
  EXPECT_EQ(sfrs.front().name, "T0MR0");
  EXPECT_EQ(sfrs.front().address, 0x40004018u);
  EXPECT_EQ(sfrs[15].name, "T3MR3");
  EXPECT_EQ(sfrs[15].address, 0x40094024u);
  EXPECT_EQ(sfrs.back().name, "RICOMPVAL");
  EXPECT_EQ(sfrs.back().address, 0x400B0000u);
  auto menus = host.menuEntries();
  ASSERT_EQ(menus.size(), 1u);
  EXPECT_STREQ(menus[0]->szText, "&Korvel");
}

TEST_F(Stages, ModulesRunInLoadOrderAndEachOutcomeIsReported) {
  addFixture("c", "ID=C\nLib=libFixture.so\nLoadAfterID=A\nLoadAfterID=B\n");
  addFixture("b", "ID=B\nLib=libFixture.so\nLoadAfterID=A\n");
  addFixture("a", "ID=A\nLib=libFixture.so\n");
  load();
  ASSERT_EQ(host.init(), 1u);
  auto expected = std::vector<std::string>{};
  for (const char* stage : {"SFR", "VTREG", "Interrupts", "Watches", "MenuEntries"}) {
    for (const char* id : {"A", "B", "C"}) expected.push_back(std::string("[") + id + "]: " + stage + " Stage [OK]");
  }
  EXPECT_EQ(lines(), expected);
}

TEST_F(Stages, AFailingSfrDefinitionIsReportedAndInitialisationGoesOn) {
  addFixture("m", "ID=M\nLib=libFixture.so\n", "DefineAllSFR=0\n");
  load();
  EXPECT_EQ(host.init(), 1u);
  auto l = lines();
  ASSERT_GE(l.size(), 2u);
  EXPECT_EQ(l[0], "[M]: SFR Stage [Failed]");
  EXPECT_EQ(l[1].rfind("One or more definitions of SFR/s failed...continuing[M]: VTREG Stage [OK]", 0), 0u)
      << "the continuing message has no line end of its own: " << l[1];
}

TEST_F(Stages, AFailingVtrDefinitionEndsInitialisationAfterReportingEveryModule) {
  addFixture("x", "ID=X\nLib=libFixture.so\n", "DefineAllVTREG=0\n");
  addFixture("y", "ID=Y\nLib=libFixture.so\nLoadAfterID=X\n");
  load();
  EXPECT_EQ(host.init(), 0u);
  auto l = lines();
  EXPECT_TRUE(contains(l, "[X]: VTREG Stage [Failed]"));
  EXPECT_TRUE(contains(l, "[Y]: VTREG Stage [OK]"));
  EXPECT_FALSE(contains(l, "[X]: Interrupts Stage [OK]")) << "no later stage runs";
}

TEST_F(Stages, OptionalExportsAreSkippedSilentlyAndMenuFailuresDoNotCount) {
  addFixture("menu", "ID=Menu\nLib=libFixture.so\n", "DefineAllMenuEntries=0\n");
  load();
  EXPECT_EQ(host.init(), 1u);
  EXPECT_TRUE(contains(lines(), "[Menu]: MenuEntries Stage [Failed]"));
  host.clearMessages();
  EXPECT_EQ(host.terminate(), 1u);
  EXPECT_EQ(lines(), std::vector<std::string>{"[Menu]: Terminate Stage [OK]"});
}

TEST_F(Stages, AModuleWithoutARequiredExportIsReportedAsFailedNotCalled) {
  addFixture("min", "ID=Min\nLib=libFixture.so\n", "", FIXTURE_MINIMAL);
  addFixture("full", "ID=Full\nLib=libFixture.so\nLoadAfterID=Min\n");
  load();
  EXPECT_EQ(host.init(), 0u) << "the minimal fixture has no DefineAllWatches";
  auto l = lines();
  EXPECT_TRUE(contains(l, "[Min]: Watches Stage [Failed]"));
  EXPECT_TRUE(contains(l, "[Full]: Watches Stage [OK]")) << "the other module still ran the stage";
  EXPECT_FALSE(contains(l, "[Full]: MenuEntries Stage [OK]")) << "no later stage runs";
  host.clearMessages();
  EXPECT_EQ(host.terminate(), 1u);
  EXPECT_EQ(lines(), std::vector<std::string>{"[Full]: Terminate Stage [OK]"})
      << "no Terminate export, no line for Min";
}

TEST_F(Stages, ResetReportsModulesAndFailsWithoutTheScaleFlagSymbol) {
  addFixture("r", "ID=R\nLib=libFixture.so\n");
  load();
  ASSERT_EQ(host.init(), 1u);
  host.clearMessages();
  EXPECT_EQ(host.reset(), 0u) << "firmware without ScaleFlag makes the reset report failure";
  EXPECT_EQ(lines(), std::vector<std::string>{"[R]: Reset Stage [OK]"});
  host.addSymbol("ScaleFlag", 0x10000010);
  EXPECT_EQ(host.reset(), 1u);
}

TEST_F(Stages, AModuleThatRaisesAnErrorFailsAloneAndTheStageGoesOn) {
  addFixture("bad", "ID=Bad\nLib=libFixture.so\n", "DefineAllInterrupts=throw\nResetPeripheral=throw\n");
  addFixture("good", "ID=Good\nLib=libFixture.so\nLoadAfterID=Bad\n");
  load();
  EXPECT_EQ(host.init(), 0u) << "a failed Interrupts stage fails the initialisation";
  auto l = lines();
  EXPECT_TRUE(contains(l, "[Bad]: Interrupts Stage [Failed]")) << host.output();
  EXPECT_TRUE(contains(l, "[Bad]: DefineAllInterrupts raised an error: DefineAllInterrupts broke"))
      << host.output();
  EXPECT_TRUE(contains(l, "[Good]: Interrupts Stage [OK]")) << "the next module still ran:\n"
                                                            << host.output();

  host.addSymbol("ScaleFlag", 0x10000010);
  host.clearMessages();
  EXPECT_EQ(host.reset(), 0u);
  EXPECT_EQ(lines(), (std::vector<std::string>{"[Bad]: Reset Stage [Failed]",
                                               "[Bad]: ResetPeripheral raised an error: ResetPeripheral broke",
                                               "[Good]: Reset Stage [OK]"}));
}

TEST_F(Stages, AResetBeforeInitialisationFailsQuietlyAndLaterResetsWork) {
  addFixture("r", "ID=R\nLib=libFixture.so\n");
  load();
  EXPECT_EQ(host.reset(), 0u) << "without the host's functions there is nothing to reset";
  EXPECT_TRUE(host.output().empty()) << host.output();
  host.addSymbol("ScaleFlag", 0x10000010);
  ASSERT_EQ(host.init(), 1u);
  host.clearMessages();
  EXPECT_EQ(host.reset(), 1u);
  EXPECT_EQ(lines(), std::vector<std::string>{"[R]: Reset Stage [OK]"});
}

// Through the whole plug-in: with no board open, the reset a host makes at start-up does not hold
// back the firmware's first instruction (the settle time with a board open is a core unit test).
TEST_F(Stages, AResetWithNoBoardOpenDoesNotWaitToSettle) {
  load();
  host.addSymbol("ScaleFlag", 0x10000010);
  ASSERT_EQ(host.init(), 1u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(host.reset(), 1u);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::milliseconds(500)) << "the reset waited with no board to settle";
}

TEST_F(Stages, EveryCoreExportForModulesIsFoundByItsPlainName) {
  load();
  for (const char* name : {"getAgsi", "DefineNewComponent", "DefineKey", "getBoardChipWithID",
                           "isBoardPowered", "setBoardPowered", "isDialogForeMost", "getScaleFlag",
                           "DefinePageDialog", "getDialogComponentCaller", "getDialogAtIndexForComponent"}) {
    EXPECT_NE(coreExport<void*>(name), nullptr) << name << " is not exported with C linkage";
  }
}

TEST_F(Stages, ARegistryErrorFailsInitialisationWithItsTextInsteadOfThrowing) {
  addFixture("one", "ID=Same\nLib=libFixture.so\n");
  addFixture("two", "ID=Same\nLib=libFixture.so\n");
  load();
  EXPECT_EQ(host.init(), 0u);
  EXPECT_NE(host.output().find("Two bundles CANNOT have the same IDentifier!"), std::string::npos)
      << host.output();
}

TEST_F(Stages, AHostThatLacksAFunctionFailsInitialisation) {
  load();
  // A library that exports none of the host functions stands in for an incomplete host.
  void* notAHost = platform::loadLibrary(FIXTURE_MODULE);
  ASSERT_NE(notAHost, nullptr);
  AGSICONFIG config{};
  config.hInstance = notAHost;
  EXPECT_EQ(host.plugin().entry(AGSI_INIT, &config), 0u);
  platform::freeLibrary(notAHost);
}

}  // namespace
}  // namespace korvel::test
