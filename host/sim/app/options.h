// korvel-sim's command line: what to run and how, checked before any window opens.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "script.h"

namespace korvel::simapp {

struct Options {
  std::filesystem::path firmware;  // empty: run without a CPU
  std::filesystem::path plugin;    // empty: <exe>/../lib/korvel/libKorvel.so
  bool showBoard = true;
  bool realTime = true;
  bool headless = false;
  double timeLimit = -1;           // seconds of simulated time; < 0: none
  std::vector<ScriptStep> script;
  std::filesystem::path lcdPng, boardPng;
  bool help = false;

  // CAN ports configured without the settings page (--can1-dir ... / --can2-...).
  struct CanPort {
    std::string dir;                       // empty: the port stays off
    std::string acceptance = "987654321";  // every identifier
    uint32_t colour = 0;                   // 0x00BBGGRR
  };
  CanPort can[2];
};

// The --canN-* options: true if args[i] was one (i then points at its value), false if not;
// a bad value puts one line into *error and returns true.
bool parseCanOption(const std::vector<std::string>& args, size_t& i, Options& o, std::string* error);

// Parses argv. On a mistake returns nothing and puts one line into *error.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string* error);
const char* usage();

}  // namespace korvel::simapp
