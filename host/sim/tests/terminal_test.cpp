// The window's UART terminals without a window: bytes become what a terminal shows, the text
// control's updates always add up to the screen, and typed bytes wait for the wire in order.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

#include "options.h"
#include "terminal.h"

namespace {

using namespace korvel::simapp;

std::string screenOf(std::string_view bytes, size_t maxLines = 5000, size_t maxColumns = 1000) {
  TerminalScreen s(maxLines, maxColumns);
  s.feed(bytes);
  return s.text();
}

TEST(TerminalScreen, CarriageReturnBackspaceTabAndLineFeedActAsOnATerminal) {
  EXPECT_EQ(screenOf("abc\rX\n"), "Xbc\n") << "CR returns; what follows overwrites";
  EXPECT_EQ(screenOf("progress 10%\rprogress 99%\rdone"), "doneress 99%") << "a shorter line leaves the rest";
  EXPECT_EQ(screenOf("ab\b\bc"), "cb") << "BS moves back without erasing";
  EXPECT_EQ(screenOf("ab\b \b"), "a ") << "\"\\b \\b\" blanks the character";
  EXPECT_EQ(screenOf("\b\bx"), "x") << "BS stops at the start of the line";
  EXPECT_EQ(screenOf("a\tb\tc"), "a       b       c");
  EXPECT_EQ(screenOf("abcdefghij\r\tX"), "abcdefghXj") << "TAB over text moves without erasing";
  EXPECT_EQ(screenOf("one\ntwo\r\nthree\n\rfour"), "one\ntwo\nthree\nfour") << "LF alone, CR LF and LF CR all start a line";
}

TEST(TerminalScreen, ControlBytesShowAsEscapesAndNothingAfterANulIsLost) {
  EXPECT_EQ(screenOf(std::string("a\0b\n", 4)), "a\\x00b\n");
  EXPECT_EQ(screenOf("bell\x07 esc\x1b[2J del\x7f"), "bell\\x07 esc\\x1b[2J del\\x7f");
  // A BS after an escape takes the whole escape back, as it was one character the firmware sent.
  EXPECT_EQ(screenOf("x\x01\bY"), "xY");
}

TEST(TerminalScreen, Utf8ShowsAsTextAcrossBatchesAndStrayBytesAsLatin1) {
  TerminalScreen s;
  s.feed("caf\xC3");
  EXPECT_EQ(s.text(), "caf") << "half a character waits";
  s.feed("\xA9 \xE2\x82");
  s.feed("\xAC!");
  EXPECT_EQ(s.text(), "caf\xC3\xA9 \xE2\x82\xAC!");
  EXPECT_EQ(s.column(), 7u) << "a character is one column whatever its length in bytes";
  s.feed("\n\x07" "ab\b\b");
  EXPECT_EQ(s.cursorOffset(), 8u + 4u) << "after \"caf\xC3\xA9 \xE2\x82\xAC!\\n\" and the escape \\x07";
  EXPECT_EQ(screenOf("\xE9t\xE9\n"), "\xC3\xA9t\xC3\xA9\n") << "Latin-1 text stays readable";
  EXPECT_EQ(screenOf("\xE2\x82" "A"), "\xC3\xA2\\x82" "A") << "a cut-short sequence shows its bytes, then the rest";
  EXPECT_EQ(screenOf("\xC0\x80"), "\xC3\x80\\x80") << "an overlong NUL is no character";
  EXPECT_EQ(screenOf("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\\x80") << "nor is a surrogate";
  EXPECT_EQ(screenOf("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(TerminalScreen, KeepsTheLatestLinesAndWrapsEndlessLines) {
  TerminalScreen s(3);
  for (int i = 0; i < 10; ++i) s.feed("line " + std::to_string(i) + "\n");
  s.feed("prompt> ");
  EXPECT_EQ(s.text(), "line 8\nline 9\nprompt> ");
  EXPECT_EQ(s.lineCount(), 3u);
  EXPECT_EQ(s.dropped(), 8u);
  EXPECT_EQ(screenOf(std::string(25, 'x'), 5000, 10), "xxxxxxxxxx\nxxxxxxxxxx\nxxxxx");
  EXPECT_EQ(screenOf("1234567890\t9", 5000, 10), "1234567890\n        9") << "a TAB at the edge starts the next line";
}

// A text control as the pane uses one: code points, changed only through the updates.
struct Control {
  std::u32string text;
  static std::u32string decode(const std::string& utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
      uint8_t c = uint8_t(utf8[i]);
      size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      char32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (uint8_t(utf8[i + k]) & 0x3F);
      out.push_back(cp);
      i += len;
    }
    return out;
  }
  void apply(const TerminalScreen::Update& u) {
    if (u.rebuild) {
      text = decode(u.text);
      return;
    }
    ASSERT_LE(u.removeFront, text.size());
    text.erase(0, u.removeFront);
    ASSERT_LE(u.replaceFrom, text.size());
    text = text.substr(0, u.replaceFrom) + decode(u.text);
  }
};

TEST(TerminalScreen, UpdatesKeepAControlEqualToTheScreenWhateverTheFirmwareSends) {
  const char pieces[][8] = {"ab", "\r", "\n", "\r\n", "\b", "\t", "\xC3\xA9", "\xC3", "\xA9", "\x07", "long", "\xE9", "\0"};
  std::mt19937 random(7);
  for (size_t maxLines : {1u, 2u, 5u, 40u}) {
    TerminalScreen s(maxLines, 12);
    Control control;
    for (int batch = 0; batch < 400; ++batch) {
      std::string bytes;
      int n = int(random() % 30);
      for (int i = 0; i < n; ++i) {
        size_t k = random() % std::size(pieces);
        bytes += k == std::size(pieces) - 1 ? std::string(1, '\0') : std::string(pieces[k]);
      }
      s.feed(bytes);
      if (random() % 50 == 0) s.note("[note]");
      if (random() % 97 == 0) s.clear();
      control.apply(s.update());
      ASSERT_EQ(control.text, Control::decode(s.text())) << "lines " << maxLines << ", batch " << batch;
      ASSERT_LE(s.lineCount(), maxLines);
    }
  }
}

TEST(TerminalScreen, AnUpdateOfAFloodingFirmwareCarriesOnlyWhatChanged) {
  TerminalScreen s(100);
  for (int i = 0; i < 100; ++i) s.feed("old " + std::to_string(i) + "\n");
  s.update();
  s.feed("new\n");
  TerminalScreen::Update u = s.update();
  EXPECT_EQ(u.removeFront, 6u) << "\"old 0\" and its line break";
  EXPECT_EQ(u.text, "new\n") << "the control keeps the lines it has";
  EXPECT_FALSE(u.rebuild);
}

TEST(TerminalKeys, KeysPasteAndKeysymsBecomeTheBytesATerminalSends) {
  EXPECT_EQ(keyBytes(TerminalKey::Enter, EnterSends::Cr), "\r");
  EXPECT_EQ(keyBytes(TerminalKey::Enter, EnterSends::CrLf), "\r\n");
  EXPECT_EQ(keyBytes(TerminalKey::Backspace, EnterSends::Cr), "\b");
  EXPECT_EQ(keyBytes(TerminalKey::Up, EnterSends::Cr), "\x1b[A");
  EXPECT_EQ(pasteBytes("a\r\nb\nc\rd\n\n", EnterSends::Cr), "a\rb\rc\rd\r\r") << "every line break, whatever its form, is one Enter";
  EXPECT_EQ(pasteBytes("a\r\nb", EnterSends::CrLf), "a\r\nb");
  EXPECT_EQ(characterBytes('A'), "A");
  EXPECT_EQ(characterBytes(0xE9), "\xC3\xA9");
  EXPECT_EQ(characterBytes(0x20AC), "\xE2\x82\xAC");
  EXPECT_EQ(characterBytes(0x1F600), "\xF0\x9F\x98\x80");
  EXPECT_EQ(characterBytes(0xD800), "") << "a lone surrogate is no character";
  EXPECT_EQ(keysymCodePoint('!'), uint32_t('!'));
  EXPECT_EQ(keysymCodePoint(0xFC), 0xFCu) << "udiaeresis";
  EXPECT_EQ(keysymCodePoint(0x010020AC), 0x20ACu) << "a Unicode keysym";
  EXPECT_EQ(keysymCodePoint(0xFFB7), uint32_t('7')) << "KP_7";
  EXPECT_EQ(keysymCodePoint(0xFFE1), 0u) << "Shift_L types nothing";
  EXPECT_EQ(keysymCodePoint(0xFE51), 0u) << "a dead key types nothing by itself";
}

TEST(TerminalInput, WaitsForAFullWireInOrderAndRefusesOnlyWhatWouldOverflow) {
  TerminalInput in;
  std::string wire;
  size_t room = 3;
  auto take = [&](uint8_t b) {
    if (room == 0) return false;
    --room;
    wire.push_back(char(b));
    return true;
  };
  ASSERT_TRUE(in.send("hello"));
  EXPECT_EQ(in.pump(take), 3u);
  EXPECT_EQ(in.pending(), 2u) << "the rest waits for the wire";
  ASSERT_TRUE(in.send(" world"));
  EXPECT_EQ(in.pump(take), 0u);
  room = 100;
  EXPECT_EQ(in.pump(take), 8u);
  EXPECT_EQ(wire, "hello world");
  EXPECT_EQ(in.pending(), 0u);
  ASSERT_TRUE(in.send(std::string(TerminalInput::kMaxPending - 1, 'x')));
  EXPECT_FALSE(in.send("yz")) << "a paste beyond the limit is refused whole";
  EXPECT_EQ(in.pending(), TerminalInput::kMaxPending - 1);
  EXPECT_TRUE(in.send("y"));
}

TEST(TerminalFeed, HandsEveryByteOverInOrderAndCountsWhatAnIdleWindowLost) {
  TerminalFeed feed;
  EXPECT_FALSE(feed.seen());
  constexpr int kBytes = 200000;
  std::thread simulation([&] {
    for (int i = 0; i < kBytes; ++i) feed.push(uint8_t(i % 251));
  });
  std::string got;
  size_t lost = 0, total = 0;
  while (got.size() < size_t(kBytes)) {
    got += feed.take(&lost);
    total += lost;
  }
  simulation.join();
  EXPECT_EQ(total, 0u);
  for (int i = 0; i < kBytes; ++i) ASSERT_EQ(uint8_t(got[size_t(i)]), uint8_t(i % 251)) << "byte " << i;
  EXPECT_TRUE(feed.seen());
  for (size_t i = 0; i < 2 * TerminalFeed::kMaxBytes + 10; ++i) feed.push(uint8_t(i));
  std::string tail = feed.take(&lost);
  EXPECT_EQ(lost + tail.size(), 2 * TerminalFeed::kMaxBytes + 10) << "every byte is shown or counted";
  EXPECT_GE(tail.size(), TerminalFeed::kMaxBytes);
  EXPECT_EQ(uint8_t(tail.back()), uint8_t(2 * TerminalFeed::kMaxBytes + 9)) << "the latest bytes are kept";
}

TEST(TerminalFeed, OnlyTheFirstByteOfABatchWakesTheWindow) {
  TerminalFeed feed;
  EXPECT_TRUE(feed.push('a'));
  EXPECT_FALSE(feed.push('b')) << "bytes already wait: the window is coming for them";
  size_t lost = 0;
  EXPECT_EQ(feed.take(&lost), "ab");
  EXPECT_TRUE(feed.push('c')) << "after a take the next byte wakes it again";
}

TEST(TerminalOptions, WindowIsAChannelOfWindowRunsOnly) {
  std::string error;
  auto o = parseOptions({"--uart0", "window", "--uart2", "window", "fw.elf"}, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->uart[0].kind, Options::UartChannel::Kind::Window);
  EXPECT_EQ(o->uart[2].kind, Options::UartChannel::Kind::Window);
  EXPECT_FALSE(parseOptions({"--headless", "--uart1", "window", "fw.elf"}, &error));
  EXPECT_NE(error.find("--uart1 window needs the main window"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_NE(usage().find("stdio|pty|file:PATH|tcp:PORT|window"), std::string::npos);
}

}  // namespace
