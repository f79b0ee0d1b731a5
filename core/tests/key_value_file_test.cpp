#include "modules/key_value_file.h"

#include <sstream>

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
  EXPECT_FALSE(std::filesystem::exists(dir / "k.ini.tmp")) << "the temporary file is renamed away";
}

TEST(KeyValueFileStorage, OnlyIniFilesInExistingFoldersAreWritten) {
  test::TempDir dir;
  KeyValueFile list(dir / "Info.list", {{"A", "1"}}, true);
  EXPECT_EQ(list.write(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "Info.list"));
  KeyValueFile nowhere(dir / "missing" / "k.ini", {{"A", "1"}}, true);
  EXPECT_EQ(nowhere.write(), 0);
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
