#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "parts.h"

namespace korvel::simapp {

namespace {
bool readScriptFile(Options& o, const std::string& file, std::string* error) {
  std::ifstream in(file);
  if (!in) {
    *error = "cannot read the script file " + file;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::vector<ScriptStep> steps;
  if (!parseScript(text.str(), &steps, error)) {
    *error = file + ": " + *error;
    return false;
  }
  for (ScriptStep& s : steps) s.where = file + ": " + s.where;
  o.script.insert(o.script.end(), steps.begin(), steps.end());
  return true;
}

OptionSpec uartRow(int n, const char* help) {
  static const char* const names[4] = {"--uart0", "--uart1", "--uart2", "--uart3"};
  return {names[n], nullptr, "stdio|pty|file:PATH|tcp:PORT|window", help,
          [n](Options& o, const std::string& v, std::string* error) {
            return parseUartChannel(names[n], v, &o.uart[n], error);
          }};
}
}  // namespace

bool parseUartChannel(const std::string& option, const std::string& value, Options::UartChannel* channel,
                      std::string* error) {
  using Kind = Options::UartChannel::Kind;
  Options::UartChannel c;
  if (value == "stdio") {
    c.kind = Kind::Stdio;
  } else if (value == "pty") {
    c.kind = Kind::Pty;
  } else if (value == "window") {
    c.kind = Kind::Window;
  } else if (value.rfind("file:", 0) == 0) {
    c.kind = Kind::File;
    c.file = value.substr(5);
    if (c.file.empty()) {
      *error = option + ": \"file:\" needs a file name (e.g. file:uart.log)";
      return false;
    }
  } else if (value.rfind("tcp:", 0) == 0) {
    std::string p = value.substr(4);
    if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos || std::stoul(p) > 65535) {
      *error = option + ": \"" + value + "\" needs a port from 0 to 65535 (e.g. tcp:5000; 0 picks a free one)";
      return false;
    }
    c.kind = Kind::Tcp;
    c.port = uint16_t(std::stoul(p));
  } else {
    *error = option + ": \"" + value + "\" is not a channel (write stdio, pty, file:PATH, tcp:PORT or window)";
    return false;
  }
  *channel = c;
  return true;
}

const std::vector<OptionSpec>& optionTable() {
  static const std::vector<OptionSpec> table = {
      {"--plugin", nullptr, "PATH", "the plug-in library (default: <bin>/../lib/korvel/libKorvel.so)",
       [](Options& o, const std::string& v, std::string*) { o.plugin = v; return true; }},
      {"--no-board", nullptr, nullptr, "no board window at start (Peripherals > Korvel opens it)",
       [](Options& o, const std::string&, std::string*) { o.showBoard = false; return true; }},
      {"--fast", nullptr, nullptr, "run as fast as possible instead of in real time",
       [](Options& o, const std::string&, std::string*) { o.realTime = false; return true; }},
      {"--headless", nullptr, nullptr,
       "no main window, for CI: the firmware's output (UART0, semihosting) goes\n"
       "to standard output alone, everything else to standard error; the run ends\n"
       "at --time, when the firmware exits or faults, or at a stop step. The\n"
       "board's parts are still windows: when no display is set (DISPLAY empty),\n"
       "korvel-sim starts a private virtual X server (Xvfb) for the run and stops\n"
       "it at the end",
       [](Options& o, const std::string&, std::string*) { o.headless = true; return true; }},
      {"--time", nullptr, "T", "stop after T of simulated time (e.g. 2s, 500ms; at most 24 hours)",
       [](Options& o, const std::string& v, std::string* error) {
         if (parseDuration(v, &o.timeLimit)) return true;
         *error = "--time: \"" + v + "\" is not a time (write e.g. 2s or 500ms; finite, at most 24 hours)";
         return false;
       }},
      {"--at", nullptr, "\"T ACTION ...\"",
       "one script step at simulated time T (repeatable), e.g.\n"
       "--at \"100ms click KEY1\" --at \"200ms touch 120 160\"\n"
       "--at '0s expect \"KEY1 pressed\" within 500ms'",
       [](Options& o, const std::string& v, std::string* error) {
         ScriptStep s;
         if (!parseStep(v, &s, error)) return false;
         s.where = "--at";
         o.script.push_back(s);
         return true;
       }},
      {"--script", nullptr, "FILE",
       "script steps, one \"T ACTION ...\" per line ('#' starts a comment).\n"
       "Actions:\n"
       "  press ID, release ID, click ID [X Y]: a part (see --list-parts); a\n"
       "    click holds it down for 50 ms of simulated time, so firmware that\n"
       "    polls every 10 ms sees it\n"
       "  touch X Y, untouch: the touch panel (x 0..239, y 0..319)\n"
       "  joystick DIRECTION: up down left right up-left up-right down-left\n"
       "    down-right release push unpush\n"
       "  vtr NAME VALUE: write a virtual register (e.g. vtr PORT2 0xFFFF); PORT0\n"
       "    .. PORT4 are the levels the board drives into the input pins\n"
       "  square PIN FREQUENCY: a square wave on an input pin from the step's\n"
       "    time to the end of the run (e.g. square P1.26 500Hz; kHz too): the\n"
       "    pin falls at once and toggles every half period; square PIN off\n"
       "    ends it with the pin high\n"
       "  lcd-png FILE, board-png FILE: write a picture now\n"
       "  reset: reset the chip; stop: end the run\n"
       "  expect \"TEXT\" within T: the firmware must print a line containing\n"
       "    TEXT within T of simulated time from the step's time\n"
       "The whole script is checked before the run starts: an unknown part, an\n"
       "action the part does not take, a point outside the part or the touch\n"
       "panel, an unknown virtual register or a step after --time ends\n"
       "korvel-sim with status 2 and one line naming the step and the reason",
       [](Options& o, const std::string& v, std::string* error) { return readScriptFile(o, v, error); }},
      {"--until-expected", nullptr, nullptr, "end the run (status 0) as soon as every expect step is met",
       [](Options& o, const std::string&, std::string*) { o.untilExpected = true; return true; }},
      {"--lcd-png", nullptr, "FILE", "at the end, write the LCD picture as PNG",
       [](Options& o, const std::string& v, std::string*) { o.lcdPng = v; return true; }},
      {"--board-png", nullptr, "FILE", "at the end, write the whole board window as PNG",
       [](Options& o, const std::string& v, std::string*) { o.boardPng = v; return true; }},
      {"--settings", nullptr, "FILE",
       "the board state and emulator settings to start from (a korvel.ini file:\n"
       "switch and jumper positions, bounce and timer-scaling settings).\n"
       "Headless runs start from FILE, or from the defaults without this option,\n"
       "and leave FILE as it was unless --keep-settings is given; window runs use\n"
       "FILE in place of the korvel.ini beside the plug-in and keep their changes",
       [](Options& o, const std::string& v, std::string* error) {
         if (std::filesystem::path(v).extension() != ".ini") {
           *error = "--settings: \"" + v + "\" is not a settings file (its name must end in .ini)";
           return false;
         }
         o.settings = v;
         return true;
       }},
      {"--keep-settings", nullptr, nullptr,
       "headless: at the end, write the run's settings to the --settings FILE\n"
       "(or to the korvel.ini beside the plug-in)",
       [](Options& o, const std::string&, std::string*) { o.keepSettings = true; return true; }},
      {"--seed", nullptr, "N",
       "seed of the buttons' contact bounce and the potentiometer's noise\n"
       "(0..4294967295; headless default 1, so that identical runs repeat)",
       [](Options& o, const std::string& v, std::string* error) {
         char* end = nullptr;
         errno = 0;
         unsigned long long n = std::strtoull(v.c_str(), &end, 10);
         if (v.empty() || v[0] == '-' || *end || errno == ERANGE || n > 0xFFFFFFFFull) {
           *error = "--seed: \"" + v + "\" is not a number from 0 to 4294967295";
           return false;
         }
         o.seed = uint32_t(n);
         return true;
       }},
      {"--cpu", nullptr, "ENGINE",
       "the engine that executes the firmware: own (default, korvel-sim's own\n"
       "Cortex-M3 interpreter) or unicorn",
       [](Options& o, const std::string& v, std::string* error) {
         auto kind = sim::engineKindFromString(v);
         if (!kind) {
           *error = "--cpu: \"" + v + "\" is not an engine; use own or unicorn";
           return false;
         }
         o.cpu = *kind;
         return true;
       }},
      {"--quiet", "-q", nullptr, "headless: print only the firmware's output and errors",
       [](Options& o, const std::string&, std::string*) { o.quiet = true; return true; }},
      {"--list-parts", nullptr, nullptr, "list the board's parts and what a script can do with each",
       [](Options& o, const std::string&, std::string*) { o.listParts = true; return true; }},
      {"--can1-dir", nullptr, "DIR",
       "put CAN 1 on the bus in the folder DIR (shared with the other boards on\n"
       "the bus), as if set and confirmed on the CAN Bus settings page; the same\n"
       "for --can2-dir. --can1-id ID: CAN 1 takes only frames with this\n"
       "identifier (decimal; default 987654321: every identifier);\n"
       "--can1-colour 0xBBGGRR: the colour of CAN 1's square on every board on\n"
       "the bus (likewise --can2-id, --can2-colour)",
       nullptr},
      {"--vcd", nullptr, "FILE",
       "write every level change of the pins (see --vcd-pins) with its simulated\n"
       "time (1 ns steps) to FILE as a Value Change Dump (GTKWave opens it); a\n"
       "pin's level is what the chip reads in FIOxPIN",
       [](Options& o, const std::string& v, std::string* error) {
         if (v.empty()) {
           *error = "--vcd needs a file name (e.g. --vcd pins.vcd)";
           return false;
         }
         o.vcd = v;
         return true;
       }},
      {"--vcd-pins", nullptr, "LIST",
       "the pins --vcd traces: Pn.m or Pn.* (port 0..4), comma-separated, e.g.\n"
       "P0.*,P2.13 (default: every pin of ports 0..4)",
       [](Options& o, const std::string& v, std::string* error) {
         o.vcdPinsGiven = true;
         return parsePinList(v, &o.vcdPins, error);
       }},
      {"--trace-unmodelled", nullptr, nullptr,
       "print a line on standard error the first time the firmware reads or\n"
       "writes each register no model answers for (it reads its reset value)",
       [](Options& o, const std::string&, std::string*) { o.traceUnmodelled = true; return true; }},
      {"--gdb", nullptr, "PORT",
       "serve the GNU debugger on 127.0.0.1:PORT (this machine only; 0 picks a\n"
       "free port, named on standard error): gdb-multiarch fw.elf, then\n"
       "target remote :PORT. A debugger that connects halts the firmware; one\n"
       "that detaches or closes leaves it running. monitor reset resets the chip",
       [](Options& o, const std::string& v, std::string* error) {
         if (v.empty() || v.size() > 5 || v.find_first_not_of("0123456789") != std::string::npos || std::stoul(v) > 65535) {
           *error = "--gdb: \"" + v + "\" is not a port from 0 to 65535 (e.g. --gdb 3333)";
           return false;
         }
         o.gdbPort = uint16_t(std::stoul(v));
         return true;
       }},
      {"--gdb-wait", nullptr, nullptr,
       "with --gdb: the firmware stays halted at its reset vector until the\n"
       "debugger continues (so a breakpoint on main is met)",
       [](Options& o, const std::string&, std::string*) { o.gdbWait = true; return true; }},
      uartRow(0,
              "where UART0's bytes go and come from: stdio (its text lines on standard\n"
              "output, as without this option, and standard input to its receiver),\n"
              "pty (a new pseudo-terminal, named on standard error: connect a terminal\n"
              "program to it), file:PATH (its bytes written to PATH; no input) or\n"
              "tcp:PORT (a TCP server on 127.0.0.1 only, one client at a time; PORT 0\n"
              "picks a free port, named on standard error) or window (a terminal tab\n"
              "in the main window from the start). Input waits while the wire is\n"
              "full, nothing is dropped. Without the option the window shows UART0\n"
              "in the output pane and in its terminal tab"),
      uartRow(1, "likewise for UART1 (without the option: its terminal tab in the\n"
                 "window once the firmware uses it, nowhere in headless runs;\n"
                 "stdio: its text lines on standard output)"),
      uartRow(2, "likewise for UART2"),
      uartRow(3, "likewise for UART3"),
      {"--version", nullptr, nullptr, "print korvel-sim's version and its engines, and exit",
       [](Options& o, const std::string&, std::string*) { o.version = true; return true; }},
      {"--help", "-h", nullptr, "this text",
       [](Options& o, const std::string&, std::string*) { o.help = true; return true; }},
  };
  return table;
}

std::string versionText() {
  // Both engines are always built in; the own one is the default.
  return std::string("korvel-sim ") + KORVEL_VERSION + "\n" + "engines: " + sim::toString(sim::EngineKind::Own) +
         " (default), " + sim::toString(sim::EngineKind::Unicorn) + "\n";
}

std::string usage() {
  std::string text =
      "Usage: korvel-sim [options] [FIRMWARE]\n"
      "Runs LPC17xx firmware on the simulated Korvel board: an ELF file built with arm-none-eabi-gcc\n"
      "(its fault reports name functions and source lines), Intel HEX (.hex) or a raw binary (.bin,\n"
      "loaded at address 0).\n"
      "Without firmware the board and the plug-in run with no CPU. Windows need a display; see\n"
      "--headless for runs without one.\n"
      "\n"
      "Options:\n";
  for (const OptionSpec& o : optionTable()) {
    std::string head = std::string("  ") + (o.alias ? std::string(o.alias) + ", " : "") + o.name;
    if (o.valueName) head += std::string(" ") + o.valueName;
    std::string body = o.help;
    size_t p = 0;
    bool first = true;
    while (p <= body.size()) {
      size_t q = body.find('\n', p);
      if (q == std::string::npos) q = body.size();
      std::string line = body.substr(p, q - p);
      if (first) {
        if (head.size() < 22) text += head + std::string(22 - head.size(), ' ') + line + "\n";
        else text += head + "\n" + std::string(22, ' ') + line + "\n";
        first = false;
      } else {
        text += std::string(22, ' ') + line + "\n";
      }
      p = q + 1;
    }
  }
  text +=
      "\n"
      "Keys while the board window is in front: 1, 2, 0 and R hold KEY1, KEY2, INT0 and RESET down;\n"
      "the arrow keys push the joystick, the space bar presses it. Main window: Run F5, Stop\n"
      "Shift+F5, Reset Ctrl+R.\n"
      "\n"
      "Exit status (headless):\n"
      "  0   the run ended at --time, at a stop step or (--until-expected) with every\n"
      "      expectation met\n"
      "  N   the firmware exited through semihosting with status N\n"
      "  2   bad options, script or files; or no display could be opened\n"
      "  3   the firmware locked up (a fault in its HardFault handler) or faulted into\n"
      "      a handler that only spins; the report is on standard error\n"
      "  4   a picture (--lcd-png, --board-png, lcd-png, board-png) could not be written\n"
      "  5   an expectation failed: its text did not appear within its time\n"
      "  6   the run ended (time limit, firmware exit, stop) while an expectation still waited\n";
  return text;
}

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string* error) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : optionTable())
      if (a == s.name || (s.alias && a == s.alias)) spec = &s;
    if (spec) {
      std::string value;
      if (spec->valueName) {
        if (i + 1 >= args.size()) {
          *error = a + " needs a value (see --help)";
          return std::nullopt;
        }
        value = args[++i];
      }
      if (!spec->apply) {
        // The CAN port options share one parser (their rows are here for --help).
        size_t at = i - 1;
        std::string canError;
        parseCanOption(args, at, o, &canError);
        if (!canError.empty()) {
          *error = canError;
          return std::nullopt;
        }
      } else if (!spec->apply(o, value, error)) {
        return std::nullopt;
      }
    } else if (std::string canError; parseCanOption(args, i, o, &canError)) {
      if (!canError.empty()) {
        *error = canError;
        return std::nullopt;
      }
    } else if (!a.empty() && a[0] == '-') {
      *error = "unknown option " + a + " (see --help)";
      return std::nullopt;
    } else if (o.firmware.empty()) {
      o.firmware = a;
    } else {
      *error = "only one firmware file can run at a time (got " + o.firmware.string() + " and " + a + ")";
      return std::nullopt;
    }
  }
  for (int n = 0; n < 2; ++n) {
    const Options::CanPort defaults;
    if (o.can[n].dir.empty() && (o.can[n].acceptance != defaults.acceptance || o.can[n].colour != defaults.colour)) {
      std::string p = std::to_string(n + 1);
      *error = "--can" + p + "-id and --can" + p + "-colour need --can" + p + "-dir to say which bus folder";
      return std::nullopt;
    }
  }
  {
    using Kind = Options::UartChannel::Kind;
    int stdio = 0;
    for (int n = 0; n < 4; ++n) {
      stdio += o.uart[n].kind == Kind::Stdio;
      for (int m = 0; m < n; ++m) {
        const Options::UartChannel &a = o.uart[m], &b = o.uart[n];
        bool samePort = a.kind == Kind::Tcp && b.kind == Kind::Tcp && a.port != 0 && a.port == b.port;
        bool sameFile = a.kind == Kind::File && b.kind == Kind::File && a.file == b.file;
        if (samePort || sameFile) {
          *error = "--uart" + std::to_string(m) + " and --uart" + std::to_string(n) + " cannot share " +
                   (samePort ? "a port" : "a file") + ": give each its own";
          return std::nullopt;
        }
      }
    }
    for (int n = 0; n < 4; ++n)
      if (o.headless && o.uart[n].kind == Kind::Window) {
        *error = "--uart" + std::to_string(n) + " window needs the main window: leave out --headless, or use stdio, pty, file: or tcp:";
        return std::nullopt;
      }
    if (stdio > 1) {
      *error = "only one UART can be on stdio (standard input has one reader): put the others on pty, file: or tcp:";
      return std::nullopt;
    }
  }
  if (o.help || o.version || o.listParts) return o;
  if (o.gdbWait && !o.gdbPort) {
    *error = "--gdb-wait needs --gdb PORT to say where the debugger connects";
    return std::nullopt;
  }
  if (o.gdbPort && o.firmware.empty()) {
    *error = "--gdb needs a firmware file to debug (e.g. korvel-sim --gdb 3333 fw.elf)";
    return std::nullopt;
  }
  for (const Options::UartChannel& u : o.uart)
    if (o.gdbPort && *o.gdbPort != 0 && u.kind == Options::UartChannel::Kind::Tcp && u.port == *o.gdbPort) {
      *error = "--gdb and a --uartN tcp: channel cannot share port " + std::to_string(*o.gdbPort) + ": give each its own";
      return std::nullopt;
    }
  if (o.vcdPinsGiven && o.vcd.empty()) {
    *error = "--vcd-pins needs --vcd FILE to say where the trace goes";
    return std::nullopt;
  }
  if (o.headless && o.timeLimit < 0 && o.firmware.empty()) {
    *error = "--headless without firmware needs --time to know when to stop";
    return std::nullopt;
  }
  if (!checkScript(o.script, o.timeLimit, error)) return std::nullopt;
  if (o.untilExpected) {
    bool any = false;
    for (const ScriptStep& s : o.script) any |= s.action == "expect";
    if (!any) {
      *error = "--until-expected needs at least one expect step (e.g. --at '0s expect \"ready\" within 2s')";
      return std::nullopt;
    }
  }
  return o;
}

// ---- CAN ports ----------------------------------------------------------------------------

bool parseCanOption(const std::vector<std::string>& args, size_t& i, Options& o, std::string* error) {
  const std::string& a = args[i];
  if (a.size() < 7 || a.compare(0, 5, "--can") != 0 || (a[5] != '1' && a[5] != '2') || a[6] != '-') return false;
  Options::CanPort& port = o.can[a[5] - '1'];
  std::string what = a.substr(7);
  if (what != "dir" && what != "id" && what != "colour" && what != "color") return false;
  if (i + 1 >= args.size()) {
    *error = a + " needs a value (see --help)";
    return true;
  }
  const std::string& v = args[++i];
  if (what == "dir") {
    if (v.empty()) *error = a + " needs a folder";
    port.dir = v;
  } else if (what == "id") {
    size_t k = (!v.empty() && (v[0] == '-' || v[0] == '+')) ? 1 : 0;
    if (k == v.size() || v.find_first_not_of("0123456789", k) != std::string::npos)
      *error = a + ": \"" + v + "\" is not a decimal identifier (e.g. 5, or 987654321 for every identifier)";
    port.acceptance = v;
  } else {
    char* end = nullptr;
    unsigned long c = v.empty() ? 0 : std::strtoul(v.c_str(), &end, 0);
    if (v.empty() || *end != '\0' || c > 0xFFFFFF)
      *error = a + ": \"" + v + "\" is not a colour (write 0xBBGGRR, e.g. 0x0000FF for red)";
    else
      port.colour = uint32_t(c);
  }
  return true;
}

}  // namespace korvel::simapp
