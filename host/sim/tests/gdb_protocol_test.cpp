// The GDB remote protocol against a fake target: framing, acknowledgements, escapes, malformed
// and oversized packets, each command, stop replies, and a deterministic random-packet smoke.
#include "gdb_protocol.h"
#include "options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace korvel::simapp::gdb {
namespace {

struct FakeTarget : DebugTarget {
  static constexpr uint32_t kBase = 0x1000, kSize = 0x10000;
  std::vector<uint8_t> memory = std::vector<uint8_t>(kSize, 0);
  Registers regs{};
  std::vector<std::string> calls;
  bool registersOk = true;

  bool inside(uint32_t address, size_t length) const {
    return address >= kBase && uint64_t(address) + length <= uint64_t(kBase) + kSize;
  }
  bool readRegisters(Registers* r) override {
    *r = regs;
    return registersOk;
  }
  bool writeRegisters(const Registers& r) override {
    regs = r;
    return registersOk;
  }
  bool readMemory(uint32_t address, size_t length, uint8_t* out) override {
    if (!inside(address, length)) return false;
    std::memcpy(out, memory.data() + (address - kBase), length);
    return true;
  }
  bool writeMemory(uint32_t address, size_t length, const uint8_t* in) override {
    if (!inside(address, length)) return false;
    std::memcpy(memory.data() + (address - kBase), in, length);
    return true;
  }
  bool setBreakpoint(uint32_t address, bool on) override {
    calls.push_back((on ? "break+" : "break-") + std::to_string(address));
    return true;
  }
  bool setWatchpoint(uint32_t address, uint32_t length, WatchKind kind, bool on) override {
    const char* k = kind == WatchKind::Write ? "w" : kind == WatchKind::Read ? "r" : "a";
    calls.push_back(std::string(on ? "watch+" : "watch-") + k + std::to_string(address) + "/" + std::to_string(length));
    return true;
  }
  void resume() override { calls.push_back("resume"); }
  void step() override { calls.push_back("step"); }
  void interrupt() override { calls.push_back("interrupt"); }
  void reset() override { calls.push_back("reset"); }
  bool eraseFlash(uint32_t address, uint32_t length) override {
    calls.push_back("erase" + std::to_string(address) + "/" + std::to_string(length));
    if (!inside(address, length)) return false;
    std::memset(memory.data() + (address - kBase), 0xFF, length);
    return true;
  }
  void flashDone() override { calls.push_back("flashdone"); }
  void detach() override { calls.push_back("detach"); }
  void kill() override { calls.push_back("kill"); }
};

std::string pkt(const std::string& body) { return framePacket(body); }

// A connection past the handshake, without acknowledgements, so replies compare directly.
struct Session {
  FakeTarget target;
  Connection c{target};
  Session() { EXPECT_EQ(c.receive(pkt("QStartNoAckMode")), "+" + pkt("OK")); }
  std::string ask(const std::string& body) { return c.receive(pkt(body)); }
};

std::string memoryCommand(char command, uint32_t address, const std::string& data) {
  char head[32];
  std::snprintf(head, sizeof head, "%c%x,%zx:", command, address, data.size());
  return head + data;
}

TEST(GdbFraming, ChecksumsEscapesAndFrames) {
  EXPECT_EQ(framePacket("g"), "$g#67");
  EXPECT_EQ(framePacket("OK"), "$OK#9a");
  // $ # } * are escaped as } and the byte xor 0x20; the checksum covers what is sent.
  EXPECT_EQ(framePacket("a}b"), "$a}]b#" + [] {
    char b[3];
    std::snprintf(b, sizeof b, "%02x", ('a' + '}' + ']' + 'b') & 0xFF);
    return std::string(b);
  }());

  PacketReader r;
  std::string raw = "$X10,2:}]}\x03#";
  uint8_t sum = 0;
  for (size_t i = 1; i + 1 < raw.size(); ++i) sum = uint8_t(sum + uint8_t(raw[i]));
  char cs[3];
  std::snprintf(cs, sizeof cs, "%02x", sum);
  raw += cs;
  PacketReader::Event last = PacketReader::Event::None;
  for (char ch : raw) last = r.feed(uint8_t(ch));
  ASSERT_EQ(last, PacketReader::Event::Packet);
  EXPECT_EQ(r.body(), std::string("X10,2:}#"));
}

TEST(GdbFraming, AcknowledgesResendsAndRejectsBadPackets) {
  FakeTarget t;
  Connection c(t);
  // Acknowledgement mode: each good packet is acknowledged, a bad checksum answered with '-'.
  EXPECT_EQ(c.receive(pkt("qAttached")), "+" + pkt("1"));
  EXPECT_EQ(c.receive("$qAttached#00"), "-");
  EXPECT_EQ(c.receive("$qAttached#zz"), "-");
  // A NAK from the debugger gets the last packet again.
  EXPECT_EQ(c.receive("-"), pkt("1"));
  // Noise between packets and a packet restarted mid-way are survived.
  EXPECT_EQ(c.receive("garbage$qAtt" + pkt("qAttached")), "+" + pkt("1"));
  // The reply to QStartNoAckMode is the last acknowledged packet.
  EXPECT_EQ(c.receive(pkt("QStartNoAckMode")), "+" + pkt("OK"));
  EXPECT_FALSE(c.ackMode());
  EXPECT_EQ(c.receive(pkt("qAttached")), pkt("1"));
  EXPECT_EQ(c.receive("$qAttached#00"), "");  // dropped: no NAKs without acknowledgements
  EXPECT_EQ(c.receive("-"), "");
}

TEST(GdbFraming, OversizedPacketIsAnsweredWithAnErrorAndNotKept) {
  Session s;
  std::string huge = "M1000," + std::string(kMaxPacket * 4, '0');
  EXPECT_EQ(s.c.receive(pkt(huge)), pkt("E01"));
  // The next packet is read normally.
  EXPECT_EQ(s.ask("qAttached"), pkt("1"));
  // Split across many receive calls, byte by byte.
  std::string out;
  for (char ch : pkt("qAttached")) out += s.c.receive(std::string(1, ch));
  EXPECT_EQ(out, pkt("1"));
}

TEST(GdbCommands, SupportedFeaturesAndDescriptions) {
  Session s;
  std::string supported = s.ask("qSupported:multiprocess+;swbreak+;xmlRegisters=i386");
  EXPECT_NE(supported.find("PacketSize=4000"), std::string::npos);
  EXPECT_NE(supported.find("qXfer:features:read+"), std::string::npos);
  EXPECT_NE(supported.find("qXfer:memory-map:read+"), std::string::npos);
  EXPECT_NE(supported.find("QStartNoAckMode+"), std::string::npos);

  // The description read in small pieces joins up to the whole document.
  std::string doc;
  for (uint32_t offset = 0;;) {
    char q[64];
    std::snprintf(q, sizeof q, "qXfer:features:read:target.xml:%x,%x", offset, 0x40u);
    std::optional<std::string> r = s.c.handle(q);
    ASSERT_TRUE(r && !r->empty());
    doc += r->substr(1);
    offset += uint32_t(r->size() - 1);
    if ((*r)[0] == 'l') break;
    ASSERT_EQ((*r)[0], 'm');
  }
  EXPECT_EQ(doc, targetXml());
  for (const char* name : {"org.gnu.gdb.arm.m-profile", "org.gnu.gdb.arm.m-system", "\"r12\"", "\"xpsr\"", "\"msp\"",
                           "\"psp\"", "\"primask\"", "\"basepri\"", "\"faultmask\"", "\"control\""})
    EXPECT_NE(doc.find(name), std::string::npos) << name;
  EXPECT_EQ(s.c.handle("qXfer:features:read:other.xml:0,100"), "E00");
  EXPECT_EQ(s.c.handle("qXfer:features:read:target.xml:ffffff,10"), "E01");

  std::optional<std::string> map = s.c.handle("qXfer:memory-map:read::0,3000");
  ASSERT_TRUE(map);
  EXPECT_EQ((*map)[0], 'l');
  EXPECT_NE(map->find("<memory type=\"flash\" start=\"0x0\""), std::string::npos);
  EXPECT_NE(map->find("start=\"0x10000000\" length=\"0x8000\""), std::string::npos);
  EXPECT_EQ(s.c.handle("qAttached"), "1");
  EXPECT_EQ(s.c.handle("vMustReplyEmpty"), "");
  EXPECT_EQ(s.c.handle("qSomethingNew"), "");
}

TEST(GdbCommands, RegistersAllAndOneByOne) {
  Session s;
  for (int i = 0; i < kRegisterCount; ++i) s.target.regs[size_t(i)] = 0x11111111u * uint32_t(i % 15) + uint32_t(i);
  s.target.regs[15] = 0x00000241;
  std::optional<std::string> g = s.c.handle("g");
  ASSERT_TRUE(g);
  ASSERT_EQ(g->size(), size_t(8 * kRegisterCount));
  EXPECT_EQ(g->substr(15 * 8, 8), "41020000");  // little-endian

  Registers before = s.target.regs;
  s.target.regs = {};
  EXPECT_EQ(s.c.handle("G" + *g), "OK");
  EXPECT_EQ(s.target.regs, before);
  EXPECT_EQ(s.c.handle("G" + g->substr(8)), "E01");          // one register short
  EXPECT_EQ(s.c.handle("G" + g->substr(1) + "x"), "E01");    // not hex

  EXPECT_EQ(s.c.handle("pf"), "41020000");
  EXPECT_EQ(s.c.handle("P16=78563412"), "OK");  // register 22: control
  EXPECT_EQ(s.target.regs[22], 0x12345678u);
  EXPECT_EQ(s.c.handle("p17"), "E01");  // 23: no such register
  EXPECT_EQ(s.c.handle("P17=00000000"), "E01");
  EXPECT_EQ(s.c.handle("P1=123"), "E01");
  EXPECT_EQ(s.c.handle("p"), "E01");
  EXPECT_EQ(s.c.handle("p123456789"), "E01");  // does not fit 32 bits
  s.target.registersOk = false;
  EXPECT_EQ(s.c.handle("g"), "E01");
}

TEST(GdbCommands, MemoryHexAndBinary) {
  Session s;
  EXPECT_EQ(s.c.handle("M1000,4:deadbeef"), "OK");
  EXPECT_EQ(s.c.handle("m1000,4"), "deadbeef");
  EXPECT_EQ(s.c.handle("m1002,1"), "be");
  EXPECT_EQ(s.c.handle("m1000,0"), "");
  EXPECT_EQ(s.c.handle("m0,4"), "E01");           // nothing there
  EXPECT_EQ(s.c.handle("M1000,4:dead"), "E01");   // length and data disagree
  EXPECT_EQ(s.c.handle("M1000,2:zzzz"), "E01");
  EXPECT_EQ(s.c.handle("m1000"), "E01");
  EXPECT_EQ(s.c.handle("mffffffff,ffffffff"), "E01");
  // A long read is cut to what one reply can carry.
  std::optional<std::string> big = s.c.handle("m1000,ffff");
  ASSERT_TRUE(big);
  EXPECT_EQ(big->size(), kMaxPacket);

  // Binary data with escaped bytes, through the framing.
  std::string data = std::string("\x7d\x23\x24\x2a\x00\xff", 6);
  EXPECT_EQ(s.ask(memoryCommand('X', 0x1100, data)), pkt("OK"));
  EXPECT_EQ(s.c.handle("m1100,6"), "7d23242a00ff");
  EXPECT_EQ(s.c.handle("X1100,0:"), "OK");           // GDB's probe for X
  EXPECT_EQ(s.c.handle("X1100,4:ab"), "E01");        // short
  EXPECT_EQ(s.c.handle(std::string("X0,1:\x01", 7)), "E01");
}

TEST(GdbCommands, BreakpointsAndWatchpoints) {
  Session s;
  EXPECT_EQ(s.c.handle("Z0,240,2"), "OK");
  EXPECT_EQ(s.c.handle("Z1,300,2"), "OK");
  EXPECT_EQ(s.c.handle("z0,240,2"), "OK");
  EXPECT_EQ(s.c.handle("Z0,240,2;X2,0a"), "OK");  // a condition GDB evaluates itself
  EXPECT_EQ(s.c.handle("Z2,10000004,4"), "OK");
  EXPECT_EQ(s.c.handle("Z3,10000008,4"), "OK");
  EXPECT_EQ(s.c.handle("Z4,1000000c,2"), "OK");
  EXPECT_EQ(s.c.handle("Z2,10000000,0"), "E01");
  EXPECT_EQ(s.c.handle("Z0,240"), "E01");
  EXPECT_EQ(s.c.handle("Z9,240,2"), "");
  std::vector<std::string> want = {"break+576",          "break+768",          "break-576",
                                   "break+576",          "watch+w268435460/4", "watch+r268435464/4",
                                   "watch+a268435468/2"};
  EXPECT_EQ(s.target.calls, want);

  // A hit names the watchpoint's kind and the address.
  EXPECT_EQ(s.c.handle("c"), std::nullopt);
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Watchpoint, 0x10000004}), pkt("T05thread:1;watch:10000004;"));
  s.c.handle("c");
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Watchpoint, 0x1000000a}), pkt("T05thread:1;rwatch:1000000a;"));
  s.c.handle("c");
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Watchpoint, 0x1000000d}), pkt("T05thread:1;awatch:1000000d;"));
  EXPECT_EQ(s.c.handle("z3,10000008,4"), "OK");
  EXPECT_EQ(s.target.calls.back(), "watch-r268435464/4");
}

TEST(GdbCommands, RunningStoppingAndInterrupting) {
  Session s;
  EXPECT_EQ(s.ask("?"), pkt("T05thread:1;"));
  // Continue: no reply until the target stops.
  EXPECT_EQ(s.ask("c"), "");
  EXPECT_TRUE(s.c.running());
  EXPECT_EQ(s.c.receive("\x03"), "");
  EXPECT_EQ(s.target.calls, (std::vector<std::string>{"resume", "interrupt"}));
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Interrupt}), pkt("T02thread:1;"));
  EXPECT_FALSE(s.c.running());
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Trap}), "");  // nobody waits for a second stop
  EXPECT_EQ(s.c.receive("\x03"), "");                   // halted: nothing to interrupt
  EXPECT_EQ(s.target.calls.size(), 2u);

  EXPECT_EQ(s.ask("s"), "");
  EXPECT_EQ(s.target.calls.back(), "step");
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Trap}), pkt("T05thread:1;"));
  EXPECT_EQ(s.ask("vCont?"), pkt("vCont;c;C;s;S"));
  EXPECT_EQ(s.ask("vCont;s:1;c"), "");
  EXPECT_EQ(s.target.calls.back(), "step");
  s.c.stopped({StopEvent::Kind::Trap});
  EXPECT_EQ(s.ask("vCont;c"), "");
  EXPECT_EQ(s.target.calls.back(), "resume");
  s.c.stopped({StopEvent::Kind::Trap});
  EXPECT_EQ(s.ask("vCont;t"), pkt("E01"));
  // "c ADDR" goes on from ADDR.
  EXPECT_EQ(s.ask("c300"), "");
  EXPECT_EQ(s.target.regs[15], 0x300u);
  // The end of the run: a semihosting exit, or the run ending otherwise.
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Exited, 0, 42}), pkt("W2a"));
  EXPECT_EQ(s.ask("?"), pkt("W2a"));
  s.ask("c");
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Ended}), pkt("X0f"));
}

TEST(GdbCommands, FaultIsReportedThenEndsTheRun) {
  Session s;
  s.ask("c");
  std::string out = s.c.stopped({StopEvent::Kind::Fault, 0, 0, "Firmware fault: lockup\n  #0 0x00000100"});
  EXPECT_EQ(out, pkt("O" + toHex("Firmware fault: lockup\n")) + pkt("O" + toHex("  #0 0x00000100\n")) +
                     pkt("T0bthread:1;"));
  // The firmware cannot go on from a lockup: continuing again ends it.
  s.ask("c");
  EXPECT_EQ(s.c.stopped({StopEvent::Kind::Fault, 0, 0, "Firmware fault: lockup"}), pkt("X0b"));
}

TEST(GdbCommands, MonitorFlashDetachAndKill) {
  Session s;
  EXPECT_EQ(s.c.handle("qRcmd," + toHex("reset")), toHex("korvel-sim: chip reset; halted at the reset vector\n"));
  EXPECT_EQ(s.target.calls.back(), "reset");
  std::optional<std::string> help = s.c.handle("qRcmd," + toHex("help"));
  std::vector<uint8_t> text;
  ASSERT_TRUE(help && fromHex(*help, &text));
  EXPECT_NE(std::string(text.begin(), text.end()).find("monitor reset"), std::string::npos);
  help = s.c.handle("qRcmd," + toHex("frobnicate"));
  ASSERT_TRUE(help && fromHex(*help, &text));
  EXPECT_NE(std::string(text.begin(), text.end()).find("unknown monitor command \"frobnicate\""), std::string::npos);
  EXPECT_EQ(s.c.handle("qRcmd,7"), "E01");

  // load: erase, write (binary), done.
  EXPECT_EQ(s.c.handle("vFlashErase:1000,100"), "OK");
  EXPECT_EQ(s.c.handle("m1000,2"), "ffff");
  EXPECT_EQ(s.ask("vFlashWrite:1000:" + std::string("\x7d\x03\x00", 3)), pkt("OK"));  // '}' goes escaped
  EXPECT_EQ(s.c.handle("m1000,4"), "7d0300ff");
  EXPECT_EQ(s.c.handle("vFlashDone"), "OK");
  EXPECT_EQ(s.c.handle("vFlashErase:0,100"), "E01");
  EXPECT_EQ(s.c.handle("vFlashErase:1000"), "E01");
  EXPECT_EQ(s.c.handle("vFlashWrite:zz:"), "E01");

  EXPECT_FALSE(s.c.finished());
  EXPECT_EQ(s.ask("D"), pkt("OK"));
  EXPECT_EQ(s.target.calls.back(), "detach");
  EXPECT_TRUE(s.c.finished());

  Session k;
  EXPECT_EQ(k.ask("k"), "");
  EXPECT_EQ(k.target.calls.back(), "kill");
  EXPECT_TRUE(k.c.finished());
}

// Random and mutated packets: nothing crashes, every reply fits a packet, and the target is
// only asked for what it can answer.
TEST(GdbRobustness, RandomAndMutatedPackets) {
  std::mt19937 random(12345);
  const std::vector<std::string> seeds = {
      "g", "G" + std::string(8 * kRegisterCount, '1'), "p0", "P1=01020304", "m1000,10", "M1000,2:abcd",
      "X1000,2:ab", "Z0,240,2", "z2,10000000,4", "Z4,1,1", "c", "s", "vCont;s:1;c", "vCont?",
      "qSupported:xmlRegisters=i386", "qXfer:features:read:target.xml:0,fff", "qXfer:memory-map:read::10,20",
      "qRcmd,7265736574", "vFlashErase:1000,10", "vFlashWrite:1000:abc", "vFlashDone", "?", "qAttached",
      "QStartNoAckMode", "H g0", "T1"};
  FakeTarget target;
  auto c = std::make_unique<Connection>(target);
  size_t packets = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string body = seeds[random() % seeds.size()];
    int edits = int(random() % 4);
    for (int e = 0; e < edits && !body.empty(); ++e) {
      size_t at = random() % body.size();
      switch (random() % 4) {
        case 0: body[at] = char(random() % 256); break;
        case 1: body.insert(at, 1, "0123456789abcdef,:;#$}*"[random() % 23]); break;
        case 2: body.erase(at, 1); break;
        case 3: body.insert(at, std::string(random() % 64, 'f')); break;
      }
    }
    std::string wire = round % 7 == 0 ? "$" + body + "#00" : pkt(body);
    if (round % 97 == 0) wire.insert(random() % wire.size(), 1, char(random() % 256));
    std::string out = c->receive(wire);
    if (c->running()) out += c->stopped({StopEvent::Kind(random() % 6), uint32_t(random()), int(random() % 256), "x"});
    // Replies are whole packets of bounded size (O lines for a fault report aside).
    ASSERT_LE(out.size(), 2 * kMaxPacket + 64) << body;
    packets += !out.empty();
    if (c->finished()) c = std::make_unique<Connection>(target);
  }
  EXPECT_GT(packets, 10000u);
}

}  // namespace
}  // namespace korvel::simapp::gdb

namespace korvel::simapp {
namespace {

TEST(GdbOptions, PortAndWaitAreUnderstoodOrRefusedInOneLine) {
  std::string error;
  auto o = parseOptions({"--gdb", "3333", "--gdb-wait", "fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->gdbPort, 3333);
  EXPECT_TRUE(o->gdbWait);
  o = parseOptions({"--gdb", "0", "fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->gdbPort, 0);
  EXPECT_FALSE(o->gdbWait);
  EXPECT_FALSE(parseOptions({"fw.elf"}, &error)->gdbPort);

  struct Bad {
    std::vector<std::string> args;
    const char* says;
  };
  for (const Bad& b : std::vector<Bad>{
           {{"--gdb", "65536", "fw.elf"}, "--gdb: \"65536\" is not a port from 0 to 65535"},
           {{"--gdb", "-1", "fw.elf"}, "is not a port"},
           {{"--gdb", "33x", "fw.elf"}, "is not a port"},
           {{"--gdb", "", "fw.elf"}, "is not a port"},
           {{"--gdb-wait", "fw.elf"}, "--gdb-wait needs --gdb PORT"},
           {{"--gdb", "3333"}, "--gdb needs a firmware file"},
           {{"--gdb", "5000", "--uart1", "tcp:5000", "fw.elf"}, "cannot share port 5000"},
       }) {
    error.clear();
    EXPECT_FALSE(parseOptions(b.args, &error)) << b.args[0];
    EXPECT_NE(error.find(b.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  EXPECT_NE(usage().find("--gdb PORT"), std::string::npos);
}

}  // namespace
}  // namespace korvel::simapp
