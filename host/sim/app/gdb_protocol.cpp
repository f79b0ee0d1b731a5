#include "gdb_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korvel::simapp::gdb {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hex number of 1..8 digits at text[pos]; pos moves past it.
bool parseHex(const std::string& text, size_t& pos, uint32_t* value) {
  uint32_t v = 0;
  size_t start = pos;
  while (pos < text.size() && hexDigit(text[pos]) >= 0) {
    if (pos - start == 8) return false;  // would not fit 32 bits
    v = v << 4 | uint32_t(hexDigit(text[pos++]));
  }
  if (pos == start) return false;
  *value = v;
  return true;
}

bool expect(const std::string& text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

std::string hex32(uint32_t v) {
  // Registers travel in the target's byte order (little-endian).
  uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  return toHex(b, 4);
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

const char kError[] = "E01";

}  // namespace

// ---- framing ------------------------------------------------------------------------------------

PacketReader::Event PacketReader::feed(uint8_t byte) {
  switch (state_) {
    case State::Idle:
      if (byte == '$') {
        state_ = State::Body;
        body_.clear();
        length_ = 0;
        sum_ = 0;
        oversized_ = false;
        return Event::None;
      }
      if (byte == 0x03) return Event::Interrupt;
      if (byte == '+') return Event::Ack;
      if (byte == '-') return Event::Nak;
      return Event::None;  // noise between packets
    case State::Body:
    case State::Escape:
      if (byte == '#') {
        state_ = State::Check1;
        return Event::None;
      }
      if (byte == '$' && state_ == State::Body) {
        // A new packet begins before this one ended (the debugger gave up on it): start over.
        body_.clear();
        length_ = 0;
        sum_ = 0;
        oversized_ = false;
        return Event::None;
      }
      sum_ = uint8_t(sum_ + byte);
      if (++length_ > kMaxPacket) {
        oversized_ = true;
        body_.clear();
        state_ = State::Body;
        return Event::None;
      }
      if (state_ == State::Escape) {
        body_ += char(byte ^ 0x20);
        state_ = State::Body;
      } else if (byte == '}') {
        state_ = State::Escape;
      } else {
        body_ += char(byte);
      }
      return Event::None;
    case State::Check1: {
      int d = hexDigit(char(byte));
      badDigit_ = d < 0;
      given_ = uint8_t(d < 0 ? 0 : d << 4);
      state_ = State::Check2;
      return Event::None;
    }
    case State::Check2: {
      state_ = State::Idle;
      int d = hexDigit(char(byte));
      if (d < 0 || badDigit_) return Event::BadChecksum;
      given_ = uint8_t(given_ | d);
      if (given_ != sum_) return Event::BadChecksum;
      if (oversized_) return Event::Oversized;
      return Event::Packet;
    }
  }
  return Event::None;
}

std::string framePacket(const std::string& body) {
  std::string out = "$";
  uint8_t sum = 0;
  for (char c : body) {
    if (c == '$' || c == '#' || c == '}' || c == '*') {
      out += '}';
      sum = uint8_t(sum + '}');
      c = char(c ^ 0x20);
    }
    out += c;
    sum = uint8_t(sum + uint8_t(c));
  }
  char tail[4];
  std::snprintf(tail, sizeof tail, "#%02x", sum);
  return out + tail;
}

std::string toHex(const uint8_t* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s(2 * n, '0');
  for (size_t i = 0; i < n; ++i) s[2 * i] = digits[data[i] >> 4], s[2 * i + 1] = digits[data[i] & 15];
  return s;
}

std::string toHex(const std::string& text) { return toHex(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

bool fromHex(const std::string& hex, std::vector<uint8_t>* out) {
  if (hex.size() % 2) return false;
  out->clear();
  out->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = hexDigit(hex[i]), lo = hexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(uint8_t(hi << 4 | lo));
  }
  return true;
}

// ---- descriptions -------------------------------------------------------------------------------

const std::string& targetXml() {
  static const std::string xml = [] {
    std::string s =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n<target version=\"1.0\">\n"
        "<architecture>arm</architecture>\n<feature name=\"org.gnu.gdb.arm.m-profile\">\n";
    for (int i = 0; i <= 12; ++i) s += "<reg name=\"r" + std::to_string(i) + "\" bitsize=\"32\" type=\"uint32\"/>\n";
    s += "<reg name=\"sp\" bitsize=\"32\" type=\"data_ptr\"/>\n"
         "<reg name=\"lr\" bitsize=\"32\"/>\n"
         "<reg name=\"pc\" bitsize=\"32\" type=\"code_ptr\"/>\n"
         "<reg name=\"xpsr\" bitsize=\"32\"/>\n"
         "</feature>\n<feature name=\"org.gnu.gdb.arm.m-system\">\n"
         "<reg name=\"msp\" bitsize=\"32\" type=\"data_ptr\" group=\"system\"/>\n"
         "<reg name=\"psp\" bitsize=\"32\" type=\"data_ptr\" group=\"system\"/>\n"
         "<reg name=\"primask\" bitsize=\"32\" type=\"uint32\" group=\"system\"/>\n"
         "<reg name=\"basepri\" bitsize=\"32\" type=\"uint32\" group=\"system\"/>\n"
         "<reg name=\"faultmask\" bitsize=\"32\" type=\"uint32\" group=\"system\"/>\n"
         "<reg name=\"control\" bitsize=\"32\" type=\"uint32\" group=\"system\"/>\n"
         "</feature>\n</target>\n";
    return s;
  }();
  return xml;
}

const std::string& memoryMapXml() {
  // The LPC1768's flash has 4 KiB sectors below 64 KiB and 32 KiB sectors above. The peripheral
  // and system windows are listed too: with a memory map GDB refuses addresses outside it.
  static const std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE memory-map PUBLIC \"+//IDN gnu.org//DTD GDB Memory Map V1.0//EN\" "
      "\"http://sourceware.org/gdb/gdb-memory-map.dtd\">\n<memory-map>\n"
      "<memory type=\"flash\" start=\"0x0\" length=\"0x10000\"><property name=\"blocksize\">0x1000</property></memory>\n"
      "<memory type=\"flash\" start=\"0x10000\" length=\"0x70000\"><property name=\"blocksize\">0x8000</property></memory>\n"
      "<memory type=\"ram\" start=\"0x10000000\" length=\"0x8000\"/>\n"
      "<memory type=\"rom\" start=\"0x1fff0000\" length=\"0x2000\"/>\n"
      "<memory type=\"ram\" start=\"0x2007c000\" length=\"0x8000\"/>\n"
      "<memory type=\"ram\" start=\"0x22000000\" length=\"0x2000000\"/>\n"
      "<memory type=\"ram\" start=\"0x40000000\" length=\"0x100000\"/>\n"
      "<memory type=\"ram\" start=\"0x42000000\" length=\"0x2000000\"/>\n"
      "<memory type=\"ram\" start=\"0x50000000\" length=\"0x200000\"/>\n"
      "<memory type=\"ram\" start=\"0xe0000000\" length=\"0x100000\"/>\n"
      "</memory-map>\n";
  return xml;
}

// ---- the connection -----------------------------------------------------------------------------

std::string Connection::send(const std::string& body) {
  lastSent_ = framePacket(body);
  return lastSent_;
}

std::string Connection::receive(const uint8_t* data, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    switch (reader_.feed(data[i])) {
      case PacketReader::Event::None:
      case PacketReader::Event::Ack:
        break;
      case PacketReader::Event::Nak:
        if (ack_) out += lastSent_;
        break;
      case PacketReader::Event::Interrupt:
        if (running_) target_.interrupt();
        break;
      case PacketReader::Event::BadChecksum:
        if (ack_) out += '-';  // the debugger sends it again
        break;
      case PacketReader::Event::Oversized:
        if (ack_) out += '+';
        out += send(kError);
        break;
      case PacketReader::Event::Packet: {
        if (ack_) out += '+';
        bool wasAck = ack_;
        std::optional<std::string> reply = handle(reader_.body());
        if (reply) {
          // The reply to QStartNoAckMode is the last one acknowledged.
          bool now = ack_;
          ack_ = wasAck;
          out += send(*reply);
          ack_ = now;
        }
        if (finished_) return out;
        break;
      }
    }
  }
  return out;
}

std::string Connection::stopped(const StopEvent& e) {
  if (!running_) return {};
  running_ = false;
  std::string out;
  if (e.kind == StopEvent::Kind::Fault && lastStop_.kind != StopEvent::Kind::Fault) {
    // The report reaches the debugger's console before the stop.
    size_t p = 0;
    while (p < e.report.size()) {
      size_t q = e.report.find('\n', p);
      if (q == std::string::npos) q = e.report.size();
      out += send("O" + toHex(e.report.substr(p, q - p) + "\n"));
      p = q + 1;
    }
  }
  std::string reply = stopReply(e);
  lastStop_ = e;
  return out + send(reply);
}

std::string Connection::stopReply(const StopEvent& e) {
  char b[64];
  switch (e.kind) {
    case StopEvent::Kind::Trap: return "T05thread:1;";
    case StopEvent::Kind::Interrupt: return "T02thread:1;";
    case StopEvent::Kind::Watchpoint: {
      const char* name = "awatch";
      for (const Watch& w : watches_)
        if (e.address >= w.address && e.address - w.address < w.length)
          name = w.kind == WatchKind::Write ? "watch" : w.kind == WatchKind::Read ? "rwatch" : "awatch";
      std::snprintf(b, sizeof b, "T05thread:1;%s:%x;", name, unsigned(e.address));
      return b;
    }
    case StopEvent::Kind::Fault:
      // Stopped at the fault so it can be looked at; a run that cannot go on then ends.
      return lastStop_.kind == StopEvent::Kind::Fault ? "X0b" : "T0bthread:1;";
    case StopEvent::Kind::Exited:
      std::snprintf(b, sizeof b, "W%02x", unsigned(e.exitCode) & 0xFF);
      return b;
    case StopEvent::Kind::Ended: return "X0f";
  }
  return "T05";
}

std::optional<std::string> Connection::handle(const std::string& body) {
  if (body.empty()) return std::string();
  size_t pos = 1;
  switch (body[0]) {
    case '?': return stopReply(lastStop_);
    case 'g': {
      Registers r{};
      if (!target_.readRegisters(&r)) return kError;
      std::string s;
      for (uint32_t v : r) s += hex32(v);
      return s;
    }
    case 'G': {
      std::vector<uint8_t> bytes;
      if (body.size() != 1 + 8 * kRegisterCount || !fromHex(body.substr(1), &bytes)) return kError;
      Registers r{};
      for (int i = 0; i < kRegisterCount; ++i) std::memcpy(&r[size_t(i)], bytes.data() + 4 * i, 4);
      return target_.writeRegisters(r) ? "OK" : kError;
    }
    case 'p': {
      uint32_t n = 0;
      Registers r{};
      if (!parseHex(body, pos, &n) || pos != body.size() || n >= kRegisterCount) return kError;
      if (!target_.readRegisters(&r)) return kError;
      return hex32(r[n]);
    }
    case 'P': {
      uint32_t n = 0;
      std::vector<uint8_t> bytes;
      if (!parseHex(body, pos, &n) || !expect(body, pos, '=') || n >= kRegisterCount) return kError;
      if (!fromHex(body.substr(pos), &bytes) || bytes.size() != 4) return kError;
      Registers r{};
      if (!target_.readRegisters(&r)) return kError;
      std::memcpy(&r[n], bytes.data(), 4);
      return target_.writeRegisters(r) ? "OK" : kError;
    }
    case 'm': {
      uint32_t address = 0, length = 0;
      if (!parseHex(body, pos, &address) || !expect(body, pos, ',') || !parseHex(body, pos, &length) || pos != body.size())
        return kError;
      // A reply holds at most kMaxPacket characters; a shorter read is allowed.
      length = std::min<uint32_t>(length, kMaxPacket / 2);
      std::vector<uint8_t> data(length);
      if (length && !target_.readMemory(address, length, data.data())) return kError;
      return toHex(data.data(), data.size());
    }
    case 'M': {
      uint32_t address = 0, length = 0;
      std::vector<uint8_t> data;
      if (!parseHex(body, pos, &address) || !expect(body, pos, ',') || !parseHex(body, pos, &length) || !expect(body, pos, ':'))
        return kError;
      if (!fromHex(body.substr(pos), &data) || data.size() != length) return kError;
      if (length && !target_.writeMemory(address, length, data.data())) return kError;
      return "OK";
    }
    case 'X': return writeBinary(body);
    case 'Z':
    case 'z': return insertOrRemove(body);
    case 'c':
    case 's': {
      if (body.size() > 1) {
        // "c ADDR": go on from ADDR.
        uint32_t address = 0;
        Registers r{};
        if (!parseHex(body, pos, &address) || pos != body.size() || !target_.readRegisters(&r)) return kError;
        r[15] = address;
        if (!target_.writeRegisters(r)) return kError;
      }
      running_ = true;
      if (body[0] == 'c') target_.resume();
      else target_.step();
      return std::nullopt;
    }
    case 'D':
      target_.detach();
      finished_ = true;
      watches_.clear();
      return "OK";
    case 'k':
      target_.kill();
      finished_ = true;
      return std::nullopt;
    case 'H': return "OK";
    case 'T': return "OK";  // the one thread is alive
    default: break;
  }
  if (body == "vCont?") return "vCont;c;C;s;S";
  if (startsWith(body, "vCont;")) {
    // The first action applies to the one thread; signals given with C/S are not delivered.
    char action = body.size() > 6 ? body[6] : 0;
    if (action != 'c' && action != 'C' && action != 's' && action != 'S') return kError;
    running_ = true;
    if (action == 'c' || action == 'C') target_.resume();
    else target_.step();
    return std::nullopt;
  }
  if (startsWith(body, "qSupported"))
    return "PacketSize=" + [] {
      char b[16];
      std::snprintf(b, sizeof b, "%zx", kMaxPacket);
      return std::string(b);
    }() + ";qXfer:features:read+;qXfer:memory-map:read+;QStartNoAckMode+;vContSupported+";
  if (body == "QStartNoAckMode") {
    ack_ = false;
    return "OK";
  }
  if (startsWith(body, "qXfer:")) return xfer(body);
  if (body == "qAttached") return "1";
  if (body == "qC") return "QC1";
  if (body == "qfThreadInfo") return "m1";
  if (body == "qsThreadInfo") return "l";
  if (startsWith(body, "qRcmd,")) return monitor(body.substr(6));
  if (startsWith(body, "vFlashErase:")) {
    pos = sizeof "vFlashErase:" - 1;
    uint32_t address = 0, length = 0;
    if (!parseHex(body, pos, &address) || !expect(body, pos, ',') || !parseHex(body, pos, &length) || pos != body.size())
      return kError;
    return target_.eraseFlash(address, length) ? "OK" : kError;
  }
  if (startsWith(body, "vFlashWrite:")) return flashWrite(body);
  if (body == "vFlashDone") {
    target_.flashDone();
    return "OK";
  }
  if (body == "vKill" || startsWith(body, "vKill;")) {
    target_.kill();
    finished_ = true;
    return "OK";
  }
  return std::string();  // not supported: the empty reply
}

std::string Connection::writeBinary(const std::string& body) {
  size_t pos = 1;
  uint32_t address = 0, length = 0;
  if (!parseHex(body, pos, &address) || !expect(body, pos, ',') || !parseHex(body, pos, &length) || !expect(body, pos, ':'))
    return kError;
  if (body.size() - pos != length) return kError;
  if (length && !target_.writeMemory(address, length, reinterpret_cast<const uint8_t*>(body.data() + pos))) return kError;
  return "OK";
}

std::string Connection::flashWrite(const std::string& body) {
  size_t pos = sizeof "vFlashWrite:" - 1;
  uint32_t address = 0;
  if (!parseHex(body, pos, &address) || !expect(body, pos, ':')) return kError;
  size_t length = body.size() - pos;
  if (length && !target_.writeMemory(address, length, reinterpret_cast<const uint8_t*>(body.data() + pos))) return kError;
  return "OK";
}

std::string Connection::insertOrRemove(const std::string& body) {
  bool on = body[0] == 'Z';
  size_t pos = 1;
  uint32_t type = 0, address = 0, kind = 0;
  if (!parseHex(body, pos, &type) || !expect(body, pos, ',') || !parseHex(body, pos, &address) || !expect(body, pos, ',') ||
      !parseHex(body, pos, &kind))
    return kError;
  // Conditions and commands after the kind (";X..."): evaluated by GDB itself instead.
  if (pos != body.size() && body[pos] != ';') return kError;
  switch (type) {
    case 0:
    case 1:  // software and hardware breakpoints alike: the engine stops before the address
      return target_.setBreakpoint(address, on) ? "OK" : kError;
    case 2:
    case 3:
    case 4: {
      if (kind == 0 || kind > 0x10000) return kError;
      WatchKind w = type == 2 ? WatchKind::Write : type == 3 ? WatchKind::Read : WatchKind::Access;
      if (!target_.setWatchpoint(address, kind, w, on)) return kError;
      for (auto it = watches_.begin(); it != watches_.end(); ++it)
        if (it->address == address && it->length == kind && it->kind == w) {
          watches_.erase(it);
          break;
        }
      if (on) watches_.push_back({address, kind, w});
      return "OK";
    }
    default: return std::string();  // not supported
  }
}

std::string Connection::xfer(const std::string& body) {
  // qXfer:OBJECT:read:ANNEX:OFFSET,LENGTH
  const std::string* doc = nullptr;
  size_t pos = 0;
  static const char features[] = "qXfer:features:read:target.xml:", map[] = "qXfer:memory-map:read::";
  if (startsWith(body, features)) doc = &targetXml(), pos = sizeof features - 1;
  else if (startsWith(body, map)) doc = &memoryMapXml(), pos = sizeof map - 1;
  else if (startsWith(body, "qXfer:features:read:")) return "E00";
  else return std::string();
  uint32_t offset = 0, length = 0;
  if (!parseHex(body, pos, &offset) || !expect(body, pos, ',') || !parseHex(body, pos, &length) || pos != body.size())
    return kError;
  if (offset > doc->size()) return kError;
  // Escaping may double characters: stay well inside the packet size.
  length = std::min<uint32_t>(length, kMaxPacket / 2 - 8);
  std::string part = doc->substr(offset, length);
  return (offset + part.size() < doc->size() ? "m" : "l") + part;
}

std::string Connection::monitor(const std::string& hexCommand) {
  std::vector<uint8_t> bytes;
  if (!fromHex(hexCommand, &bytes)) return kError;
  std::string command(bytes.begin(), bytes.end());
  while (!command.empty() && (command.back() == ' ' || command.back() == '\n')) command.pop_back();
  size_t first = command.find_first_not_of(' ');
  command = first == std::string::npos ? "" : command.substr(first);
  if (command == "reset" || command == "reset halt") {
    target_.reset();
    lastStop_ = StopEvent{StopEvent::Kind::Trap};
    return toHex("korvel-sim: chip reset; halted at the reset vector\n");
  }
  if (command == "help" || command.empty())
    return toHex(
        "korvel-sim monitor commands:\n"
        "  monitor reset   reset the chip (peripherals and core); the core stays halted at the reset vector\n"
        "  monitor help    this list\n");
  return toHex("korvel-sim: unknown monitor command \"" + command + "\"; monitor help lists the commands\n");
}

}  // namespace korvel::simapp::gdb
