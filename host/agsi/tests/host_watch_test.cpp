// Which firmware accesses reach which watches, with what address and reason.
#include "recorder.h"

using V = std::vector<Call>;

TEST_F(HostTest, RegisterWatchCoversEveryByteLaneOfItsWordAndNothingElse) {
  ASSERT_EQ(AgsiSetWatchOnSFR(0x40048004, callBackA, AGSIWRITE), 1);

  firmwareWrite(0x40048007, 0x12, 1);  // top byte lane
  firmwareWrite(0x40048001, 0x12, 4);  // straddles into the register's first byte
  firmwareWrite(0x40048002, 0x12, 2);  // ends just below it
  firmwareWrite(0x40048008, 0x12, 4);  // the next register

  EXPECT_EQ(calls(), (V{{"A", 0x40048007, AGSI_WRITE, 1, 0x40048007},
                        {"A", 0x40048001, AGSI_WRITE, 1, 0x40048001}}))
      << "a watch on 0x40048004 must see exactly the stores that overlap 0x40048004..07";
  EXPECT_TRUE(host().watched(0x40048006, 1));
  EXPECT_FALSE(host().watched(0x40048000, 4));
}

TEST_F(HostTest, MemoryWatchCoversItsInclusiveRange) {
  ASSERT_EQ(AgsiSetWatchOnMemory(0x10000010, 0x10000011, callBackA, AGSIWRITE), 1);

  firmwareWrite(0x10000011, 1, 1);
  firmwareWrite(0x1000000C, 1, 4);  // 0C..0F: just below
  firmwareWrite(0x10000012, 1, 1);  // just above
  firmwareWrite(0x1000000E, 0x01010101, 4);  // 0E..11: overlaps

  EXPECT_EQ(calls(), (V{{"A", 0x10000011, AGSI_WRITE, 1, 0x10000011},
                        {"A", 0x1000000E, AGSI_WRITE, 1, 0x1000000E}}));
}

TEST_F(HostTest, AccessKindDecidesWhichAccessesFireAndTheReasonSaysWhichItWas) {
  AgsiSetWatchOnSFR(0x40030008, callBackA, AGSIREAD);
  AgsiSetWatchOnSFR(0x4003000C, callBackA, AGSIWRITE);
  AgsiSetWatchOnSFR(0x40030010, callBackA, AGSIREADWRITE);

  firmwareWrite(0x40030008, 1);        // read-only watch: silent
  host().firmwareRead(0x4003000C, 4);  // write-only watch: silent
  host().firmwareRead(0x40030008, 4);
  firmwareWrite(0x4003000C, 1);
  host().firmwareRead(0x40030010, 4);
  firmwareWrite(0x40030010, 1);

  EXPECT_EQ(calls(), (V{{"A", 0x40030008, AGSI_READ, 1, 0x40030008},
                        {"A", 0x4003000C, AGSI_WRITE, 1, 0x4003000C},
                        {"A", 0x40030010, AGSI_READ, 1, 0x40030010},
                        {"A", 0x40030010, AGSI_WRITE, 1, 0x40030010}}));
}

TEST_F(HostTest, SeveralWatchesOnOneAddressAllFireInRegistrationOrderAndDuplicatesCountOnce) {
  AgsiSetWatchOnSFR(0x40004018, callBackB, AGSIWRITE);
  AgsiSetWatchOnMemory(0x40004000, 0x40004FFF, callBackA, AGSIWRITE);
  EXPECT_EQ(AgsiSetWatchOnSFR(0x40004018, callBackB, AGSIWRITE), 1) << "a repeated watch is still accepted";

  firmwareWrite(0x40004018, 123);

  EXPECT_EQ(calls(), (V{{"B", 0x40004018, AGSI_WRITE, 1, 0x40004018},
                        {"A", 0x40004018, AGSI_WRITE, 1, 0x40004018}}));
}

TEST_F(HostTest, BadWatchRequestsAreRefused) {
  EXPECT_EQ(AgsiSetWatchOnSFR(0x40004018, nullptr, AGSIWRITE), 0) << "null call-back";
  EXPECT_EQ(AgsiSetWatchOnSFR(0x40004018, callBackA, 7), 0) << "unknown access kind";
  EXPECT_EQ(AgsiSetWatchOnMemory(0x20, 0x10, callBackA, AGSIWRITE), 0) << "first after last";
  EXPECT_EQ(AgsiSetWatchOnVTR(99, callBackA, AGSIWRITE), 0) << "no such VTR";
  EXPECT_FALSE(host().watched(0x40004018, 4));
}

TEST_F(HostTest, WatchAtTheTopOfTheAddressSpaceDoesNotWrap) {
  AgsiSetWatchOnSFR(0xFFFFFFFE, callBackA, AGSIWRITE);
  firmwareWrite(0x00000000, 1, 4);
  firmwareWrite(0xFFFFFFFF, 1, 1);
  EXPECT_EQ(calls(), (V{{"A", 0xFFFFFFFF, AGSI_WRITE, 1, 0xFFFFFFFF}}));
}

namespace {
void setsReadValue(uint32_t a, uint32_t r) {
  record("read", a, r);
  AgsiSetSFRReadValue(0x5A);
}
void addsAnotherWatch(uint32_t a, uint32_t r) {
  record("adder", a, r);
  AgsiSetWatchOnSFR(a & ~3u, callBackB, AGSIWRITE);
}
}  // namespace

TEST_F(HostTest, ReadWatchDecidesWhatTheFirmwareLoads) {
  AgsiSetWatchOnSFR(0x40030008, setsReadValue, AGSIREAD);
  firmwareWrite(0x40030008, 0x11);

  EXPECT_EQ(host().firmwareRead(0x40030008, 4), std::optional<uint32_t>(0x5A));
  EXPECT_EQ(host().firmwareRead(0x4003000C, 4), std::nullopt) << "an unwatched load keeps memory's value";
  EXPECT_EQ(AgsiSetSFRReadValue(1), 0) << "no load is being answered outside a read watch";
  EXPECT_EQ(memory32(0x40030008), 0x11u) << "the read value must not change memory";
}

TEST_F(HostTest, WatchAddedByACallBackFiresFromTheNextAccessOn) {
  AgsiSetWatchOnSFR(0x40048004, addsAnotherWatch, AGSIWRITE);
  firmwareWrite(0x40048004, 1);
  firmwareWrite(0x40048004, 2);
  EXPECT_EQ(calls(), (V{{"adder", 0x40048004, AGSI_WRITE, 1, 0x40048004},
                        {"adder", 0x40048004, AGSI_WRITE, 1, 0x40048004},
                        {"B", 0x40048004, AGSI_WRITE, 1, 0x40048004}}));
}

TEST_F(HostTest, ForgettingThePluginDropsItsWatchesButKeepsItsVtrs) {
  uint32_t port = AgsiDefineVTR("PORT2", AGSIVTRLONG, 0x1000);
  AgsiSetWatchOnSFR(0x40048004, callBackA, AGSIWRITE);
  AgsiSetWatchOnVTR(port, callBackA, AGSIWRITE);
  host().forgetPlugin();

  firmwareWrite(0x40048004, 1);
  host().writeVtr("PORT2", 5);
  EXPECT_TRUE(calls().empty()) << "no call may reach an unloaded plug-in's code";
  EXPECT_EQ(host().readVtr("PORT2"), std::optional<uint32_t>(5));
}
