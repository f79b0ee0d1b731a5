// korvel-sim run headless the way a firmware developer's CI runs it: our sample firmware on the
// real plug-in and board modules, scripted inputs, and the LCD picture and output checked.
#include <gtest/gtest.h>
#include <wx/colour.h>
#include <wx/image.h>
#include <wx/init.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;     // standard output
  std::string err;     // standard error
  std::string output;  // both, for failure messages
};

fs::path stage() { return fs::path(KORVEL_STAGE_DIR); }
fs::path work() {
  fs::path d = fs::temp_directory_path() / ("korvel-sim-e2e-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::create_directories(d);
  return d;
}

// A private copy of the staged plug-in folder, made fresh once per test program: runs here must
// neither see nor leave a korvel.ini that other tests share.
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

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs korvel-sim with the private plug-in; `env` goes before the command (e.g. "env -u DISPLAY").
Result korvelSim(const std::string& args, const std::string& env = "") {
  fs::path out = work() / "stdout.txt", err = work() / "stderr.txt";
  std::string plugin = args.find("--plugin") == std::string::npos && args.find("--help") == std::string::npos
                           ? "--plugin " + privatePlugin().string() + " "
                           : "";
  // The toolkit and X libraries keep allocations until exit; in sanitizer builds the leak report
  // would replace the exit status these tests check. No SDL_AUDIODRIVER here: headless runs must
  // be quiet by themselves.
  std::string cmd = "env -u SDL_AUDIODRIVER " + env + " ASAN_OPTIONS=detect_leaks=0 " + (stage() / "bin" / "korvel-sim").string() +
                    " " + plugin + args + " > " + out.string() + " 2> " + err.string();
  int raw = std::system(cmd.c_str());
  Result r{raw >= 0 ? (raw >> 8) & 0xFF : -1, slurp(out), slurp(err), ""};
  r.output = "--- stdout:\n" + r.out + "--- stderr:\n" + r.err;
  return r;
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
  // A click holds the button for 50 ms, so the demo's 10 ms polling sees both edges.
  Result r = korvelSim("--headless --fast --time 600ms --at '100ms click KEY1' "
                       "--at '200ms touch 120 160' --at '300ms joystick up' --lcd-png " + lcd.string() +
                       " --board-png " + board.string() + " " + firmware("board-demo"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.out.find("LCD controller 37669 answers"), std::string::npos) << "device code 0x9325 read back\n" << r.output;
  EXPECT_NE(r.out.find("KEY1 pressed\nKEY1 released\n"), std::string::npos) << r.output;
  EXPECT_NE(r.out.find("joystick up"), std::string::npos) << r.output;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("touch (\\d+) (\\d+)"))) << r.output;
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

TEST(KorvelSimHeadless, MidRunPicturesFollowTheFirmwaresDrawing) {
  if (!boardInstalled()) GTEST_SKIP() << "the LCD and touch modules are not staged";
  fs::path early = work() / "early.png", later = work() / "later.png", last = work() / "last.png";
  Result r = korvelSim("--headless --fast -q --time 700ms --at '100ms lcd-png " + early.string() +
                       "' --at '200ms touch 120 160' --at '300ms joystick up' --at '500ms lcd-png " + later.string() +
                       "' --at '550ms joystick down' --lcd-png " + last.string() + " " + firmware("board-demo"));
  ASSERT_EQ(r.status, 0) << r.output;
  wxImage a, b, c;
  ASSERT_TRUE(a.LoadFile(early.string(), wxBITMAP_TYPE_PNG));
  ASSERT_TRUE(b.LoadFile(later.string(), wxBITMAP_TYPE_PNG));
  ASSERT_TRUE(c.LoadFile(last.string(), wxBITMAP_TYPE_PNG));
  EXPECT_EQ(rgb(pixel(a, 119, 159)), "(0, 0, 96)") << "no pen dot before the touch";
  EXPECT_EQ(rgb(pixel(b, 119, 159)), "(252, 252, 248)") << "the pen dot after the touch";
  EXPECT_EQ(rgb(pixel(b, 200, 18)), "(252, 252, 0)") << "joystick up at 500 ms";
  EXPECT_EQ(rgb(pixel(c, 200, 18)), "(96, 96, 96)") << "the final picture is the firmware's last drawing: up is grey again";
  EXPECT_EQ(rgb(pixel(c, 119, 159)), "(252, 252, 248)") << r.output;
}

// What a CI job does: the same scripted run twice, on a machine without a display.
TEST(KorvelSimHeadless, RunsWithoutADisplayAndRepeatsByteForByte) {
  if (!boardInstalled()) GTEST_SKIP() << "the board modules are not staged";
  std::string script = "--at '50ms click KEY1' --at '120ms click INT0' --at '200ms touch 60 250' --at '260ms untouch' "
                       "--at '300ms joystick down-left' --at '350ms joystick release' --at '400ms click KEY2' ";
  fs::path first = work() / "first.png", second = work() / "second.png";
  Result a = korvelSim("--headless --fast --time 500ms " + script + "--lcd-png " + first.string() + " " + firmware("board-demo"),
                       "-u DISPLAY");
  Result b = korvelSim("--headless --fast --time 500ms " + script + "--lcd-png " + second.string() + " " + firmware("board-demo"),
                       "-u DISPLAY");
  ASSERT_EQ(a.status, 0) << a.output;
  ASSERT_EQ(b.status, 0) << b.output;
  EXPECT_NE(a.out.find("INT0 pressed"), std::string::npos) << a.output;
  EXPECT_NE(a.out.find("KEY2 released"), std::string::npos) << a.output;
  EXPECT_EQ(a.out, b.out) << "the firmware's output differs between identical runs";
  std::string pa = slurp(first), pb = slurp(second);
  ASSERT_FALSE(pa.empty()) << "no LCD picture\n" << a.output;
  EXPECT_TRUE(pa == pb) << "the LCD pictures of identical runs differ";
  EXPECT_FALSE(fs::exists(privatePlugin().parent_path() / "korvel.ini")) << "a headless run left korvel.ini beside the plug-in";
}

TEST(KorvelSimHeadless, BoardStateStaysWithItsRunUnlessKept) {
  if (!boardInstalled()) GTEST_SKIP() << "the board modules are not staged";
  std::string int0 = "--at '100ms click INT0' " + firmware("board-demo");
  // Pulling JP5 and switching the board off in one run ...
  Result spoil = korvelSim("--headless --fast --time 300ms --at '50ms click JP5' --at '100ms click SW6' " + firmware("board-demo"));
  ASSERT_EQ(spoil.status, 0) << spoil.output;
  // ... leaves the next run powered, with INT0 reaching its pin.
  Result next = korvelSim("--headless --fast --time 300ms " + int0);
  ASSERT_EQ(next.status, 0) << next.output;
  EXPECT_NE(next.out.find("board demo ready"), std::string::npos) << next.output;
  EXPECT_NE(next.out.find("INT0 pressed"), std::string::npos) << "JP5 came back removed\n" << next.output;

  // --keep-settings stores the jumper in the chosen file; a later run starts from it and leaves
  // it as it was.
  fs::path ini = work() / "board.ini";
  fs::remove(ini);
  Result keep = korvelSim("--headless --fast --time 200ms --settings " + ini.string() + " --keep-settings --at '50ms click JP5' " +
                          firmware("board-demo"));
  ASSERT_EQ(keep.status, 0) << keep.output;
  std::string stored = slurp(ini);
  EXPECT_NE(stored.find("KORVEL_COMPONENT_ID_JP5"), std::string::npos) << stored;
  Result pulled = korvelSim("--headless --fast --time 300ms --settings " + ini.string() + " " + int0);
  ASSERT_EQ(pulled.status, 0) << pulled.output;
  EXPECT_EQ(pulled.out.find("INT0 pressed"), std::string::npos) << "the stored JP5 was not used\n" << pulled.output;
  Result refit = korvelSim("--headless --fast --time 300ms --settings " + ini.string() + " --at '50ms click JP5' " + int0);
  ASSERT_EQ(refit.status, 0) << refit.output;
  EXPECT_NE(refit.out.find("INT0 pressed"), std::string::npos) << "JP5 fitted again\n" << refit.output;
  EXPECT_EQ(slurp(ini), stored) << "a run without --keep-settings changed its settings file";
}

TEST(KorvelSimHeadless, FirmwareOutputAloneOnStandardOutput) {
  Result r = korvelSim("--headless --fast --no-board " + firmware("hello"));
  EXPECT_EQ(r.status, 7) << r.output;
  EXPECT_EQ(r.out, "hello from semihosting\nhello from UART0\n") << r.output;
  EXPECT_NE(r.err.find("[Buttons]: SFR Stage [OK]"), std::string::npos) << "the plug-in's messages go to standard error\n" << r.output;
  EXPECT_EQ(r.err.find("ALSA"), std::string::npos) << "sound library noise\n" << r.output;
  Result quiet = korvelSim("--headless --fast --no-board --quiet " + firmware("hello"));
  EXPECT_EQ(quiet.status, 7) << quiet.output;
  EXPECT_EQ(quiet.out, r.out) << quiet.output;
  EXPECT_EQ(quiet.err, "") << quiet.output;
  // What the plug-in's own threads print there (the CAN watchers' progress lines) is not the
  // firmware's output either.
  Result can = korvelSim("--headless --fast --no-board --can1-dir " + (work() / "bus").string() + " " + firmware("hello"));
  EXPECT_EQ(can.status, 7) << can.output;
  EXPECT_EQ(can.out, r.out) << can.output;
  EXPECT_NE(can.err.find("Waiting for notification..."), std::string::npos) << can.output;

  Result fault = korvelSim("--headless --fast --no-board -q " + firmware("fault"));
  EXPECT_EQ(fault.status, 3) << fault.output;
  EXPECT_EQ(fault.out.find("Firmware fault"), std::string::npos) << "the fault report is korvel-sim's, not the firmware's\n" << fault.output;
  // The firmware's HardFault handler runs (and prints) before its own fault locks the core up.
  EXPECT_NE(fault.out.find("in the HardFault handler"), std::string::npos) << fault.output;
  EXPECT_NE(fault.err.find("Firmware fault: read from unmapped address 0xA0000000 at PC 0x"), std::string::npos) << fault.output;
  EXPECT_NE(fault.err.find(" in HardFault_Handler+0x"), std::string::npos) << fault.output;
  EXPECT_NE(fault.err.find("sp="), std::string::npos) << "registers in the report\n" << fault.output;
}

TEST(KorvelSimHeadless, TimerDemoReportsAScaleFactor) {
  if (!boardInstalled()) GTEST_SKIP() << "the board modules are not staged";
  Result r = korvelSim("--headless --no-board --time 1s " + firmware("timer-scaling"));
  ASSERT_EQ(r.status, 0) << r.output;
  std::smatch m;
  // The factor is the plug-in's message, so it is on standard error; the firmware's lines are not.
  ASSERT_TRUE(std::regex_search(r.err, m, std::regex("Scaling factor: ([0-9.]+)"))) << r.output;
  EXPECT_NE(r.out.find("timer scaling: measuring"), std::string::npos) << r.output;
  EXPECT_GT(std::stod(m[1]), 0.0) << r.output;
}

TEST(KorvelSimExpectations, PassFailAndUnfinishedHaveTheirOwnStatus) {
  if (!boardInstalled()) GTEST_SKIP() << "the board modules are not staged";
  std::string demo = " " + firmware("board-demo");
  // Met: with --until-expected the run ends as soon as the line is there, long before --time.
  Result met = korvelSim("--headless --fast -q --time 20s --until-expected --at '100ms click KEY1' "
                         "--at '100ms expect \"KEY1 pressed\" within 100ms'" + demo);
  EXPECT_EQ(met.status, 0) << met.output;
  EXPECT_NE(met.out.find("KEY1 pressed"), std::string::npos) << met.output;
  EXPECT_EQ(met.err, "") << met.output;

  // Failed: nobody presses KEY2, so its line never comes; the run ends when its time is up.
  Result failed = korvelSim("--headless --fast -q --time 20s --at '100ms expect \"KEY2 pressed\" within 200ms'" + demo);
  EXPECT_EQ(failed.status, 5) << failed.output;
  EXPECT_NE(failed.err.find("expectation failed: no line containing \"KEY2 pressed\" between 0.1 s and 0.3 s"), std::string::npos)
      << failed.output;

  // Unfinished: the time limit comes first, which is not a pass.
  Result hung = korvelSim("--headless --fast -q --time 300ms --at '0s expect \"KEY2 pressed\" within 5s'" + demo);
  EXPECT_EQ(hung.status, 6) << hung.output;
  EXPECT_NE(hung.err.find("expectation unfinished"), std::string::npos) << hung.output;
}

TEST(KorvelSimBoard, ResetHeldAndPowerOffStopTheChipAndRestartIt) {
  if (!boardInstalled()) GTEST_SKIP() << "the board modules are not staged";
  std::string demo = " " + firmware("board-demo");
  // KEY1 is clicked while RESET is held: the chip is in reset and must not see it.
  Result held = korvelSim("--headless --fast -q --time 700ms --at '100ms press RESET' --at '200ms click KEY1' "
                          "--at '400ms release RESET' --at '600ms click KEY2'" + demo);
  ASSERT_EQ(held.status, 0) << held.output;
  EXPECT_EQ(held.out.find("KEY1"), std::string::npos) << "the chip ran while RESET was held\n" << held.output;
  EXPECT_EQ(held.out, "board demo: LCD controller 37669 answers\nboard demo ready\n"
                      "board demo: LCD controller 37669 answers\nboard demo ready\nKEY2 pressed\nKEY2 released\n")
      << held.output;

  // The same with the power switch: nothing runs while it is off, and power-on starts afresh.
  fs::path lcd = work() / "off.png";
  Result off = korvelSim("--headless --fast -q --time 400ms --at '100ms click SW6' --at '200ms click KEY1' --lcd-png " +
                         lcd.string() + demo);
  ASSERT_EQ(off.status, 0) << off.output;
  EXPECT_EQ(off.out.find("KEY1"), std::string::npos) << "the chip ran without power\n" << off.output;
  wxImage image;
  ASSERT_TRUE(image.LoadFile(lcd.string(), wxBITMAP_TYPE_PNG));
  EXPECT_EQ(rgb(pixel(image, 5, 200)), "(0, 0, 0)") << "the LCD is dark without power";
  Result on = korvelSim("--headless --fast -q --time 700ms --at '100ms click SW6' --at '300ms click SW6' --at '500ms click KEY1'" + demo);
  ASSERT_EQ(on.status, 0) << on.output;
  EXPECT_EQ(on.out, "board demo: LCD controller 37669 answers\nboard demo ready\n"
                    "board demo: LCD controller 37669 answers\nboard demo ready\nKEY1 pressed\nKEY1 released\n")
      << on.output;
}

TEST(KorvelSimHeadless, ExitsWithTheFirmwaresStatus) {
  Result hello = korvelSim("--headless --fast --no-board " + firmware("hello"));
  EXPECT_EQ(hello.status, 7) << hello.output;
  fs::path unwritable = work() / "no-such-folder" / "lcd.png";
  Result picture = korvelSim("--headless --fast -q --time 100ms --lcd-png " + unwritable.string() + " " + firmware("board-demo"));
  EXPECT_EQ(picture.status, 4) << picture.output;
  EXPECT_NE(picture.err.find("cannot write " + unwritable.string()), std::string::npos) << picture.output;
}

TEST(KorvelSimHeadless, ScriptedVoltageOnAin5ReachesTheFirmwaresAdcReading) {
  Result r = korvelSim("--headless --fast --no-board --time 1s --at '0ms vtr AIN5 2.5' " + firmware("adc_dac"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("AD0.5 polled 3102 interrupt 3102"), std::string::npos) << "2.5 V of 3.3 V\n" << r.output;
  Result bad = korvelSim("--headless --fast --no-board --time 1s --at '0ms vtr PORT2 1.5' " + firmware("adc_dac"));
  EXPECT_NE(bad.output.find("PORT2 holds whole numbers"), std::string::npos) << bad.output;
}

// pot_tone prints its AD0.5 reading every 50 ms: t=50 before any step, t=150 after the knob went
// to 3.3 V at 100 ms, t=250 after 0.5 V, t=350 after 1.65 V.
std::map<int, int> potReadings(const std::string& out) {
  std::map<int, int> r;
  std::regex line("t=([0-9]+) AD0\\.5=([0-9]+)");
  for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
    r[std::stoi((*it)[1])] = std::stoi((*it)[2]);
  return r;
}

TEST(KorvelSimHeadless, TurningThePotentiometerChangesTheFirmwaresAdcReading) {
  if (!boardInstalled()) GTEST_SKIP() << "the board modules are not staged";
  const std::string turns = "--at '100ms turn 3.3' --at '200ms turn 0.5V' --at '300ms turn 1.65' ";
  // Without the wiper noise the readings are exact.
  fs::path ini = work() / "clean-pot.ini";
  std::ofstream(ini) << "POTMETER_BOUNCE = 0.0\n";
  Result clean = korvelSim("--headless --fast -q --time 400ms --settings " + ini.string() + " " + turns + firmware("pot_tone"));
  ASSERT_EQ(clean.status, 0) << clean.output;
  std::map<int, int> r = potReadings(clean.out);
  EXPECT_EQ(r[50], 2047) << "the knob starts in the middle\n" << clean.output;
  EXPECT_EQ(r[150], 4095) << clean.output;
  EXPECT_EQ(r[250], 620) << "0.5 V of 3.3 V\n" << clean.output;
  EXPECT_EQ(r[350], 2047) << clean.output;

  // With the default noise the readings scatter around the same values, the same way for the
  // same seed.
  Result a = korvelSim("--headless --fast -q --time 600ms --seed 7 " + turns + firmware("pot_tone"));
  Result b = korvelSim("--headless --fast -q --time 600ms --seed 7 " + turns + firmware("pot_tone"));
  ASSERT_EQ(a.status, 0) << a.output;
  std::map<int, int> na = potReadings(a.out), nb = potReadings(b.out);
  EXPECT_EQ(na, nb) << "--seed repeats the noise\n" << a.output << b.output;
  EXPECT_NEAR(na[250], 620, 80) << a.output;
  EXPECT_NEAR(na[350], 2047, 80) << a.output;
  std::set<int> still;  // five readings with the knob left at 1.65 V
  for (int t = 350; t <= 550; t += 50) still.insert(na[t]);
  EXPECT_GT(still.size(), 1u) << "readings of one position differ\n" << a.output;
  EXPECT_NE(na, r) << "the noise is on by default";

  Result bad = korvelSim("--headless --fast -q --time 400ms --at '100ms turn 4' " + firmware("pot_tone"));
  EXPECT_EQ(bad.status, 2) << bad.output;
  EXPECT_NE(bad.err.find("0 to 3.3"), std::string::npos) << bad.output;
}

// The blink firmware toggles P1.18 from SysTick every millisecond, counts rising edges on
// P1.26 (CAP0.0) with timer 0 and prints port 0's levels every 100 ms.
TEST(KorvelSimHeadless, PinTraceShowsTheBlinkPeriodAndScriptsDriveEveryPortAndASquareWave) {
  fs::path vcd = work() / "blink.vcd";
  fs::remove(vcd);
  Result r = korvelSim("--headless --fast --no-board -q --time 350ms --vcd " + vcd.string() +
                       " --vcd-pins P1.18,P1.26,P0.* --at '50ms vtr PORT0 0x12345678' --at '100ms square P1.26 500Hz'"
                       " --at '300ms square P1.26 off' " + firmware("blink"));
  ASSERT_EQ(r.status, 0) << r.output;
  // PORT0 reaches FIO0PIN (no part of the board defines it).
  EXPECT_NE(r.out.find("t=100ms P0=0x12345678"), std::string::npos) << r.output;
  // 100 ms of 500 Hz between two readings taken at the same point of the firmware's loop.
  std::smatch m1, m2;
  ASSERT_TRUE(std::regex_search(r.out, m1, std::regex("t=100ms P0=0x[0-9A-F]+ edges=([0-9]+)"))) << r.output;
  ASSERT_TRUE(std::regex_search(r.out, m2, std::regex("t=200ms P0=0x[0-9A-F]+ edges=([0-9]+)"))) << r.output;
  EXPECT_EQ(std::stoi(m2[1]) - std::stoi(m1[1]), 50) << r.output;

  // The trace: P1.18 changes every 1 ms (1 ns stamps), P1.26 every 1 ms from 100 ms to 300 ms.
  std::string text = slurp(vcd);
  ASSERT_NE(text.find("$timescale 1ns $end"), std::string::npos) << text.substr(0, 500);
  std::map<std::string, std::string> names;  // identifier -> wire
  std::map<std::string, std::vector<uint64_t>> edges;
  std::istringstream in(text);
  std::string word;
  uint64_t time = 0;
  bool body = false;
  while (in >> word) {
    if (word == "$var") {
      std::string type, width, id, name;
      in >> type >> width >> id >> name;
      names[id] = name;
    } else if (word == "$enddefinitions") {
      body = true;
    } else if (body && word[0] == '#') {
      time = std::stoull(word.substr(1));
    } else if (body && (word[0] == '0' || word[0] == '1') && time > 0) {
      edges[names[word.substr(1)]].push_back(time);
    }
  }
  EXPECT_EQ(names.size(), 34u);
  const std::vector<uint64_t>& led = edges["P1_18"];
  ASSERT_GT(led.size(), 300u) << "P1.18 changed " << led.size() << " times";
  for (size_t i = 1; i < led.size(); ++i)
    ASSERT_NEAR(double(led[i] - led[i - 1]), 1e6, 1e3) << "P1.18's half period at change " << i;
  const std::vector<uint64_t>& wave = edges["P1_26"];
  ASSERT_EQ(wave.size(), 200u) << "a change every millisecond from 100 ms; off at 300 ms leaves it high";
  EXPECT_NEAR(double(wave.front()), 100e6, 1e3);
  EXPECT_NEAR(double(wave.back()), 299e6, 1e3);
  // PORT0's write at 50 ms: 0x12345678 has 13 ones, so 19 of port 0's pins fall.
  size_t port0Falls = 0;
  for (auto& [name, times] : edges)
    if (name.rfind("P0_", 0) == 0) port0Falls += times.size() == 1 && times[0] >= 50000000 && times[0] < 50100000;
  EXPECT_EQ(port0Falls, 19u);

  Result bad = korvelSim("--headless --fast --no-board --time 10ms --vcd " + vcd.string() + " --vcd-pins P0.*,P7.1 " + firmware("blink"));
  EXPECT_EQ(bad.status, 2) << bad.output;
  EXPECT_EQ(bad.err, "korvel-sim: --vcd-pins: \"P7.1\" is not a pin (write Pn.m or Pn.*, port 0..4, pin 0..31, comma-separated; e.g. P0.*,P2.13)\n")
      << bad.output;
}

TEST(KorvelSimHeadless, TraceUnmodelledNamesEachRegisterOnce) {
  // The buses firmware reads USBDevIntSt, which no model answers for, twice.
  Result r = korvelSim("--headless --fast --no-board -q --trace-unmodelled " + firmware("buses"));
  EXPECT_EQ(r.status, 0) << r.output;
  std::string line = "korvel-sim: the firmware read 0x5000C200, a register nothing models (it reads its reset value)\n";
  size_t at = r.err.find(line);
  EXPECT_NE(at, std::string::npos) << r.output;
  EXPECT_EQ(r.err.find(line, at + 1), std::string::npos) << "reported twice\n" << r.output;
  Result quiet = korvelSim("--headless --fast --no-board -q " + firmware("buses"));
  EXPECT_EQ(quiet.err.find("nothing models"), std::string::npos) << quiet.output;
}

TEST(KorvelSimUart, FileChannelTakesUart0TextInAHeadlessRun) {
  fs::path log = work() / "uart0.log";
  fs::remove(log);
  Result r = korvelSim("--headless --fast --no-board --uart0 file:" + log.string() + " " + firmware("hello"));
  EXPECT_EQ(r.status, 7) << r.output;
  EXPECT_EQ(slurp(log).rfind("hello from UART0\n", 0), 0u) << slurp(log);
  EXPECT_EQ(r.out.find("hello from UART0"), std::string::npos) << "UART0's text went to the file instead\n" << r.output;
  EXPECT_NE(r.out.find("hello from semihosting"), std::string::npos) << r.output;
}

TEST(KorvelSimUart, StdioChannelFeedsStandardInputToUart0) {
  fs::path input = work() / "typed.txt";
  std::ofstream(input, std::ios::binary) << "typed line\n\x04";
  Result r = korvelSim("--headless --fast --no-board --time 20s --uart0 stdio " + firmware("uart_echo") + " < " + input.string());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.out.find("uart echo ready\ntyped line\nbye\n"), std::string::npos) << r.output;
}

// Talks to the echo firmware as a terminal program would: waits for its greeting, types a line
// and Ctrl-D, and reads what comes back until korvel-sim ends. `connect` opens fd 3 on the
// channel named on standard error (the line matched by `named`, a sed expression).
Result echoSession(const std::string& channel, const std::string& named, const std::string& connect) {
  fs::path dir = work() / ("echo-" + channel.substr(0, 3));
  fs::create_directories(dir);
  fs::path script = dir / "talk.sh";
  std::ofstream(script) << "set -u\n"
                           "cd " << dir.string() << "\n"
                           "rm -f err.txt rc.txt got.txt\n"
                           "(env -u SDL_AUDIODRIVER ASAN_OPTIONS=detect_leaks=0 timeout 60 "
                        << (stage() / "bin" / "korvel-sim").string() << " --plugin " << privatePlugin().string()
                        << " --headless --fast --no-board --uart0 " << channel << " " << firmware("uart_echo")
                        << " > out.txt 2> err.txt; echo $? > rc.txt) &\n"
                           "for i in $(seq 300); do grep -q 'UART0 is on' err.txt 2>/dev/null && break; sleep 0.1; done\n"
                           "WHERE=$(sed -n '" << named << "' err.txt)\n"
                        << connect << "\n"
                           "timeout 20 grep -m1 -a ready <&3 > /dev/null\n"
                           "printf 'hello echo\\n\\004' >&3\n"
                           "timeout 20 cat <&3 > got.txt 2> /dev/null\n"
                           "exec 3>&-\n"
                           "wait\n";
  int raw = std::system(("bash " + script.string()).c_str());
  (void)raw;
  std::string rc = slurp(dir / "rc.txt");
  Result r{rc.empty() ? -1 : std::stoi(rc), slurp(dir / "got.txt"), slurp(dir / "err.txt"), ""};
  r.output = "--- received:\n" + r.out + "--- stderr:\n" + r.err;
  return r;
}

TEST(KorvelSimUart, EchoFirmwareTalksOverAPseudoTerminal) {
  Result r = echoSession("pty", "s/.*UART0 is on \\(\\/dev\\/[^ ]*\\).*/\\1/p", "exec 3<>\"$WHERE\"");
  EXPECT_EQ(r.status, 0) << "Ctrl-D ends the echo firmware\n" << r.output;
  EXPECT_NE(r.out.find("hello echo\n"), std::string::npos) << r.output;
  EXPECT_NE(r.out.find("bye\n"), std::string::npos) << r.output;
  EXPECT_EQ(r.out.find("overrun"), std::string::npos) << r.output;
}

TEST(KorvelSimUart, EchoFirmwareTalksOverLoopbackTcp) {
  Result r = echoSession("tcp:0", "s/.*UART0 is on 127\\.0\\.0\\.1:\\([0-9]*\\).*/\\1/p", "exec 3<>/dev/tcp/127.0.0.1/$WHERE");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.out.find("hello echo\n"), std::string::npos) << r.output;
  EXPECT_NE(r.out.find("bye\n"), std::string::npos) << r.output;
}

TEST(KorvelSimCommandLine, RefusesBadInputWithOneLine) {
  fs::path text = work() / "notes.elf";
  std::ofstream(text) << "not firmware\n";
  fs::path script = work() / "bad-script.txt";
  std::ofstream(script) << "# presses\n100ms click KEY1\n200ms press KEY9\n";
  std::string hello = " " + firmware("hello");
  fs::path badHex = work() / "bad.hex";
  std::ofstream(badHex) << ":0400000001020304F2\n:0400000001020304F3\n:00000001FF\n";
  fs::path farHex = work() / "far.hex";
  std::ofstream(farHex) << ":0200000460009A\n:0100000001FE\n:00000001FF\n";
  struct Case {
    std::string args, expected;
  } cases[] = {
      {"/no/such/file.elf", "no such firmware file"},
      {text.string(), "not an ELF file"},
      {"/proc/self/exe", "not a 32-bit little-endian ARM ELF file"},
      {badHex.string(), badHex.string() + ":2: bad checksum F3 (the record's bytes need F2)"},
      {farHex.string(), farHex.string() + ":2: data at 0x60000000 (1 bytes) lies outside the LPC17xx flash and RAM"},
      {"--bogus", "unknown option --bogus"},
      {"--time soon x.elf", "is not a time"},
      {"--time nan x.elf", "\"nan\" is not a time"},
      {"--time inf x.elf", "\"inf\" is not a time"},
      {"--time 1e30 x.elf", "\"1e30\" is not a time"},
      {"--seed -1 x.elf", "--seed: \"-1\" is not a number"},
      {"--settings board.txt x.elf", "must end in .ini"},
      {"--settings /no/such/board.ini" + hello, "no settings file /no/such/board.ini"},
      {"--at '10ms wiggle KEY1' x.elf", "unknown action \"wiggle\""},
      {"--script " + script.string() + " x.elf", script.string() + ": line 3: script step \"200ms press KEY9\": the board has no part \"KEY9\""},
      {"--at '10ms click LCD1' x.elf", "the board has no part \"LCD1\""},
      {"--at '10ms click Pictor' x.elf", "Pictor (the LCD) takes no click"},
      {"--at '10ms touch 300 10' x.elf", "x 0..239, y 0..319"},
      {"--at '10ms vtr PORT2 lots' x.elf", "\"lots\" is not a 32-bit value"},
      {"--at '10ms expect \"ready\"' x.elf", "write expect \"TEXT\" within TIME"},
      {"--time 1s --at '2s click KEY1' x.elf", "comes after the end of the run at --time 1s"},
      {"--time 100ms --at '10ms vtr NOPE 1'" + hello, "--at: script step \"10ms vtr NOPE 1\": the plug-in defined no virtual register \"NOPE\""},
      {"--time 100ms --at '10ms click SW6 200 3'" + hello, "the point (200, 3) lies outside SW6"},
      {"--plugin /no/such/plugin.so" + hello, "cannot load plug-in /no/such/plugin.so"},
  };
  for (const Case& c : cases) {
    Result r = korvelSim("--headless --fast -q " + c.args);
    EXPECT_EQ(r.status, 2) << c.args << "\n" << r.output;
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.args << "\n" << r.output;
    EXPECT_EQ(r.err.find("korvel-sim: "), 0u) << "one line from korvel-sim\n" << c.args << "\n" << r.output;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line\n" << c.args << "\n" << r.output;
    EXPECT_EQ(r.out, "") << c.args;
  }
}

TEST(KorvelSimCommandLine, VersionNamesTheProjectVersionAndTheEngines) {
  Result r = korvelSim("--version", "-u DISPLAY");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.out, std::string("korvel-sim ") + KORVEL_VERSION + "\nengines: own (default), unicorn\n");
  EXPECT_EQ(r.err, "");
}

TEST(KorvelSimCommandLine, AFaultReportNamesTheSourceLine) {
  // The line of the undefined instruction in the firmware's source.
  std::ifstream source(KORVEL_FIRMWARE_SOURCE_DIR "/fault_spin.c");
  std::string line;
  int n = 1;
  for (; std::getline(source, line) && line.find(".short 0xDEFE") == std::string::npos; ++n) {
  }
  Result r = korvelSim("--headless --fast -q --time 5s " + firmware("fault_spin"), "-u DISPLAY");
  EXPECT_EQ(r.status, 3) << r.output;
  EXPECT_NE(r.err.find(" in main+0x"), std::string::npos) << r.output;
  EXPECT_NE(r.err.find(" at fault_spin.c:" + std::to_string(n) + "\n"), std::string::npos) << r.output;
}

TEST(KorvelSimCommandLine, HelpAndPartListNeedNoDisplay) {
  Result r = korvelSim("--help", "-u DISPLAY");
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char* option : {"--plugin", "--no-board", "--fast", "--headless", "--time", "--at", "--script", "--lcd-png",
                             "--board-png", "--settings", "--keep-settings", "--seed", "--quiet", "--list-parts",
                             "--until-expected", "Xvfb", "50 ms", "expect \"TEXT\" within T"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option << " missing from --help";
  for (const char* status : {"  0 ", "  N ", "  2 ", "  3 ", "  4 ", "  5 ", "  6 "})
    EXPECT_NE(r.out.find(status), std::string::npos) << "exit status" << status << "missing from --help";
  Result noXvfb = korvelSim("--headless --fast --time 100ms " + firmware("hello"), "-u DISPLAY PATH=/nonexistent");
  EXPECT_EQ(noXvfb.status, 2) << noXvfb.output;
  EXPECT_EQ(noXvfb.err, "korvel-sim: no display is set and Xvfb is not installed: install the xvfb package "
                        "(scripts/install-deps does) or set DISPLAY\n")
      << noXvfb.output;
  Result window = korvelSim(firmware("hello"), "-u DISPLAY -u WAYLAND_DISPLAY");
  EXPECT_EQ(window.status, 2) << window.output;
  EXPECT_NE(window.err.find("korvel-sim: no display to open windows on"), std::string::npos) << window.output;
  Result parts = korvelSim("--list-parts", "-u DISPLAY");
  EXPECT_EQ(parts.status, 0) << parts.output;
  for (const char* id : {"KEY1", "KEY2", "INT0", "RESET", "JP5", "JP3", "SW6", "TP", "Joystick", "Pictor", "LD12"})
    EXPECT_NE(parts.out.find(std::string("  ") + id + " "), std::string::npos) << id << " missing from --list-parts\n" << parts.out;
}

}  // namespace

int main(int argc, char** argv) {
  wxInitializer init;
  wxImage::AddHandler(new wxPNGHandler);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
