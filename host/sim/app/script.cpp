#include "script.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

namespace korvel::simapp {

namespace {
// Each action and how many arguments it takes.
const std::map<std::string, std::pair<size_t, size_t>>& actions() {
  static const std::map<std::string, std::pair<size_t, size_t>> a = {
      {"press", {1, 3}},   {"release", {1, 3}}, {"click", {1, 3}},     {"touch", {2, 2}},
      {"untouch", {0, 0}}, {"joystick", {1, 1}}, {"vtr", {2, 2}},      {"lcd-png", {1, 1}},
      {"board-png", {1, 1}}, {"reset", {0, 0}},  {"stop", {0, 0}},
  };
  return a;
}
const char* kJoystick[] = {"up", "down", "left", "right", "up-left", "up-right", "down-left", "down-right",
                           "release", "push", "unpush"};
}  // namespace

bool parseDuration(const std::string& text, double* seconds) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || v < 0) return false;
  std::string unit(end);
  if (unit.empty() || unit == "s") *seconds = v;
  else if (unit == "ms") *seconds = v / 1e3;
  else if (unit == "us") *seconds = v / 1e6;
  else return false;
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

bool parseStep(const std::string& line, ScriptStep* step, std::string* error) {
  std::istringstream in(line);
  std::string time, action, arg;
  in >> time >> action;
  ScriptStep s;
  s.text = line;
  if (!parseDuration(time, &s.seconds)) {
    *error = "script step \"" + line + "\": \"" + time + "\" is not a time (write e.g. 100ms or 1.5s)";
    return false;
  }
  auto it = actions().find(action);
  if (it == actions().end()) {
    *error = "script step \"" + line + "\": unknown action \"" + action +
             "\" (press, release, click, touch, untouch, joystick, vtr, lcd-png, board-png, reset, stop)";
    return false;
  }
  while (in >> arg) s.args.push_back(arg);
  if (s.args.size() < it->second.first || s.args.size() > it->second.second) {
    *error = "script step \"" + line + "\": " + action + " takes " + std::to_string(it->second.first) + " argument(s)";
    return false;
  }
  if ((action == "press" || action == "release" || action == "click") && s.args.size() != 1) {
    // An optional point inside the component, for parts whose active area is not their centre
    // (the power switch's lever).
    if (s.args.size() != 3) {
      *error = "script step \"" + line + "\": " + action + " takes an ID, optionally followed by X Y";
      return false;
    }
    for (size_t i = 1; i < 3; ++i) {
      char* end = nullptr;
      long v = std::strtol(s.args[i].c_str(), &end, 10);
      if (*end || v < 0 || v > 10000) {
        *error = "script step \"" + line + "\": \"" + s.args[i] + "\" is not a point inside the component";
        return false;
      }
    }
  }
  if (action == "touch") {
    for (auto& a : s.args) {
      char* end = nullptr;
      long v = std::strtol(a.c_str(), &end, 10);
      if (*end || v < 0 || v >= 320) {
        *error = "script step \"" + line + "\": touch takes panel pixel coordinates (x 0..239, y 0..319)";
        return false;
      }
    }
  }
  if (action == "vtr") {
    // The VTR's type is known only once the plug-in defined it; any number may do here.
    uint32_t v = 0;
    if (!vtrValue(s.args[1], false, &v) && !vtrValue(s.args[1], true, &v)) {
      *error = "script step \"" + line + "\": vtr takes a name and a number (e.g. PORT2 0xFFFF, AIN5 1.65)";
      return false;
    }
  }
  if (action == "joystick") {
    bool ok = false;
    for (const char* d : kJoystick) ok |= s.args[0] == d;
    if (!ok) {
      *error = "script step \"" + line + "\": joystick takes up, down, left, right, up-left, up-right, down-left, "
               "down-right, release, push or unpush";
      return false;
    }
  }
  s.action = action;
  *step = s;
  return true;
}

bool parseScript(const std::string& text, std::vector<ScriptStep>* steps, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    line = line.substr(first);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    ScriptStep s;
    if (!parseStep(line, &s, error)) {
      *error = "line " + std::to_string(number) + ": " + *error;
      return false;
    }
    steps->push_back(s);
  }
  return true;
}

}  // namespace korvel::simapp
