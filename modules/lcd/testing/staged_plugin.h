// The real plug-in for tests: a private staged copy of the core with the bundles of the board's
// base, the LCD and the touch panel, loaded and initialised by the scriptable test host, so the
// firmware's pin writes reach the modules through the core's stages and the host's watches.
//
// A program that uses it must not link the core or a module library itself: the staged copy's
// modules would bind to that core instead of the copy's.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "korvel_test/staged_tree.h"
#include "korvel_test/test_host.h"
#include "lcd_bus_driver.h"

namespace korvel_testing {

// The test host as the bus driver's firmware side: stores fire the host's watches, port 2
// shows the "PORT2" virtual register the modules drive.
struct TestHostFirmware {
  korvel_test::TestHost* host;
  void write(uint32_t address, uint32_t value) { host->firmwareWrite(address, value); }
  uint32_t port2() { return host->vtr("PORT2").value_or(0); }
};

using PluginLcdBus = BasicLcdBusDriver<TestHostFirmware>;

class StagedPlugin {
 public:
  explicit StagedPlugin(const std::vector<std::string>& bundles = {"KorvelBase", "Pictor",
                                                                   "Palmett"})
      : tree_(bundles) {}
  ~StagedPlugin() { unload(); }

  // Loads the copy's core and runs the host's check and initialise calls (every stage up to
  // the menu entry). Call it inside ASSERT_NO_FATAL_FAILURE.
  void load() {
    std::string error;
    ASSERT_TRUE(host_.loadPlugin(tree_.plugin(), &error)) << error;
    ASSERT_NE(host_.check(), 0u) << "the core refused the target";
    ASSERT_NE(host_.init(), 0u) << "initialisation failed:\n" << host_.output();
  }
  void unload() {
    if (!host_.plugin().loaded()) return;
    host_.terminate();
    std::string error;
    EXPECT_TRUE(host_.unloadPlugin(&error)) << error;
  }

  korvel_test::TestHost& host() { return host_; }
  const korvel_test::StagedTree& tree() const { return tree_; }
  PluginLcdBus bus() { return PluginLcdBus(TestHostFirmware{&host_}); }

 private:
  korvel_test::StagedTree tree_;  // declared first: the files outlive the loaded plug-in
  korvel_test::TestHost host_;
};

}  // namespace korvel_testing
