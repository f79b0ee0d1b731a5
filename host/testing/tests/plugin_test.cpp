// Loading a plug-in library, driving it through its entry and unloading it fully, with the
// fixture plug-in built beside this test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "korvel_test/test_host.h"

namespace fs = std::filesystem;
using korvel_test::TestHost;

namespace {

// A private copy of the fixture, so that each load is a fresh library.
struct FixtureCopy {
  fs::path dir = fs::temp_directory_path() / ("agsi-fixture-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                              "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path file;
  explicit FixtureCopy(const std::string& name) {
    fs::create_directories(dir);
    file = dir / name;
    fs::copy_file(FIXTURE_PLUGIN, file, fs::copy_options::overwrite_existing);
  }
  ~FixtureCopy() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace

TEST(Plugin, RunsEveryEntryCodeAndBindsTheHostFunctionsOnTheInitHandle) {
  TestHost host;
  std::string error;
  ASSERT_TRUE(host.loadPlugin(FIXTURE_PLUGIN, &error)) << error;
  EXPECT_EQ(host.check(), 1u);
  EXPECT_EQ(host.plugin().check(3), 0u) << "the fixture accepts only the Cortex-M kind";
  ASSERT_EQ(host.init("blinky.elf"), 1u) << "the fixture could not bind the host functions by name";
  EXPECT_EQ(host.reset(), 1u);
  EXPECT_EQ(host.vtr("PORT2"), std::optional<uint32_t>(0x1000));

  host.firmwareWrite(0x40048004, 0x21);
  EXPECT_EQ(host.firmwareRead(0x40030008), 0xA5u) << "the read watch decides what the firmware loads";
  EXPECT_EQ(host.firmwareRead(0x40030008, 1), 0xA5u);
  ASSERT_EQ(host.menuEntries().size(), 1u);
  EXPECT_TRUE(host.selectMenu("&Fixture"));
  EXPECT_FALSE(host.selectMenu("&Nothing"));
  EXPECT_EQ(host.terminate(), 1u);

  EXPECT_TRUE(host.unloadPlugin(&error)) << error;
  EXPECT_EQ(host.output(),
            "fixture: init #1 app 'blinky.elf'\n"
            "fixture: reset\n"
            "fixture: write 0x40048004 reason 4 simulator 1\n"
            "fixture: menu selected\n"
            "fixture: terminate\n"
            "fixture: unloaded\n")
      << "the library's static destructors run when it is unloaded";
}

TEST(Plugin, UnloadingForgetsTheWatchesIntoTheLibrarysCode) {
  TestHost host;
  std::string error;
  ASSERT_TRUE(host.loadPlugin(FIXTURE_PLUGIN, &error)) << error;
  ASSERT_EQ(host.init(), 1u);
  ASSERT_TRUE(host.unloadPlugin(&error)) << error;
  EXPECT_FALSE(host.host().watched(0x40048004, 4));
  host.firmwareWrite(0x40048004, 1);  // would call into unmapped code if the watch survived
  EXPECT_TRUE(host.menuEntries().empty());
}

TEST(Plugin, AFreshCopyLoadedAfterAFullUnloadStartsFromScratch) {
  FixtureCopy first("libFirst.so"), second("libSecond.so");
  TestHost host;
  std::string error;
  ASSERT_TRUE(host.loadPlugin(first.file, &error)) << error;
  ASSERT_EQ(host.init(), 1u);
  EXPECT_TRUE(TestHost::libraryIsLoaded(first.file));
  ASSERT_TRUE(host.unloadPlugin(&error)) << error;
  EXPECT_FALSE(TestHost::libraryIsLoaded(first.file)) << "the first copy is still mapped";

  host.clearMessages();
  ASSERT_TRUE(host.loadPlugin(second.file, &error)) << error;
  ASSERT_EQ(host.init(), 1u);
  EXPECT_EQ(host.messages().at(0), "fixture: init #1 app ''\n") << "the second copy shares state with the first";
}

TEST(Plugin, LoadFailuresSayWhatWentWrongInOneLine) {
  TestHost host;
  std::string error;
  EXPECT_FALSE(host.loadPlugin("/nonexistent/libKorvel.so", &error));
  EXPECT_EQ(error, "cannot load plug-in /nonexistent/libKorvel.so: no such file");

  EXPECT_FALSE(host.loadPlugin(FIXTURE_NOENTRY, &error));
  EXPECT_EQ(error, std::string(FIXTURE_NOENTRY) + " is not an AGSI plug-in: it exports no AgsiEntry");

  fs::path text = fs::temp_directory_path() / "agsi-not-a-library.so";
  std::ofstream(text) << "hello\n";
  EXPECT_FALSE(host.loadPlugin(text, &error));
  EXPECT_EQ(error.rfind("cannot load plug-in " + text.string() + ": ", 0), 0u) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  fs::remove(text);

  EXPECT_FALSE(host.plugin().loaded());
  EXPECT_EQ(host.init(), 0u) << "nothing loaded: the entry must not be called";
}
