// Timer scaling played through the real core: the firmware writes "ScaleFlag" and the timers'
// match registers, the core rewrites the match values.
#include "plugin_fixture.h"

namespace korvel::test {
namespace {

constexpr uint32_t kScaleFlag = 0x10000040;
constexpr uint32_t kT0MR0 = 0x40004018;
constexpr uint32_t kT1MR0 = 0x40008018;
constexpr uint32_t kRICOMPVAL = 0x400B0000;

class TimerScaling : public PluginTest {
 protected:
  void start(const std::string& ini) {
    tree.writeIni(ini);
    load();
    ASSERT_EQ(host.init(), 1u);
    host.addSymbol("ScaleFlag", kScaleFlag);
    ASSERT_EQ(host.reset(), 1u) << "arming needs the ScaleFlag symbol";
    getScaleFlag = coreExport<double (*)()>("getScaleFlag");
    ASSERT_NE(getScaleFlag, nullptr);
    host.clearMessages();
  }
  void writeFlag(uint8_t value) { host.firmwareWrite(kScaleFlag, value, 1); }
  double (*getScaleFlag)() = nullptr;
};

const char* kCustomTwo = "SCALE_CUSTOM=1\nSCALE_CUSTOM_VALUE=2.0\nSCALE_TIM0=1\nSCALE_TIM1=0\nSCALE_RIT=1\n";

TEST_F(TimerScaling, ACustomFactorAppliesAtTheEndOfTheMeasurementAndRoundsUp) {
  start(kCustomTwo);
  host.firmwareWrite(kT0MR0, 123);
  EXPECT_EQ(host.peek(kT0MR0), 123u) << "no factor yet, nothing rewritten";
  writeFlag(1);
  EXPECT_EQ(getScaleFlag(), 0.0);
  writeFlag(0);
  EXPECT_EQ(getScaleFlag(), 2.0);
  EXPECT_EQ(host.output(), "Scaling factor (custom): 2.000000\n");
  host.firmwareWrite(kT0MR0, 123);
  EXPECT_EQ(host.peek(kT0MR0), 62u);
  host.firmwareWrite(kRICOMPVAL, 1000);
  EXPECT_EQ(host.peek(kRICOMPVAL), 500u);
}

TEST_F(TimerScaling, RepeatedFlagValuesAndDisabledTimersAreLeftAlone) {
  start(kCustomTwo);
  writeFlag(1);
  writeFlag(0);
  host.clearMessages();
  writeFlag(0);
  EXPECT_TRUE(host.output().empty()) << "the same flag value twice has no effect";
  host.firmwareWrite(kT1MR0, 123);
  EXPECT_EQ(host.peek(kT1MR0), 123u) << "SCALE_TIM1 is off";
}

TEST_F(TimerScaling, AResetStopsRewritingUntilANewFactorIsSet) {
  start(kCustomTwo);
  writeFlag(1);
  writeFlag(0);
  ASSERT_EQ(host.reset(), 1u);
  EXPECT_EQ(getScaleFlag(), 0.0);
  host.firmwareWrite(kT0MR0, 123);
  EXPECT_EQ(host.peek(kT0MR0), 123u);
}

TEST_F(TimerScaling, AMeasuredFactorIsRealTimeOverSimulatedTime) {
  start("SCALE_TIM0=1\n");
  host.setTime(1.0);
  writeFlag(1);
  writeFlag(2);  // no simulated time has passed: the factor stays unset
  EXPECT_EQ(getScaleFlag(), 0.0);
  writeFlag(1);
  platform::sleepMillis(2);  // real time well beyond the one simulated microsecond below
  host.setTime(1.000001);
  writeFlag(0);
  double factor = getScaleFlag();
  EXPECT_GT(factor, 1.0);
  EXPECT_EQ(host.output().rfind("Scaling factor: ", 0), 0u) << host.output();
  host.firmwareWrite(kT0MR0, 0xFFFFFFFF);
  EXPECT_LT(host.peek(kT0MR0), 0xFFFFFFFFu);
}

TEST_F(TimerScaling, WritesThatAreNotTheFirmwaresOwnAreNotScaled) {
  start(kCustomTwo);
  writeFlag(1);
  writeFlag(0);
  // The user edits the register in a debugger window: the watch fires, but not for the firmware.
  host.debuggerWrite(kT0MR0, 123);
  EXPECT_EQ(host.peek(kT0MR0), 123u) << "a debugger write was rescaled";
  host.firmwareWrite(kT0MR0, 123);
  EXPECT_EQ(host.peek(kT0MR0), 62u) << "the firmware's own write is still rescaled";
}

TEST_F(TimerScaling, TheCoresOwnRewriteIsNotRescaledWhenItFiresTheWatchAgain) {
  start(kCustomTwo);
  writeFlag(1);
  writeFlag(0);
  // A simulator that reports every change of a watched register calls the handler again for
  // the core's own write: that one must be ignored, or 123 would be halved again and again.
  host.host().setPluginWritesFireWatches(true);
  host.firmwareWrite(kT0MR0, 123);
  EXPECT_EQ(host.peek(kT0MR0), 62u);
  host.firmwareWrite(kRICOMPVAL, 1000);
  EXPECT_EQ(host.peek(kRICOMPVAL), 500u);
  host.firmwareWrite(kT0MR0, 7);
  EXPECT_EQ(host.peek(kT0MR0), 4u) << "the handler works again after its own write";
}

TEST_F(TimerScaling, AFactorBelowOneStretchesMatchValuesAndKeepsTheLow32Bits) {
  start("SCALE_CUSTOM=1\nSCALE_CUSTOM_VALUE=0.5\nSCALE_TIM0=1\nSCALE_RIT=1\n");
  writeFlag(1);
  writeFlag(0);
  EXPECT_EQ(getScaleFlag(), 0.5);
  host.firmwareWrite(kT0MR0, 123);
  EXPECT_EQ(host.peek(kT0MR0), 246u) << "a slow simulator doubles the counts";
  host.firmwareWrite(kT0MR0, 0xFFFFFFFF);
  EXPECT_EQ(host.peek(kT0MR0), 0xFFFFFFFEu) << "8589934590 truncated to its low 32 bits";
  host.firmwareWrite(kRICOMPVAL, 0x80000001);
  EXPECT_EQ(host.peek(kRICOMPVAL), 2u) << "0x100000002 truncated to its low 32 bits";
}

TEST_F(TimerScaling, AFractionalFactorBelowOneRoundsUp) {
  start("SCALE_CUSTOM=1\nSCALE_CUSTOM_VALUE=0.3\nSCALE_TIM0=1\n");
  writeFlag(1);
  writeFlag(0);
  host.firmwareWrite(kT0MR0, 100);
  // 100 / 0.3 (as a float setting, 0.30000001) = 333.33: the next integer up.
  EXPECT_EQ(host.peek(kT0MR0), 334u);
}

}  // namespace
}  // namespace korvel::test
