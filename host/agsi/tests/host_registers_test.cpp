// Register and memory access from the plug-in's side, virtual registers and the
// simulator-access flag.
#include "recorder.h"

TEST_F(HostTest, WriteSfrChangesOnlyTheMaskedBitsAndFiresNoWatch) {
  AgsiSetWatchOnSFR(0x40048004, callBackA, AGSIREADWRITE);
  firmwareWrite(0x40048004, 0xAAAA5555);
  calls().clear();

  ASSERT_EQ(AgsiWriteSFR(0x40048004, 0x0000FFFF, 0x00FF00FF), 1);

  EXPECT_EQ(memory32(0x40048004), 0xAA0055FFu);
  EXPECT_TRUE(calls().empty()) << "the plug-in's own writes must not call it back";
}

TEST_F(HostTest, ReadSfrMasksAndReportsTheValueBeforeTheLastWrite) {
  uint32_t cur = 0, prev = 0;
  firmwareWrite(0x40004018, 0x00000123);
  ASSERT_EQ(AgsiReadSFR(0x40004018, &cur, &prev, 0xFFFFFFFF), 1);
  EXPECT_EQ(prev, cur) << "without a write the host saw, previous is the current value";

  AgsiSetWatchOnSFR(0x40004018, callBackA, AGSIWRITE);
  firmwareWrite(0x40004018, 0x00000456);
  AgsiReadSFR(0x40004018, &cur, &prev, 0xFFFFFFFF);
  EXPECT_EQ(cur, 0x456u);
  EXPECT_EQ(prev, 0x123u) << "a watched firmware write keeps what was there before";

  AgsiWriteSFR(0x40004018, 0x789, 0xFFFFFFFF);
  AgsiReadSFR(0x40004018, &cur, &prev, 0x0F0);
  EXPECT_EQ(cur, 0x080u);
  EXPECT_EQ(prev, 0x050u) << "the plug-in's own write also moves previous, and both are masked";
}

TEST_F(HostTest, MemoryIsByteAddressedLittleEndianAndUnwrittenBytesReadZero) {
  uint8_t in[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(AgsiWriteMemory(0x10000FFE, 5, in), 1);  // crosses a page boundary
  uint8_t out[7] = {9, 9, 9, 9, 9, 9, 9};
  ASSERT_EQ(AgsiReadMemory(0x10000FFD, 7, out), 1);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 7), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(memory32(0x10000FFE), 0x04030201u);
  EXPECT_EQ(AgsiReadMemory(0, 4, nullptr), 0) << "a null buffer is refused";
}

namespace {
struct RecordingTarget : agsi_host::Target {
  std::vector<std::pair<std::string, uint32_t>> changes;
  int resets = 0, stops = 0;
  bool read(uint32_t a, uint32_t n, uint8_t* out) override {
    if (a < 0x1000) return false;  // nothing mapped down there
    for (uint32_t i = 0; i < n; ++i) out[i] = uint8_t(a + i);
    return true;
  }
  bool write(uint32_t a, uint32_t, const uint8_t*) override { return a >= 0x1000; }
  void vtrChanged(const std::string& name, uint32_t value) override { changes.emplace_back(name, value); }
  void triggerReset() override { ++resets; }
  void stopSimulation() override { ++stops; }
  uint64_t states() override { return 4242; }
  double seconds() override { return 1.25; }
  uint32_t programCounter() override { return 0x1F4; }
  uint32_t clockHz() override { return 96000000; }
};
}  // namespace

TEST_F(HostTest, ATargetAnswersForTheAddressSpaceTimeAndRequests) {
  RecordingTarget target;
  host().setTarget(&target);
  uint32_t cur = 0;
  EXPECT_EQ(AgsiReadSFR(0x2000, &cur, nullptr, 0xFFFFFFFF), 1);
  EXPECT_EQ(cur, 0x03020100u);
  EXPECT_EQ(AgsiReadSFR(0x10, &cur, nullptr, 0xFFFFFFFF), 0) << "unmapped register";
  uint8_t b[2];
  EXPECT_EQ(AgsiReadMemory(0xFFF, 2, b), 0) << "one unmapped byte fails the read";
  EXPECT_EQ(AgsiGetStates(), 4242u);
  EXPECT_DOUBLE_EQ(AgsiGetTime(), 1.25);
  EXPECT_EQ(AgsiGetProgramCounter(), 0x1F4u);
  EXPECT_EQ(AgsiGetInternalClockRate(), 96000000u);
  EXPECT_DOUBLE_EQ(AgsiGetClockFactor(), 8.0);
  AgsiTriggerReset();
  AgsiStopSimulator();
  EXPECT_EQ(target.resets, 1);
  EXPECT_EQ(target.stops, 1);
  EXPECT_EQ(host().resetRequests(), 1u);

  uint32_t port = AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  AgsiWriteVTR(port, 0x2000);
  host().writeVtr("PORT2", 0x3000);
  EXPECT_EQ(target.changes, (std::vector<std::pair<std::string, uint32_t>>{{"PORT2", 0x2000}, {"PORT2", 0x3000}}));
}

TEST_F(HostTest, VtrDefinedBySeveralModulesIsOneRegisterThatKeepsItsValue) {
  uint32_t lcd = AgsiDefineVTR("PORT2", AGSIVTRLONG, 0x000000FF);
  ASSERT_NE(lcd, 0u);
  uint32_t v = 0;
  AgsiReadVTR(lcd, &v);
  AgsiWriteVTR(lcd, v | 0x1C00);  // another module sets its button bits
  uint32_t buttons = AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  uint32_t touch = AgsiDefineVTR("PORT2", AGSIVTRLONG, 0x2000);
  EXPECT_EQ(buttons, lcd);
  EXPECT_EQ(touch, lcd);
  EXPECT_EQ(host().readVtr("PORT2"), std::optional<uint32_t>(0x1CFF)) << "a second definition must not reset the value";
  EXPECT_NE(AgsiDefineVTR("PORT1", AGSIVTRLONG, 0), lcd);
  EXPECT_EQ(host().vtrs().size(), 2u);
}

TEST_F(HostTest, VtrKeepsOnlyTheWidthOfItsType) {
  uint32_t c = AgsiDefineVTR("SSP1_OUT", AGSIVTRCHAR, 0x1FF);
  EXPECT_EQ(host().readVtr("SSP1_OUT"), std::optional<uint32_t>(0xFF));
  AgsiWriteVTR(c, 0x1234);
  EXPECT_EQ(host().readVtr("SSP1_OUT"), std::optional<uint32_t>(0x34));
  EXPECT_EQ(AgsiWriteVTR(0, 1), 0) << "handle 0 is never valid";
  EXPECT_EQ(AgsiReadVTR(c + 1, &c), 0) << "unknown handle";
  EXPECT_FALSE(host().writeVtr("NOPE", 1)) << "unknown name";
}

TEST_F(HostTest, VtrWriteWatchGetsTheHandleAndItsReason) {
  uint32_t out = AgsiDefineVTR("SSP1_OUT", AGSIVTRCHAR, 0);
  AgsiSetWatchOnVTR(out, callBackA, AGSIWRITE);
  AgsiSetWatchOnVTR(out, callBackA, AGSIWRITE);

  host().writeVtr("SSP1_OUT", 0x90);  // the firmware sent a byte
  AgsiWriteVTR(out, 0x91);            // the plug-in itself writes it

  EXPECT_EQ(calls(), (std::vector<Call>{{"A", out, AGSI_VT_WRITE, 1, 0}, {"A", out, AGSI_VT_WRITE, 0, 0}}))
      << "only the simulator's write is a simulator access";
}

namespace {
uint32_t gPort = 0;
void firmwareCausedWritesVtr(uint32_t a, uint32_t r) {
  record("outer", a, r);
  AgsiWriteVTR(gPort, 1);
  record("outer-after", a, r);
}
}  // namespace

TEST_F(HostTest, SimulatorAccessFlagIsSetOnlyInsideCallBacksTheFirmwareCaused) {
  gPort = AgsiDefineVTR("PORT2", AGSIVTRLONG, 0);
  AgsiSetWatchOnVTR(gPort, callBackB, AGSIWRITE);
  AgsiSetWatchOnSFR(0x40030008, firmwareCausedWritesVtr, AGSIWRITE);

  EXPECT_EQ(AgsiIsSimulatorAccess(), 0);
  firmwareWrite(0x40030008, 7);
  EXPECT_EQ(AgsiIsSimulatorAccess(), 0);
  host().writeVtr("PORT2", 2, /*simulatorAccess=*/false);

  EXPECT_EQ(calls(), (std::vector<Call>{{"outer", 0x40030008, AGSI_WRITE, 1, 0x40030008},
                                        {"B", gPort, AGSI_VT_WRITE, 0, 0x40030008},
                                        {"outer-after", 0x40030008, AGSI_WRITE, 1, 0x40030008},
                                        {"B", gPort, AGSI_VT_WRITE, 0, 0x40030008}}));
}
