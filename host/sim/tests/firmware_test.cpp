// Our own tiny firmware run on the simulator, checked by what it prints and its exit status.
#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <string>
#include <vector>

#include "agsi_host/functions.h"
#include "checksum_kernel.h"
#include "korvel_sim/simulator.h"

namespace {

using korvel::sim::Simulator;
using korvel::sim::StopReason;

std::string firmware(const std::string& name) { return std::string(KORVEL_FIRMWARE_DIR) + "/" + name + ".elf"; }

struct FirmwareResult {
  StopReason reason;
  std::optional<int> status;
  std::vector<std::string> lines;
};

FirmwareResult runFirmware(const std::string& name, double seconds = 2.0) {
  agsi_host::Host::instance().clear();
  Simulator sim;
  sim.setRealTime(false);
  FirmwareResult run;
  sim.setOutput([&](const std::string& l) { run.lines.push_back(l); });
  std::string error;
  EXPECT_TRUE(sim.loadFirmware(firmware(name), &error)) << error;
  run.reason = sim.runFor(seconds);
  run.status = sim.exitStatus();
  return run;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (auto& l : lines) s += l + "\n";
  return s;
}

TEST(FirmwareRun, PrintsOnSemihostingAndUartAndExitsWithItsStatus) {
  FirmwareResult run = runFirmware("hello");
  ASSERT_EQ(run.reason, StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(joined(run.lines), "hello from semihosting\nhello from UART0\n");
}

TEST(FirmwareRun, ExceptionsEnterReturnPreemptAndRespectPrimask) {
  FirmwareResult run = runFirmware("interrupts");
  ASSERT_EQ(run.reason, StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.status, 0) << "the firmware reports the failed step as its status\n" << joined(run.lines);
}

TEST(FirmwareRun, UndefinedInstructionStopsWithFaultPcAndRegisters) {
  FirmwareResult run = runFirmware("fault");
  ASSERT_EQ(run.reason, StopReason::Fault) << joined(run.lines);
  std::string out = joined(run.lines);
  EXPECT_NE(out.find("about to fault"), std::string::npos) << out;
  EXPECT_NE(out.find("Firmware fault: undefined instruction at PC 0x"), std::string::npos) << out;
  EXPECT_NE(out.find("r0="), std::string::npos) << out;
  EXPECT_NE(out.find("pc="), std::string::npos) << out;
}

TEST(FirmwareRun, InterruptedComputationMatchesOneUninterruptedRun) {
  // Thousands of stops and interrupt entries land mid-block; an instruction run twice or
  // skipped changes the checksum (or crashes the firmware).
  FirmwareResult run = runFirmware("checksum", 5.0);
  ASSERT_EQ(run.reason, StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 1u) << joined(run.lines);
  std::string expected = "checksum " + std::to_string(checksum_run(CHECKSUM_ROUNDS)) + " interrupts ";
  EXPECT_EQ(run.lines[0].substr(0, expected.size()), expected) << joined(run.lines);
  unsigned long interrupts = std::stoul(run.lines[0].substr(run.lines[0].rfind(' ') + 1));
  EXPECT_GT(interrupts, 10000u) << "the run must really be interrupted often";
}

TEST(FirmwareRun, SchedulerStartsItsFirstTaskOnTheProcessStackAndSwitchesBetweenTwo) {
  FirmwareResult run = runFirmware("scheduler");
  ASSERT_EQ(run.reason, StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.status, 0) << "the number of failed checks\n" << joined(run.lines);
  EXPECT_EQ(joined(run.lines),
            "task A step 0\ntask B step 0\ntask A step 1\ntask B step 1\ntask A step 2\ntask B step 2\n"
            "both tasks done\n");
}

TEST(FirmwareRun, AdcReadsTheAinVoltagePolledAndByInterruptAndTheDacDrivesAout) {
  agsi_host::Host::instance().clear();
  AgsiDefineVTR("AIN5", AGSIVTRFLOAT, std::bit_cast<uint32_t>(1.0f));
  AgsiDefineVTR("AOUT", AGSIVTRFLOAT, 0);
  Simulator sim;
  sim.setRealTime(false);
  std::vector<std::string> lines;
  sim.setOutput([&](const std::string& l) { lines.push_back(l); });
  std::string error;
  ASSERT_TRUE(sim.loadFirmware(firmware("adc_dac"), &error)) << error;
  ASSERT_EQ(sim.runFor(1.0), StopReason::Exited) << joined(lines);
  EXPECT_EQ(sim.exitStatus(), 0) << "the failed step\n" << joined(lines);
  EXPECT_EQ(joined(lines), "AD0.5 polled 1241 interrupt 1241\n") << "1.0 V of 3.3 V in 12 bits";
  auto aout = agsi_host::Host::instance().readVtr("AOUT");
  ASSERT_TRUE(aout);
  EXPECT_NEAR(std::bit_cast<float>(*aout), 310 * 3.3 / 1024, 1e-5) << "1241 >> 2 on the 10-bit DAC";
}

}  // namespace
