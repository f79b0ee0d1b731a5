#include "modules/key_value_file.h"

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "test_support.h"

namespace korvel {
namespace {

KeyValueFile::Entries parseText(const std::string& text) {
  std::istringstream in(text);
  KeyValueFile::Entries entries;
  KeyValueFile::parse(in, entries);
  return entries;
}

TEST(KeyValueFileLines, SpacesAroundKeyAndValueAreTrimmedButTabsAreKept) {
  auto e = parseText("BTN_SIGMA  =  2.5  \nA\t= x\n");
  EXPECT_EQ(e["BTN_SIGMA"], std::vector<std::string>{"2.5"});
  EXPECT_EQ(e["A\t"], std::vector<std::string>{"x"}) << "a tab must stay part of the key";
}

TEST(KeyValueFileLines, EmptyKeysEmptyValuesAndLinesWithoutEqualsAreSkipped) {
  auto e = parseText("=1\n   = 2\nK=\nK=   \n[section]\njust text\n");
  EXPECT_TRUE(e.empty());
}

TEST(KeyValueFileLines, OnlyALeadingPercentMakesAComment) {
  auto e = parseText("%A=1\n %B=2\n");
  EXPECT_EQ(e.count("%A"), 0u);
  EXPECT_EQ(e.count("A"), 0u);
  EXPECT_EQ(e["%B"], std::vector<std::string>{"2"}) << "a space before % makes an ordinary entry";
}

TEST(KeyValueFileLines, ValueKeepsEverythingAfterTheFirstEquals) {
  auto e = parseText("K = a=b = c\n");
  EXPECT_EQ(e["K"], std::vector<std::string>{"a=b = c"});
}

TEST(KeyValueFileLines, RepeatedKeysKeepFileOrderAndCrlfAndLastLineAreRead) {
  auto e = parseText("X=2\r\nX=1\r\n[s]=v\nLast=yes");
  EXPECT_EQ(e["X"], (std::vector<std::string>{"2", "1"}));
  EXPECT_EQ(e["[s]"], std::vector<std::string>{"v"}) << "a bracketed key with '=' is an entry";
  EXPECT_EQ(e["Last"], std::vector<std::string>{"yes"});
}

TEST(KeyValueFileStorage, MissingFileTakesDefaultsAndAnExistingFileIgnoresThem) {
  test::TempDir dir;
  KeyValueFile missing(dir / "none.ini", {{"A", "1"}}, true);
  EXPECT_EQ(missing.find("A"), std::vector<std::string>{"1"});

  KeyValueFile none(dir / "none.ini", {}, false);
  EXPECT_EQ(none.load({}, {}, false), 0) << "no file and no defaults reports failure";

  test::writeText(dir / "present.ini", "B=2\n");
  KeyValueFile present(dir / "present.ini", {{"A", "1"}}, true);
  EXPECT_FALSE(present.find("A").has_value()) << "defaults only fill in for an unreadable file";
  EXPECT_EQ(present.find("B"), std::vector<std::string>{"2"});
}

TEST(KeyValueFileStorage, WritesKeysInByteOrderWithoutSpacesOrComments) {
  test::TempDir dir;
  test::writeText(dir / "k.ini", "% comment\nb = 2\nB=1\na=x\na=y\n");
  KeyValueFile file(dir / "k.ini", {}, true);
  ASSERT_EQ(file.write(), 1);
  EXPECT_EQ(test::readText(dir / "k.ini"), "B=1\na=x\na=y\nb=2\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "the temporary file is renamed away";
}

TEST(KeyValueFileStorage, OnlyIniFilesInExistingFoldersAreWritten) {
  test::TempDir dir;
  KeyValueFile list(dir / "Info.list", {{"A", "1"}}, true);
  EXPECT_EQ(list.write(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "Info.list"));
  KeyValueFile nowhere(dir / "missing" / "k.ini", {{"A", "1"}}, true);
  EXPECT_EQ(nowhere.write(), 0);
}

namespace fs = std::filesystem;

TEST(KeyValueFileStorage, ReplacingKeepsTheFilesPermissionsAndItsSymbolicLink) {
  test::TempDir dir;
  fs::create_directories(dir / "real");
  test::writeText(dir / "real" / "shared.ini", "A=1\n");
  fs::permissions(dir / "real" / "shared.ini", fs::perms::owner_read | fs::perms::owner_write |
                                                   fs::perms::group_read);
  fs::create_symlink("real/shared.ini", dir / "k.ini");

  KeyValueFile file(dir / "k.ini", {}, true);
  file.set("B", "2", true);
  ASSERT_EQ(file.write(), 1);
  EXPECT_TRUE(fs::is_symlink(dir / "k.ini")) << "the link was replaced by a plain file";
  EXPECT_EQ(test::readText(dir / "real" / "shared.ini"), "A=1\nB=2\n") << "the link's target is saved";
  EXPECT_EQ(fs::status(dir / "real" / "shared.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
      << "the file lost its permissions";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), {}), 1) << "a temporary file was left";
}

TEST(KeyValueFileStorage, TwoSaversNeverShareATemporaryFile) {
  test::TempDir dir;
  // Something else already holds the name a fixed temporary file would take.
  fs::create_directories(dir / "k.ini.tmp");
  KeyValueFile file(dir / "k.ini", {{"A", "1"}}, true);
  ASSERT_EQ(file.write(), 1) << "a name in use beside the file blocked the save";
  EXPECT_EQ(test::readText(dir / "k.ini"), "A=1\n");

  // Two stores saving the same file at once: every save is whole, none is lost half-way.
  std::vector<std::thread> savers;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    savers.emplace_back([&, t] {
      KeyValueFile mine(dir / "k.ini", {}, false);
      mine.set("WRITER", std::string(2000, static_cast<char>('a' + t)), true);
      for (int i = 0; i < 25; ++i)
        if (mine.write() != 1) ++failures;
    });
  }
  for (auto& saver : savers) saver.join();
  EXPECT_EQ(failures.load(), 0);
  const std::string text = test::readText(dir / "k.ini");
  ASSERT_EQ(text.size(), std::string("WRITER=").size() + 2000 + 1) << "a torn file";
  EXPECT_EQ(text.find_first_not_of(text[7], 7), text.size() - 1) << "two writers' text mixed";
}

TEST(KeyValueFileStorage, AReadOnlyFileIsLeftAlone) {
  test::TempDir dir;
  test::writeText(dir / "k.ini", "A=1\n");
  fs::permissions(dir / "k.ini", fs::perms::owner_read | fs::perms::group_read);
  KeyValueFile file(dir / "k.ini", {}, true);
  file.set("A", "2", true);
  EXPECT_EQ(file.write(), 0) << "a read-only file is not replaced";
  EXPECT_EQ(test::readText(dir / "k.ini"), "A=1\n");
  EXPECT_EQ(fs::status(dir / "k.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << "nothing left beside it";
}

TEST(KeyValueFileStorage, SetReplacesOrAppends) {
  KeyValueFile file("x.ini", {}, false);
  file.set("K", "1", false);
  file.set("K", "2", false);
  EXPECT_EQ(file.find("K"), (std::vector<std::string>{"1", "2"}));
  file.set("K", "3", true);
  EXPECT_EQ(file.find("K"), std::vector<std::string>{"3"});
}

}  // namespace
}  // namespace korvel
