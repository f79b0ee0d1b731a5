// korvel-sim's command line: what to run and how, checked before any window opens.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "korvel_sim/engine_kind.h"
#include "script.h"
#include "vcd_writer.h"

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
  std::filesystem::path settings;  // empty: defaults (headless) or korvel.ini beside the plug-in
  bool keepSettings = false;       // headless: write the run's settings back at the end
  std::optional<uint32_t> seed;    // the contact bounce's and the potentiometer noise's random seed
  sim::EngineKind cpu = sim::EngineKind::Own;  // which engine runs the firmware
  bool quiet = false;              // headless: only firmware output and errors
  bool untilExpected = false;      // end the run once every expectation is met
  bool help = false;
  bool version = false;
  bool listParts = false;
  // Pin traces: a Value Change Dump of these pins (default: every pin of ports 0..4).
  std::filesystem::path vcd;
  std::vector<TracedPin> vcdPins = allPins();
  bool vcdPinsGiven = false;
  bool traceUnmodelled = false;    // one standard-error line per register nothing models
  // The GDB server: on 127.0.0.1:port (0: a free port, named on standard error).
  std::optional<uint16_t> gdbPort;
  bool gdbWait = false;            // stay halted at reset until the debugger continues

  // CAN ports configured without the settings page (--can1-dir ... / --can2-...).
  struct CanPort {
    std::string dir;                       // empty: the port stays off
    std::string acceptance = "987654321";  // every identifier
    uint32_t colour = 0;                   // 0x00BBGGRR
  };
  CanPort can[2];

  // Where UARTn's bytes go and come from (--uartN).
  struct UartChannel {
    enum class Kind { Default, Stdio, Pty, File, Tcp, Window } kind = Kind::Default;
    std::string file;   // Kind::File
    uint16_t port = 0;  // Kind::Tcp; 0: a free port the system chooses
  };
  UartChannel uart[4];
};

// Reads a --uartN value (stdio, pty, file:PATH, tcp:PORT, window); false with one line in *error.
bool parseUartChannel(const std::string& option, const std::string& value, Options::UartChannel* channel,
                      std::string* error);

// The --canN-* options: true if args[i] was one (i then points at its value), false if not;
// a bad value puts one line into *error and returns true.
bool parseCanOption(const std::vector<std::string>& args, size_t& i, Options& o, std::string* error);

// One command-line option: its name, its value's name (null for a switch), its lines in --help
// and what it does to the options. New options are new rows of optionTable().
struct OptionSpec {
  const char* name;
  const char* alias;      // e.g. "-h"; may be null
  const char* valueName;  // null: takes no value
  const char* help;       // may hold several lines
  // Null for the CAN port options, which parseCanOption reads.
  std::function<bool(Options&, const std::string& value, std::string* error)> apply;
};
const std::vector<OptionSpec>& optionTable();

// Parses argv. On a mistake returns nothing and puts one line into *error.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string* error);
std::string usage();
// What --version prints: "korvel-sim VERSION" and the engines this build can run firmware on.
std::string versionText();

// Exit statuses of headless runs.
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 2,             // bad options, script, files, or no display could be had
  kExitFault = 3,             // the firmware faulted
  kExitPicture = 4,           // a picture could not be written
  kExitExpectFailed = 5,      // an expectation's time ran out without its text
  kExitExpectUnfinished = 6,  // the run ended while an expectation still waited
};

}  // namespace korvel::simapp
