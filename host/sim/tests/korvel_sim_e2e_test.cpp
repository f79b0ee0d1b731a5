// korvel-sim run headless the way a firmware developer's CI runs it: our sample firmware on the
// real plug-in and board modules, scripted inputs, and the LCD picture and output checked.
#include <gtest/gtest.h>
#include <wx/colour.h>
#include <wx/image.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string output;  // standard output and error
};

fs::path stage() { return fs::path(KORVEL_STAGE_DIR); }
fs::path work() {
  fs::path d = fs::temp_directory_path() / ("korvel-sim-e2e-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::create_directories(d);
  return d;
}

// A private copy of the staged plug-in folder, made fresh once per run: the switch position and
// other settings that one run stores in korvel.ini must not leak into the next.
fs::path privatePlugin() {
  static const fs::path plugin = [] {
    fs::path copy = work() / "korvel";
    fs::remove_all(copy);
    fs::copy(stage() / "lib/korvel", copy, fs::copy_options::recursive);
    fs::remove(copy / "korvel.ini");
    return copy / "libKorvel.so";
  }();
  return plugin;
}

Result korvelSim(const std::string& args) {
  fs::path log = work() / "out.txt";
  std::string plugin = args.find("--plugin") == std::string::npos && args.find("--help") == std::string::npos
                           ? "--plugin " + privatePlugin().string() + " "
                           : "";
  // The toolkit and X libraries keep allocations until exit; in sanitizer builds the leak report
  // would replace the exit status these tests check.
  std::string cmd = "ASAN_OPTIONS=detect_leaks=0 SDL_AUDIODRIVER=dummy " + (stage() / "bin" / "korvel-sim").string() + " " + plugin + args + " > " + log.string() + " 2>&1";
  int raw = std::system(cmd.c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  // std::system returns the wait status; the exit code is its second byte on POSIX systems.
  return {raw >= 0 ? (raw >> 8) & 0xFF : -1, text.str()};
}

std::string firmware(const char* name) { return (stage() / "share/korvel/firmware" / (std::string(name) + ".elf")).string(); }

bool boardInstalled() { return fs::exists(stage() / "lib/korvel/DOCS/Pictor") && fs::exists(stage() / "lib/korvel/DOCS/Palmett"); }

wxColour pixel(const wxImage& image, int x, int y) {
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}
std::string rgb(const wxColour& c) {
  char b[32];
  std::snprintf(b, sizeof b, "(%d, %d, %d)", c.Red(), c.Green(), c.Blue());
  return b;
}

TEST(KorvelSimHeadless, BoardDemoDrawsAndFollowsKeyTouchAndJoystick) {
  if (!boardInstalled()) GTEST_SKIP() << "the LCD and touch modules are not staged";
  fs::path lcd = work() / "lcd.png", board = work() / "board.png";
  Result r = korvelSim("--headless --fast --time 600ms --at '100ms press KEY1' --at '150ms release KEY1' "
                       "--at '200ms touch 120 160' --at '300ms joystick up' --lcd-png " + lcd.string() +
                       " --board-png " + board.string() + " " + firmware("board-demo"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("LCD controller 37669 answers"), std::string::npos) << "device code 0x9325 read back\n" << r.output;
  EXPECT_NE(r.output.find("KEY1 pressed"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("KEY1 released"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("joystick up"), std::string::npos) << r.output;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.output, m, std::regex("touch (\\d+) (\\d+)"))) << r.output;
  EXPECT_NEAR(std::stoi(m[1]), 120, 2) << "touch x";
  EXPECT_NEAR(std::stoi(m[2]), 160, 2) << "touch y";

  wxImage image;
  ASSERT_TRUE(image.LoadFile(lcd.string(), wxBITMAP_TYPE_PNG)) << "no LCD picture written";
  ASSERT_EQ(image.GetWidth(), 240);
  ASSERT_EQ(image.GetHeight(), 320);
  // The frame words hold 6 bits per channel times 4: navy RGB565(0, 0, 96) shows as (0, 0, 96).
  EXPECT_EQ(rgb(pixel(image, 5, 200)), "(0, 0, 96)") << "background";
  EXPECT_EQ(rgb(pixel(image, 80, 28)), "(96, 96, 96)") << "KEY1 lamp is grey again after the release";
  EXPECT_EQ(rgb(pixel(image, 200, 18)), "(252, 252, 0)") << "the joystick's up cell lights yellow";
  EXPECT_EQ(rgb(pixel(image, 180, 38)), "(96, 96, 96)") << "the left cell stays grey";
  // White 0xFFFF: blue's five bits are doubled without the low bit in the 16-bit format.
  EXPECT_EQ(rgb(pixel(image, 120, 71)), "(252, 252, 248)") << "the divider line";
  EXPECT_EQ(rgb(pixel(image, 119, 159)), "(252, 252, 248)") << "the pen dot at the touch point";
  wxImage whole;
  ASSERT_TRUE(whole.LoadFile(board.string(), wxBITMAP_TYPE_PNG)) << "no board picture written";
  EXPECT_GE(whole.GetWidth(), 768);
  EXPECT_GE(whole.GetHeight(), 552);
}

TEST(KorvelSimHeadless, TimerDemoReportsAScaleFactor) {
  if (!boardInstalled()) GTEST_SKIP() << "the board modules are not staged";
  Result r = korvelSim("--headless --no-board --time 1s " + firmware("timer-scaling"));
  ASSERT_EQ(r.status, 0) << r.output;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.output, m, std::regex("Scaling factor: ([0-9.]+)"))) << r.output;
  EXPECT_GT(std::stod(m[1]), 0.0) << r.output;
}

TEST(KorvelSimHeadless, ExitsWithTheFirmwaresStatusAndStopsFaultingFirmware) {
  Result hello = korvelSim("--headless --fast --no-board " + firmware("hello"));
  EXPECT_EQ(hello.status, 7) << hello.output;
  EXPECT_NE(hello.output.find("hello from UART0"), std::string::npos) << hello.output;
  Result fault = korvelSim("--headless --fast --no-board " + firmware("fault"));
  EXPECT_EQ(fault.status, 3) << fault.output;
  EXPECT_NE(fault.output.find("Firmware fault: undefined instruction at PC 0x"), std::string::npos) << fault.output;
  EXPECT_NE(fault.output.find("sp="), std::string::npos) << "registers in the output\n" << fault.output;
}

TEST(KorvelSimHeadless, ScriptedVoltageOnAin5ReachesTheFirmwaresAdcReading) {
  Result r = korvelSim("--headless --fast --no-board --time 1s --at '0ms vtr AIN5 2.5' " + firmware("adc_dac"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("AD0.5 polled 3102 interrupt 3102"), std::string::npos) << "2.5 V of 3.3 V\n" << r.output;
  Result bad = korvelSim("--headless --fast --no-board --time 1s --at '0ms vtr PORT2 1.5' " + firmware("adc_dac"));
  EXPECT_NE(bad.output.find("PORT2 holds whole numbers"), std::string::npos) << bad.output;
}

TEST(KorvelSimCommandLine, RefusesBadInputWithOneLine) {
  fs::path text = work() / "notes.elf";
  std::ofstream(text) << "not firmware\n";
  struct Case {
    std::string args, expected;
  } cases[] = {
      {"/no/such/file.elf", "no such firmware file"},
      {text.string(), "not an ELF file"},
      {"/proc/self/exe", "not a 32-bit little-endian ARM ELF file"},
      {"--bogus", "unknown option --bogus"},
      {"--time soon x.elf", "is not a time"},
      {"--at '10ms wiggle KEY1' x.elf", "unknown action \"wiggle\""},
      {"--plugin /no/such/plugin.so " + firmware("hello"), "cannot load plug-in /no/such/plugin.so"},
  };
  for (const Case& c : cases) {
    Result r = korvelSim("--headless --fast " + c.args);
    EXPECT_EQ(r.status, 2) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.expected), std::string::npos) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find("korvel-sim: "), std::string::npos) << c.args << "\n" << r.output;
  }
}

TEST(KorvelSimCommandLine, HelpExplainsTheOptions) {
  Result r = korvelSim("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* option : {"--plugin", "--no-board", "--fast", "--headless", "--time", "--at", "--script", "--lcd-png", "--board-png"})
    EXPECT_NE(r.output.find(option), std::string::npos) << option << " missing from --help";
}

}  // namespace

int main(int argc, char** argv) {
  wxInitializer init;
  wxImage::AddHandler(new wxPNGHandler);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
