// Our own tiny firmware run on the simulator, checked by what it prints and its exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
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

FirmwareResult runFirmware(const std::string& name, double seconds = 2.0,
                           std::function<void(Simulator&)> setUp = nullptr) {
  agsi_host::Host::instance().clear();
  Simulator sim;
  sim.setRealTime(false);
  if (setUp) setUp(sim);
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

TEST(FirmwareRun, FaultsReachTheFirmwaresHandlersWithTheChipsStatusBits) {
  FirmwareResult run = runFirmware("faults");
  ASSERT_EQ(run.reason, StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.status, 0);
  // HardFault while BusFault and UsageFault are disabled (FORCED), then their own handlers;
  // each handler clears CFSR/HFSR by writing ones, so no bit carries over to the next case.
  EXPECT_EQ(joined(run.lines),
            "bus read, BusFault disabled\n"
            "exception 3 CFSR=00008200 HFSR=40000000 BFAR=A0000000\n"
            "undefined instruction, UsageFault disabled\n"
            "exception 3 CFSR=00010000 HFSR=40000000\n"
            "bus read\n"
            "exception 5 CFSR=00008200 HFSR=00000000 BFAR=A0000000\n"
            "undefined instruction\n"
            "exception 6 CFSR=00010000 HFSR=00000000\n"
            "divide by zero without DIV_0_TRP gives 0\n"
            "divide by zero\n"
            "exception 6 CFSR=02000000 HFSR=00000000\n"
            "done\n");
}

TEST(FirmwareRun, AFaultInTheHardFaultHandlerIsLockupNamingTheHandlerAndTheFirstFault) {
  FirmwareResult run = runFirmware("fault");
  ASSERT_EQ(run.reason, StopReason::Fault) << joined(run.lines);
  std::string out = joined(run.lines);
  EXPECT_NE(out.find("about to fault\nin the HardFault handler\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Firmware fault: read from unmapped address 0xA0000000 at PC 0x"), std::string::npos) << out;
  EXPECT_NE(out.find("(lockup: a fault in the HardFault handler)"), std::string::npos) << out;
  EXPECT_NE(out.find("  #0 0x"), std::string::npos) << out;
  EXPECT_NE(out.find(" in HardFault_Handler+0x"), std::string::npos) << out;
  EXPECT_NE(out.find(" in main+0x"), std::string::npos) << "the stacked PC names where the first fault was\n" << out;
  EXPECT_NE(out.find("CFSR=00018200 HFSR=40000000"), std::string::npos) << out;
  EXPECT_NE(out.find("sp="), std::string::npos) << out;
}

TEST(FirmwareRun, AFaultWhoseHandlerOnlySpinsEndsTheRunAtTheFault) {
  FirmwareResult run = runFirmware("fault_spin", 5.0);
  ASSERT_EQ(run.reason, StopReason::Fault) << joined(run.lines);
  std::string out = joined(run.lines);
  EXPECT_NE(out.find("Firmware fault: undefined instruction at PC 0x"), std::string::npos) << out;
  EXPECT_NE(out.find("its handler is an endless loop; exception 3"), std::string::npos) << out;
  EXPECT_NE(out.find("  #0 0x"), std::string::npos) << out;
  EXPECT_NE(out.find(" in main+0x"), std::string::npos) << "the faulting instruction's function\n" << out;
}

TEST(FirmwareRun, FirmwareWithoutAVectorTableAtZeroIsRefusedWithAHint) {
  // Only a reset vector of 0 or all ones tells: a program linked elsewhere leaves flash erased.
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "korvel_fault_hint";
  std::filesystem::create_directories(dir);
  std::filesystem::path copy = dir / "linked_elsewhere.elf";
  std::ifstream in(firmware("hello"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Blank the reset vector in the file, found as the initial stack pointer followed by it.
  agsi_host::Host::instance().clear();
  Simulator probe;
  std::string error;
  ASSERT_TRUE(probe.loadFirmware(firmware("hello"), &error)) << error;
  uint8_t vec[8];
  ASSERT_TRUE(probe.read(0, 8, vec));
  size_t at = bytes.find(std::string(reinterpret_cast<char*>(vec), 8));
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at + 4, 4, std::string(4, '\xFF'));
  std::ofstream(copy, std::ios::binary) << bytes;
  Simulator sim;
  EXPECT_FALSE(sim.loadFirmware(copy, &error));
  EXPECT_NE(error.find("linked_elsewhere.elf is not linked for the LPC17xx flash at address 0 (its code starts at 0x00000000): "
                       "link it with a linker script that puts the vector table at 0, e.g. firmware/template/lpc1768.ld"),
            std::string::npos)
      << error;
  std::filesystem::remove_all(dir);
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

TEST(FirmwareRun, AbsentBusDevicesAnswerAndTheWatchdogResetsTheChipLeavingItsFlags) {
  // I2C0 NACKs, SPI and SSP0 answer all ones, the RTC counts; then the unfed watchdog resets
  // the chip and the second boot finds WDTOF and RSID's watchdog bit.
  std::vector<std::pair<uint32_t, bool>> unmodelled;
  FirmwareResult run = runFirmware("buses", 3.0, [&](Simulator& sim) {
    sim.setTraceUnmodelled([&](uint32_t address, bool write) { unmodelled.emplace_back(address, write); });
  });
  ASSERT_EQ(run.reason, StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.status, 0) << "the firmware reports the failed step as its status\n" << joined(run.lines);
  EXPECT_EQ(joined(run.lines), "watchdog fed\nwatchdog reset\n");
  // The firmware reads USBDevIntSt twice (and every other register it uses has a model).
  EXPECT_EQ(unmodelled, (std::vector<std::pair<uint32_t, bool>>{{0x5000C200, false}}));
}

TEST(FirmwareRun, SchedulerStartsItsFirstTaskOnTheProcessStackAndSwitchesBetweenTwo) {
  FirmwareResult run = runFirmware("scheduler");
  ASSERT_EQ(run.reason, StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.status, 0) << "the number of failed checks\n" << joined(run.lines);
  EXPECT_EQ(joined(run.lines),
            "task A step 0\ntask B step 0\ntask A step 1\ntask B step 1\ntask A step 2\ntask B step 2\n"
            "both tasks done\n");
}

// The echo firmware receives and sends through interrupts and ring buffers (receive trigger
// level 8, so short lines arrive through the character time-out).
struct EchoRun {
  Simulator sim;
  std::vector<std::string> lines;
  EchoRun() {
    agsi_host::Host::instance().clear();
    sim.setRealTime(false);
    sim.setOutput([this](const std::string& l) { lines.push_back(l); });
    std::string error;
    EXPECT_TRUE(sim.loadFirmware(firmware("uart_echo"), &error)) << error;
    EXPECT_EQ(sim.runFor(0.01), StopReason::TimeLimit) << joined(lines);
  }
  void type(const std::string& bytes) {
    for (char c : bytes) ASSERT_TRUE(sim.uartInput(0, uint8_t(c)));
  }
};

TEST(UartFirmware, EchoesTypedLinesThroughInterruptsAndEndsOnCtrlD) {
  EchoRun run;
  ASSERT_EQ(joined(run.lines), "uart echo ready\n") << "the banner went out by the THRE interrupt";
  run.type("hello\n");
  run.sim.runFor(0.005);
  EXPECT_EQ(joined(run.lines), "uart echo ready\nhello\n") << "a 6-byte line, under the trigger level";
  // Longer than both FIFOs and the rings, typed at full line speed: nothing is lost.
  std::string longLine;
  for (int i = 0; i < 200; ++i) longLine += char('a' + i % 26);
  run.type(longLine + "\n" + std::string("nul\0inside\n", 11) + "\x04");
  EXPECT_EQ(run.sim.runFor(1.0), StopReason::Exited) << joined(run.lines);
  EXPECT_EQ(run.sim.exitStatus(), 0);
  EXPECT_EQ(joined(run.lines), "uart echo ready\nhello\n" + longLine + "\nnulinside\nbye\n")
      << "a NUL drops out of the line; what follows it stays";
}

TEST(UartFirmware, EchoTakesOneCharacterTimeEachWayAtTheFirmwaresBaudRate) {
  EchoRun run;
  // 25 MHz / (16 * 14) baud, 10 bits a character: 89.6 us.
  const double character = 10.0 * 16 * 14 / 25e6;
  std::string sent;
  run.sim.setUartSink(0, [&](uint8_t b) { sent += char(b); });
  run.type(std::string(100, 'x'));
  double start = run.sim.seconds();
  while (sent.size() < 100 && run.sim.seconds() - start < 0.1) run.sim.runFor(character / 10);
  double took = run.sim.seconds() - start;
  ASSERT_EQ(sent, std::string(100, 'x'));
  // The first echo waits for the receive trigger level (8 bytes); from then on the
  // transmitter never idles: 8 + 100 character times.
  EXPECT_GT(took, 108 * character * 0.99);
  EXPECT_LT(took, 108 * character * 1.01 + character / 10);
  EXPECT_EQ(run.lines, std::vector<std::string>{"uart echo ready"}) << "a sink on UART0 takes its text";
  run.sim.setUartSink(0, nullptr);
  run.type("back\n");
  run.sim.runFor(0.005);
  EXPECT_EQ(run.lines.back(), "back") << "without a sink the text is on the output lines again";
}

TEST(UartFirmware, AMonitorSeesEveryByteWhileTheTextStaysOnTheLinesOrGoesToTheSink) {
  agsi_host::Host::instance().clear();
  Simulator sim;
  sim.setRealTime(false);
  std::vector<std::string> lines;
  sim.setOutput([&](const std::string& l) { lines.push_back(l); });
  std::string seen, sunk;
  for (int n = 0; n < 4; ++n) EXPECT_FALSE(sim.uartUsed(n));
  sim.setUartMonitor(0, [&](uint8_t b) { seen += char(b); });
  std::string error;
  ASSERT_TRUE(sim.loadFirmware(firmware("uart_echo"), &error)) << error;
  sim.runFor(0.01);
  EXPECT_TRUE(sim.uartUsed(0)) << "the firmware set UART0's baud rate";
  for (int n = 1; n < 4; ++n) EXPECT_FALSE(sim.uartUsed(n)) << "UART" << n << " was never touched";
  EXPECT_EQ(seen, "uart echo ready\n");
  EXPECT_EQ(joined(lines), "uart echo ready\n") << "a monitor takes nothing away from the output lines";
  sim.setUartSink(0, [&](uint8_t b) { sunk += char(b); });
  for (char c : std::string("a\0b\r\n", 5)) ASSERT_TRUE(sim.uartInput(0, uint8_t(c)));
  sim.runFor(0.01);
  EXPECT_EQ(seen, std::string("uart echo ready\na\0b\r\n", 21)) << "the monitor gets the raw bytes, NUL and CR too";
  EXPECT_EQ(sunk, std::string("a\0b\r\n", 5)) << "and so does a sink beside it";
  sim.resetChip();
  EXPECT_TRUE(sim.uartUsed(0)) << "a reset does not make a used UART unused again";
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

namespace {

// The line of a firmware source file holding `text` (1-based), 0 when none does.
int sourceLineOf(const std::string& file, const std::string& text) {
  std::ifstream in(std::string(KORVEL_FIRMWARE_SOURCE_DIR) + "/" + file);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n)
    if (line.find(text) != std::string::npos) return n;
  return 0;
}

// The firmware's loadable bytes from its ELF file, as one flat image from address 0 (all of our
// firmware's load addresses are in flash), and as Intel HEX.
std::vector<uint8_t> flatImage(const std::string& name) {
  korvel::sim::ElfImage image;
  std::string error;
  EXPECT_TRUE(korvel::sim::readElf(firmware(name), {{0, Simulator::kFlashSize, "flash"}}, &image, &error)) << error;
  std::vector<uint8_t> flat;
  for (const auto& s : image.segments) {
    if (flat.size() < s.address + s.bytes.size()) flat.resize(s.address + s.bytes.size(), 0xFF);
    std::copy(s.bytes.begin(), s.bytes.end(), flat.begin() + s.address);
  }
  return flat;
}
std::string hexOf(const std::vector<uint8_t>& flat) {
  std::string out;
  char b[80];
  for (size_t a = 0; a < flat.size(); a += 16) {
    if (a % 0x10000 == 0) {
      unsigned sum = 2 + 4 + (a >> 24) + ((a >> 16) & 0xFF);
      std::snprintf(b, sizeof b, ":02000004%04X%02X\n", unsigned(a >> 16), (0x100 - sum % 0x100) % 0x100);
      out += b;
    }
    size_t n = std::min<size_t>(16, flat.size() - a);
    std::snprintf(b, sizeof b, ":%02X%04X00", unsigned(n), unsigned(a & 0xFFFF));
    out += b;
    unsigned sum = unsigned(n) + ((a >> 8) & 0xFF) + (a & 0xFF);
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(b, sizeof b, "%02X", flat[a + i]);
      out += b;
      sum += flat[a + i];
    }
    std::snprintf(b, sizeof b, "%02X\n", (0x100 - sum % 0x100) % 0x100);
    out += b;
  }
  return out + ":00000001FF\n";
}

std::filesystem::path scratch(const std::string& name) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("korvel_loaders_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir / name;
}

}  // namespace

TEST(FirmwareFaultReport, NamesTheFunctionAndSourceLineInEveryDwarfVersion) {
  int undefined = sourceLineOf("fault_spin.c", ".short 0xDEFE");
  int puts = sourceLineOf("fault_spin.c", "sh_puts(\"about to fault");
  ASSERT_GT(undefined, 0);
  // fault_spin: the compiler's default (DWARF 3 line tables); the others as the assembler writes 4 and 5.
  for (const char* name : {"fault_spin", "fault_dwarf4", "fault_dwarf5"}) {
    SCOPED_TRACE(name);
    FirmwareResult run = runFirmware(name, 5.0);
    ASSERT_EQ(run.reason, StopReason::Fault) << joined(run.lines);
    std::string out = joined(run.lines);
    size_t at = out.find("  #0 0x");
    ASSERT_NE(at, std::string::npos) << out;
    std::string first = out.substr(at, out.find('\n', at) - at);
    EXPECT_NE(first.find(" in main+0x"), std::string::npos) << first;
    EXPECT_TRUE(first.ends_with(" at fault_spin.c:" + std::to_string(undefined))) << first;
    // LR is the return from sh_puts: its line is the call's, not the one after it.
    EXPECT_NE(out.find(" at fault_spin.c:" + std::to_string(puts) + " (LR)"), std::string::npos) << out;
  }
}

TEST(FirmwareFormats, HexAndBinaryFilesRunAsTheElfDoes) {
  std::vector<uint8_t> flat = flatImage("hello");
  ASSERT_GT(flat.size(), 0x100u);
  std::filesystem::path hex = scratch("hello.hex"), bin = scratch("hello.bin");
  std::ofstream(hex, std::ios::binary) << hexOf(flat);
  std::ofstream(bin, std::ios::binary).write(reinterpret_cast<const char*>(flat.data()), std::streamsize(flat.size()));
  for (const auto& file : {hex, bin}) {
    SCOPED_TRACE(file.string());
    agsi_host::Host::instance().clear();
    Simulator sim;
    sim.setRealTime(false);
    std::vector<std::string> lines;
    sim.setOutput([&](const std::string& l) { lines.push_back(l); });
    std::string error;
    ASSERT_TRUE(sim.loadFirmware(file, &error)) << error;
    ASSERT_EQ(sim.runFor(2.0), StopReason::Exited) << joined(lines);
    EXPECT_EQ(sim.exitStatus(), 7);
    EXPECT_EQ(joined(lines), "hello from semihosting\nhello from UART0\n");
  }
  // A binary linked for a boot monitor at 0x8000 starts with its code, not a vector table at 0:
  // the same hint as for ELF files.
  std::vector<uint8_t> elsewhere(64, 0);
  std::ofstream(bin, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(elsewhere.data()), 64);
  Simulator sim;
  std::string error;
  EXPECT_FALSE(sim.loadFirmware(bin, &error));
  EXPECT_NE(error.find("hello.bin is not linked for the LPC17xx flash at address 0"), std::string::npos) << error;
  std::filesystem::remove_all(hex.parent_path());
}

TEST(FirmwareFormats, AFirmwareThatCannotBeLoadedLeavesTheOneBeforeRunning) {
  agsi_host::Host::instance().clear();
  Simulator sim;
  sim.setRealTime(false);
  std::vector<std::string> lines;
  sim.setOutput([&](const std::string& l) { lines.push_back(l); });
  std::string error;
  // A different firmware first, so that the one loaded over it must replace every byte and every
  // translated block of it.
  ASSERT_TRUE(sim.loadFirmware(firmware("fault_spin"), &error)) << error;
  ASSERT_EQ(sim.runFor(2.0), StopReason::Fault);
  ASSERT_TRUE(sim.loadFirmware(firmware("hello"), &error)) << error;
  sim.runFor(0.001);  // part way: the reload below comes while it runs
  std::string flat = hexOf(flatImage("fault_spin"));
  std::filesystem::path broken = scratch("broken.hex");
  // The linker still writing: whole lines so far, no end record yet.
  std::ofstream(broken, std::ios::binary) << flat.substr(0, flat.rfind('\n', flat.size() / 2) + 1);
  EXPECT_FALSE(sim.loadFirmware(broken, &error));
  EXPECT_NE(error.find("no end-of-file record"), std::string::npos) << error;
  std::vector<uint8_t> elsewhere(64, 0);
  std::filesystem::path bad = scratch("bad.bin");
  std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char*>(elsewhere.data()), 64);
  EXPECT_FALSE(sim.loadFirmware(bad, &error));
  lines.clear();
  sim.resetChip();
  ASSERT_EQ(sim.runFor(2.0), StopReason::Exited) << joined(lines);
  EXPECT_EQ(sim.exitStatus(), 7);
  EXPECT_EQ(joined(lines), "hello from semihosting\nhello from UART0\n") << "hello runs on, whole";
  std::filesystem::remove_all(broken.parent_path());
}

TEST(FirmwareFaultReport, UnoptimisedCodeShowsItsCallersThroughFramePointersAndExceptionFrames) {
  auto lineOf = [](const char* marker) { return "fault_deep.c:" + std::to_string(sourceLineOf("fault_deep.c", marker)); };
  // Each frame: the function, its source line, and how it was found, in this order.
  FirmwareResult direct = runFirmware("fault_deep", 5.0);
  ASSERT_EQ(direct.reason, StopReason::Fault) << joined(direct.lines);
  std::string out = joined(direct.lines);
  std::vector<std::string> expected = {
      " in inner+0x", " at " + lineOf("inner: the fault"), "\n",
      " in outer+0x", " at " + lineOf("outer: calls inner"), " (LR)\n",
      " in main+0x", " at " + lineOf("main: calls outer"), " (caller, from r7's frame)\n",
      " in Reset_Handler+0x", " (caller, from r7's frame)\n", "CFSR="};
  size_t at = out.find("  #0 ");
  for (const std::string& e : expected) {
    at = out.find(e, at);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: " << e << "\n" << out;
  }
  // In an interrupt handler: through the exception frame to the interrupted main.
  FirmwareResult irq = runFirmware("fault_deep_irq", 5.0);
  ASSERT_EQ(irq.reason, StopReason::Fault) << joined(irq.lines);
  out = joined(irq.lines);
  expected = {" in inner+0x", " in outer+0x", " (LR)\n",
              " in PendSV_Handler+0x", " at " + lineOf("PendSV: calls outer"), " (caller, from r7's frame)\n",
              " in main+0x", " (stacked PC: where the exception came in)\n",
              " in Reset_Handler+0x", "CFSR="};
  at = out.find("  #0 ");
  for (const std::string& e : expected) {
    at = out.find(e, at);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: " << e << "\n" << out;
  }
  // Optimised code keeps no frame pointer: nothing is made up beyond PC and LR.
  FirmwareResult optimised = runFirmware("fault_spin", 5.0);
  EXPECT_EQ(joined(optimised.lines).find("r7's frame"), std::string::npos) << joined(optimised.lines);
}
