// korvel-sim's own ARMv7-M engine against Unicorn, one instruction at a time: generated code of
// every encoding class, then every sample firmware from reset. A difference fails with the
// instruction and both states. KORVEL_LOCKSTEP_LONG=1 runs many more cases and instructions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "korvel_sim/elf_image.h"
#include "lockstep.h"
#include "thumb_generator.h"

namespace {

using namespace korvel::sim;
using namespace korvel::sim::lockstep;

bool longRun() {
  const char* v = std::getenv("KORVEL_LOCKSTEP_LONG");
  return v && *v && std::strcmp(v, "0") != 0;
}

// ---- generated code ----

constexpr uint32_t kFlashSize = 0x10000, kCodeBase = 0x1000, kCodeWindow = 0x1000;
constexpr uint32_t kRam = 0x10000000, kRamSize = 0x2000, kRamData = 0x1800;
constexpr uint32_t kMsp = kRam + 0x1C00, kPsp = kRam + 0x1A00;
constexpr uint32_t kBus = 0x40000000;
constexpr int kHandlers = 4;  // IRQ 0..3, vectors 16..19; SVCall uses the first

Options generatedOptions() {
  Options o;
  o.memory = {{0, kFlashSize, true}, {kRam, kRamSize, true}};
  o.busWindows = {{kBus, 0x100000}};
  return o;
}

void writeHandlers(Lockstep& ls) {
  // Four ways back from a handler: BX LR; POP {pc}; LDR pc, [sp], #4; BX through another register.
  const std::vector<std::vector<uint16_t>> handlers = {
      {0x4770},                                  // BX LR
      {0xB510, 0xF3EF, 0x8405, 0xBD10},          // PUSH {r4, lr}; MRS r4, IPSR; POP {r4, pc}
      {0xB500, 0xBF00, 0xF85D, 0xFB04},          // PUSH {lr}; NOP; LDR pc, [sp], #4
      {0x46F4, 0x2300 | 0x07, 0x4760},           // MOV r12, lr; MOVS r3, #7; BX r12
  };
  std::vector<uint32_t> vectors(48, 0);
  vectors[0] = kMsp;
  for (int h = 0; h < kHandlers; ++h) {
    uint32_t at = 0x200 + 0x20 * uint32_t(h);
    ls.write(at, handlers[h].data(), 2 * handlers[h].size());
    vectors[16 + h] = at | 1;
  }
  vectors[11] = vectors[16];  // SVCall
  ls.write(0, vectors.data(), 4 * vectors.size());
}

struct CaseResult {
  std::string failure;
  uint64_t steps = 0;
  int faults = 0, exceptions = 0, unicornDeviations = 0;
};

// Where Unicorn, the reference, is the one that is wrong. Its LDM/STM/LDRD/STRD do not check
// alignment (QEMU before 5.2 had no alignment check for them), and its STREX fails without
// looking at the address when the monitor is not set, where the Cortex-M3 takes a UsageFault
// UNALIGNED for an address that is not a multiple of the access size.
bool unicornMissesAlignmentFault(Lockstep& ls) {
  if (ls.reference().kind() != EngineKind::Unicorn || ls.lastEnd(0) == RunEnd::Fault || ls.lastEnd(1) != RunEnd::Fault ||
      ls.lastFault(1).kind != FaultKind::Unaligned)
    return false;
  const uint8_t* p = ls.memory(0, ls.lastPc(), 2);
  uint16_t hw = uint16_t(p[0] | p[1] << 8);
  bool multiple16 = (hw & 0xF000) == 0xC000;
  bool multiple32 = (hw & 0xFE40) == 0xE800;                         // LDM/STM
  bool dual32 = (hw & 0xFE40) == 0xE840 && (hw & 0x0120) != 0;        // LDRD/STRD (P or W set)
  bool storeExclusive = (hw & 0xFFF0) == 0xE840 || (hw & 0xFFF0) == 0xE8C0;
  return multiple16 || multiple32 || dual32 || storeExclusive;
}

// Unicorn's Cortex-M3 runs some DSP-extension instructions (SMLAD, SSAT16...) the M3 lacks.
bool unicornRunsUndefined(Lockstep& ls) {
  if (ls.reference().kind() != EngineKind::Unicorn || ls.lastEnd(0) == RunEnd::Fault || ls.lastEnd(1) != RunEnd::Fault ||
      ls.lastFault(1).kind != FaultKind::UndefinedInstruction)
    return false;
  const uint8_t* p = ls.memory(0, ls.lastPc(), 4);
  uint32_t hw1 = uint32_t(p[0] | p[1] << 8), hw2 = uint32_t(p[2] | p[3] << 8);
  return undefinedOnCortexM3(hw1 << 16 | hw2) || undefinedOnCortexM3(hw1);
}

// The Cortex-M3 clears its exclusive monitor on exception entry and return; the Unicorn adapter
// stacks exceptions itself and cannot reach QEMU's monitor, so a STREX after an exception may
// still succeed there.
bool unicornKeepsMonitorOverException(Lockstep& ls, bool exceptionSinceLdrex) {
  if (ls.reference().kind() != EngineKind::Unicorn || !exceptionSinceLdrex) return false;
  const uint8_t* p = ls.memory(0, ls.lastPc(), 4);
  uint16_t hw1 = uint16_t(p[0] | p[1] << 8), hw2 = uint16_t(p[2] | p[3] << 8);
  int d;
  if ((hw1 & 0xFFF0) == 0xE840) d = (hw2 >> 8) & 15;       // STREX: Rd in bits 11:8
  else if ((hw1 & 0xFFF0) == 0xE8C0) d = hw2 & 15;         // STREXB/H: Rd in bits 3:0
  else return false;
  // Unicorn stored (0) where the M3 fails (1); nothing else may differ.
  CoreRegisters r = ls.reference().registers(), o = ls.other().registers();
  if (r.r[d] != 0 || o.r[d] != 1) return false;
  o.r[d] = 0;
  return std::memcmp(&r, &o, sizeof r) == 0;
}

// A generated case the own engine is known to get wrong: the findings line it stands for.
struct KnownCase {
  Encodings encodings;
  int index;
  const char* finding;
};
const KnownCase kKnownCases[] = {
    {Encodings::DataProcessing16, -1, ""},  // none today (index -1 matches no case)
};

const char* knownFinding(Encodings c, int index) {
  for (const KnownCase& k : kKnownCases)
    if (k.encodings == c && k.index == index) return k.finding;
  return nullptr;
}

CaseResult runCase(Lockstep& ls, Encodings c, int index, int length) {
  CaseResult result;
  ThumbGenerator g(uint64_t(int(c)) << 32 | uint32_t(index), kCodeBase, kRam, kRamData, kBus);
  g.generate(c, length);
  std::vector<uint16_t> window(kCodeWindow / 2, 0xE7FE);
  std::copy(g.code().begin(), g.code().end(), window.begin());
  ls.write(kCodeBase, window.data(), kCodeWindow);
  ls.codeLoaded(0, kCodeBase + kCodeWindow);

  std::vector<uint32_t> ram(kRamSize / 4);
  for (uint32_t& w : ram) w = uint32_t(g.next());
  ls.write(kRam, ram.data(), kRamSize);

  CoreRegisters regs;
  for (uint32_t& r : regs.r) r = g.interestingValue();
  regs.lr = uint32_t(g.next()) | 1;
  regs.xpsr = (uint32_t(g.next()) & 0xF8000000) | 0x01000000;
  regs.msp = regs.sp = kMsp;
  regs.psp = kPsp;
  regs.pc = kCodeBase;
  ls.setRegisters(regs);
  ls.setTraps(g.chance(3), false);
  if (std::string e = ls.compare(true); !e.empty()) return {"the set-up differs already: " + e};

  uint32_t untilException = 3 + g.below(30);
  bool exceptionSinceLdrex = false;
  for (int n = 0; n < 40 * length; ++n) {
    if (ls.reference().pc() == g.end() && ls.reference().currentException() == 0) break;
    if (--untilException == 0) {
      untilException = 3 + g.below(30);
      if (ls.reference().currentException() == 0 || g.chance(4)) {
        ++result.exceptions;
        exceptionSinceLdrex = true;
        result.failure = ls.enterException(16 + int(g.below(kHandlers)), 0);
        if (!result.failure.empty()) return result;
        continue;
      }
    }
    ++result.steps;
    if (std::getenv("KORVEL_LOCKSTEP_TRACE"))
      std::cout << "  " << std::hex << ls.reference().pc() << " " << ls.encodingAt(ls.reference().pc()) << std::dec << "\n";
    result.failure = ls.step();
    if (!result.failure.empty() && (unicornMissesAlignmentFault(ls) || unicornRunsUndefined(ls) ||
                                    unicornKeepsMonitorOverException(ls, exceptionSinceLdrex))) {
      ++result.unicornDeviations;
      result.failure.clear();
      break;
    }
    if (!result.failure.empty()) return result;
    if (ls.lastEnd() == RunEnd::Fault) {
      ++result.faults;
      break;
    }
    if (ls.lastEnd() == RunEnd::Exited) break;
    if (const uint8_t* p = ls.memory(0, ls.lastPc(), 2); p && p[1] == 0xE8 && ((p[0] & 0xF0) == 0x50 || (p[0] & 0xF0) == 0xD0))
      exceptionSinceLdrex = false;  // LDREX, LDREXB/H (and TBB/TBH, harmlessly)
    if (ls.supervisorCalled()) {
      ++result.exceptions;
      exceptionSinceLdrex = true;
      result.failure = ls.enterException(11, 0);
      if (!result.failure.empty()) return result;
    }
  }
  return result;
}

std::vector<Encodings> allClasses() {
  std::vector<Encodings> all;
  for (int c = 0; c < kEncodingClasses; ++c) all.push_back(Encodings(c));
  return all;
}

class GeneratedCode : public testing::TestWithParam<Encodings> {};

TEST_P(GeneratedCode, BothEnginesAgreeOnEveryInstruction) {
  Encodings c = GetParam();
  Lockstep ls(generatedOptions());
  if (!ls.differential()) std::cout << "(no own engine in this build: Unicorn against Unicorn)\n";
  writeHandlers(ls);
  int cases = longRun() ? 2000 : 100, failures = 0, known = 0, faults = 0, unicornWrong = 0;
  uint64_t steps = 0;
  for (int i = 0; i < cases; ++i) {
    CaseResult r = runCase(ls, c, i, 24);
    steps += r.steps;
    if (std::getenv("KORVEL_LOCKSTEP_VERBOSE"))
      std::cout << toString(c) << " case " << i << ": " << r.steps << " steps, " << r.exceptions << " exceptions"
                << (r.faults ? ", fault: " + ls.lastFault().text + " at " + ls.encodingAt(ls.reference().pc()) : std::string())
                << "\n";
    faults += r.faults;
    unicornWrong += r.unicornDeviations;
    if (r.failure.empty()) {
      if (const char* finding = knownFinding(c, i))
        std::cout << toString(c) << " case " << i << " agrees now: drop it from the known cases (" << finding << ")\n";
      continue;
    }
    if (knownFinding(c, i)) {
      ++known;
      continue;
    }
    if (++failures <= 3) ADD_FAILURE() << toString(c) << " case " << i << ":\n" << r.failure;
    // The next case starts from a clean slate: the two engines' states are set anew.
  }
  std::cout << toString(c) << ": " << cases << " cases, " << steps << " instructions compared, " << faults
            << " ended on the same fault, " << failures << " differed, " << known << " known, " << unicornWrong
            << " where Unicorn is the one wrong\n";
  EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryClass, GeneratedCode,
                         testing::ValuesIn(allClasses()),
                         [](const testing::TestParamInfo<Encodings>& info) { return toString(info.param); });

// ---- stepping: exactly one instruction, whatever it is ----

// Straight-line code (IT blocks with every condition and length, NOPs and hints, 16 and 32-bit
// instructions inside and outside them, interrupts taken in the middle): after each step the PC
// is at the next instruction.
void checkStepsOneInstruction(EngineKind kind) {
  Options o = generatedOptions();
  o.reference = o.other = kind;
  Lockstep ls(o);
  Engine& cpu = ls.reference();
  std::vector<uint16_t> code;
  std::vector<uint32_t> boundaries;
  auto at = [&] { boundaries.push_back(kCodeBase + 2 * uint32_t(code.size())); };
  for (uint32_t cond = 0; cond < 15; ++cond) {
    for (uint32_t count = 1; count <= 4; ++count) {
      at(), code.push_back(0xF100), code.push_back(0x5080);  // ADD.W r0, r0, #0x10000000
      at(), code.push_back(0xF380), code.push_back(0x8800);  // MSR APSR_nzcvq, r0: every flag pattern
      uint32_t mask = 1u << (4 - count);
      for (uint32_t i = 1; i < count; ++i) mask |= ((cond == 14 || (i & 1)) ? (cond & 1) : (~cond & 1)) << (4 - i);
      at(), code.push_back(uint16_t(0xBF00 | cond << 4 | mask));
      for (uint32_t i = 0; i < count; ++i) {
        at();
        if (i & 1) code.push_back(0xF101), code.push_back(0x0101);  // ADD.W r1, r1, #1
        else code.push_back(0x1C49);                                 // ADDS r1, r1, #1 (ADD in the block)
      }
      at(), code.push_back(0xBF00);  // NOP
    }
  }
  for (uint16_t hint : {0xBF00, 0xBF40, 0xBF00}) at(), code.push_back(hint);
  at(), code.push_back(0xE7FE);
  ls.write(kCodeBase, code.data(), 2 * code.size());
  ls.codeLoaded(0, kCodeBase + 2 * uint32_t(code.size()));
  ls.reset(kMsp, kCodeBase);
  CoreRegisters r = cpu.registers();
  cpu.setRegisters(r);
  writeHandlers(ls);
  for (size_t i = 0; i + 1 < boundaries.size(); ++i) {
    ASSERT_EQ(cpu.pc(), boundaries[i]) << "before step " << i;
    if (i % 5 == 3) {  // an interrupt here (often inside an IT block); its handler is BX LR
      cpu.enterException(16, 0);
      cpu.step();
      ASSERT_EQ(cpu.pc(), boundaries[i]) << "back from the handler before step " << i;
    }
    RunEnd end = cpu.step();
    ASSERT_EQ(end, RunEnd::Budget) << "step " << i << " at 0x" << std::hex << boundaries[i] << ": " << cpu.faultText();
    ASSERT_EQ(cpu.pc(), boundaries[i + 1]) << "step " << i << " from 0x" << std::hex << boundaries[i] << " ("
                                           << ls.encodingAt(boundaries[i]) << ") ran more or less than one instruction";
  }
}

TEST(EngineStep, UnicornRunsExactlyOneInstructionIncludingInsideItBlocks) { checkStepsOneInstruction(EngineKind::Unicorn); }
TEST(EngineStep, OwnEngineRunsExactlyOneInstructionIncludingInsideItBlocks) { checkStepsOneInstruction(EngineKind::Own); }

// A run goes over YIELD (a NOP here) and stops at WFE and WFI as sleeping, never as a fault.
void checkHintsRun(EngineKind kind) {
  Options o = generatedOptions();
  o.reference = o.other = kind;
  Lockstep ls(o);
  Engine& cpu = ls.reference();
  const uint16_t code[] = {0xBF10, 0x2005, 0xBF20, 0x2106, 0xBF30, 0x2207, 0xE7FE};  // YIELD; MOVS; WFE; MOVS; WFI; MOVS
  ls.write(kCodeBase, code, sizeof code);
  ls.codeLoaded(0, kCodeBase + sizeof code);
  ls.reset(kMsp, kCodeBase);
  EXPECT_EQ(cpu.run(1000), RunEnd::Sleeping) << cpu.faultText();
  EXPECT_EQ(cpu.pc(), kCodeBase + 6) << "after the WFE";
  EXPECT_EQ(cpu.reg(0), 5u) << "YIELD went on to the next instruction";
  EXPECT_EQ(cpu.run(cpu.cycles() + 1000), RunEnd::Sleeping) << cpu.faultText();
  EXPECT_EQ(cpu.pc(), kCodeBase + 10) << "after the WFI";
  EXPECT_EQ(cpu.reg(1), 6u);
}

TEST(EngineHints, UnicornRunsOverYieldAndSleepsAtWfe) { checkHintsRun(EngineKind::Unicorn); }
TEST(EngineHints, OwnEngineRunsOverYieldAndSleepsAtWfe) { checkHintsRun(EngineKind::Own); }

// A load that nothing answers, third in an ITTT block: the fault leaves the PC at the load and
// the IT state pointing at it (IT 0x04: one EQ instruction still to go after it), so the
// handler's frame holds it and the return resumes the block. Stepped and run.
void checkFaultKeepsItState(EngineKind kind, bool stepped) {
  Options o = generatedOptions();
  o.reference = o.other = kind;
  Lockstep ls(o);
  Engine& cpu = ls.reference();
  const uint16_t code[] = {0x2000, 0xBF02, 0x3101, 0x681A, 0x3101, 0xE7FE};  // MOVS; ITTT EQ; ADDS; LDR r2,[r3]; ADDS
  ls.write(kCodeBase, code, sizeof code);
  ls.codeLoaded(0, kCodeBase + sizeof code);
  ls.reset(kMsp, kCodeBase);
  CoreRegisters r = cpu.registers();
  r.r[3] = 0xA0000000;  // nothing there
  cpu.setRegisters(r);
  RunEnd end = RunEnd::Budget;
  for (int i = 0; i < 4 && end != RunEnd::Fault; ++i) end = stepped ? cpu.step() : cpu.run(1000);
  ASSERT_EQ(end, RunEnd::Fault);
  EXPECT_EQ(cpu.fault().kind, FaultKind::PreciseBus);
  EXPECT_EQ(cpu.pc(), kCodeBase + 6) << "at the load";
  EXPECT_EQ(cpu.special().xpsr & 0x0600FC00u, 0x400u) << "IT state at the load";
}

TEST(EngineFaults, UnicornKeepsTheItStateOfAFaultingLoad) {
  checkFaultKeepsItState(EngineKind::Unicorn, true);
  checkFaultKeepsItState(EngineKind::Unicorn, false);
}
TEST(EngineFaults, OwnEngineKeepsTheItStateOfAFaultingLoad) {
  checkFaultKeepsItState(EngineKind::Own, true);
  checkFaultKeepsItState(EngineKind::Own, false);
}

// ---- the sample firmware ----

#ifdef KORVEL_FIRMWARE_DIR
constexpr uint32_t kFwFlash = 0, kFwFlashSize = 512 * 1024, kFwSram = 0x10000000, kFwSramSize = 32 * 1024;
constexpr uint32_t kFwAhbSram = 0x2007C000, kFwAhbSramSize = 32 * 1024;

Options firmwareOptions() {
  Options o;
  o.memory = {{kFwFlash, kFwFlashSize, true}, {kFwSram, kFwSramSize, true}, {kFwAhbSram, kFwAhbSramSize, true}};
  o.busWindows = {{0x2009C000, 0x4000},   {0x40000000, 0x100000}, {0x50000000, 0x200000},
                  {0xE0000000, 0x100000}, {0x22000000, 0x2000000}, {0x42000000, 0x2000000}};
  return o;
}

struct FirmwareRun {
  std::string failure;
  uint64_t steps = 0, failedAt = 0;
  int exceptions = 0, faults = 0;
  bool exited = false;
};

// Runs `name` from reset for `steps` instructions; memory is compared every `memoryEvery` steps.
FirmwareRun runFirmware(const std::filesystem::path& elf, uint64_t steps, uint64_t memoryEvery) {
  FirmwareRun run;
  Lockstep ls(firmwareOptions());
  ElfImage image;
  std::string error;
  std::vector<MemoryRange> allowed = {{kFwFlash, kFwFlashSize, "flash"},
                                      {kFwSram, kFwSramSize, "SRAM"},
                                      {kFwAhbSram, kFwAhbSramSize, "AHB SRAM"}};
  if (!readElf(elf, allowed, &image, &error)) return {"cannot load " + elf.string() + ": " + error};
  for (const ElfSegment& s : image.segments) ls.write(s.address, s.bytes.data(), s.bytes.size());
  ls.codeLoaded(0, kFwFlashSize);
  uint32_t* vectors = reinterpret_cast<uint32_t*>(ls.memory(0, 0, 4 * 64));
  ls.reset(vectors[0], vectors[1]);

  // Interrupts the firmware handles itself: vectors that are set and differ from the default
  // handler (the value most set vectors share).
  std::map<uint32_t, int> uses;
  constexpr int kVectors = 16 + 35;  // the LPC17xx's table; code follows it
  for (int v = 2; v < kVectors; ++v)
    if (vectors[v]) ++uses[vectors[v]];
  uint32_t fallback = 0;
  for (auto [value, count] : uses)
    if (count > uses[fallback]) fallback = value;
  std::vector<int> handled;
  for (int v : {11, 14, 15})
    if (vectors[v] && vectors[v] != fallback) handled.push_back(v);
  for (int v = 16; v < kVectors; ++v)
    if (vectors[v] && vectors[v] != fallback) handled.push_back(v);

  size_t nextHandled = 0;
  for (uint64_t n = 1; n <= steps; ++n) {
    if (n % 5000 == 0 && !handled.empty() && ls.reference().currentException() == 0 && !ls.reference().primask()) {
      ++run.exceptions;
      run.failure = ls.enterException(handled[nextHandled++ % handled.size()], 0);
      if (!run.failure.empty()) return run.failedAt = n, run;
    }
    run.steps = n;
    run.failure = ls.step(n % memoryEvery == 0 || n == steps);
    if (!run.failure.empty()) return run.failedAt = n, run;
    if (ls.lastEnd() == RunEnd::Exited) {
      run.exited = true;
      run.failure = ls.compare(true);
      return run;
    }
    if (ls.lastEnd() == RunEnd::Fault) {
      if (!run.faults++ && std::getenv("KORVEL_LOCKSTEP_VERBOSE"))
        std::cout << "first fault at step " << n << ": " << ls.lastFault().text << " at 0x" << std::hex
                  << ls.reference().pc() << std::dec << "\n";
      run.failure = ls.enterException(3, 0);  // HardFault: the handler is the firmware's
    } else if (ls.supervisorCalled()) {
      ++run.exceptions;
      run.failure = ls.enterException(11, 0);
    }
    if (!run.failure.empty()) return run.failedAt = n, run;
  }
  return run;
}

// Firmware whose run meets a known own-engine difference: the findings line it stands for.
const std::map<std::string, std::string> kKnownFirmware = {};  // none today

class SampleFirmware : public testing::TestWithParam<std::string> {};

TEST_P(SampleFirmware, RunsTheSameOnBothEnginesFromReset) {
  std::filesystem::path elf = std::filesystem::path(KORVEL_FIRMWARE_DIR) / (GetParam() + ".elf");
  ASSERT_TRUE(std::filesystem::exists(elf)) << elf << " is missing: build the `firmware` target";
  uint64_t steps = longRun() ? 300000 : 30000;
  FirmwareRun run = runFirmware(elf, steps, 64);
  if (!run.failure.empty() && run.failedAt > 0) {
    // Memory was compared only now and then: run again comparing it after every instruction, so
    // the report names the instruction that wrote the difference.
    FirmwareRun exact = runFirmware(elf, run.failedAt, 1);
    if (!exact.failure.empty()) run = exact;
  }
  auto known = kKnownFirmware.find(GetParam());
  if (known != kKnownFirmware.end() && !run.failure.empty()) {
    std::cout << GetParam() << ": known difference (" << known->second << ") after " << run.steps << " instructions\n";
    return;
  }
  if (known != kKnownFirmware.end()) std::cout << GetParam() << " agrees now: drop it from the known firmware\n";
  EXPECT_EQ(run.failure, "") << GetParam();
  std::cout << GetParam() << ": " << run.steps << " instructions compared, " << run.exceptions << " exceptions entered, "
            << run.faults << " faults" << (run.exited ? ", exited" : "") << "\n";
}

std::vector<std::string> firmwareNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(KORVEL_FIRMWARE_DIR, ec))
    if (e.path().extension() == ".elf") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Every, SampleFirmware, testing::ValuesIn(firmwareNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });
#endif

}  // namespace
