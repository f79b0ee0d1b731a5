// The GDB remote serial protocol, without sockets or threads: bytes from the debugger go in,
// bytes to send come out, and the commands act on a DebugTarget. korvel-sim's GDB server
// (gdb_server.*) puts a TCP connection and the simulator on either side; tests put a fake
// target and byte strings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvel::simapp::gdb {

// The largest packet body taken or sent (advertised as PacketSize). Longer packets are read to
// their end without being kept and answered with an error.
constexpr size_t kMaxPacket = 16384;

// r0..r12, sp, lr, pc, xpsr, then msp, psp, primask, basepri, faultmask, control: the order of
// the target description, which is also the numbering of p/P.
constexpr int kRegisterCount = 23;
using Registers = std::array<uint32_t, kRegisterCount>;

enum class WatchKind { Write, Read, Access };

// Why the target stopped after a continue, a step or an interrupt.
struct StopEvent {
  enum class Kind {
    Trap,        // breakpoint, step, reset (SIGTRAP)
    Interrupt,   // Ctrl-C or another halt (SIGINT)
    Watchpoint,  // a data watchpoint; address says where
    Fault,       // the firmware faulted and cannot go on (SIGSEGV); report says why
    Exited,      // semihosting exit; exitCode
    Ended,       // the run ended otherwise (time limit, a stop): the inferior is gone
  } kind = Kind::Trap;
  uint32_t address = 0;
  int exitCode = 0;
  std::string report;
  StopEvent() = default;
  StopEvent(Kind k, uint32_t a = 0, int code = 0, std::string text = {})
      : kind(k), address(a), exitCode(code), report(std::move(text)) {}
};

// What the protocol needs from the thing being debugged. Calls come from one thread (the
// server's); resume() and step() return at once and the stop arrives later through
// Connection::stopped().
class DebugTarget {
 public:
  virtual ~DebugTarget() = default;
  virtual bool readRegisters(Registers* regs) = 0;
  virtual bool writeRegisters(const Registers& regs) = 0;
  // Debugger accesses: false when some address in the range answers nothing.
  virtual bool readMemory(uint32_t address, size_t length, uint8_t* out) = 0;
  virtual bool writeMemory(uint32_t address, size_t length, const uint8_t* in) = 0;
  virtual bool setBreakpoint(uint32_t address, bool on) = 0;
  virtual bool setWatchpoint(uint32_t address, uint32_t length, WatchKind kind, bool on) = 0;
  virtual void resume() = 0;
  virtual void step() = 0;
  virtual void interrupt() = 0;
  // Chip reset, halted at the reset vector.
  virtual void reset() = 0;
  // Flash programming (vFlashErase / vFlashWrite / vFlashDone).
  virtual bool eraseFlash(uint32_t address, uint32_t length) = 0;
  virtual void flashDone() = 0;
  // The debugger leaves: breakpoints are gone and the firmware runs on.
  virtual void detach() = 0;
  // The debugger ends the run (k).
  virtual void kill() = 0;
};

// Packet framing: "$body#cs", acknowledgements and the interrupt byte.
class PacketReader {
 public:
  enum class Event {
    None,         // byte taken, nothing complete yet
    Packet,       // body() holds the unescaped body
    Interrupt,    // 0x03 between packets
    Ack, Nak,     // '+' / '-' from the debugger
    BadChecksum,  // a packet whose checksum does not match
    Oversized,    // a packet longer than kMaxPacket (its bytes were not kept)
  };
  Event feed(uint8_t byte);
  const std::string& body() const { return body_; }

 private:
  enum class State { Idle, Body, Escape, Check1, Check2 } state_ = State::Idle;
  std::string body_;
  size_t length_ = 0;
  uint8_t sum_ = 0, given_ = 0;
  bool oversized_ = false, badDigit_ = false;
};

// "$body#cs" with }-escapes for $, #, } and *.
std::string framePacket(const std::string& body);
std::string toHex(const uint8_t* data, size_t n);
std::string toHex(const std::string& text);
// False for an odd length or a character that is not a hex digit.
bool fromHex(const std::string& hex, std::vector<uint8_t>* out);

// The target description and memory map this server sends.
const std::string& targetXml();
const std::string& memoryMapXml();

// One debugger connection.
class Connection {
 public:
  explicit Connection(DebugTarget& target) : target_(target) {}

  // Bytes from the debugger; answers the bytes to send back.
  std::string receive(const uint8_t* data, size_t n);
  std::string receive(const std::string& bytes) {
    return receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  // The target stopped while running; answers the stop reply to send (empty when the debugger
  // was not waiting for one).
  std::string stopped(const StopEvent& e);

  bool running() const { return running_; }
  // Detached or killed: the connection should be closed.
  bool finished() const { return finished_; }
  bool ackMode() const { return ack_; }

  // The reply to one packet body, without framing ("" is the empty reply; nullopt: none now,
  // the target was set running).
  std::optional<std::string> handle(const std::string& body);

 private:
  std::string send(const std::string& body);
  std::string stopReply(const StopEvent& e);
  std::string xfer(const std::string& body);
  std::string monitor(const std::string& hexCommand);
  std::string insertOrRemove(const std::string& body);
  std::string flashWrite(const std::string& body);
  std::string writeBinary(const std::string& body);

  struct Watch {
    uint32_t address, length;
    WatchKind kind;
  };
  DebugTarget& target_;
  PacketReader reader_;
  bool ack_ = true;
  bool running_ = false;
  bool finished_ = false;
  std::string lastSent_;  // resent on a NAK in acknowledgement mode
  StopEvent lastStop_{StopEvent::Kind::Trap};
  std::vector<Watch> watches_;
};

}  // namespace korvel::simapp::gdb
