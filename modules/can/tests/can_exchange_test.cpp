// Receiving through the exchange folder: what a port's frame watcher delivers for the files that
// other instances (and other programs) put there, the colour broadcast, and the watchers'
// lifetime.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "can_bus.h"
#include "can_files.h"
#include "can_test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using namespace testing;

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class CanExchange : public ::testing::TestWithParam<bool> {
 protected:
  TempFolder folder;  // outlives the watchers that the bus ends
  FakeCanHost host;
  BusFixture bus;
  void SetUp() override {
    CanBus::instance().setForcePolling(GetParam());
    host.declareFirmwareVariables(0x13);
    host.firmwareWrite(kCan1 + kBtr, 0x1C0013);  // reference 0x13, as the frames below
  }
  Frame frame(uint32_t info, uint32_t id) { return Frame{info, id, 0xA1A2A3A4, 0xB1B2B3B4, 0x001C0013}; }
};

TEST_P(CanExchange, AcceptedFrameLandsOnceAndItsDeletionDeliversNothing) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), "5").frameWatcherStarted);
  dropFrames(folder.dir(), {frame(0x00080000, 5)});
  auto seen = bus.awaitDeliveries(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(host.reg(kCan1 + kRid), 5u);
  EXPECT_EQ(host.reg(kCan1 + kRda), 0xA1A2A3A4u);
  EXPECT_EQ(host.reg(kCan1 + kRdb), 0xB1B2B3B4u);
  EXPECT_EQ(host.reg(kCan1 + kRfs), 0x00080000u);
  EXPECT_EQ(host.pends(), 1);
  fs::remove(frameFileName(folder.dir(), 5));
  EXPECT_EQ(bus.awaitDeliveries(2, 0, 200).size(), 1u);
  EXPECT_EQ(host.firmwareReadsIcr(kCan1), 1);
}

TEST_P(CanExchange, OtherIdentifiersAreNotAccepted) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), "5").frameWatcherStarted);
  dropFrames(folder.dir(), {frame(0x00080000, 6)});
  EXPECT_TRUE(bus.awaitDeliveries(1, 0, 200).empty());
}

TEST_P(CanExchange, TwoFramesAtOneWakeUpDeliverTheLowerIdentifierToAcceptAll) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), std::to_string(kAcceptAllId)).frameWatcherStarted);
  // Both files must be there when the receiver looks; a busy machine may pause this thread
  // between the two renames for longer than the receiver waits, so a few tries are allowed.
  for (int attempt = 0; attempt < 5; ++attempt) {
    bus.forget();
    dropFrames(folder.dir(), {frame(0x00080000, 0x123), frame(0x00080000, 0x100)});
    auto seen = bus.awaitDeliveries(1);
    fs::remove(frameFileName(folder.dir(), 0x123));
    fs::remove(frameFileName(folder.dir(), 0x100));
    ASSERT_FALSE(seen.empty());
    if (seen.size() == 2) continue;  // they came at two wake-ups
    EXPECT_EQ(seen[0].identifier, 0x100u);
    return;
  }
  FAIL() << "the two frames never arrived at one wake-up";
}

TEST_P(CanExchange, FrameWithoutInformationKeepsOnly11BitsOfItsIdentifier) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), "0").frameWatcherStarted);
  dropFrames(folder.dir(), {frame(0, 0x800)});
  auto seen = bus.awaitDeliveries(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(host.reg(kCan1 + kRid), 0u);
}

TEST_P(CanExchange, FramesOneAfterAnotherUnderOneNameAreEachDeliveredOnce) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), "5").frameWatcherStarted);
  for (uint32_t i = 0; i < 5; ++i) {
    Frame f = frame(0x00080000, 5);
    f.dataA = i;
    dropFrames(folder.dir(), {f});
    sleepMs(25);
    fs::remove(frameFileName(folder.dir(), 5));
    sleepMs(i % 2 ? 1 : 12);  // the next one sometimes before the receiver saw the deletion
  }
  EXPECT_EQ(bus.awaitDeliveries(5).size(), 5u);
  EXPECT_EQ(host.reg(kCan1 + kRda), 4u);
}

TEST_P(CanExchange, ForeignFilesAreNeverFramesAndHangNothing) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), std::to_string(kAcceptAllId)).frameWatcherStarted);
  std::string data = folder.dir() + "data/";
  writeTextFile(data + "tmp.txt", "");
  writeTextFile(data + "notes.txt", "hello\nworld");
  writeTextFile(data + "canDataId9.txt", "1\n9\n");
  writeTextFile(data + "big.txt", std::string(1 << 20, '7'));
  ASSERT_EQ(::mkfifo((data + "pipe").c_str(), 0600), 0);
  fs::create_directory(data + "sub");
  EXPECT_TRUE(bus.awaitDeliveries(1, 0, 200).empty());
  dropFrames(folder.dir(), {frame(0x00080000, 0x42)});  // still working
  auto seen = bus.awaitDeliveries(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].identifier, 0x42u);
}

TEST_P(CanExchange, AFileCaughtHalfWrittenIsReadAgainWhenComplete) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), "5").frameWatcherStarted);
  std::string name = frameFileName(folder.dir(), 5);
  std::ofstream out(name);
  out << "524288\n5\n" << std::flush;
  EXPECT_TRUE(bus.awaitDeliveries(1, 0, 60).empty());
  out << "7\n8\n19" << std::flush;
  out.close();
  auto seen = bus.awaitDeliveries(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(host.reg(kCan1 + kRda), 7u);
}

TEST_P(CanExchange, MismatchedBitTimingTurnsTheFrameIntoNoise) {
  ASSERT_TRUE(confirmPort(1, folder.dir(), std::to_string(kAcceptAllId)).frameWatcherStarted);
  Frame f{0x80080000, 0x1ABCDEF, 0xDEADBEEF, 0xFEEDFACE, 0x001C0014};
  dropFrames(folder.dir(), {f});
  ASSERT_EQ(bus.awaitDeliveries(1).size(), 1u);
  EXPECT_LT(host.reg(kCan1 + kRid), 0x8000u);
  EXPECT_LT(host.reg(kCan1 + kRda), 0x8000u);
  EXPECT_LT(host.reg(kCan1 + kRdb), 0x8000u);
  EXPECT_LT(host.reg(kCan1 + kRfs), 0x8000u);
}

TEST_P(CanExchange, BitTimingReferenceZeroAcceptsAnyTiming) {
  host.setWord(kResultAddress, 0);
  host.firmwareWrite(kCan1 + kBtr, 0);
  ASSERT_TRUE(confirmPort(1, folder.dir(), "5").frameWatcherStarted);
  dropFrames(folder.dir(), {Frame{0x00080000, 5, 0xDEADBEEF, 0, 0x3FF}});
  ASSERT_EQ(bus.awaitDeliveries(1).size(), 1u);
  EXPECT_EQ(host.reg(kCan1 + kRda), 0xDEADBEEFu);
}

TEST_P(CanExchange, ColourFromAnotherInstanceReachesTheSinkOnce) {
  std::mutex lock;
  std::vector<std::pair<int, uint32_t>> shown;
  CanBus::instance().setColourSink([&](int port, uint32_t colour) {
    std::lock_guard g(lock);
    shown.emplace_back(port, colour);
  });
  PortOutcome out = confirmPort(2, folder.dir(), "5", 0x00FF00);
  EXPECT_TRUE(out.colourWatcherStarted);
  {
    std::lock_guard g(lock);
    ASSERT_EQ(shown.size(), 1u);  // its own colour, at confirmation
    EXPECT_EQ(shown[0], std::make_pair(2, 0x00FF00u));
  }
  writeTextFile(colourFileName(folder.dir()), "255");
  sleepMs(100);
  fs::remove(colourFileName(folder.dir()));
  sleepMs(50);
  std::lock_guard g(lock);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1], std::make_pair(2, 255u));
  EXPECT_EQ(CanBus::instance().port(2).colour, 255u);
}

INSTANTIATE_TEST_SUITE_P(NotifiedAndPolled, CanExchange, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Polling" : "Notified"; });

class CanConfirmation : public ::testing::Test {
 protected:
  TempFolder folder;  // outlives the watchers that the bus ends
  FakeCanHost host;
  BusFixture bus;
};

TEST_F(CanConfirmation, WatchersStartOncePerDirectoryChangeSoAFrameLandsOnce) {
  host.declareFirmwareVariables(0);
  host.firmwareWrite(kCan1 + kBtr, 0);
  PortOutcome first = confirmPort(1, folder.dir(), "5");
  EXPECT_TRUE(first.frameWatcherStarted);
  EXPECT_TRUE(first.colourWatcherStarted);
  std::string texts[2] = {"5", "-1"};
  PortOutcome again[2];
  CanBus::instance().confirm(texts, again);
  EXPECT_FALSE(again[0].frameWatcherStarted);
  EXPECT_FALSE(again[0].colourWatcherStarted);
  dropFrames(folder.dir(), {Frame{0x00080000, 5, 1, 2, 0}});
  EXPECT_EQ(bus.awaitDeliveries(1).size(), 1u);
}

TEST_F(CanConfirmation, SameDirectoryStartsNothingAndANewAcceptanceIdOnlyTheFrameWatcher) {
  confirmPort(1, folder.dir(), "5");
  CanBus& b = CanBus::instance();
  EXPECT_FALSE(b.pickDirectory(1, folder.dir()));
  std::string same[2] = {"5", "-1"}, other[2] = {"6", "-1"};
  PortOutcome out[2];
  b.confirm(same, out);
  EXPECT_FALSE(out[0].frameWatcherStarted || out[0].colourWatcherStarted);
  b.confirm(other, out);
  EXPECT_TRUE(out[0].frameWatcherStarted);
  EXPECT_FALSE(out[0].colourWatcherStarted);
  EXPECT_EQ(b.port(1).acceptanceId, 6u);
}

TEST_F(CanConfirmation, MinusOneDisabledOrUnchosenPortsAreSkipped) {
  EXPECT_TRUE(confirmPort(1, folder.dir(), "-1").skipped);
  EXPECT_FALSE(fs::exists(folder.dir() + "data"));
  CanBus& b = CanBus::instance();
  b.setEnabled(2, true);  // enabled, but its directory was never picked: "/" stays untouched
  std::string texts[2] = {"-1", "5"};
  PortOutcome out[2];
  b.confirm(texts, out);
  EXPECT_TRUE(out[1].skipped);
  EXPECT_EQ(b.port(2).directory, "/");
}

TEST_F(CanConfirmation, AcceptanceTextIsSignAndDigitsAndElseZero) {
  EXPECT_FALSE(confirmPort(1, folder.dir(), "12abc").skipped);
  EXPECT_EQ(CanBus::instance().port(1).acceptanceId, 12u);
  CanBus::instance().pickDirectory(1, folder.dir() + "b");
  confirmPort(1, folder.dir() + "b", "abc");
  EXPECT_EQ(CanBus::instance().port(1).acceptanceId, 0u);
}

TEST_F(CanConfirmation, AFolderThatCannotBePreparedSaysSoAndStartsNoWatcher) {
  writeTextFile(folder.dir() + "file", "x");
  PortOutcome out = confirmPort(1, folder.dir() + "file/", "5");
  EXPECT_FALSE(out.error.empty());
  EXPECT_FALSE(out.frameWatcherStarted || out.colourWatcherStarted);
}

TEST_F(CanConfirmation, ClosingWakesOnlyChosenFoldersAndEndsTheWatchers) {
  host.declareFirmwareVariables(0);
  host.firmwareWrite(kCan1 + kBtr, 0);
  confirmPort(1, folder.dir(), std::to_string(kAcceptAllId));
  CanBus::instance().closeBoard();
  EXPECT_FALSE(CanBus::instance().port(1).enabled);
  EXPECT_FALSE(fs::exists("/data/tmp.txt"));
  dropFrames(folder.dir(), {Frame{0x00080000, 5, 1, 2, 0}});
  EXPECT_TRUE(bus.awaitDeliveries(1, 0, 150).empty());  // nobody is watching any more
}

TEST_F(CanConfirmation, AWatcherWhoseFolderVanishesEndsAloneWithAMessage) {
  confirmPort(1, folder.dir(), "5");
  ::testing::internal::CaptureStdout();
  fs::remove_all(folder.dir() + "data");
  sleepMs(100);
  std::string said = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(said.find("\n ERROR: FindNextChangeNotification function failed.\n"), std::string::npos) << said;
  // The process and the other port go on; confirming a new folder watches again.
  TempFolder next;
  EXPECT_TRUE(confirmPort(1, next.dir(), "5").frameWatcherStarted);
}

}  // namespace
}  // namespace quillon
