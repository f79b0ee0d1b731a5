// The files instances exchange: names, the frame and colour formats as other systems write them,
// and the preparation of a port's folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "can_files.h"
#include "temp_folder.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(CanFileNames, IdentifierIsPrintedSignedUnderDataFolder) {
  EXPECT_EQ(frameFileName("/tmp/bus/", 5), "/tmp/bus/data/canDataId5.txt");
  EXPECT_EQ(frameFileName("/tmp/bus/", 0x80000000u), "/tmp/bus/data/canDataId-2147483648.txt");
  EXPECT_EQ(frameFileName("/tmp/bus/", 0xFFFFFFFFu), "/tmp/bus/data/canDataId-1.txt");
  EXPECT_EQ(colourFileName("/b/"), "/b/settings/settingsQuillon.txt");
}

TEST(CanFrameFormat, FiveNumbersOnLinesWithoutTrailingLineEndAndReadBack) {
  Frame f{0x80080000u, 0x1ABCDEF0u, 0xDEADBEEFu, 0, 0x001C0013u};
  std::string text = formatFrame(f);
  EXPECT_EQ(text, "2148007936\n448585456\n3735928559\n0\n1835027");
  EXPECT_EQ(parseFrame(text), f);
}

TEST(CanFrameFormat, WindowsLineEndsAndSurroundingSpaceAreRead) {
  auto f = parseFrame("0\r\n2048\r\n1\r\n2\r\n3\r\n");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->identifier, 2048u);
  EXPECT_EQ(f->bitTiming, 3u);
}

TEST(CanFrameFormat, AnythingButFiveUnsignedNumbersIsNoFrame) {
  for (const char* bad : {"", "   \n", "1\n2\n3\n4", "1\n2\n3\n4\n5\n6", "1\n2\n3\n4\n5x", "1\n-2\n3\n4\n5",
                          "1\n2\n3\n4\n4294967296", "1 2 3 4 5.0", "0x1 2 3 4 5"}) {
    EXPECT_FALSE(parseFrame(bad)) << "\"" << bad << "\"";
  }
  EXPECT_FALSE(parseFrame(std::string_view("1\n2\n3\n4\n5\0", 10)));
  EXPECT_TRUE(parseFrame("1 2 3 4 4294967295"));
}

TEST(CanColourFormat, OneUnsignedNumber) {
  EXPECT_EQ(parseColour("255"), 255u);
  EXPECT_EQ(parseColour(" 16711680\r\n"), 16711680u);
  EXPECT_FALSE(parseColour(""));
  EXPECT_FALSE(parseColour("1 2"));
  EXPECT_FALSE(parseColour("red"));
}

TEST(CanDirectoryPreparation, CreatesMissingFoldersAndLeavesNoColourFileBehind) {
  TempFolder t;
  std::string dir = t.dir() + "nested/bus/";
  EXPECT_EQ(prepareDirectory(dir, 0x0000FF), "");
  EXPECT_TRUE(fs::is_directory(dir + "data"));
  EXPECT_TRUE(fs::is_directory(dir + "settings"));
  EXPECT_TRUE(fs::is_empty(dir + "settings"));
}

TEST(CanDirectoryPreparation, EmptiesExistingFoldersOfFilesOnly) {
  TempFolder t;
  fs::create_directories(t.path() / "data" / "keep");
  fs::create_directories(t.path() / "settings");
  std::ofstream(t.path() / "data" / "canDataId5.txt") << "stale";
  std::ofstream(t.path() / "settings" / "settingsQuillon.txt") << "1";
  std::ofstream(t.path() / "other.txt") << "mine";
  EXPECT_EQ(prepareDirectory(t.dir(), 1), "");
  EXPECT_FALSE(fs::exists(t.path() / "data" / "canDataId5.txt"));
  EXPECT_TRUE(fs::is_directory(t.path() / "data" / "keep"));
  EXPECT_TRUE(fs::is_empty(t.path() / "settings"));
  EXPECT_TRUE(fs::exists(t.path() / "other.txt"));  // only the two sub-folders are the bus's
}

TEST(CanDirectoryPreparation, AFolderThatCannotBeMadeIsReportedInOneLine) {
  TempFolder t;
  std::ofstream(t.path() / "file") << "x";
  std::string error = prepareDirectory(t.dir() + "file/", 0);
  EXPECT_NE(error.find("cannot create the CAN folder"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace quillon
