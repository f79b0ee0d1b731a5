// The chip's models on their own, driven through their registers as the firmware would.
#include <gtest/gtest.h>
#include <elf.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "address_map.h"
#include "exceptions.h"
#include "gpio.h"
#include "korvel_sim/elf_image.h"
#include "nvic.h"
#include "timers.h"

namespace {

using namespace korvel::sim;
constexpr Access FW = Access::Firmware;

TEST(Nvic, TakesTheMostUrgentEnabledInterruptAndHonoursTheMasks) {
  Nvic nvic;
  nvic.reset();
  nvic.write(0x100, (1u << 3) | (1u << 5), 4, FW);  // enable IRQ 3 and 5
  nvic.write(0x403, 0x80, 1, FW);                   // IRQ 3 priority 0x80
  nvic.write(0x405, 0x40, 1, FW);                   // IRQ 5 priority 0x40
  nvic.write(0x200, (1u << 3) | (1u << 5), 4, FW);  // pend both
  EXPECT_EQ(nvic.nextException(false, 0), exc::FirstIrq + 5) << "the lower priority number wins";
  EXPECT_EQ(nvic.nextException(true, 0), 0) << "PRIMASK holds every interrupt back";
  EXPECT_EQ(nvic.nextException(false, 0x40), 0) << "BASEPRI 0x40 masks priority 0x40 and below";
  EXPECT_EQ(nvic.nextException(false, 0x60), exc::FirstIrq + 5) << "BASEPRI 0x60 lets 0x40 through";
  nvic.activate(exc::FirstIrq + 5);
  EXPECT_EQ(nvic.nextException(false, 0), 0) << "0x80 cannot preempt a running 0x40 handler";
  EXPECT_EQ(nvic.read(0x300, 4, FW), 1u << 5) << "IABR shows the running handler";
  nvic.deactivate(exc::FirstIrq + 5);
  EXPECT_EQ(nvic.nextException(false, 0), exc::FirstIrq + 3) << "the waiting one follows";
}

TEST(Nvic, FaultsEscalateToHardFaultWhenDisabledOrOutrankedAndLockUpAtHardFaultPriority) {
  Nvic nvic;
  nvic.reset();
  const FaultEvent bus{FaultKind::PreciseBus, 0xA0000004, "read"};
  const FaultEvent udf{FaultKind::UndefinedInstruction, 0, "udf"};
  // Out of reset the configurable faults are disabled: HardFault, FORCED, the cause kept in CFSR.
  EXPECT_EQ(nvic.takeFault(bus, false, 0, false), exc::HardFault);
  EXPECT_EQ(nvic.read(0xD28, 4, FW), 0x8200u) << "PRECISERR with BFARVALID";
  EXPECT_EQ(nvic.read(0xD2C, 4, FW), 0x40000000u) << "FORCED";
  EXPECT_EQ(nvic.read(0xD38, 4, FW), 0xA0000004u) << "BFAR";
  // Write-one-to-clear, also by byte: clearing BFSR leaves UFSR alone.
  nvic.takeFault(udf, false, 0, false);
  nvic.write(0xD29, 0x82, 1, FW);
  EXPECT_EQ(nvic.read(0xD28, 4, FW), 0x10000u) << "UNDEFINSTR survives a BFSR clear";
  nvic.write(0xD28, 0xFFFFFFFF, 4, FW);
  nvic.write(0xD2C, 0x40000000, 4, FW);
  EXPECT_EQ(nvic.read(0xD28, 4, FW) | nvic.read(0xD2C, 4, FW), 0u);

  nvic.write(0xD24, 0x60000, 4, FW);  // BUSFAULTENA, USGFAULTENA
  EXPECT_EQ(nvic.takeFault(bus, false, 0, false), exc::BusFault);
  EXPECT_EQ(nvic.takeFault(udf, false, 0, false), exc::UsageFault);
  EXPECT_EQ(nvic.read(0xD2C, 4, FW), 0u) << "not forced when the handler is enabled";
  EXPECT_EQ(nvic.takeFault(udf, true, 0, false), exc::HardFault) << "PRIMASK raises the running priority to 0";
  // A fault in a handler that the fault's own priority cannot preempt escalates.
  nvic.write(0xD1A, 0x40, 1, FW);  // UsageFault priority 0x40
  nvic.write(0x100, 1, 4, FW);
  nvic.write(0x400, 0x20, 1, FW);  // IRQ 0 priority 0x20
  nvic.activate(exc::FirstIrq);
  EXPECT_EQ(nvic.takeFault(udf, false, 0, false), exc::HardFault);
  EXPECT_NE(nvic.read(0xD24, 4, FW) & 0x60000u, 0u);
  nvic.deactivate(exc::FirstIrq);
  nvic.activate(exc::UsageFault);
  EXPECT_EQ(nvic.read(0xD24, 4, FW) & 0xFu, 0x8u) << "USGFAULTACT";
  EXPECT_EQ(nvic.takeFault(bus, false, 0, false), exc::BusFault) << "BusFault (priority 0) preempts UsageFault (0x40)";
  nvic.deactivate(exc::UsageFault);
  // At HardFault priority or above there is nowhere to go: lockup.
  nvic.activate(exc::HardFault);
  EXPECT_EQ(nvic.takeFault(bus, false, 0, false), 0);
  nvic.deactivate(exc::HardFault);
  EXPECT_EQ(nvic.takeFault(udf, false, 0, true), 0) << "FAULTMASK";
  nvic.activate(exc::NMI);
  EXPECT_EQ(nvic.takeFault(udf, false, 0, false), 0);
  nvic.reset();
  EXPECT_EQ(nvic.read(0xD28, 4, FW) | nvic.read(0xD24, 4, FW), 0u) << "reset clears the status and the enables";
}

TEST(Faults, TheFaultingAccessIsFoundFromTheBlockStartWithTheCurrentRegisters) {
  struct Code : CoreAccess {
    std::vector<uint16_t> halves;
    uint32_t reg(int) override { return 0; }
    void setReg(int, uint32_t) override {}
    uint32_t readWord(uint32_t a) override {
      uint32_t i = a / 2;
      return (i < halves.size() ? halves[i] : 0) | uint32_t(i + 1 < halves.size() ? halves[i + 1] : 0) << 16;
    }
    void writeWord(uint32_t, uint32_t) override {}
  } code;
  // ldr r6,[pc,#112]; ldr r3,[r4,#0]; strb r3,[r2,#5]; ldr.w r1,[r5,#0xD24]; str r3,[r6,r7,lsl #2]
  code.halves = {0x4E1C, 0x6823, 0x7153, 0xF8D5, 0x1D24, 0xF846, 0x3027};
  uint32_t regs[16] = {};
  regs[4] = 0xA0000000, regs[2] = 0x60000000, regs[5] = 0xE000E000, regs[6] = 0x90000000, regs[7] = 3;
  EXPECT_EQ(findFaultingAccess(code, 0, regs, 0xA0000000), 2u);
  EXPECT_EQ(findFaultingAccess(code, 0, regs, 0x60000005), 4u);
  EXPECT_EQ(findFaultingAccess(code, 0, regs, 0xE000ED24), 6u);
  EXPECT_EQ(findFaultingAccess(code, 0, regs, 0x9000000C), 10u);
  EXPECT_EQ(findFaultingAccess(code, 0, regs, 0x12345678), 0u) << "no match: the block start";
}

TEST(Nvic, AnAssertedLineStaysPendingAfterClearAndAfterItsHandler) {
  Nvic nvic;
  nvic.reset();
  nvic.write(0x100, 1u << 1, 4, FW);
  nvic.setLine(1, true);
  nvic.write(0x280, 1u << 1, 4, FW);  // ICPR while the line is high
  EXPECT_TRUE(nvic.pending(exc::FirstIrq + 1)) << "clearing a pending level interrupt does not stick";
  nvic.activate(exc::FirstIrq + 1);
  nvic.deactivate(exc::FirstIrq + 1);
  EXPECT_TRUE(nvic.pending(exc::FirstIrq + 1)) << "a source not serviced pends again on return";
  nvic.setLine(1, false);
  nvic.write(0x280, 1u << 1, 4, FW);
  EXPECT_FALSE(nvic.pending(exc::FirstIrq + 1));
}

TEST(Nvic, SysTickCountsCyclesAndPendsOnEveryWrapToZero) {
  Nvic nvic;
  nvic.reset();
  nvic.write(0x014, 999, 4, FW);  // reload: period 1000 cycles
  nvic.write(0x018, 0, 4, FW);
  nvic.write(0x010, 7, 4, FW);
  EXPECT_EQ(nvic.cyclesToSysTickEvent(), 1000u);
  nvic.advanceSysTick(999);
  EXPECT_FALSE(nvic.pending(exc::SysTick)) << "one cycle early";
  nvic.advanceSysTick(1);
  EXPECT_TRUE(nvic.pending(exc::SysTick));
  EXPECT_TRUE(nvic.read(0x010, 4, FW) & (1u << 16)) << "COUNTFLAG set";
  EXPECT_FALSE(nvic.read(0x010, 4, FW) & (1u << 16)) << "COUNTFLAG clears on read";
}

TEST(Timer, MatchWithResetRepeatsEveryMatchValuePlusOneTicks) {
  Timer t;
  std::vector<bool> line;
  t.onLine = [&](bool l) { line.push_back(l); };
  t.reset();
  t.write(0x18, 99, 4, FW);  // MR0
  t.write(0x14, 3, 4, FW);   // interrupt and reset on MR0
  t.write(0x04, 1, 4, FW);
  EXPECT_EQ(t.cyclesToEvent(1), 99u);
  t.advance(99, 1);
  EXPECT_EQ(t.read(0x00, 4, FW), 1u) << "IR bit 0 at the match";
  t.write(0x00, 1, 4, FW);
  EXPECT_EQ(t.read(0x00, 4, FW), 0u) << "IR clears by writing one";
  t.advance(100, 1);
  EXPECT_EQ(t.read(0x00, 4, FW), 1u) << "the next match one period (MR + 1) later";
  EXPECT_EQ(t.read(0x08, 4, FW), 99u);
  ASSERT_FALSE(line.empty());
  EXPECT_TRUE(line.back()) << "the interrupt line is high while IR is set";
}

TEST(Timer, StopOnMatchHaltsTheCounterAndPrescalerDividesTheClock) {
  Timer t;
  t.reset();
  t.write(0x0C, 3, 4, FW);   // prescale: one count per 4 peripheral clocks
  t.write(0x18, 10, 4, FW);
  t.write(0x14, 4, 4, FW);   // stop on MR0
  t.write(0x04, 1, 4, FW);
  t.advance(4 * 4 * 5, 4);   // 80 core cycles at PCLK = CCLK/4: 20 PCLKs, 5 counts
  EXPECT_EQ(t.read(0x08, 4, FW), 5u);
  t.advance(1000, 4);
  EXPECT_EQ(t.read(0x08, 4, FW), 10u) << "stopped at the match";
  EXPECT_EQ(t.read(0x04, 4, FW) & 1, 0u) << "the enable bit is cleared";
}

TEST(Gpio, SetClearAndPinWritesRespectTheMaskAndByteLanes) {
  Gpio g;
  int changed = -1;
  g.onOutputChanged = [&](int port) { changed = port; };
  g.reset();
  g.write(0x40 + 0x00, 0xFF, 4, FW);         // FIO2DIR: P2.0-7 out
  g.write(0x40 + 0x10, 0x0F, 4, FW);         // FIO2MASK: P2.0-3 masked
  g.write(0x40 + 0x18, 0xFF, 4, FW);         // FIO2SET
  EXPECT_EQ(g.outputs(2), 0xF0u) << "masked pins ignore SET";
  EXPECT_EQ(changed, 2);
  EXPECT_EQ(g.read(0x40 + 0x14, 4, FW) & 0xFF, 0xF0u) << "masked pins read 0";
  g.write(0x40 + 0x10, 0, 4, FW);
  g.write(0x40 + 0x14, 0x5A, 1, FW);         // byte write to FIO2PIN0
  g.setInputs(2, 0xFFFF00FF);
  EXPECT_EQ(g.read(0x40 + 0x14, 4, FW), 0xFFFF005Au) << "outputs on P2.0-7, board levels on the inputs";
}

TEST(Gpio, EdgesOnInputPinsRaiseTheEnabledGpioInterrupts) {
  Gpio g;
  GpioInterrupts gi;
  g.onLevelsChanged = [&](int port, uint32_t before, uint32_t after) {
    uint32_t in = ~g.directions(port);
    gi.edges(port, ~before & after & in, before & ~after & in);
  };
  bool line = false;
  gi.onLine = [&](bool l) { line = l; };
  g.reset();
  gi.reset();
  gi.write(0xB4, 1u << 13, 4, FW);  // IO2IntEnF: P2.13 falling
  g.setInputs(2, ~(1u << 13));
  EXPECT_EQ(gi.read(0xA8, 4, FW), 1u << 13);
  EXPECT_TRUE(line);
  gi.write(0xAC, 1u << 13, 4, FW);
  EXPECT_FALSE(line) << "IO2IntClr clears the status and the line";
  g.setInputs(2, 0xFFFFFFFF);
  EXPECT_EQ(gi.read(0xA4, 4, FW), 0u) << "rising edges are not enabled";
}

TEST(BitBand, EveryAliasOfAWordStandsForItsOwnBitInBothRegions) {
  struct Region {
    uint32_t alias, target, word;
  } regions[] = {{0x22000000, 0x20000000, 0x2009C020},   // FIO1DIR
                 {0x22000000, 0x20000000, 0x20000000},   // the first word
                 {0x42000000, 0x40000000, 0x4002C044},   // PINMODE1
                 {0x42000000, 0x40000000, 0x400FFFFC}};  // the last word of the region
  for (const Region& r : regions) {
    for (uint32_t bit = 0; bit < 32; ++bit) {
      // Byte n of the word, bit k of that byte: alias base + 32 * byte offset + 4 * k.
      uint32_t byteOffset = r.word - r.target + bit / 8;
      for (uint32_t lane = 0; lane < 4; ++lane) {  // any byte of the alias word
        uint32_t alias = r.alias + byteOffset * 32 + (bit % 8) * 4 + lane;
        auto b = bitBandTarget(alias);
        ASSERT_TRUE(b) << std::hex << alias;
        EXPECT_EQ(b->word, r.word) << std::hex << alias;
        EXPECT_EQ(b->bit, bit) << std::hex << alias;
      }
    }
  }
  auto last = bitBandTarget(0x43FFFFFC);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->word, 0x400FFFFCu);
  EXPECT_EQ(last->bit, 31u);
  EXPECT_FALSE(bitBandTarget(0x21FFFFFC));
  EXPECT_FALSE(bitBandTarget(0x24000000));
  EXPECT_FALSE(bitBandTarget(0x41FFFFFC));
  EXPECT_FALSE(bitBandTarget(0x44000000));
  EXPECT_FALSE(bitBandTarget(0x2009C020)) << "the target region itself is no alias";
}

// Registers and a little RAM for exception entry and return, without an execution engine.
struct FakeCore : CoreAccess {
  uint32_t r[16] = {};
  std::map<uint32_t, uint32_t> ram;
  uint32_t reg(int n) override { return r[n]; }
  void setReg(int n, uint32_t v) override { r[n] = v; }
  uint32_t readWord(uint32_t a) override { return ram[a]; }
  void writeWord(uint32_t a, uint32_t v) override { ram[a] = v; }
};

TEST(Exceptions, EntryStacksOnTheStackInUseAndReturnHonoursEachExcReturn) {
  FakeCore core;
  for (int i = 0; i < 13; ++i) core.r[i] = 0x100 + i;
  core.r[14] = 0x2001, core.r[15] = 0x3000;
  SpecialRegisters sr;
  sr.xpsr = 0xA1000000, sr.control = SpecialRegisters::kSpsel | SpecialRegisters::kNpriv;
  sr.msp = 0x10008000, sr.psp = 0x10001004;  // the process stack is not 8-byte aligned

  exceptionEntry(core, sr, 11, 0x4000);
  EXPECT_EQ(sr.psp, 0x10000FE0u) << "frame on the process stack, aligned down to 8 bytes";
  EXPECT_EQ(sr.msp, 0x10008000u) << "the main stack is untouched";
  EXPECT_EQ(core.r[14], excreturn::kThreadProcess);
  EXPECT_EQ(core.r[15], 0x4000u);
  EXPECT_EQ(sr.ipsr(), 11u);
  EXPECT_EQ(sr.control, SpecialRegisters::kNpriv) << "SPSEL clears, nPRIV stays";
  EXPECT_EQ(sr.sp(), 0x10008000u) << "the handler runs on the main stack";
  EXPECT_EQ(core.ram[0x10000FE0], 0x100u) << "r0";
  EXPECT_EQ(core.ram[0x10000FF0], 0x10Cu) << "r12";
  EXPECT_EQ(core.ram[0x10000FF4], 0x2001u) << "lr";
  EXPECT_EQ(core.ram[0x10000FF8], 0x3000u) << "return address";
  EXPECT_EQ(core.ram[0x10000FFC], 0xA1000200u) << "xPSR with the padding flag";

  // A nested exception from the handler stacks on the main stack and returns to handler mode.
  core.r[0] = 0xDEAD, core.r[15] = 0x4010;
  exceptionEntry(core, sr, 16 + 5, 0x5000);
  EXPECT_EQ(sr.msp, 0x10008000u - 32);
  EXPECT_EQ(core.r[14], excreturn::kHandler);
  std::string error;
  core.r[0] = 0;
  EXPECT_EQ(exceptionReturn(core, sr, excreturn::kHandler, &error), 16 + 5);
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(sr.ipsr(), 11u) << "back in the SVC handler";
  EXPECT_EQ(sr.msp, 0x10008000u);
  EXPECT_EQ(core.r[0], 0xDEADu);
  EXPECT_EQ(core.r[15], 0x4010u);

  EXPECT_EQ(exceptionReturn(core, sr, excreturn::kThreadProcess, &error), 11);
  EXPECT_EQ(sr.psp, 0x10001004u) << "the padding word is popped too";
  EXPECT_EQ(sr.control, SpecialRegisters::kSpsel | SpecialRegisters::kNpriv);
  EXPECT_EQ(sr.xpsr, 0xA1000000u) << "thread mode with the stacked flags";
  EXPECT_EQ(core.r[15], 0x3000u);
  EXPECT_EQ(core.r[14], 0x2001u);
}

TEST(Exceptions, ReturnToThreadOnTheMainStackAndARefusedExcReturn) {
  FakeCore core;
  core.r[15] = 0x1234;
  SpecialRegisters sr;
  sr.msp = 0x10007FF8, sr.psp = 0x10001000;
  exceptionEntry(core, sr, 15, 0x4000);
  EXPECT_EQ(core.r[14], excreturn::kThreadMain);
  EXPECT_EQ(sr.msp, 0x10007FD8u);
  EXPECT_EQ(sr.psp, 0x10001000u);

  SpecialRegisters before = sr;
  std::string error;
  exceptionReturn(core, sr, 0xFFFFFFE9, &error);  // a floating-point frame: not on an M3
  EXPECT_EQ(error, "exception return with invalid EXC_RETURN 0xFFFFFFE9");
  EXPECT_EQ(sr.msp, before.msp);
  EXPECT_EQ(sr.xpsr, before.xpsr);

  error.clear();
  EXPECT_EQ(exceptionReturn(core, sr, excreturn::kThreadMain, &error), 15);
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(sr.msp, 0x10007FF8u);
  EXPECT_FALSE(sr.usingPsp());
  EXPECT_EQ(core.r[15], 0x1234u);
}

// A minimal ARM executable with one loadable segment at `address`.
std::filesystem::path armElf(uint32_t address) {
  Elf32_Ehdr eh{};
  std::memcpy(eh.e_ident, ELFMAG, SELFMAG);
  eh.e_ident[EI_CLASS] = ELFCLASS32;
  eh.e_ident[EI_DATA] = ELFDATA2LSB;
  eh.e_ident[EI_VERSION] = EV_CURRENT;
  eh.e_type = ET_EXEC;
  eh.e_machine = EM_ARM;
  eh.e_version = EV_CURRENT;
  eh.e_phoff = sizeof eh;
  eh.e_ehsize = sizeof eh;
  eh.e_phentsize = sizeof(Elf32_Phdr);
  eh.e_phnum = 1;
  Elf32_Phdr ph{};
  ph.p_type = PT_LOAD;
  ph.p_offset = sizeof eh + sizeof ph;
  ph.p_vaddr = ph.p_paddr = address;
  ph.p_filesz = ph.p_memsz = 8;
  auto path = std::filesystem::temp_directory_path() / ("korvel-elf-" + std::to_string(address) + ".elf");
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&eh), sizeof eh);
  out.write(reinterpret_cast<const char*>(&ph), sizeof ph);
  out.write("\0\0\0\0\0\0\0\0", 8);
  return path;
}

TEST(ElfImage, AcceptsSegmentsInFlashAndRefusesSegmentsOutsideFlashAndRam) {
  std::vector<MemoryRange> allowed = {{0, 512 * 1024, "flash"}, {0x10000000, 32 * 1024, "SRAM"}};
  ElfImage image;
  std::string error;
  EXPECT_TRUE(readElf(armElf(0x100), allowed, &image, &error)) << error;
  ASSERT_EQ(image.segments.size(), 1u);
  EXPECT_EQ(image.segments[0].address, 0x100u);
  EXPECT_FALSE(readElf(armElf(0x30000000), allowed, &image, &error));
  EXPECT_NE(error.find("segment at 0x30000000 (8 bytes) lies outside the LPC17xx flash and RAM"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << "one line";
  EXPECT_FALSE(readElf(armElf(0x10007FFC), allowed, &image, &error)) << "a segment running past the end of RAM";
}

}  // namespace
