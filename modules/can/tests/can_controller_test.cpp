// The controllers' frame path as the firmware sees it: commands, self-reception, deliveries,
// the bit-timing reference and the interrupt cause handed over in the variable icr.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

#include "can_bus.h"
#include "can_files.h"
#include "can_test_support.h"
#include "korvel/platform/platform.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using namespace testing;

class CanController : public ::testing::Test {
 protected:
  TempFolder folder;  // outlives the watchers that the bus ends
  FakeCanHost host;
  BusFixture bus;

  void SetUp() override {
    // Whatever earlier tests' transfers left for icr is handed over first.
    host.addSymbol("icr", kIcrAddress);
    host.firmwareReadsIcr(kCan1);
    host.firmwareReadsIcr(kCan2);
  }

  void loadBuffer1(uint32_t base, uint32_t info, uint32_t id, uint32_t a, uint32_t b) {
    host.setReg(base + kTfi1, info);
    host.setReg(base + kTid1, id);
    host.setReg(base + kTda1, a);
    host.setReg(base + kTdb1, b);
  }
};

// Reads every frame file that appears in the folder while the transmission runs.
class FrameCatcher {
 public:
  explicit FrameCatcher(const std::string& dataFolder)
      : thread_([this, dataFolder] {
          while (!stop_) {
            std::error_code ec;
            for (fs::directory_iterator it(dataFolder, ec), end; !ec && it != end; it.increment(ec)) {
              std::string text;
              if (korvel::platform::readSmallFile(it->path(), 256, &text, nullptr) && parseFrame(text)) {
                std::lock_guard g(lock_);
                names_.insert(it->path().filename().string());
                frame_ = parseFrame(text);
              }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
          }
        }) {}
  ~FrameCatcher() {
    stop_ = true;
    thread_.join();
  }
  std::set<std::string> names() {
    std::lock_guard g(lock_);
    return names_;
  }
  std::optional<Frame> frame() {
    std::lock_guard g(lock_);
    return frame_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::set<std::string> names_;
  std::optional<Frame> frame_;
  std::thread thread_;
};

TEST_F(CanController, TransmitWritesOneFrameFileThatIsGoneAfterItsLifeAndIcrSaysTransmittedOnce) {
  host.declareFirmwareVariables(0);
  ASSERT_EQ(confirmPort(2, folder.dir(), "7").error, "");
  loadBuffer1(kCan2, 0x00080000, 0x123, 0x44332211, 0x88776655);
  host.setReg(kCan2 + kBtr, 0x001C0013);
  host.setReg(kCan2 + kMod, 1);
  {
    FrameCatcher catcher(folder.dir() + "data/");
    auto start = std::chrono::steady_clock::now();
    host.firmwareWrite(kCan2 + kCmr, 0x21);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(20));  // the file's life blocks the firmware's store
    EXPECT_EQ(catcher.names(), std::set<std::string>{"canDataId291.txt"});
    ASSERT_TRUE(catcher.frame());
    EXPECT_EQ(*catcher.frame(), (Frame{0x00080000, 0x123, 0x44332211, 0x88776655, 0x001C0013}));
  }
  EXPECT_TRUE(fs::is_empty(folder.dir() + "data"));
  EXPECT_EQ(host.reg(kCan2 + kMod) & 1, 0u);
  EXPECT_EQ(host.pends(), 0);  // a transmission raises no interrupt
  EXPECT_EQ(host.firmwareReadsIcr(kCan2), 2);
  EXPECT_EQ(host.firmwareReadsIcr(kCan2), 0xEE);  // handed over once
}

TEST_F(CanController, APortDoesNotHearItsOwnFrameButTheOtherPortOnTheSameBusDoes) {
  host.declareFirmwareVariables(0);
  host.firmwareWrite(kCan1 + kBtr, 0);
  host.firmwareWrite(kCan2 + kBtr, 0);
  ASSERT_TRUE(confirmPort(1, folder.dir(), std::to_string(kAcceptAllId)).frameWatcherStarted);
  ASSERT_TRUE(confirmPort(2, folder.dir(), std::to_string(kAcceptAllId)).frameWatcherStarted);
  loadBuffer1(kCan1, 0x00080000, 0x55, 1, 2);
  host.firmwareWrite(kCan1 + kCmr, 0x21);
  auto seen = bus.awaitDeliveries(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].port, 2);
  EXPECT_EQ(host.reg(kCan2 + kRid), 0x55u);
}

TEST_F(CanController, AbortOrTwoBuffersOnlyClearTheModeBitsOfBothPorts) {
  host.declareFirmwareVariables(0);
  ASSERT_EQ(confirmPort(1, folder.dir(), "7").error, "");
  loadBuffer1(kCan1, 0, 5, 1, 2);
  for (uint32_t command : {0x23u, 0x61u, 0x04u}) {
    host.setReg(kCan1 + kMod, 0x5);
    host.setReg(kCan2 + kMod, 0x9);
    host.firmwareWrite(kCan1 + kCmr, command);
    EXPECT_EQ(host.reg(kCan1 + kMod), 0x4u) << command;
    EXPECT_EQ(host.reg(kCan2 + kMod), 0x8u) << command;
    EXPECT_TRUE(fs::is_empty(folder.dir() + "data")) << command;
    EXPECT_EQ(CanBus::instance().eventState(1), CanEventState::Consumed) << command;
  }
}

TEST_F(CanController, DisabledPortOrNoSettingsPageSendsNothingButStillClearsModeBits) {
  ASSERT_EQ(confirmPort(1, folder.dir(), "7").error, "");
  loadBuffer1(kCan1, 0, 5, 1, 2);
  CanBus::instance().setEnabled(1, false);
  host.setReg(kCan1 + kMod, 1);
  host.setReg(kCan2 + kMod, 1);
  host.firmwareWrite(kCan1 + kCmr, 0x21);
  EXPECT_EQ(host.reg(kCan1 + kMod), 0u);
  EXPECT_EQ(host.reg(kCan2 + kMod), 0u);
  CanBus::instance().setEnabled(1, true);
  CanBus::instance().setSettingsPagePresent(false);
  host.firmwareWrite(kCan1 + kCmr, 0x21);
  EXPECT_EQ(CanBus::instance().eventState(1), CanEventState::Consumed);
}

TEST_F(CanController, SelfReceptionWithTheAcceptanceIdLoopsTheFrameBackAndIcrSaysTransmitted) {
  host.declareFirmwareVariables(0);
  ASSERT_EQ(confirmPort(1, folder.dir(), "1234").error, "");
  loadBuffer1(kCan1, 0x80080000, 1234, 0xCAFEF00D, 0x0BADC0DE);
  host.setReg(kCan1 + kMod, 0);
  host.firmwareWrite(kCan1 + kCmr, 0x31);
  EXPECT_EQ(host.reg(kCan1 + kRfs), 0x80080000u);
  EXPECT_EQ(host.reg(kCan1 + kRid), 1234u);
  EXPECT_EQ(host.reg(kCan1 + kRda), 0xCAFEF00Du);
  EXPECT_EQ(host.reg(kCan1 + kRdb), 0x0BADC0DEu);
  EXPECT_EQ(host.reg(kCan1 + kMod) & 1, 1u);
  EXPECT_EQ(host.pends(), 1);
  EXPECT_TRUE(fs::is_empty(folder.dir() + "data"));  // nothing goes on the bus
  EXPECT_EQ(host.firmwareReadsIcr(kCan1), 2);
}

TEST_F(CanController, SelfReceptionWithAcceptAllTakesNo29BitIdentifier) {
  ASSERT_EQ(confirmPort(1, folder.dir(), std::to_string(kAcceptAllId)).error, "");
  for (uint32_t id : {0u, 5u, 0x7FFu, 0x1FFFFFFFu, 0x12345678u}) {
    loadBuffer1(kCan1, 0x80000000, id, 1, 2);
    host.setReg(kCan1 + kRid, 0xAAAA);
    for (uint32_t command : {0x31u, 0x51u, 0x91u}) {
      if (command != 0x31) host.setReg(kCan1 + kTfi1 + (command == 0x51 ? 0x10 : 0x20) + 4, id);
      host.firmwareWrite(kCan1 + kCmr, command);
    }
    EXPECT_EQ(host.reg(kCan1 + kRid), 0xAAAAu) << id;
  }
  EXPECT_EQ(host.pends(), 0);
  EXPECT_EQ(CanBus::instance().eventState(1), CanEventState::Transmitted);
}

TEST_F(CanController, DeliveryFillsReceiveRegistersPendsIrq25AndIcrSaysReceivedOnce) {
  host.declareFirmwareVariables(0);
  CanBus::instance().deliverReceivedFrame(2, 0x00080000, 5, 0x11, 0x22);
  EXPECT_EQ(host.reg(kCan2 + kRfs), 0x00080000u);
  EXPECT_EQ(host.reg(kCan2 + kRid), 5u);
  EXPECT_EQ(host.reg(kCan2 + kRda), 0x11u);
  EXPECT_EQ(host.reg(kCan2 + kRdb), 0x22u);
  EXPECT_EQ(host.reg(kCan2 + kMod) & 1, 1u);
  EXPECT_EQ(host.reg(kIspr0), 1u << 25);
  EXPECT_EQ(host.firmwareReadsIcr(kCan1), 0xEE);  // the other port has nothing to say
  EXPECT_EQ(host.firmwareReadsIcr(kCan2), 1);
  EXPECT_EQ(host.firmwareReadsIcr(kCan2), 0xEE);
}

TEST_F(CanController, BitTimingReferenceIsTheLow10BitsOfResultWhenTheFirmwareHasIt) {
  CanBus& b = CanBus::instance();
  uint32_t before = b.bitTimingReference(1);
  host.firmwareWrite(kCan1 + kBtr, 0x1C0013);  // no symbol result: unchanged
  EXPECT_EQ(b.bitTimingReference(1), before);
  host.declareFirmwareVariables(0x001C0413);
  host.firmwareWrite(kCan1 + kBtr, 0x1C0013);
  EXPECT_EQ(b.bitTimingReference(1), 0x013u);
  host.setWord(kResultAddress, 0);
  CanBus::bitTimingWritten(kCan1 + kBtr, AGSIWRITE);  // the debugger's write, not the firmware's
  EXPECT_EQ(b.bitTimingReference(1), 0x013u);
  host.firmwareWrite(kCan2 + kBtr, 0);
  EXPECT_EQ(b.bitTimingReference(2), 0u);
  EXPECT_EQ(b.bitTimingReference(1), 0x013u);
}

}  // namespace
}  // namespace quillon
