// korvel-testhost: loads the plug-in, runs check, init, reset, an optional script of firmware
// accesses, terminate and unload, printing every message of the plug-in as it comes.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "korvel/platform/platform.h"
#include "korvel_test/script.h"
#include "korvel_test/test_host.h"

namespace fs = std::filesystem;

namespace {

const char* kUsage =
    "usage: korvel-testhost [--plugin PATH] [--symbol NAME=ADDRESS]... [--script FILE]\n"
    "Loads the Korvel plug-in, runs its check, init and reset, plays the script's firmware\n"
    "accesses, then terminate and unload. Messages of the plug-in go to standard output.\n"
    "  --plugin PATH           the plug-in library (default: <bin>/../lib/korvel/libKorvel.so)\n"
    "  --symbol NAME=ADDRESS   a firmware symbol the plug-in may look up (e.g. ScaleFlag=0x10000000)\n"
    "  --script FILE           lines of: write ADDR VALUE [SIZE] | read ADDR [SIZE] |\n"
    "                          vtr NAME [VALUE] | time SECONDS | reset   ('#' comments)\n"
    "  --help                  this text\n";

int usageError(const std::string& line) {
  std::cerr << "korvel-testhost: " << line << "\n";
  return 2;
}

int anchor;  // an address inside this program, to find its own file

}  // namespace

int main(int argc, char** argv) {
  fs::path plugin;
  std::string scriptFile;
  std::vector<std::pair<std::string, uint32_t>> symbols;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--plugin") {
      if (!value(&v)) return usageError("--plugin needs a path");
      plugin = v;
    } else if (arg == "--script") {
      if (!value(&v)) return usageError("--script needs a file");
      scriptFile = v;
    } else if (arg == "--symbol") {
      if (!value(&v)) return usageError("--symbol needs NAME=ADDRESS");
      auto eq = v.find('=');
      uint32_t address = 0;
      if (eq == std::string::npos || eq == 0 || !korvel_test::parseNumber(v.substr(eq + 1), &address))
        return usageError("--symbol '" + v + "' is not NAME=ADDRESS (e.g. ScaleFlag=0x10000000)");
      symbols.emplace_back(v.substr(0, eq), address);
    } else {
      return usageError("unknown option '" + arg + "' (see --help)");
    }
  }
  if (plugin.empty()) {
    fs::path exe = korvel::platform::modulePathOf(&anchor);
    plugin = exe.parent_path() / ".." / "lib" / "korvel" / "libKorvel.so";
    plugin = plugin.lexically_normal();
  }

  std::vector<korvel_test::ScriptCommand> commands;
  if (!scriptFile.empty()) {
    std::ifstream in(scriptFile);
    if (!in) return usageError("cannot open script " + scriptFile);
    std::string error;
    if (!korvel_test::parseScript(in, scriptFile, &commands, &error)) return usageError(error);
  }

  korvel_test::TestHost host;
  host.onMessage([](const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  });
  for (const auto& [name, address] : symbols) host.addSymbol(name, address);

  std::string error;
  if (!host.loadPlugin(plugin, &error)) return usageError(error);
  if (host.check() == 0) {
    std::cerr << "korvel-testhost: " << plugin.string() << " refused the Cortex-M target in its check call\n";
    return 1;
  }
  if (host.init() == 0) {
    std::cerr << "korvel-testhost: initialisation of " << plugin.string()
              << " failed (see the messages above)\n";
    host.terminate();
    return 1;
  }
  if (host.reset() == 0)
    std::cerr << "korvel-testhost: the plug-in reported a failed reset (see the messages above)\n";
  int result = 0;
  if (!korvel_test::runScript(host, commands, scriptFile, std::cout, &error)) result = usageError(error);
  host.terminate();
  if (!host.unloadPlugin(&error)) std::cerr << "korvel-testhost: " << error << "\n";
  return result;
}
