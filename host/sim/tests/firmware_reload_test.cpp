// The window's firmware reload, without the window: a rebuilt file is loaded again only once it
// has held still for the settle time, a file that fails to load is not retried until it changes,
// and Open firmware... switches the file watched.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware_reload.h"

namespace {

using korvel::simapp::FirmwareReload;
using namespace std::chrono_literals;

struct ReloadTest : ::testing::Test {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("korvel_reload_" + std::to_string(::getpid()));
  std::filesystem::path file = dir / "app.elf";
  std::vector<std::string> loads;  // what each load found in the file
  bool accept = true;              // whether the next loads succeed
  FirmwareReload reload{[this](const std::filesystem::path& f, std::string* error) {
                          std::ifstream in(f);
                          std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                          loads.push_back(text);
                          if (!accept) *error = f.string() + ": truncated ELF file";
                          return accept;
                        },
                        300ms};
  FirmwareReload::Clock::time_point t0 = FirmwareReload::Clock::now();

  void SetUp() override {
    std::filesystem::create_directories(dir);
    write("v1");
    reload.watch(file);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void write(const std::string& text, const std::filesystem::path& where = {}) {
    std::filesystem::path p = where.empty() ? file : where;
    std::ofstream(p, std::ios::trunc) << text;
    // Each write a distinct modification time, however coarse the file system's clock.
    static auto stamp = std::filesystem::file_time_type::clock::now();
    stamp += 1s;
    std::filesystem::last_write_time(p, stamp);
  }
};

TEST_F(ReloadTest, ARebuiltFileIsReloadedOnceItHasHeldStill) {
  EXPECT_FALSE(reload.poll(t0)) << "nothing changed";
  write("v2 half");
  EXPECT_FALSE(reload.poll(t0 + 100ms)) << "just changed";
  write("v2 whole");  // still being written: the wait starts again
  EXPECT_FALSE(reload.poll(t0 + 200ms));
  EXPECT_FALSE(reload.poll(t0 + 450ms)) << "only 250 ms since the last change";
  auto event = reload.poll(t0 + 520ms);
  ASSERT_TRUE(event);
  EXPECT_TRUE(event->ok);
  EXPECT_EQ(event->text, "Firmware reloaded: app.elf");
  EXPECT_EQ(loads, (std::vector<std::string>{"v2 whole"}));
  EXPECT_FALSE(reload.poll(t0 + 2s)) << "loaded once";
  EXPECT_EQ(loads.size(), 1u);
}

TEST_F(ReloadTest, AFileThatIsGoneWhileTheLinkerWritesItIsNotLoadedUntilItIsBack) {
  std::filesystem::remove(file);
  EXPECT_FALSE(reload.poll(t0));
  EXPECT_FALSE(reload.poll(t0 + 1s)) << "nothing to load";
  write("v2");
  EXPECT_FALSE(reload.poll(t0 + 1100ms));
  EXPECT_TRUE(reload.poll(t0 + 1500ms));
  EXPECT_EQ(loads, (std::vector<std::string>{"v2"}));
}

TEST_F(ReloadTest, ABrokenBuildIsReportedOnceAndTheNextGoodOneLoads) {
  accept = false;
  write("broken");
  reload.poll(t0);
  auto event = reload.poll(t0 + 400ms);
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->ok);
  EXPECT_EQ(event->text, "Firmware not reloaded, the previous one keeps running: " + file.string() + ": truncated ELF file");
  EXPECT_FALSE(reload.poll(t0 + 1s)) << "not tried again while the file stays as it is";
  EXPECT_FALSE(reload.poll(t0 + 2s));
  EXPECT_EQ(loads.size(), 1u);
  accept = true;
  write("fixed");
  reload.poll(t0 + 3s);
  event = reload.poll(t0 + 3400ms);
  ASSERT_TRUE(event);
  EXPECT_TRUE(event->ok);
  EXPECT_EQ(loads.back(), "fixed");
}

TEST_F(ReloadTest, OpenLoadsAtOnceAndWatchesTheNewFileOnlyWhenItLoaded) {
  std::filesystem::path other = dir / "other.hex";
  write("hex v1", other);
  accept = false;
  FirmwareReload::Event event = reload.open(other);
  EXPECT_FALSE(event.ok);
  EXPECT_EQ(event.text.rfind("Firmware not loaded, the previous one keeps running: ", 0), 0u) << event.text;
  EXPECT_EQ(reload.file(), file) << "still the old one";
  accept = true;
  event = reload.open(other);
  EXPECT_TRUE(event.ok);
  EXPECT_EQ(event.text, "Firmware loaded: other.hex");
  EXPECT_EQ(reload.file(), other);
  write("v2");  // the old file changing means nothing now
  reload.poll(t0);
  EXPECT_FALSE(reload.poll(t0 + 1s));
  write("hex v2", other);
  reload.poll(t0 + 2s);
  ASSERT_TRUE(reload.poll(t0 + 2400ms));
  EXPECT_EQ(loads, (std::vector<std::string>{"hex v1", "hex v1", "hex v2"}));
}

}  // namespace
