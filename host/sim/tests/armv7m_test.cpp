// korvel-sim's own Cortex-M3 engine on hand-assembled Thumb code (the halfwords beside their
// source), with plain buffers for flash and RAM and a recording bus for everything else.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <thread>
#include <vector>

#include "armv7m/core.h"

namespace korvel::sim {
namespace {

constexpr uint32_t kCode = 0x100, kRam = 0x20000000, kStackTop = 0x20008000, kPeriph = 0x40000000;
constexpr uint32_t kN = 1u << 31, kZ = 1u << 30, kC = 1u << 29, kV = 1u << 28;

struct Access {
  uint32_t address, value, size;
  bool write;
  uint64_t cycles;
};

struct TestBus : Bus {
  Engine* engine = nullptr;
  std::vector<Access> accesses;
  std::vector<std::pair<uint32_t, uint32_t>> semihosting;
  uint32_t readValue = 0x12345678;
  std::function<void()> onAccess;  // a model reacting to the access (raising an interrupt...)
  uint32_t busRead(uint32_t address, uint32_t size) override {
    accesses.push_back({address, 0, size, false, engine->cycles()});
    if (onAccess) onAccess();
    return readValue;
  }
  void busWrite(uint32_t address, uint32_t value, uint32_t size) override {
    accesses.push_back({address, value, size, true, engine->cycles()});
    if (onAccess) onAccess();
  }
  uint32_t semihost(uint32_t op, uint32_t param) override {
    semihosting.push_back({op, param});
    if (op == 0x18) engine->exitRequested(param == 0x20026 ? 0 : 1);
    return 0x77;
  }
};

struct Machine {
  TestBus bus;
  std::vector<uint8_t> flash = std::vector<uint8_t>(0x10000, 0xFF), ram = std::vector<uint8_t>(0x10000, 0);
  armv7m::Core core{bus};

  Machine() {
    bus.engine = &core;
    core.mapMemory(0, uint32_t(flash.size()), flash.data(), true);
    core.mapMemory(kRam, uint32_t(ram.size()), ram.data(), true);
    core.mapBus(kPeriph, 0x1000);
  }
  // Code at kCode, a vector table at 0 whose handlers are all at `handler`.
  void load(std::initializer_list<uint16_t> code, uint32_t at = kCode) {
    uint32_t a = at;
    for (uint16_t h : code) std::memcpy(&flash[a], &h, 2), a += 2;
    core.invalidateCode(at, a - at);
    core.reset(kStackTop, kCode | 1);
  }
  void vectors(uint32_t handler) {
    for (uint32_t n = 1; n < 32; ++n) {
      uint32_t v = handler | 1;
      std::memcpy(&flash[4 * n], &v, 4);
    }
  }
  uint32_t ramWord(uint32_t address) {
    uint32_t v;
    std::memcpy(&v, &ram[address - kRam], 4);
    return v;
  }
  void setRamWord(uint32_t address, uint32_t v) { std::memcpy(&ram[address - kRam], &v, 4); }
  uint32_t xpsr() { return core.special().xpsr; }
  void set(int r, uint32_t v) { core.r_[r] = v; }
  RunEnd runFor(uint64_t cycles) { return core.run(core.cycles() + cycles); }
  RunEnd steps(int n) {
    RunEnd e = RunEnd::Budget;
    for (int i = 0; i < n && e == RunEnd::Budget; ++i) e = core.step();
    return e;
  }
};

TEST(Armv7mFlags, AddsSetsCarryAndOverflowAndShiftsByZeroAnd32KeepTheirRules) {
  Machine m;
  // movs r0,#1; lsls r0,r0,#31; adds r1,r0,r0
  m.load({0x2001, 0x07C0, 0x1801});
  EXPECT_EQ(m.steps(3), RunEnd::Budget);
  EXPECT_EQ(m.core.reg(1), 0u);
  EXPECT_EQ(m.xpsr() & (kN | kZ | kC | kV), kZ | kC | kV);

  // movs r0,#0x80; lsls r0,r0,#24; lsrs r1,r0,#32; asrs r2,r0,#32; lsls r3,r0,#0 (MOVS);
  // movs r4,#32; mov r5,r0; lsls r5,r4; movs r6,#33; mov r7,r0; lsrs r7,r6
  m.load({0x2080, 0x0600, 0x0801, 0x1002, 0x0003, 0x2420, 0x4605, 0x40A5, 0x2621, 0x4607, 0x40F7});
  m.steps(3);
  EXPECT_EQ(m.core.reg(1), 0u);
  EXPECT_EQ(m.xpsr() & (kZ | kC), kZ | kC) << "LSR #32 gives 0 with the carry from bit 31";
  m.steps(1);
  EXPECT_EQ(m.core.reg(2), 0xFFFFFFFFu);
  EXPECT_EQ(m.xpsr() & (kN | kC), kN | kC);
  m.set(0, 0x80000000);
  m.core.c_ = false;
  m.steps(1);  // LSLS #0 is MOVS: the carry stays
  EXPECT_EQ(m.core.reg(3), 0x80000000u);
  EXPECT_FALSE(m.core.c_);
  m.steps(3);  // LSL by register 32: result 0, carry bit 0 of the operand (0)
  EXPECT_EQ(m.core.reg(5), 0u);
  EXPECT_FALSE(m.core.c_);
  EXPECT_TRUE(m.core.z_);
  m.steps(3);  // LSR by register 33: result 0, carry 0
  EXPECT_EQ(m.core.reg(7), 0u);
  EXPECT_FALSE(m.core.c_);
}

TEST(Armv7mFlags, AddWithCarryMatchesTheWidenedDefinition) {
  const uint32_t edges[] = {0, 1, 2, 0x7FFFFFFE, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFE, 0xFFFFFFFF, 0x12345678};
  for (uint32_t x : edges)
    for (uint32_t y : edges)
      for (bool carryIn : {false, true}) {
        uint64_t u = uint64_t(x) + y + carryIn;
        int64_t sgn = int64_t(int32_t(x)) + int32_t(y) + carryIn;
        armv7m::AddResult r = armv7m::addWithCarry(x, y, carryIn);
        EXPECT_EQ(r.value, uint32_t(u));
        EXPECT_EQ(r.carry, (u >> 32) != 0) << x << " + " << y << " + " << carryIn;
        EXPECT_EQ(r.overflow, int64_t(int32_t(uint32_t(u))) != sgn) << x << " + " << y << " + " << carryIn;
      }
}

TEST(Armv7mFlags, SubtractAndCompareBorrow) {
  Machine m;
  // movs r0,#3; subs r1,r0,#5 (imm3); cmp r0,#3; sbcs r1, r0 (r1 = r1 - r0 - !C)
  m.load({0x2003, 0x1F41, 0x2803, 0x4181});
  m.steps(2);
  EXPECT_EQ(m.core.reg(1), uint32_t(-2));
  EXPECT_EQ(m.xpsr() & (kN | kZ | kC | kV), kN) << "3 - 5 borrows: C clear";
  m.steps(1);
  EXPECT_EQ(m.xpsr() & (kN | kZ | kC | kV), kZ | kC);
  m.steps(1);
  EXPECT_EQ(m.core.reg(1), uint32_t(-5));
}

TEST(Armv7mItBlock, ConditionsFollowTheMaskAndFlagSettingFormsKeepTheFlagsInside) {
  Machine m;
  // cmp r0,#5; ite eq; moveq r1,#1; movne r1,#2; itt ne; addne r2,#1; addne r3,#1
  const std::initializer_list<uint16_t> code = {0x2805, 0xBF0C, 0x2101, 0x2102, 0xBF1C, 0x3201, 0x3301};
  m.load(code);
  m.set(0, 5), m.set(2, 10), m.set(3, 20);
  m.steps(7);
  EXPECT_EQ(m.core.reg(1), 1u);
  EXPECT_EQ(m.core.reg(2), 10u);
  EXPECT_EQ(m.core.reg(3), 20u);
  EXPECT_EQ(m.core.pc(), kCode + 14);

  m.load(code);
  m.set(0, 4), m.set(2, 0xFFFFFFFF), m.set(3, 20);
  m.steps(7);
  EXPECT_EQ(m.core.reg(1), 2u);
  EXPECT_EQ(m.core.reg(2), 0u);
  EXPECT_EQ(m.core.reg(3), 21u);
  // Inside the block the 16-bit ADD does not set flags: Z stays clear from the compare.
  EXPECT_FALSE(m.core.z_);
  EXPECT_EQ(m.core.itState_, 0);
}

TEST(Armv7mItBlock, AnExceptionInTheMiddleKeepsTheRestOfTheBlock) {
  Machine m;
  m.vectors(0x200);
  m.load({0x4770}, 0x200);  // handler: bx lr
  m.load({0x2805, 0xBF0C, 0x2101, 0x2102, 0xBF00});
  m.set(0, 5);
  m.steps(2);  // cmp, ite: the block is open
  EXPECT_NE(m.core.itState_, 0);
  m.core.enterException(15, 0);
  EXPECT_EQ(m.core.itState_, 0) << "a handler starts outside any IT block";
  EXPECT_EQ(m.runFor(1000), RunEnd::Interrupted);
  EXPECT_EQ(m.core.pc(), kCode + 4);
  m.steps(2);
  EXPECT_EQ(m.core.reg(1), 1u) << "moveq ran, movne was skipped after the return";
}

TEST(Armv7mExceptions, EntryStacksAndExcReturnComesBackAndEndsTheRun) {
  Machine m;
  m.vectors(0x200);
  m.load({0x2307, 0x4770}, 0x200);  // handler: movs r3,#7; bx lr
  m.load({0x3001, 0xE7FD});         // loop: adds r0,#1; b loop
  int returned = -1;
  m.core.onExceptionReturn = [&](int e) { returned = e; };
  m.set(3, 0x33);
  m.steps(3);
  uint32_t pcBefore = m.core.pc(), r0 = m.core.reg(0);
  m.core.enterException(15, 0);
  EXPECT_EQ(m.core.currentException(), 15u);
  EXPECT_EQ(m.core.reg(14), 0xFFFFFFF9u);
  EXPECT_EQ(m.core.reg(13), kStackTop - 32);
  EXPECT_EQ(m.ramWord(kStackTop - 32 + 24), pcBefore);
  EXPECT_EQ(m.runFor(1000), RunEnd::Interrupted);
  EXPECT_EQ(returned, 15);
  EXPECT_EQ(m.core.currentException(), 0u);
  EXPECT_EQ(m.core.pc(), pcBefore);
  EXPECT_EQ(m.core.reg(3), 0x33u) << "r3 is unstacked";
  EXPECT_EQ(m.core.reg(0), r0);
  EXPECT_EQ(m.core.reg(13), kStackTop);
}

TEST(Armv7mExceptions, ProcessStackIsUsedInThreadModeAndRestoredOnReturn) {
  Machine m;
  m.vectors(0x200);
  m.load({0x4770}, 0x200);
  m.load({0xBF00, 0xBF00});
  SpecialRegisters s = m.core.special();
  s.control = SpecialRegisters::kSpsel;
  s.psp = kStackTop - 0x1000;
  m.core.setSpecial(s);
  EXPECT_EQ(m.core.reg(13), kStackTop - 0x1000);
  m.core.enterException(11, 0);
  EXPECT_EQ(m.core.reg(14), 0xFFFFFFFDu);
  EXPECT_EQ(m.core.reg(13), kStackTop) << "handler mode runs on the main stack";
  EXPECT_EQ(m.core.special().psp, kStackTop - 0x1000 - 32);
  EXPECT_EQ(m.runFor(100), RunEnd::Interrupted);
  EXPECT_EQ(m.core.reg(13), kStackTop - 0x1000);
  EXPECT_EQ(m.core.special().msp, kStackTop);
}

TEST(Armv7mExceptions, InvalidExcReturnIsAnInvalidPcFaultAtTheReturn) {
  Machine m;
  m.vectors(0x200);
  m.load({0x4770}, 0x200);
  m.load({0xBF00});
  m.core.enterException(15, 0);
  m.set(14, 0xFFFFFFF5);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::InvalidPc);
  EXPECT_EQ(m.core.pc(), 0x200u);
}

TEST(Armv7mRunEnds, WfiSleepsAfterItSvcPendsAndSemihostingExits) {
  Machine m;
  m.load({0xBF30, 0xBF00});  // wfi; nop
  EXPECT_EQ(m.runFor(100), RunEnd::Sleeping);
  EXPECT_EQ(m.core.pc(), kCode + 2);

  int calls = 0;
  m.core.onSupervisorCall = [&] { ++calls; };
  m.load({0xDF03, 0xBF00});  // svc #3; nop
  EXPECT_EQ(m.runFor(100), RunEnd::Interrupted);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(m.core.pc(), kCode + 2);

  // movs r0,#0x18; ldr r1,=0x20026; bkpt 0xab
  m.load({0x2018, 0x4901, 0xBEAB, 0x0000, 0x0026, 0x0002});
  EXPECT_EQ(m.runFor(100), RunEnd::Exited);
  EXPECT_EQ(m.core.exitStatus(), 0);
  ASSERT_EQ(m.bus.semihosting.size(), 1u);
  EXPECT_EQ(m.bus.semihosting[0].second, 0x20026u);
  EXPECT_EQ(m.core.reg(0), 0x77u) << "the call's answer goes to r0";

  m.load({0xBE01});  // bkpt 1: no debugger behind it
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.pc(), kCode);
}

TEST(Armv7mRunEnds, LoweringAMaskWithAnInterruptWaitingEndsTheRunAfterIt) {
  Machine m;
  m.load({0xB662, 0xBF00, 0xBF00, 0xE7FE});  // cpsie i; nop; nop; b .
  m.core.cps(true, true, false);
  bool waiting = false;
  m.core.interruptWaiting = [&] { return waiting; };
  EXPECT_EQ(m.runFor(20), RunEnd::Budget) << "nothing waits: the run goes on";
  m.load({0xB662, 0xBF00, 0xBF00, 0xE7FE});
  m.core.cps(true, true, false);
  waiting = true;
  EXPECT_EQ(m.runFor(20), RunEnd::Interrupted);
  EXPECT_EQ(m.core.pc(), kCode + 2);
  EXPECT_FALSE(m.core.primask());
}

TEST(Armv7mSystem, UnprivilegedCodeNeitherSeesNorChangesTheMasks) {
  Machine m;
  // mrs r5,basepri; mrs r6,control; msr basepri,r1
  m.load({0xF3EF, 0x8511, 0xF3EF, 0x8614, 0xF381, 0x8811});
  CoreRegisters r = m.core.registers();
  r.basepri = 0xD4, r.control = 3, r.psp = kStackTop - 0x100;
  m.core.setRegisters(r);
  m.set(1, 0x20);
  m.steps(3);
  EXPECT_EQ(m.core.reg(5), 0u);
  EXPECT_EQ(m.core.reg(6), 3u);
  EXPECT_EQ(m.core.basepri(), 0xD4u) << "an unprivileged MSR is ignored";

  m.load({0xF3EF, 0x8511, 0xF3EF, 0x8614, 0xF381, 0x8811});
  m.set(1, 0x20);
  m.steps(3);
  EXPECT_EQ(m.core.reg(6), 0u);
  EXPECT_EQ(m.core.basepri(), 0x20u);
}

TEST(Armv7mRunEnds, BudgetAndStopFromAnotherThread) {
  Machine m;
  m.load({0x3001, 0xE7FD});  // adds r0,#1 (1 cycle); b loop (1 + 2 refill)
  EXPECT_EQ(m.core.run(400), RunEnd::Budget);
  EXPECT_EQ(m.core.cycles(), 400u);
  EXPECT_EQ(m.core.reg(0), 100u);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m.core.requestStop();
  });
  EXPECT_EQ(m.core.run(UINT64_MAX), RunEnd::Interrupted);
  stopper.join();
  EXPECT_GT(m.core.reg(0), 100u);
}

// A model that asks for a stop during an access (an interrupt became pending) ends the run
// right after that instruction, even in straight-line code; the next run forgets the request.
TEST(Armv7mRunEnds, StopAskedForDuringABusAccessEndsTheRunAfterThatInstruction) {
  Machine m;
  m.bus.onAccess = [&] { m.core.requestStop(); };
  // str r0,[r1]; adds r2,#1; ldr r0,[r1]; adds r2,#1; b .
  m.load({0x6008, 0x3201, 0x6808, 0x3201, 0xE7FE});
  m.set(1, kPeriph);
  EXPECT_EQ(m.core.run(UINT64_MAX), RunEnd::Interrupted);
  EXPECT_EQ(m.core.pc(), kCode + 2);
  EXPECT_EQ(m.core.reg(2), 0u);
  EXPECT_EQ(m.core.cycles(), 1u) << "the store's own cycle only";
  EXPECT_EQ(m.core.run(UINT64_MAX), RunEnd::Interrupted);
  EXPECT_EQ(m.core.pc(), kCode + 6) << "a load that asks for a stop ends the run too";
  EXPECT_EQ(m.core.reg(2), 1u);
  m.bus.onAccess = nullptr;
  EXPECT_EQ(m.runFor(1), RunEnd::Budget);
  EXPECT_EQ(m.core.reg(2), 2u);
}

TEST(Armv7mFaults, DataAbortUndefinedThumbBitAndExecuteNever) {
  Machine m;
  m.load({0xBF00, 0x6808, 0xBF00});  // nop; ldr r0,[r1]; nop
  m.set(1, 0xA0000000);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::PreciseBus);
  EXPECT_EQ(m.core.fault().address, 0xA0000000u);
  EXPECT_EQ(m.core.fault().text, "read from unmapped address 0xA0000000");
  EXPECT_EQ(m.core.pc(), kCode + 2) << "PC stays on the faulting load";
  EXPECT_EQ(m.core.reg(0), 0u);
  m.core.clearFault();

  m.load({0xDE00});  // udf #0
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::UndefinedInstruction);
  m.core.clearFault();

  m.load({0x4700 | (2 << 3), 0xBF00});  // bx r2
  m.set(2, 0x200);                       // Thumb bit clear
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::InvalidState);
  EXPECT_EQ(m.core.pc(), 0x200u) << "the fault is on the instruction branched to";
  EXPECT_EQ(m.xpsr() & (1u << 24), 0u) << "EPSR.T reads clear, and is stacked so";
  m.core.clearFault();
  m.core.enterException(6, 0);
  EXPECT_EQ(m.ramWord(m.core.reg(13) + 28) & (1u << 24), 0u);
  EXPECT_NE(m.xpsr() & (1u << 24), 0u) << "the handler runs in Thumb state";

  m.load({0x4700 | (2 << 3)});
  m.set(2, 0xE0001001);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::InstructionAccess);
  m.core.clearFault();

  m.load({0x4700 | (2 << 3)});
  m.set(2, 0x30000001);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::InstructionBus);
}

TEST(Armv7mFaults, UnalignedAccessesWorkUnlessTrappedAndMultiplesAlwaysFault) {
  Machine m;
  m.setRamWord(kRam + 0x10, 0x44332211);
  m.setRamWord(kRam + 0x14, 0x88776655);
  m.load({0x6808, 0xBF00});  // ldr r0,[r1]
  m.set(1, kRam + 0x13);
  EXPECT_EQ(m.core.run(1), RunEnd::Budget);
  EXPECT_EQ(m.core.reg(0), 0x77665544u);

  bool trap = true;
  m.core.unalignedTraps = [&] { return trap; };
  m.load({0x6808, 0xBF00});
  m.set(1, kRam + 0x13);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::Unaligned);
  m.core.clearFault();

  trap = false;
  m.load({0xB530, 0xBD30});  // push {r4,r5,lr}; pop {r4,r5,pc}
  m.set(13, kStackTop - 2);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::Unaligned);
  EXPECT_EQ(m.core.reg(13), kStackTop - 2) << "a faulting push leaves SP alone";
}

TEST(Armv7mFaults, DivideByZeroGivesZeroOrFaultsWithTheTrap) {
  Machine m;
  bool trap = false;
  m.core.divideByZeroTraps = [&] { return trap; };
  m.load({0xFB91, 0xF0F2, 0xBF00});  // sdiv r0,r1,r2; nop
  m.set(0, 99), m.set(1, 7), m.set(2, 0);
  EXPECT_EQ(m.core.step(), RunEnd::Budget);
  EXPECT_EQ(m.core.reg(0), 0u);
  m.load({0xFB91, 0xF0F2, 0xBF00});
  trap = true;
  m.set(0, 99), m.set(1, 7), m.set(2, 0);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::DivideByZero);
  EXPECT_EQ(m.core.reg(0), 99u);
  EXPECT_EQ(m.core.pc(), kCode);
  m.core.clearFault();
  m.set(2, 0xFFFFFFFF);  // -7 / -1
  EXPECT_EQ(m.core.step(), RunEnd::Budget);
  EXPECT_EQ(m.core.reg(0), uint32_t(-7));

  m.load({0xE9D2, 0x0100});  // ldrd r0,r1,[r2]: word alignment always required
  m.set(2, kRam + 2);
  EXPECT_EQ(m.runFor(100), RunEnd::Fault);
  EXPECT_EQ(m.core.fault().kind, FaultKind::Unaligned);
}

TEST(Armv7mMemory, BusAccessesSeeTheExactCycleCountAndSizes) {
  Machine m;
  // str r1,[r0]; strh r1,[r0,#4]; ldrb r2,[r0,#1]; nop
  m.load({0x6001, 0x8081, 0x7842, 0xBF00});
  m.set(0, kPeriph), m.set(1, 0xCAFEF00D);
  m.core.addCycles(1000);
  EXPECT_EQ(m.core.run(1005), RunEnd::Budget);  // 1 + 1 + 2 + 1 cycles
  ASSERT_EQ(m.bus.accesses.size(), 3u);
  EXPECT_TRUE(m.bus.accesses[0].write);
  EXPECT_EQ(m.bus.accesses[0].value, 0xCAFEF00Du);
  EXPECT_EQ(m.bus.accesses[0].size, 4u);
  EXPECT_EQ(m.bus.accesses[0].cycles, 1000u);
  EXPECT_EQ(m.bus.accesses[1].address, kPeriph + 4);
  EXPECT_EQ(m.bus.accesses[1].size, 2u);
  EXPECT_EQ(m.bus.accesses[1].cycles, 1001u) << "a store with an immediate offset takes one cycle";
  EXPECT_FALSE(m.bus.accesses[2].write);
  EXPECT_EQ(m.bus.accesses[2].size, 1u);
  EXPECT_EQ(m.core.reg(2), 0x78u);
}

TEST(Armv7mMemory, StoresIntoCodeInRamAreSeenByTheNextFetch) {
  Machine m;
  // In RAM: strh r2,[r0]; nop; nop; nop. The last nop is decoded on a first pass, then the
  // store overwrites it with movs r2,#0x55.
  std::vector<uint16_t> code = {0x8002, 0xBF00, 0xBF00, 0xBF00};
  std::memcpy(&m.ram[0x100], code.data(), 8);
  m.core.reset(kStackTop, (kRam + 0x100) | 1);
  m.set(0, kRam + 0x200);
  EXPECT_EQ(m.steps(4), RunEnd::Budget);
  m.core.reset(kStackTop, (kRam + 0x100) | 1);
  m.set(0, kRam + 0x106), m.set(2, 0x2255);
  m.steps(4);
  EXPECT_EQ(m.core.reg(2), 0x55u);
}

TEST(Armv7mMemory, CodeInARamPageRoutedThroughTheBusStillRunsAndItsStoresGoToTheBus) {
  Machine m;
  // In RAM: str r1,[r0]; adds r2,#1; b .-2 (back to the adds)
  std::vector<uint16_t> code = {0x6001, 0x3201, 0xE7FD};
  std::memcpy(&m.ram[0x100], code.data(), 6);
  m.core.routePagesThroughBus(kRam, 0x1000, m.ram.data(), true, true);
  m.core.reset(kStackTop, (kRam + 0x100) | 1);
  m.set(0, kRam + 0x200), m.set(1, 0xAB);
  EXPECT_EQ(m.runFor(20), RunEnd::Budget);
  EXPECT_GT(m.core.reg(2), 2u);
  ASSERT_FALSE(m.bus.accesses.empty());
  EXPECT_EQ(m.bus.accesses[0].address, kRam + 0x200);
  EXPECT_TRUE(m.bus.accesses[0].write);
  m.core.routePagesThroughBus(kRam, 0x1000, m.ram.data(), false, true);
  m.core.reset(kStackTop, (kRam + 0x100) | 1);
  m.set(0, kRam + 0x200), m.set(1, 0xCD);
  m.runFor(2);
  EXPECT_EQ(m.ramWord(kRam + 0x200), 0xCDu) << "back to plain memory";
}

TEST(Armv7mDebug, BreakpointsStopBeforeAndResumeAndWatchpointsAfter) {
  Machine m;
  m.load({0x3001, 0x3001, 0x3001, 0xE7FB});  // adds r0,#1 x3; b start
  m.core.setBreakpoint(kCode + 4, true);
  EXPECT_EQ(m.runFor(1000), RunEnd::Breakpoint);
  EXPECT_EQ(m.core.pc(), kCode + 4);
  EXPECT_EQ(m.core.reg(0), 2u);
  EXPECT_EQ(m.runFor(1000), RunEnd::Breakpoint) << "resuming runs the instruction, then the loop comes back";
  EXPECT_EQ(m.core.reg(0), 5u);
  EXPECT_EQ(m.core.step(), RunEnd::Budget);
  EXPECT_EQ(m.core.reg(0), 6u);
  m.core.setBreakpoint(kCode + 4, false);
  EXPECT_EQ(m.core.run(m.core.cycles() + 30), RunEnd::Budget);

  m.load({0x6001, 0x6808, 0xBF00});  // str r1,[r0]; ldr r0,[r1]... ; nop
  m.set(0, kRam + 0x40), m.set(1, kRam + 0x40);
  m.core.setWatchpoint(kRam + 0x40, 4, false, true, true);
  EXPECT_EQ(m.runFor(1000), RunEnd::Watchpoint);
  EXPECT_EQ(m.core.watchHit(), kRam + 0x40);
  EXPECT_EQ(m.core.pc(), kCode + 2) << "after the access";
  EXPECT_EQ(m.ramWord(kRam + 0x40), kRam + 0x40);
  m.core.setWatchpoint(kRam + 0x40, 4, false, true, false);
  EXPECT_EQ(m.core.run(m.core.cycles() + 2), RunEnd::Budget);
}

TEST(Armv7mCycles, BranchesLoadsAndMultiplesCostWhatTheModelSays) {
  Machine m;
  // movs r0,#1 (1); ldr r1,[r2] (2); push {r4,r5,lr} (1+3); pop {r4,r5,pc} (1+3+2 refill)
  m.load({0x2001, 0x6811, 0xB530, 0xBD30});
  m.set(2, kRam), m.set(14, 0x201);  // pop returns to 0x200
  m.load({0xE7FE}, 0x200);           // b . there (1+2)
  m.core.reset(kStackTop, kCode | 1);
  m.set(2, kRam), m.set(14, 0x201);
  uint64_t start = m.core.cycles();
  m.steps(1);
  EXPECT_EQ(m.core.cycles() - start, 1u);
  m.steps(1);
  EXPECT_EQ(m.core.cycles() - start, 3u);
  m.steps(1);
  EXPECT_EQ(m.core.cycles() - start, 7u);
  m.steps(1);
  EXPECT_EQ(m.core.cycles() - start, 13u);
  EXPECT_EQ(m.core.pc(), 0x200u);
  m.steps(1);
  EXPECT_EQ(m.core.cycles() - start, 16u);
}

TEST(Armv7mDebug, RegistersRoundTripAndDumpNamesEveryRegister) {
  Machine m;
  m.load({0xBF00});
  CoreRegisters r = m.core.registers();
  for (int i = 0; i < 13; ++i) r.r[i] = 0x1000 + uint32_t(i);
  r.lr = 0x0800, r.pc = 0x0124, r.xpsr = 0x81000000, r.primask = 1, r.basepri = 0x40;
  m.core.setRegisters(r);
  CoreRegisters back = m.core.registers();
  EXPECT_EQ(back.r[12], 0x100Cu);
  EXPECT_EQ(back.pc, 0x124u);
  EXPECT_EQ(back.xpsr, 0x81000000u);
  EXPECT_EQ(back.primask, 1u);
  EXPECT_EQ(back.basepri, 0x40u);
  EXPECT_EQ(back.sp, kStackTop);
  std::string dump = m.core.registerDump();
  EXPECT_NE(dump.find("r12=0000100C sp=20008000 lr=00000800 pc=00000124\nxpsr=81000000"), std::string::npos) << dump;
}

// One 16-bit data-processing instruction on r0 (and r1): the result and the flags it must
// leave. Edge values: shifts by register past 32, carries in and out, signed overflow.
struct AluCase {
  const char* source;
  uint16_t encoding;
  uint32_t r0, r1;
  bool carryIn;
  uint32_t result;  // r0 after
  uint32_t flags;   // NZCV after
};
const AluCase kAluCases[] = {
    {"rors r0,r1 (by 1)", 0x41C8, 0x80000001, 1, false, 0xC0000000, kN | kC},
    {"rors r0,r1 (by 32)", 0x41C8, 0x80000001, 32, false, 0x80000001, kN | kC},
    {"asrs r0,r1 (by 40)", 0x4108, 0x80000000, 40, false, 0xFFFFFFFF, kN | kC},
    {"asrs r0,r1 (by 0)", 0x4108, 0x80000000, 0, true, 0x80000000, kN | kC},
    {"lsls r0,r1 (by 33)", 0x4088, 0xFFFFFFFF, 33, true, 0, kZ},
    {"adcs r0,r1 (carry in)", 0x4148, 0xFFFFFFFF, 0, true, 0, kZ | kC},
    {"adcs r0,r1 (overflow)", 0x4148, 0x7FFFFFFF, 0, true, 0x80000000, kN | kV},
    {"sbcs r0,r1 (borrow in)", 0x4188, 5, 5, false, 0xFFFFFFFF, kN},
    {"sbcs r0,r1 (no borrow)", 0x4188, 5, 5, true, 0, kZ | kC},
    {"rsbs r0,r1,#0 (of 1)", 0x4248, 0, 1, false, 0xFFFFFFFF, kN},
    {"rsbs r0,r1,#0 (of 0)", 0x4248, 0, 0, false, 0, kZ | kC},
    {"rsbs r0,r1,#0 (of INT_MIN)", 0x4248, 0, 0x80000000, false, 0x80000000, kN | kV},
    {"cmn r0,r1", 0x42C8, 0x7FFFFFFF, 1, false, 0x7FFFFFFF, kN | kV},
    {"bics r0,r1", 0x4388, 0xFF, 0x0F, true, 0xF0, kC},
    {"mvns r0,r1", 0x43C8, 5, 0, false, 0xFFFFFFFF, kN},
    {"muls r0,r1,r0", 0x4348, 7, 0xFFFFFFFA, true, uint32_t(-42), kN | kC},
    {"eors r0,r1", 0x4048, 0xF0F0, 0xF0F0, false, 0, kZ},
    {"orrs r0,r1", 0x4308, 0x80000000, 1, false, 0x80000001, kN},
    {"tst r0,r1", 0x4208, 0xF0, 0x0F, false, 0xF0, kZ},
    {"rev r0,r1", 0xBA08, 0, 0x11223344, false, 0x44332211, 0},
    {"rev16 r0,r1", 0xBA48, 0, 0x11223344, false, 0x22114433, 0},
    {"revsh r0,r1", 0xBAC8, 0, 0x000080FF, false, 0xFFFFFF80, 0},
    {"sxtb r0,r1", 0xB248, 0, 0x1280, false, 0xFFFFFF80, 0},
    {"uxth r0,r1", 0xB288, 0, 0xFFFF8001, false, 0x8001, 0},
};

TEST(Armv7mThumb16, DataProcessingResultsAndFlags) {
  for (const AluCase& k : kAluCases) {
    Machine m;
    m.load({k.encoding, 0xBF00});
    m.set(0, k.r0), m.set(1, k.r1);
    m.core.c_ = k.carryIn;
    ASSERT_EQ(m.core.step(), RunEnd::Budget) << k.source;
    EXPECT_EQ(m.core.reg(0), k.result) << k.source;
    EXPECT_EQ(m.xpsr() & (kN | kZ | kC | kV), k.flags) << k.source;
  }
}

TEST(Armv7mThumb16, HighRegistersLoadStoreMultipleAndInterworking) {
  Machine m;
  // mov r8,r0; add r8,r1; cmp r8,r1 (no flags from the first two)
  m.load({0x4680, 0x4488, 0x4588});
  m.set(0, 5), m.set(1, 5);
  m.core.z_ = true;
  m.steps(2);
  EXPECT_EQ(m.core.reg(8), 10u);
  EXPECT_TRUE(m.core.z_);
  m.steps(1);
  EXPECT_FALSE(m.core.z_);
  EXPECT_TRUE(m.core.c_);

  m.setRamWord(kRam, 11), m.setRamWord(kRam + 4, 22);
  m.load({0xC806, 0xC803});  // ldmia r0!,{r1,r2}; ldmia r0,{r0,r1}
  m.set(0, kRam);
  m.steps(1);
  EXPECT_EQ(m.core.reg(1), 11u);
  EXPECT_EQ(m.core.reg(2), 22u);
  EXPECT_EQ(m.core.reg(0), kRam + 8);
  m.setRamWord(kRam + 8, 33), m.setRamWord(kRam + 12, 44);
  m.steps(1);
  EXPECT_EQ(m.core.reg(0), 33u) << "the base in the list is loaded, not written back";
  EXPECT_EQ(m.core.reg(1), 44u);

  m.load({0xC006});  // stmia r0!,{r1,r2}
  m.set(0, kRam + 0x20), m.set(1, 0xA), m.set(2, 0xB);
  m.steps(1);
  EXPECT_EQ(m.ramWord(kRam + 0x20), 0xAu);
  EXPECT_EQ(m.ramWord(kRam + 0x24), 0xBu);
  EXPECT_EQ(m.core.reg(0), kRam + 0x28);

  m.load({0x4798, 0xBF00});  // blx r3
  m.load({0xBD00}, 0x200);   // pop {pc}
  m.core.reset(kStackTop, kCode | 1);
  m.set(3, 0x201);
  m.set(13, kStackTop - 4);
  m.setRamWord(kStackTop - 4, kCode + 2 + 1);
  m.steps(1);
  EXPECT_EQ(m.core.pc(), 0x200u);
  EXPECT_EQ(m.core.reg(14), kCode + 3) << "LR holds the return address with the Thumb bit";
  m.steps(1);
  EXPECT_EQ(m.core.pc(), kCode + 2);
  EXPECT_EQ(m.core.reg(13), kStackTop);

  // add sp,#16; sub sp,#16; add r0,sp,#8; ldrsh r0,[r1,r2]; ldrsb r0,[r1,r2]
  m.load({0xB004, 0xB084, 0xA802, 0x5E88, 0x5688});
  m.steps(1);
  EXPECT_EQ(m.core.reg(13), kStackTop + 16);
  m.steps(2);
  EXPECT_EQ(m.core.reg(0), kStackTop + 8);
  m.setRamWord(kRam + 0x40, 0x000080F0);
  m.set(1, kRam + 0x3F), m.set(2, 1);
  m.steps(1);
  EXPECT_EQ(m.core.reg(0), 0xFFFF80F0u);
  m.steps(1);
  EXPECT_EQ(m.core.reg(0), 0xFFFFFFF0u);
}

TEST(Armv7mThumb16, PcRelativeOperandsUseTheAlignedPc) {
  Machine m;
  // mov r0,pc; add r0,pc; ldr r2,[pc,#4]; adr r3,.+8 (32-bit); cbz r4,.+6; nop; nop; nop
  // At kCode+2 (not word aligned) add r0,pc adds kCode+6.
  m.load({0x4678, 0x4478, 0x4A01, 0xBF00, 0xB10C, 0xBF00, 0x5678, 0x1234});
  m.steps(3);
  EXPECT_EQ(m.core.reg(0), (kCode + 4) + (kCode + 6));
  EXPECT_EQ(m.core.reg(2), 0x12345678u) << "ldr literal from Align(PC,4) + 4";
  m.set(4, 0);
  m.steps(2);
  EXPECT_EQ(m.core.pc(), kCode + 8 + 4 + 2) << "cbz taken";
}

}  // namespace
}  // namespace korvel::sim
