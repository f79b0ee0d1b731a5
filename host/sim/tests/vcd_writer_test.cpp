// Pin traces read back the way a waveform viewer reads them, and the command-line and script
// forms that choose pins refused with one line when they name no pin.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "options.h"
#include "script.h"
#include "vcd_writer.h"

using namespace korvel::simapp;

namespace {

// A minimal VCD reader: the wires' names by identifier, and every value change in file order.
struct Change {
  uint64_t time;
  std::string name;
  int value;
  bool operator==(const Change&) const = default;
};
void PrintTo(const Change& c, std::ostream* os) { *os << "#" << c.time << " " << c.name << "=" << c.value; }
struct Dump {
  std::string timescale;
  std::vector<std::string> names;  // in declaration order
  std::vector<Change> changes;
};

Dump parse(const std::string& text) {
  Dump d;
  std::map<std::string, std::string> byId;
  std::istringstream in(text);
  std::string word;
  uint64_t time = 0;
  bool definitions = true, timeSeen = false;
  while (in >> word) {
    if (definitions) {
      if (word == "$timescale") in >> d.timescale;
      if (word == "$var") {
        std::string type, width, id, name;
        in >> type >> width >> id >> name;
        EXPECT_EQ(type, "wire");
        EXPECT_EQ(width, "1");
        EXPECT_TRUE(byId.emplace(id, name).second) << "identifier " << id << " used twice";
        d.names.push_back(name);
      }
      if (word == "$enddefinitions") definitions = false;
      continue;
    }
    if (word == "$dumpvars" || word == "$end") continue;
    if (word[0] == '#') {
      uint64_t t = std::stoull(word.substr(1));
      EXPECT_TRUE(!timeSeen || t > time) << "time stamps must rise: " << t << " after " << time;
      time = t;
      timeSeen = true;
      continue;
    }
    EXPECT_TRUE(word[0] == '0' || word[0] == '1') << word;
    auto it = byId.find(word.substr(1));
    EXPECT_NE(it, byId.end()) << "change of an undeclared wire: " << word;
    if (it != byId.end()) d.changes.push_back({time, it->second, word[0] - '0'});
  }
  EXPECT_FALSE(definitions) << "no $enddefinitions";
  return d;
}

std::vector<TracedPin> pins(const std::string& list) {
  std::vector<TracedPin> out;
  std::string error;
  EXPECT_TRUE(parsePinList(list, &out, &error)) << error;
  return out;
}

}  // namespace

TEST(VcdWriter, ToggledPinsReadBackAtTheirTimesAndOtherPinsStayOut) {
  std::ostringstream out;
  VcdWriter w(out, pins("P1.18,P2.*"));
  w.begin({0, 1u << 18, 0xFFFFFFFF, 0, 0});
  w.change(1, 0, 0.001);                  // P1.18 falls at 1 ms
  w.change(1, 1u << 18 | 1u << 3, 0.002);  // rises at 2 ms; P1.3 is not traced
  w.change(0, 0xFFFFFFFF, 0.0025);        // port 0 is not traced at all: nothing written
  w.change(2, 0xFFFFDFFF, 0.0030000004);  // P2.13 falls; the stamp rounds to the nanosecond
  w.change(2, 0xFFFFDFFE, 0.0030000004);  // and P2.0 at the same time: no second stamp
  w.change(1, 0, 0.001);                  // a stamp from the past is taken as the last one
  w.flush();
  Dump d = parse(out.str());
  EXPECT_EQ(d.timescale, "1ns");
  ASSERT_EQ(d.names.size(), 33u);
  EXPECT_EQ(d.names[0], "P1_18");
  EXPECT_EQ(d.names[1], "P2_0");
  EXPECT_EQ(d.names[32], "P2_31");
  std::vector<Change> changes(d.changes.begin() + 33, d.changes.end());
  EXPECT_EQ(d.changes[0], (Change{0, "P1_18", 1}));
  EXPECT_EQ(d.changes[1], (Change{0, "P2_0", 1}));
  EXPECT_EQ(changes, (std::vector<Change>{{1000000, "P1_18", 0},
                                          {2000000, "P1_18", 1},
                                          {3000000, "P2_13", 0},
                                          {3000000, "P2_0", 0},
                                          {3000000, "P1_18", 0}}));
}

TEST(VcdWriter, EveryPinOfTheFivePortsHasItsOwnIdentifier) {
  std::ostringstream out;
  VcdWriter w(out, allPins());
  w.begin({});
  for (int p = 0; p < 5; ++p) w.change(p, 0x80000001, 1e-6 * (p + 1));
  Dump d = parse(out.str());  // the reader refuses identifiers used twice
  ASSERT_EQ(d.names.size(), 160u);
  EXPECT_EQ(d.names[159], "P4_31");
  ASSERT_EQ(d.changes.size(), 170u);
  EXPECT_EQ(d.changes[168], (Change{5000, "P4_0", 1}));
  EXPECT_EQ(d.changes[169], (Change{5000, "P4_31", 1}));
}

TEST(VcdPins, ListsAreReadInOrderOnceEachAndBadOnesRefusedWithOneLine) {
  std::vector<TracedPin> p = pins("P2.13,P0.*,P2.13,P0.4");
  ASSERT_EQ(p.size(), 33u);
  EXPECT_EQ(p[0].port, 2);
  EXPECT_EQ(p[0].pin, 13);
  EXPECT_EQ(p[32].port, 0);
  EXPECT_EQ(p[32].pin, 31);
  for (const char* bad : {"", "P5.1", "P0.32", "P1", "P1.", "Q1.2", "P1.2,", "P1.-1", "P1.*x", "P1.18-20", "P01.2x", "P 1.2"}) {
    std::vector<TracedPin> out;
    std::string error;
    EXPECT_FALSE(parsePinList(bad, &out, &error)) << bad;
    EXPECT_NE(error.find("--vcd-pins"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(VcdOptions, PinsNeedATraceFileAndTheDefaultIsEveryPin) {
  std::string error;
  auto o = parseOptions({"--vcd", "out.vcd", "fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->vcdPins.size(), 160u);
  EXPECT_FALSE(parseOptions({"--vcd-pins", "P0.*", "fw.elf"}, &error));
  EXPECT_NE(error.find("--vcd FILE"), std::string::npos) << error;
  EXPECT_FALSE(parseOptions({"--vcd", "out.vcd", "--vcd-pins", "P9.*", "fw.elf"}, &error));
  EXPECT_NE(error.find("\"P9.*\""), std::string::npos) << error;
  o = parseOptions({"--trace-unmodelled", "fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->traceUnmodelled);
}

TEST(SquareStep, PinsAndFrequenciesAreCheckedBeforeTheRun) {
  ScriptStep s;
  std::string error;
  ASSERT_TRUE(parseStep("100ms square P1.26 500Hz", &s, &error)) << error;
  ASSERT_TRUE(parseStep("1s square P0.0 2.5kHz", &s, &error)) << error;
  ASSERT_TRUE(parseStep("1s square P4.31 off", &s, &error)) << error;
  double hz = 0;
  ASSERT_TRUE(parseFrequency("2.5kHz", &hz));
  EXPECT_EQ(hz, 2500.0);
  for (const char* bad : {"0s square P5.1 1Hz", "0s square P1.32 1Hz", "0s square P1.2 0Hz", "0s square P1.2 -5Hz",
                          "0s square P1.2 500", "0s square P1.2 200kHz", "0s square P1.2 nanHz", "0s square P1.2 infHz",
                          "0s square P1.2", "0s square P1.+2 1Hz"}) {
    EXPECT_FALSE(parseStep(bad, &s, &error)) << bad;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}
