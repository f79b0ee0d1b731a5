#include "script.h"

#include <cctype>
#include <cerrno>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <map>

#include "parts.h"

namespace korvel::simapp {

namespace {
// Each action and how many arguments it takes.
const std::map<std::string, std::pair<size_t, size_t>>& actions() {
  static const std::map<std::string, std::pair<size_t, size_t>> a = {
      {"press", {1, 3}},     {"release", {1, 3}},  {"click", {1, 3}},   {"touch", {2, 2}},
      {"untouch", {0, 0}},   {"joystick", {1, 1}}, {"vtr", {2, 2}},     {"lcd-png", {1, 1}},
      {"board-png", {1, 1}}, {"reset", {0, 0}},    {"stop", {0, 0}},    {"expect", {3, 3}},
      {"square", {2, 2}},    {"turn", {1, 1}},
  };
  return a;
}
const char* kJoystick[] = {"up", "down", "left", "right", "up-left", "up-right", "down-left", "down-right",
                           "release", "push", "unpush"};

// A whole-word decimal number in [low, high].
bool integer(const std::string& text, long low, long high, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end || errno == ERANGE || v < low || v > high) return false;
  *out = v;
  return true;
}

std::string timeText(double seconds) {
  char b[32];
  std::snprintf(b, sizeof b, "%gs", seconds);
  return b;
}
}  // namespace

bool splitWords(const std::string& line, std::vector<std::string>* words) {
  words->clear();
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string::npos) return false;
      word = line.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
    }
    words->push_back(word);
  }
  return true;
}

bool parseDuration(const std::string& text, double* seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  // strtod also reads "nan", "inf" and hexadecimal floats: a time is a plain finite number.
  if (end == text.c_str() || !std::isfinite(v) || v < 0 || text.find_first_of("xXnN") < size_t(end - text.c_str()))
    return false;
  std::string unit(end);
  double s;
  if (unit.empty() || unit == "s") s = v;
  else if (unit == "ms") s = v / 1e3;
  else if (unit == "us") s = v / 1e6;
  else return false;
  if (s > kMaxSeconds) return false;
  *seconds = s;
  return true;
}

bool vtrValue(const std::string& text, bool isFloat, uint32_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  if (isFloat) {
    double v = std::strtod(text.c_str(), &end);
    if (*end || !std::isfinite(v)) return false;
    *value = std::bit_cast<uint32_t>(float(v));
    return true;
  }
  if (text[0] == '-') return false;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end || v > 0xFFFFFFFFull) return false;
  *value = uint32_t(v);
  return true;
}

bool parsePin(const std::string& text, int* port, int* pin) {
  size_t dot = text.find('.');
  long p, n;
  if (text.size() < 4 || text[0] != 'P' || dot == std::string::npos || !integer(text.substr(1, dot - 1), 0, 4, &p) ||
      !integer(text.substr(dot + 1), 0, 31, &n) || text.find_first_of("+- ") != std::string::npos)
    return false;
  *port = int(p);
  *pin = int(n);
  return true;
}

bool parseFrequency(const std::string& text, double* hz) {
  char* end = nullptr;
  if (text.empty() || !(text[0] >= '0' && text[0] <= '9')) return false;
  double v = std::strtod(text.c_str(), &end);
  std::string unit(end);
  if (unit == "kHz") v *= 1e3;
  else if (unit != "Hz") return false;
  // Each edge is an event of the run: beyond 100 kHz they would cost more than the firmware.
  if (!std::isfinite(v) || v <= 0 || v > kMaxSquareHz || text.find_first_of("xXnN") < size_t(end - text.c_str())) return false;
  *hz = v;
  return true;
}

bool parseVolts(const std::string& text, double* volts) {
  std::string t = text;
  if (!t.empty() && (t.back() == 'V' || t.back() == 'v')) t.pop_back();
  if (t.empty() || std::isspace(static_cast<unsigned char>(t[0]))) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(t.c_str(), &end);
  // Plain decimals only: no hex, infinities or NaN sneak in through strtod.
  if (errno != 0 || end != t.c_str() + t.size() || t.find_first_of("xXnNiI") != std::string::npos) return false;
  if (!(v >= 0.0 && v <= kPotFullScaleVolts)) return false;
  *volts = v;
  return true;
}

bool parseStep(const std::string& line, ScriptStep* step, std::string* error) {
  ScriptStep s;
  s.text = line;
  auto fail = [&](const std::string& why) {
    *error = "script step \"" + line + "\": " + why;
    return false;
  };
  std::vector<std::string> words;
  if (!splitWords(line, &words)) return fail("a quote is not closed");
  if (words.empty()) return fail("empty step");
  if (!parseDuration(words[0], &s.seconds))
    return fail("\"" + words[0] + "\" is not a time (write e.g. 100ms or 1.5s; at most 24 hours)");
  if (words.size() < 2) return fail("no action after the time");
  const std::string& action = words[1];
  auto it = actions().find(action);
  if (it == actions().end())
    return fail("unknown action \"" + action +
                "\" (press, release, click, touch, untouch, joystick, turn, vtr, lcd-png, board-png, reset, stop, expect, square)");
  s.args.assign(words.begin() + 2, words.end());
  if (s.args.size() < it->second.first || s.args.size() > it->second.second) {
    if (action == "expect") return fail("write expect \"TEXT\" within TIME");
    return fail(action + " takes " + std::to_string(it->second.first) + " argument(s)");
  }
  if (action == "press" || action == "release" || action == "click") {
    const PartInfo* part = findPart(s.args[0]);
    if (!part) return fail("the board has no part \"" + s.args[0] + "\" (korvel-sim --list-parts lists them)");
    bool accepts = false;
    for (const std::string& a : part->actions) accepts |= a == action;
    if (!accepts)
      return fail(std::string(part->id) + " (" + part->what + ") takes no " + action + "; it takes: " + part->usage);
    // An optional point inside the part, for parts whose active area is not their centre; the
    // run checks it against the part's size once the board is open.
    if (s.args.size() != 1) {
      long v;
      if (s.args.size() != 3) return fail(action + " takes a part, optionally followed by X Y");
      for (size_t i = 1; i < 3; ++i)
        if (!integer(s.args[i], 0, 10000, &v)) return fail("\"" + s.args[i] + "\" is not a point inside the part");
    }
  }
  if (action == "touch") {
    long x, y;
    if (!integer(s.args[0], 0, 239, &x) || !integer(s.args[1], 0, 319, &y))
      return fail("touch takes panel pixel coordinates (x 0..239, y 0..319)");
  }
  if (action == "vtr") {
    // The VTR's type is known only once the plug-in defined it; any number may do here.
    uint32_t v = 0;
    // A whole 32-bit number, or a fraction (volts) for the analog registers.
    bool fraction = s.args[1].find('.') != std::string::npos;
    if (!vtrValue(s.args[1], false, &v) && !(fraction && vtrValue(s.args[1], true, &v)))
      return fail("\"" + s.args[1] + "\" is not a 32-bit value: vtr takes a name and a number (e.g. PORT2 0xFFFF, AIN5 1.65)");
  }
  if (action == "square") {
    int port, pin;
    double hz;
    if (!parsePin(s.args[0], &port, &pin)) return fail("\"" + s.args[0] + "\" is not a pin (write Pn.m, port 0..4, pin 0..31, e.g. P1.26)");
    if (s.args[1] != "off" && !parseFrequency(s.args[1], &hz))
      return fail("\"" + s.args[1] + "\" is not a frequency (write e.g. 500Hz or 2kHz, at most 100kHz; or off)");
  }
  if (action == "joystick") {
    bool ok = false;
    for (const char* d : kJoystick) ok |= s.args[0] == d;
    if (!ok)
      return fail("joystick takes up, down, left, right, up-left, up-right, down-left, down-right, release, push or unpush");
  }
  if (action == "turn") {
    double volts;
    if (!parseVolts(s.args[0], &volts))
      return fail("\"" + s.args[0] + "\" is not a voltage for the potentiometer (write e.g. turn 1.65 or turn 1.65V; 0 to 3.3)");
  }
  if (action == "expect") {
    if (s.args[0].empty()) return fail("expect needs the text to wait for");
    if (s.args[1] != "within" || !parseDuration(s.args[2], &s.within) || s.within <= 0)
      return fail("write expect \"TEXT\" within TIME (e.g. within 500ms)");
  }
  s.action = action;
  *step = s;
  return true;
}

bool parseScript(const std::string& text, std::vector<ScriptStep>* steps, std::string* error) {
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    line = line.substr(first);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    ScriptStep s;
    if (!parseStep(line, &s, error)) {
      *error = "line " + std::to_string(number) + ": " + *error;
      return false;
    }
    s.where = "line " + std::to_string(number);
    steps->push_back(s);
  }
  return true;
}

bool checkScript(const std::vector<ScriptStep>& steps, double timeLimit, std::string* error) {
  if (timeLimit < 0) return true;
  for (const ScriptStep& s : steps) {
    if (s.seconds > timeLimit) {
      *error = (s.where.empty() ? std::string() : s.where + ": ") + "script step \"" + s.text + "\" comes after the end of the run at --time " +
               timeText(timeLimit) + " and would never play (raise --time or move the step)";
      return false;
    }
  }
  return true;
}

}  // namespace korvel::simapp
