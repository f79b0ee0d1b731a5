#include "options.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korvel::simapp {

const char* usage() {
  return "Usage: korvel-sim [options] [FIRMWARE.elf]\n"
         "Runs LPC17xx firmware (an ELF file built with arm-none-eabi-gcc) on the simulated Korvel board.\n"
         "Without firmware the board and the plug-in run with no CPU.\n"
         "\n"
         "Options:\n"
         "  --plugin PATH       the plug-in library (default: <bin>/../lib/korvel/libKorvel.so)\n"
         "  --no-board          do not open the board window at start (Peripherals > Korvel opens it)\n"
         "  --fast              run as fast as possible instead of in real time\n"
         "  --headless          no main window: firmware and plug-in output go to standard output and\n"
         "                      the program ends at --time or when the firmware exits (for CI)\n"
         "  --time T            stop after T of simulated time (e.g. 2s, 500ms)\n"
         "  --at \"T ACTION ...\" one scripted input at simulated time T (repeatable), e.g.\n"
         "                      --at \"100ms press KEY1\" --at \"200ms touch 120 160\" --at \"300ms joystick up\"\n"
         "  --script FILE       scripted inputs, one \"T ACTION ...\" per line; actions: press ID,\n"
         "                      release ID, click ID (each optionally at X Y inside the part, e.g.\n"
         "                      \"click SW6 80 19\" for the power switch's lever), touch X Y, untouch,\n"
         "                      joystick DIRECTION, vtr NAME VALUE, lcd-png FILE, board-png FILE, reset, stop\n"
         "  --lcd-png FILE      at the end, write the LCD picture as PNG\n"
         "  --board-png FILE    at the end, write the whole board window as PNG\n"
         "  --can1-dir DIR      put CAN 1 on the bus in DIR (shared with the other boards on the bus), as\n"
         "                      if set and confirmed on the CAN Bus settings page; same for --can2-dir\n"
         "  --can1-id ID        CAN 1 takes only frames with this identifier (decimal; default\n"
         "                      987654321: every identifier); same for --can2-id\n"
         "  --can1-colour 0xBBGGRR  the colour of CAN 1's square, shown on every board on the bus\n"
         "  -h, --help          this text\n"
         "\n"
         "Exit status (headless): the firmware's semihosting exit status; 0 when the time limit ends\n"
         "the run; 3 when the firmware faulted; 2 for bad options or files.\n";
}

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string* error) {
  Options o;
  auto value = [&](size_t& i, const std::string& name) -> std::optional<std::string> {
    if (i + 1 >= args.size()) {
      *error = name + " needs a value (see --help)";
      return std::nullopt;
    }
    return args[++i];
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--no-board") {
      o.showBoard = false;
    } else if (a == "--fast") {
      o.realTime = false;
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--plugin" || a == "--lcd-png" || a == "--board-png" || a == "--time" || a == "--at" ||
               a == "--script") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      if (a == "--plugin") o.plugin = *v;
      else if (a == "--lcd-png") o.lcdPng = *v;
      else if (a == "--board-png") o.boardPng = *v;
      else if (a == "--time") {
        if (!parseDuration(*v, &o.timeLimit)) {
          *error = "--time: \"" + *v + "\" is not a time (write e.g. 2s or 500ms)";
          return std::nullopt;
        }
      } else if (a == "--at") {
        ScriptStep s;
        if (!parseStep(*v, &s, error)) return std::nullopt;
        o.script.push_back(s);
      } else {
        std::ifstream in(*v);
        if (!in) {
          *error = "cannot read the script file " + *v;
          return std::nullopt;
        }
        std::stringstream text;
        text << in.rdbuf();
        if (!parseScript(text.str(), &o.script, error)) {
          *error = *v + ": " + *error;
          return std::nullopt;
        }
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
  if (o.headless && o.timeLimit < 0 && o.firmware.empty()) {
    *error = "--headless without firmware needs --time to know when to stop";
    return std::nullopt;
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
