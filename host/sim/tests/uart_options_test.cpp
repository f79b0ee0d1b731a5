// korvel-sim's --uartN channels: what a user types is understood or refused in one line, and a
// channel hands every byte over, waiting while the UART's wire is full.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "options.h"
#include "uart_channels.h"

namespace {

using korvel::simapp::Options;
using korvel::simapp::parseOptions;
using korvel::simapp::UartChannels;
using Kind = Options::UartChannel::Kind;

TEST(UartOptions, EachKindReachesItsUart) {
  std::string error;
  auto o = parseOptions({"--uart0", "stdio", "--uart1", "pty", "--uart2", "file:out/u2.log", "--uart3", "tcp:5000", "fw.elf"},
                        &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->uart[0].kind, Kind::Stdio);
  EXPECT_EQ(o->uart[1].kind, Kind::Pty);
  EXPECT_EQ(o->uart[2].kind, Kind::File);
  EXPECT_EQ(o->uart[2].file, "out/u2.log");
  EXPECT_EQ(o->uart[3].kind, Kind::Tcp);
  EXPECT_EQ(o->uart[3].port, 5000);
  auto d = parseOptions({"fw.elf"}, &error);
  ASSERT_TRUE(d) << error;
  for (const auto& u : d->uart) EXPECT_EQ(u.kind, Kind::Default);
  auto zero = parseOptions({"--uart1", "tcp:0", "--uart2", "tcp:0"}, &error);
  ASSERT_TRUE(zero) << "two free ports chosen by the system never clash: " << error;
}

TEST(UartOptions, MistakesSayWhatIsWrongInOneLine) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--uart0", "serial"}, "is not a channel"},
      {{"--uart0", "STDIO"}, "is not a channel"},
      {{"--uart1", "file:"}, "needs a file name"},
      {{"--uart1", "tcp:"}, "needs a port"},
      {{"--uart1", "tcp:65536"}, "needs a port"},
      {{"--uart1", "tcp:-1"}, "needs a port"},
      {{"--uart1", "tcp:80x"}, "needs a port"},
      {{"--uart1", "tcp:99999999999999999999"}, "needs a port"},
      {{"--uart2"}, "needs a value"},
      {{"--uart4", "pty"}, "unknown option"},
      {{"--uart0", "stdio", "--uart3", "stdio"}, "only one UART can be on stdio"},
      {{"--uart1", "tcp:5000", "--uart2", "tcp:5000"}, "cannot share a port"},
      {{"--uart1", "file:a.log", "--uart3", "file:a.log"}, "cannot share a file"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parseOptions(c.args, &error)) << c.args[0];
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(UartChannels, HelpNamesEveryUart) {
  std::string help = korvel::simapp::usage();
  for (const char* n : {"--uart0", "--uart1", "--uart2", "--uart3"}) EXPECT_NE(help.find(n), std::string::npos) << n;
}

// A fake simulator: sinks by UART, and a wire that refuses every other byte as if full.
struct FakeSim {
  std::mutex mutex;
  std::function<void(uint8_t)> sink[4];
  std::string received[4];
  int calls = 0;
  UartChannels::Hooks hooks(std::vector<std::string>* notes) {
    UartChannels::Hooks h;
    h.setSink = [this](int n, std::function<void(uint8_t)> s) {
      std::lock_guard lock(mutex);
      sink[n] = std::move(s);
    };
    h.input = [this](int n, uint8_t b) {
      std::lock_guard lock(mutex);
      if (++calls % 2) return false;
      received[n].push_back(char(b));
      return true;
    };
    h.stdoutLine = [](const std::string&) {};
    h.note = [notes](const std::string& l) { notes->push_back(l); };
    return h;
  }
  void send(int n, const std::string& bytes) {
    std::lock_guard lock(mutex);
    for (char c : bytes) sink[n](uint8_t(c));
  }
};

TEST(UartChannels, FileGetsEveryByteAndClosingGivesTheSinkBack) {
  namespace fs = std::filesystem;
  fs::path file = fs::temp_directory_path() / ("korvel-uart-file-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  Options::UartChannel spec[4];
  spec[2].kind = Kind::File;
  spec[2].file = file.string();
  FakeSim sim;
  std::vector<std::string> notes;
  UartChannels channels;
  std::string error;
  ASSERT_TRUE(channels.open(spec, sim.hooks(&notes), &error)) << error;
  ASSERT_TRUE(sim.sink[2]);
  EXPECT_FALSE(sim.sink[0]) << "only the UARTs named get a sink";
  sim.send(2, std::string("a\0b\xff\n", 5));
  channels.close();
  EXPECT_FALSE(sim.sink[2]) << "closed: the UART's sink is taken away";
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), std::string("a\0b\xff\n", 5)) << "bytes pass unchanged, NUL included";
  fs::remove(file);

  spec[2].file = (file / "no-such-folder" / "x.log").string();
  EXPECT_FALSE(channels.open(spec, sim.hooks(&notes), &error));
  EXPECT_NE(error.find("--uart2: cannot write"), std::string::npos) << error;
}

TEST(UartChannels, PtyInputWaitsForAFullWireAndLosesNothing) {
  Options::UartChannel spec[4];
  spec[1].kind = Kind::Pty;
  FakeSim sim;
  std::vector<std::string> notes;
  UartChannels channels;
  std::string error;
  ASSERT_TRUE(channels.open(spec, sim.hooks(&notes), &error)) << error;
  ASSERT_EQ(notes.size(), 1u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(notes[0], m, std::regex("UART1 is on (/dev/\\S+)"))) << notes[0];
  std::string sent;
  for (int i = 0; i < 300; ++i) sent.push_back(char(i & 0xFF));
  {
    std::ofstream terminal(m[1].str(), std::ios::binary);
    ASSERT_TRUE(terminal) << m[1];
    terminal.write(sent.data(), std::streamsize(sent.size()));
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    {
      std::lock_guard lock(sim.mutex);
      if (sim.received[1].size() >= sent.size() || std::chrono::steady_clock::now() > until) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  channels.close();
  EXPECT_EQ(sim.received[1], sent) << "every byte, in order, though the wire refused half the attempts";
}

}  // namespace
