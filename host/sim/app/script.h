// Scripted inputs for headless runs: "<time> <action> [arguments]" steps, played at their
// simulated time through the same paths as the mouse on the board.
//   100ms press KEY1        left button down on a component (release KEY1 lifts it)
//   200ms touch 120 160     pen down on the touch panel at panel pixel (120, 160); untouch lifts it
//   300ms joystick up       push the stick (up, down, left, right, up-left, ..., release, push, unpush)
//   0.5s vtr PORT2 0xFFFF   write a virtual register (float ones in their unit: vtr AIN5 1.65)
//   1s lcd-png out.png      write the LCD picture now (board-png: the whole board window)
//   1s reset                reset the chip
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::simapp {

struct ScriptStep {
  double seconds = 0;
  std::string action;
  std::vector<std::string> args;
  std::string text;  // the step as written, for messages
};

// Parses one step; false with one line in *error.
bool parseStep(const std::string& line, ScriptStep* step, std::string* error);
// Parses a script file's lines (blank lines and '#' comments skipped).
// The bits a `vtr` step writes: a whole number (0x.. hex too) for integer VTRs, volts and the
// like as a float for float VTRs. False when the text is not such a number.
bool vtrValue(const std::string& text, bool isFloat, uint32_t* value);

bool parseScript(const std::string& text, std::vector<ScriptStep>* steps, std::string* error);
// "100ms", "1.5s", "250us", "2" (seconds).
bool parseDuration(const std::string& text, double* seconds);

}  // namespace korvel::simapp
