// The little script language of korvel-testhost: one command per line, '#' starts a comment.
//   write ADDR VALUE [SIZE]   firmware stores VALUE (SIZE 1, 2 or 4 bytes, default 4)
//   read ADDR [SIZE]          firmware loads; prints "read ADDR = VALUE"
//   vtr NAME VALUE            the simulator writes a virtual register
//   vtr NAME                  prints "vtr NAME = VALUE"
//   time SECONDS              simulated time moves to SECONDS; due timers fire
//   reset                     the host resets the plug-in
// Numbers are decimal, 0x hexadecimal or 0 octal.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace korvel_test {

class TestHost;

struct ScriptCommand {
  enum class Kind { Write, Read, WriteVtr, ReadVtr, Time, Reset };
  Kind kind;
  int line = 0;
  uint32_t address = 0, value = 0, size = 4;
  std::string name;
  double seconds = 0.0;
};

// False with "<source> line N: <reason>" in *error at the first bad line.
bool parseScript(std::istream& in, const std::string& source, std::vector<ScriptCommand>* out,
                 std::string* error);
// Parses a number as the script does (whole text, fits 32 bits).
bool parseNumber(const std::string& text, uint32_t* value);
// Runs the commands, printing what reads show to out. False with a one-line reason at the first
// command that cannot be done (an undefined VTR).
bool runScript(TestHost& host, const std::vector<ScriptCommand>& commands, const std::string& source,
               std::ostream& out, std::string* error);

}  // namespace korvel_test
