// The CAN controllers' registers as firmware written for this chip expects them: reset values,
// transmit buffers that free again, the receive status while a frame waits, and the interrupt
// causes handed over by reading CANxICR.
#include <gtest/gtest.h>

#include "can.h"

namespace {

using korvel::sim::Access;
using korvel::sim::CanController;
constexpr Access F = Access::Firmware, D = Access::Debugger;

class CanModel : public ::testing::Test {
 protected:
  CanController can;
  std::vector<bool> lines;
  void SetUp() override {
    can.onLine = [this](bool level) { lines.push_back(level); };
    can.reset();
  }
  uint32_t reg(uint32_t offset) { return can.read(offset, 4, D); }
};

TEST_F(CanModel, StartsAtTheChipsResetValues) {
  EXPECT_EQ(reg(CanController::MOD), 1u);
  EXPECT_EQ(reg(CanController::GSR), 0x0000000Cu);
  EXPECT_EQ(reg(CanController::SR), 0x003C3C3Cu);
  EXPECT_EQ(reg(CanController::BTR), 0x001C0000u);
  EXPECT_EQ(reg(CanController::EWL), 0x60u);
  EXPECT_EQ(reg(CanController::ICR), 0u);
  EXPECT_FALSE(can.line());
}

TEST_F(CanModel, RegistersKeepWhatIsWrittenAndStatusIsReadOnlyToFirmware) {
  can.write(CanController::MOD, 0, 4, F);
  can.write(CanController::BTR, 0x001C001D, 4, F);
  can.write(CanController::TFI1 + 4, 0x123, 4, F);
  can.write(CanController::TFI1 + 0x20 + 0xC, 0xCAFE, 4, F);  // TDB3
  can.write(CanController::SR, 0, 4, F);
  can.write(CanController::GSR, 0, 4, F);
  EXPECT_EQ(reg(CanController::MOD), 0u);
  EXPECT_EQ(reg(CanController::BTR), 0x001C001Du);
  EXPECT_EQ(reg(CanController::TFI1 + 4), 0x123u);
  EXPECT_EQ(reg(CanController::TDB3), 0xCAFEu);
  EXPECT_EQ(reg(CanController::SR), 0x003C3C3Cu);
  EXPECT_EQ(can.read(CanController::BTR + 2, 1, F), 0x1Cu);  // byte lanes
  can.write(CanController::CMR, 0x21, 4, F);
  EXPECT_EQ(reg(CanController::CMR), 0x21u) << "the plug-in reads the command back";
}

TEST_F(CanModel, TransmitLeavesTheBufferFreeAndFlagsTheTransmitCauseWhenEnabled) {
  can.write(CanController::IER, 1u << 9, 4, F);  // TIE2 only
  can.write(CanController::CMR, 0x21, 4, F);     // buffer 1
  EXPECT_EQ(reg(CanController::SR) & 0x0C, 0x0Cu);
  EXPECT_EQ(reg(CanController::ICR), 0u);
  can.write(CanController::CMR, 0x41, 4, F);  // buffer 2
  EXPECT_EQ(reg(CanController::ICR), 1u << 9);
  EXPECT_TRUE(can.line());
  EXPECT_EQ(can.read(CanController::ICR, 4, F), 1u << 9);
  EXPECT_EQ(reg(CanController::ICR), 0u) << "reading hands the cause over";
  EXPECT_FALSE(can.line());
}

TEST_F(CanModel, AReceivedFrameSetsReceiveStatusUntilReleased) {
  can.write(CanController::IER, 1, 4, F);  // RIE
  for (uint32_t r : {CanController::RFS, CanController::RID, CanController::RDA}) {
    can.write(r, r, 4, D);  // as the plug-in delivers
    EXPECT_EQ(reg(CanController::GSR) & 1, 0u) << "a frame is not waiting before its last word";
    EXPECT_FALSE(can.line());
  }
  lines.clear();
  can.write(CanController::RDB, CanController::RDB, 4, D);
  EXPECT_EQ(lines, std::vector<bool>{}) << "the plug-in pends the interrupt itself, after the frame's cause";
  EXPECT_EQ(reg(CanController::RID), CanController::RID);
  EXPECT_EQ(reg(CanController::GSR) & 1, 1u);
  EXPECT_EQ(reg(CanController::SR) & 0x010101, 0x010101u);
  EXPECT_EQ(can.read(CanController::ICR, 4, F), 1u);
  EXPECT_EQ(reg(CanController::ICR), 1u) << "RI stays until the buffer is released";
  EXPECT_TRUE(can.line());
  can.write(CanController::CMR, 0x04, 4, F);  // release receive buffer
  EXPECT_EQ(reg(CanController::GSR) & 1, 0u);
  EXPECT_EQ(reg(CanController::SR) & 0x010101, 0u);
  EXPECT_EQ(reg(CanController::ICR), 0u);
  EXPECT_FALSE(can.line());
}

TEST_F(CanModel, WithoutEnabledCausesNoInterruptLineRises) {
  can.write(CanController::RDB, 1, 4, D);
  can.write(CanController::CMR, 0x21, 4, F);
  EXPECT_EQ(reg(CanController::ICR), 0u);
  for (bool l : lines) EXPECT_FALSE(l);
}

}  // namespace
