// Symbols, messages, timers, definitions and the module handle.
#include <cstring>

#include "korvel/platform/platform.h"
#include "recorder.h"

TEST_F(HostTest, SymbolLookupFillsAddressAndKindCodesOrSaysNotFound) {
  host().addSymbol({"ScaleFlag", 0x10000123, AGSI_SYMTYPE_UCHAR});
  AGSISYMDSC s{};
  std::strcpy(s.szName, "ScaleFlag");
  ASSERT_EQ(AgsiGetSymbolByName(&s), 1u);
  EXPECT_EQ(s.val, 0x10000123u);
  EXPECT_EQ(s.type, 3u);
  EXPECT_EQ(s.ok, 1u);

  AGSISYMDSC missing{};
  std::strcpy(missing.szName, "result");
  missing.ok = 1;
  EXPECT_EQ(AgsiGetSymbolByName(&missing), 0u);
  EXPECT_EQ(missing.ok, 0u);

  AGSISYMDSC back{};
  back.val = 0x10000123;
  ASSERT_EQ(AgsiGetSymbolByValue(&back), 1u);
  EXPECT_STREQ(back.szName, "ScaleFlag");
}

TEST_F(HostTest, SymbolNameFillingTheWholeFieldIsNotReadPastItsEnd) {
  AGSISYMDSC s;
  std::memset(&s, 'x', sizeof s);  // no terminating NUL anywhere in the name
  host().addSymbol({std::string(256, 'x'), 0x20, AGSI_SYMTYPE_UCHAR});
  EXPECT_EQ(AgsiGetSymbolByName(&s), 1u);
  EXPECT_EQ(s.val, 0x20u);
}

TEST_F(HostTest, MessagesOfAnyLengthArriveWholeInOrderAndReachTheSink) {
  std::vector<std::string> sunk;
  host().setMessageSink([&](const std::string& m) { sunk.push_back(m); });
  std::string big(100000, 'k');
  AgsiMessage("[%s]: %s\n", "KorvelBase", "SFR Stage [OK]");
  AgsiMessage("%s|%d", big.c_str(), 42);
  AgsiMessage("%s", "");

  auto m = host().messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0], "[KorvelBase]: SFR Stage [OK]\n");
  EXPECT_EQ(m[1], big + "|42") << "a long message must not be cut";
  EXPECT_EQ(m[2], "");
  EXPECT_EQ(sunk, m);
  EXPECT_EQ(host().output(), m[0] + m[1]);
}

namespace {
std::vector<uint64_t> gFired;
AGSITIMER gTimer = nullptr;
uint32_t gRearm = 0;
void timerCallBack() {
  gFired.push_back(AgsiGetStates());
  if (gRearm != UINT32_MAX) AgsiSetTimer(gTimer, gRearm);
}
}  // namespace

TEST_F(HostTest, TimerFiresWhenSimulatedTimeReachesItsDueStateAndCanRearm) {
  gFired.clear();
  gRearm = UINT32_MAX;
  gTimer = AgsiCreateTimer(timerCallBack);
  ASSERT_NE(gTimer, nullptr);
  host().advanceTo(100);
  ASSERT_EQ(AgsiSetTimer(gTimer, 1000), 1);
  EXPECT_EQ(host().nextTimerDue(), 1100u);

  host().advanceTo(1099);
  EXPECT_TRUE(gFired.empty()) << "fired a state early";
  gRearm = 300;  // periodic from now on
  host().advanceTo(2000);
  EXPECT_EQ(gFired, (std::vector<uint64_t>{1100, 1400, 1700, 2000})) << "each period fires at its own due state";
  EXPECT_EQ(AgsiGetStates(), 2000u);
  EXPECT_DOUBLE_EQ(AgsiGetTime(), 2000 / 100e6);

  AgsiSetTimer(gTimer, UINT32_MAX);
  gFired.clear();
  host().advanceTo(10000);
  EXPECT_TRUE(gFired.empty()) << "a disarmed timer fired";
  EXPECT_EQ(host().nextTimerDue(), UINT64_MAX);
  EXPECT_EQ(AgsiSetTimer(reinterpret_cast<AGSITIMER>(&gFired), 1), 0) << "not a timer of ours";
}

TEST_F(HostTest, TimerRearmedWithNoDelayFiresOncePerAdvance) {
  gFired.clear();
  gRearm = 0;
  gTimer = AgsiCreateTimer(timerCallBack);
  AgsiSetTimer(gTimer, 0);
  host().advanceTo(5);
  host().advanceTo(6);
  EXPECT_EQ(gFired, (std::vector<uint64_t>{0, 5})) << "overdue: fires at the start of the next advance";
  gRearm = UINT32_MAX;
}

TEST_F(HostTest, DefinitionsAreRecordedForTheHostProgram) {
  EXPECT_EQ(AgsiDefineSFR("T0MR0", 0x40004018, AGSILONG, 0), 1);
  EXPECT_EQ(AgsiDefineSFR("T0MR0", 0x40004018, AGSILONG, 0), 1);
  static AGSIMENU menu{0, "&Korvel", nullptr, 1, 0, nullptr};
  EXPECT_EQ(AgsiDefineMenuItem(&menu), 1);
  EXPECT_EQ(AgsiDefineMenuItem(nullptr), 0);
  AGSIINTERRUPT irq{};
  irq.vec = 25;
  EXPECT_EQ(AgsiDeclareInterrupt(&irq), 1);
  irq.vec = 99;  // the host keeps its own copy

  ASSERT_EQ(host().sfrs().size(), 1u);
  EXPECT_EQ(host().sfrs()[0].address, 0x40004018u);
  EXPECT_EQ(host().menuEntries(), std::vector<AGSIMENU*>{&menu});
  ASSERT_EQ(host().interrupts().size(), 1u);
  EXPECT_EQ(host().interrupts()[0].vec, 25u);

  int window = 0;
  AgsiHandleFocus(&window);
  EXPECT_EQ(host().focusWindow(), &window);
  AgsiSetTargetKey(3, 9);
  EXPECT_EQ(AgsiGetTargetKey(3), 9);
  EXPECT_EQ(AgsiExecuteCommand("g"), 0) << "no command line: must not claim success";
}

TEST_F(HostTest, ModuleHandleFindsTheHostFunctionsByName) {
  void* handle = host().moduleHandle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle, host().moduleHandle()) << "the handle is cached";
  for (const char* name : {"AgsiDefineSFR", "AgsiMessage", "AgsiGetSymbolByName", "AgsiExecuteCommand"})
    EXPECT_NE(korvel::platform::findSymbol(handle, name), nullptr) << name;
  EXPECT_EQ(korvel::platform::findSymbol(handle, "IsInterruptActive"), nullptr)
      << "the interrupt helpers are the plug-in's own";
  auto message = reinterpret_cast<PFN_AgsiMessage>(korvel::platform::findSymbol(handle, "AgsiMessage"));
  message("via %s", "handle");
  EXPECT_EQ(host().output(), "via handle");
}
