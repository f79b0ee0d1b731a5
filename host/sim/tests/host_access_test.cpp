// The simulator seen from the plug-in's side of the AGSI host: watches fire for the firmware's
// own accesses, read values set by a call-back reach the firmware, VTR levels become pin levels
// and interrupts, and the plug-in's register accesses reach the NVIC.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agsi_host/functions.h"
#include "korvel_sim/simulator.h"

namespace {

using korvel::sim::Simulator;
using korvel::sim::StopReason;

struct Seen {
  uint32_t address;
  uint32_t pin;
  int simulatorAccess;
};
std::vector<Seen> gPinWrites;
std::vector<uint32_t> gSspBytes;
std::vector<uint32_t> gWatchedWrites;
uint32_t gSspVtr = 0;

void onPin(uint32_t address, uint32_t) {
  uint32_t pin = 0, prev = 0;
  AgsiReadSFR(0x2009C014, &pin, &prev, 0xFFFFFFFF);
  gPinWrites.push_back({address, pin, AgsiIsSimulatorAccess()});
}
void onSspSent(uint32_t, uint32_t) {
  uint32_t v = 0;
  AgsiReadVTR(gSspVtr, &v);
  gSspBytes.push_back(v);
}
void onSspRead(uint32_t, uint32_t) { AgsiSetSFRReadValue(0x7F); }
void onWatched(uint32_t address, uint32_t) {
  uint8_t b = 0;
  AgsiReadMemory(address, 1, &b);
  gWatchedWrites.push_back(b);
}

class HostAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    agsi_host::Host::instance().clear();
    gPinWrites.clear(), gSspBytes.clear(), gWatchedWrites.clear();
  }
  std::string firmware(const char* name) { return std::string(KORVEL_FIRMWARE_DIR) + "/" + name + ".elf"; }
};

TEST_F(HostAccess, FirmwareAccessesFireWatchesAndReadOverridesReachTheFirmware) {
  Simulator sim;
  sim.setRealTime(false);
  std::vector<std::string> out;
  sim.setOutput([&](const std::string& l) { out.push_back(l); });
  std::string error;
  ASSERT_TRUE(sim.loadFirmware(firmware("host_access"), &error)) << error;
  gSspVtr = AgsiDefineVTR("SSP1_OUT", AGSIVTRWORD, 0);
  AgsiDefineVTR("PORT2", AGSIVTRLONG, 0xFFFFFFFF);
  ASSERT_TRUE(AgsiSetWatchOnSFR(0x2009C014, onPin, AGSIWRITE));
  ASSERT_TRUE(AgsiSetWatchOnVTR(gSspVtr, onSspSent, AGSIWRITE));
  ASSERT_TRUE(AgsiSetWatchOnSFR(0x40030008, onSspRead, AGSIREAD));
  AGSISYMDSC sym{};
  std::snprintf(sym.szName, sizeof sym.szName, "Watched");
  ASSERT_TRUE(AgsiGetSymbolByName(&sym)) << "the ELF's symbols reach the host";
  EXPECT_EQ(sym.type, uint32_t(AGSI_SYMTYPE_UCHAR)) << "a one-byte variable";
  ASSERT_TRUE(AgsiSetWatchOnMemory(uint32_t(sym.val), uint32_t(sym.val), onWatched, AGSIWRITE));

  sim.runFor(0.05);  // up to the wait for EINT1

  // SET and CLR of P0.22 each fire the FIO0PIN watch with the new level, as a firmware access.
  std::vector<Seen> p22;
  for (const Seen& s : gPinWrites)
    if (s.address == 0x2009C014) p22.push_back(s);
  ASSERT_GE(p22.size(), 2u) << "FIO0SET and FIO0CLR writes must reach the FIO0PIN watch";
  EXPECT_TRUE(p22[p22.size() - 2].pin & (1u << 22)) << "after FIO0SET the pin reads high";
  EXPECT_FALSE(p22.back().pin & (1u << 22)) << "after FIO0CLR the pin reads low";
  EXPECT_EQ(p22.back().simulatorAccess, 1) << "the firmware's access is a simulator access";

  ASSERT_EQ(gSspBytes.size(), 1u) << "one byte sent on SSP1 updates SSP1_OUT once";
  EXPECT_EQ(gSspBytes[0], 0x90u);
  std::string all;
  for (auto& l : out) all += l + "\n";
  EXPECT_NE(all.find("ssp answer 127"), std::string::npos) << "the read watch's value reaches the firmware:\n" << all;
  // Start-up code clears .bss (one firmware write), then main writes 42.
  ASSERT_EQ(gWatchedWrites.size(), 2u) << "each write to a watched RAM variable fires its memory watch";
  EXPECT_EQ(gWatchedWrites[0], 0u);
  EXPECT_EQ(gWatchedWrites[1], 42u);
  EXPECT_NE(all.find("waiting for EINT1"), std::string::npos) << all;
  EXPECT_EQ(all.find("EINT1 taken"), std::string::npos) << "no edge yet:\n" << all;

  // A falling edge on P2.11 through the PORT2 VTR is EINT1 for the firmware.
  agsi_host::Host::instance().writeVtr("PORT2", 0xFFFFFFFF & ~(1u << 11), false);
  EXPECT_EQ(sim.runFor(0.05), StopReason::Exited);
  all.clear();
  for (auto& l : out) all += l + "\n";
  EXPECT_NE(all.find("EINT1 taken"), std::string::npos) << all;
}

std::vector<uint32_t> gPinModeWrites, gFio1PinWrites;
void onPinMode1(uint32_t address, uint32_t) {
  uint32_t v = 0, prev = 0;
  AgsiReadSFR(address, &v, &prev, 0xFFFFFFFF);
  gPinModeWrites.push_back(v);
}
void onFio1Pin(uint32_t address, uint32_t) {
  uint32_t v = 0, prev = 0;
  AgsiReadSFR(address, &v, &prev, 0xFFFFFFFF);
  gFio1PinWrites.push_back(v);
}

TEST_F(HostAccess, BitBandAliasesReachTheirWordAndFireTheWatchesOfANormalWrite) {
  Simulator sim;
  sim.setRealTime(false);
  std::string all;
  sim.setOutput([&](const std::string& l) { all += l + "\n"; });
  std::string error;
  ASSERT_TRUE(sim.loadFirmware(firmware("bitband"), &error)) << error;
  gPinModeWrites.clear(), gFio1PinWrites.clear();
  ASSERT_TRUE(AgsiSetWatchOnSFR(0x4002C044, onPinMode1, AGSIWRITE));  // PINMODE1, the peripheral test word
  ASSERT_TRUE(AgsiSetWatchOnSFR(0x2009C034, onFio1Pin, AGSIWRITE));   // FIO1PIN
  ASSERT_EQ(sim.runFor(0.5), StopReason::Exited) << all;
  EXPECT_EQ(sim.exitStatus(), 0) << "the firmware counts its failed checks\n" << all;
  EXPECT_EQ(all, "bit-band ok\n");
  // Direct writes store only 0 and all ones; every other value is an alias write's result.
  for (uint32_t b = 0; b < 32; ++b) {
    EXPECT_NE(std::find(gPinModeWrites.begin(), gPinModeWrites.end(), 1u << b), gPinModeWrites.end()) << "set bit " << b;
    EXPECT_NE(std::find(gPinModeWrites.begin(), gPinModeWrites.end(), ~(1u << b)), gPinModeWrites.end()) << "clear bit " << b;
  }
  ASSERT_FALSE(gFio1PinWrites.empty()) << "FIO1DIR/FIO1SET written through their aliases move FIO1PIN";
  EXPECT_TRUE(gFio1PinWrites.back() & (1u << 18));
}

TEST_F(HostAccess, PluginPendsInterruptsAndReadsActiveBitsThroughTheNvic) {
  Simulator sim;
  // The plug-in pends IRQ 25 (CAN) through ISPR0 and reads it back; IABR shows it inactive.
  ASSERT_TRUE(AgsiWriteSFR(0xE000E200, 1u << 25, 1u << 25));
  uint32_t cur = 0, prev = 0;
  ASSERT_TRUE(AgsiReadSFR(0xE000E200, &cur, &prev, 0xFFFFFFFF));
  EXPECT_EQ(cur, 1u << 25) << "ISPR0 after the plug-in's write";
  ASSERT_TRUE(AgsiReadSFR(0xE000E300, &cur, &prev, 0xFFFFFFFF));
  EXPECT_EQ(cur, 0u) << "IABR0: nothing runs without firmware";
  // PORT1 levels read back through FIO1PIN for input pins.
  AgsiDefineVTR("PORT1", AGSIVTRLONG, 0);
  agsi_host::Host::instance().writeVtr("PORT1", 0x1C000000, false);
  ASSERT_TRUE(AgsiReadSFR(0x2009C034, &cur, &prev, 0xFFFFFFFF));
  EXPECT_EQ(cur, 0x1C000000u) << "FIO1PIN shows the board's levels on input pins";
}

}  // namespace
