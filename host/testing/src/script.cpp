#include "korvel_test/script.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <sstream>

#include "korvel_test/test_host.h"

namespace korvel_test {

namespace {

std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

bool parseSize(const std::string& text, uint32_t* size) {
  return parseNumber(text, size) && (*size == 1 || *size == 2 || *size == 4);
}

}  // namespace

bool parseNumber(const std::string& text, uint32_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool parseScript(std::istream& in, const std::string& source, std::vector<ScriptCommand>* out,
                 std::string* error) {
  std::string text;
  int lineNumber = 0;
  while (std::getline(in, text)) {
    ++lineNumber;
    if (auto hash = text.find('#'); hash != std::string::npos) text.erase(hash);
    std::istringstream words(text);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    auto fail = [&](const std::string& reason) {
      *error = source + " line " + std::to_string(lineNumber) + ": " + reason;
      return false;
    };
    ScriptCommand c{};
    c.line = lineNumber;
    const std::string& verb = w[0];
    if (verb == "write") {
      if (w.size() < 3 || w.size() > 4) return fail("expected 'write ADDRESS VALUE [SIZE]'");
      c.kind = ScriptCommand::Kind::Write;
      if (!parseNumber(w[1], &c.address)) return fail("'" + w[1] + "' is not a 32-bit address");
      if (!parseNumber(w[2], &c.value)) return fail("'" + w[2] + "' is not a 32-bit value");
      if (w.size() == 4 && !parseSize(w[3], &c.size)) return fail("size must be 1, 2 or 4, not '" + w[3] + "'");
    } else if (verb == "read") {
      if (w.size() < 2 || w.size() > 3) return fail("expected 'read ADDRESS [SIZE]'");
      c.kind = ScriptCommand::Kind::Read;
      if (!parseNumber(w[1], &c.address)) return fail("'" + w[1] + "' is not a 32-bit address");
      if (w.size() == 3 && !parseSize(w[2], &c.size)) return fail("size must be 1, 2 or 4, not '" + w[2] + "'");
    } else if (verb == "vtr") {
      if (w.size() < 2 || w.size() > 3) return fail("expected 'vtr NAME [VALUE]'");
      c.name = w[1];
      c.kind = w.size() == 3 ? ScriptCommand::Kind::WriteVtr : ScriptCommand::Kind::ReadVtr;
      if (w.size() == 3 && !parseNumber(w[2], &c.value)) return fail("'" + w[2] + "' is not a 32-bit value");
    } else if (verb == "time") {
      if (w.size() != 2) return fail("expected 'time SECONDS'");
      c.kind = ScriptCommand::Kind::Time;
      char* end = nullptr;
      c.seconds = std::strtod(w[1].c_str(), &end);
      if (end == w[1].c_str() || *end != '\0' || !std::isfinite(c.seconds) || c.seconds < 0)
        return fail("'" + w[1] + "' is not a time in seconds");
    } else if (verb == "reset") {
      if (w.size() != 1) return fail("'reset' takes nothing after it");
      c.kind = ScriptCommand::Kind::Reset;
    } else {
      return fail("unknown command '" + verb + "' (write, read, vtr, time, reset)");
    }
    out->push_back(c);
  }
  return true;
}

bool runScript(TestHost& host, const std::vector<ScriptCommand>& commands, const std::string& source,
               std::ostream& out, std::string* error) {
  for (const auto& c : commands) {
    switch (c.kind) {
      case ScriptCommand::Kind::Write:
        host.firmwareWrite(c.address, c.value, c.size);
        break;
      case ScriptCommand::Kind::Read:
        out << "read " << hex(c.address) << " = " << hex(host.firmwareRead(c.address, c.size)) << std::endl;
        break;
      case ScriptCommand::Kind::WriteVtr:
        if (!host.writeVtr(c.name, c.value)) {
          *error = source + " line " + std::to_string(c.line) + ": the plug-in defined no VTR named '" + c.name + "'";
          return false;
        }
        break;
      case ScriptCommand::Kind::ReadVtr: {
        auto v = host.vtr(c.name);
        if (!v) {
          *error = source + " line " + std::to_string(c.line) + ": the plug-in defined no VTR named '" + c.name + "'";
          return false;
        }
        out << "vtr " << c.name << " = " << hex(*v) << std::endl;
        break;
      }
      case ScriptCommand::Kind::Time:
        host.setTime(c.seconds);
        break;
      case ScriptCommand::Kind::Reset:
        host.reset();
        break;
    }
  }
  return true;
}

}  // namespace korvel_test
