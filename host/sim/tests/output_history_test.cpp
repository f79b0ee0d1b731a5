// The window's output pane: bounded history with one note, and no line lost to bad UTF-8.
#include <gtest/gtest.h>

#include "output_history.h"

namespace {

using korvel::simapp::displayableText;
using korvel::simapp::OutputHistory;

TEST(OutputHistory, KeepsTheLatestLinesAndSaysHowManyWent) {
  OutputHistory h(3);
  EXPECT_FALSE(h.add({"a", "b"}));
  EXPECT_EQ(h.appended(), "a\nb\n");
  EXPECT_FALSE(h.add({"c"}));
  EXPECT_EQ(h.appended(), "c\n");
  EXPECT_TRUE(h.add({"d", "e"})) << "older lines must go";
  EXPECT_EQ(h.dropped(), 2u);
  EXPECT_EQ(h.text(), "korvel-sim: 2 older lines dropped (the pane keeps the last 3)\nc\nd\ne\n");
  std::vector<std::string> flood;
  for (int i = 0; i < 100000; ++i) flood.push_back(std::to_string(i));
  EXPECT_TRUE(h.add(flood));
  EXPECT_EQ(h.size(), 3u);
  EXPECT_EQ(h.dropped(), 2u + 3u + 99997u);
  EXPECT_NE(h.text().find("\n99997\n99998\n99999\n"), std::string::npos) << h.text();
}

TEST(OutputHistory, InvalidUtf8IsShownAsLatin1) {
  EXPECT_EQ(displayableText("plain"), "plain");
  EXPECT_EQ(displayableText("gr\xC3\xBC\xC3\x9F"), "gr\xC3\xBC\xC3\x9F") << "valid UTF-8 stays";
  EXPECT_EQ(displayableText("T=23\xB0" "C"), "T=23\xC2\xB0" "C") << "a lone Latin-1 degree sign";
  EXPECT_EQ(displayableText("\xC3"), "\xC3\x83") << "a cut sequence";
  EXPECT_EQ(displayableText("\xC0\xAF"), "\xC3\x80\xC2\xAF") << "an overlong form";
  EXPECT_EQ(displayableText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80") << "a surrogate";
  OutputHistory h;
  EXPECT_FALSE(h.add({"\xFF\xFE"}));
  EXPECT_EQ(h.appended(), "\xC3\xBF\xC3\xBE\n");
}

}  // namespace
