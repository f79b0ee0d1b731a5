// Scripted inputs for headless runs: "<time> <action> [arguments]" steps, played at their
// simulated time through the same paths as the mouse on the board.
//   100ms press KEY1        left button down on a part (release KEY1 lifts it; click KEY1 does
//                           both, holding the part for kClickHoldSeconds)
//   200ms touch 120 160     pen down on the touch panel at panel pixel (120, 160); untouch lifts it
//   300ms joystick up       push the stick (up, down, left, right, up-left, ..., release, push, unpush)
//   400ms turn 2.5V         turn the potentiometer (AD0.5) to 2.5 V, 0 to 3.3 V, by dragging its knob
//   0.5s vtr PORT2 0xFFFF   write a virtual register (float ones in their unit: vtr AIN5 1.65)
//   1s lcd-png out.png      write the LCD picture now (board-png: the whole board window)
//   0.1s square P1.26 500Hz a square wave on an input pin until the end of the run
//                           (square P1.26 off ends it)
//   1s reset                reset the chip
//   0s expect "ready" within 2s
//                           the firmware must print a line containing "ready" within 2 s of
//                           simulated time from the step's time
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::simapp {

// How long a click holds its part down: firmware that polls its buttons every 10 ms, with a
// debounce of a few samples, sees it.
constexpr double kClickHoldSeconds = 0.05;
// The longest run, and the latest step, a script may ask for: one day of simulated time.
constexpr double kMaxSeconds = 24 * 3600.0;

struct ScriptStep {
  double seconds = 0;
  std::string action;
  std::vector<std::string> args;  // expect: the text and the window in seconds
  std::string text;               // the step as written, for messages
  std::string where;              // "line N" of a script file, or "--at"
  double within = 0;              // expect: how long to wait
};

// Parses one step; false with one line in *error (the step and what is wrong with it).
bool parseStep(const std::string& line, ScriptStep* step, std::string* error);
// Parses a script file's lines (blank lines and '#' comments skipped).
// The bits a `vtr` step writes: a whole number (0x.. hex too) for integer VTRs, volts and the
// like as a float for float VTRs. False when the text is not such a number.
bool vtrValue(const std::string& text, bool isFloat, uint32_t* value);

bool parseScript(const std::string& text, std::vector<ScriptStep>* steps, std::string* error);
// "100ms", "1.5s", "250us", "2" (seconds); finite, not negative, at most kMaxSeconds.
bool parseDuration(const std::string& text, double* seconds);
// Checks the script as a whole against the run: no step after the time limit (timeLimit < 0:
// none). False with one line naming the step.
bool checkScript(const std::vector<ScriptStep>& steps, double timeLimit, std::string* error);
// The fastest square wave a script may ask for.
constexpr double kMaxSquareHz = 100e3;
// "P1.26": port 0..4, pin 0..31.
bool parsePin(const std::string& text, int* port, int* pin);
// "500Hz", "2.5kHz": more than 0, at most kMaxSquareHz.
bool parseFrequency(const std::string& text, double* hz);
// The potentiometer's full scale, and a `turn` step's voltage: "1.65" or "1.65V", 0 to that.
constexpr double kPotFullScaleVolts = 3.3;
bool parseVolts(const std::string& text, double* volts);
// Splits a step into words; "double quoted" words may hold blanks. False on an open quote.
bool splitWords(const std::string& line, std::vector<std::string>* words);

}  // namespace korvel::simapp
