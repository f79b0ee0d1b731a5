// A UART's terminal in the window, free of windows: the bytes the firmware sends turned into
// lines as a terminal shows them, what the user types queued for the UART's wire, and the
// hand-over of the firmware's bytes from the simulation thread to the UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::simapp {

// The screen: CR returns to the start of the line (what follows overwrites it), LF ends the line
// (and returns, as serial consoles expect of firmware that sends "\n" alone), BS moves back one
// column without erasing ("\b \b" erases), TAB moves to the next multiple of 8. Every other
// control byte, DEL and the C1 range show as a visible escape ("\x07"); UTF-8 shows as text and
// a byte that is no part of valid UTF-8 as its Latin-1 character. Only the last maxLines lines
// are kept; a line reaching maxColumns continues on the next one.
class TerminalScreen {
 public:
  explicit TerminalScreen(size_t maxLines = 5000, size_t maxColumns = 1000);

  void feed(std::string_view bytes);
  // A line of our own (a note on lost bytes), on a line of its own; the cursor's line is kept.
  void note(const std::string& text);
  // Empties the screen (the next update() rebuilds the control from nothing).
  void clear();

  // What changed since the last update, for a text control holding text() (positions in
  // characters, i.e. code points): delete removeFront characters at the start (lines the bound
  // dropped), then replace everything from replaceFrom to the end with `text`.
  struct Update {
    size_t removeFront = 0;
    size_t replaceFrom = 0;
    std::string text;  // UTF-8
    bool rebuild = false;  // clear(): the control starts again from `text`
  };
  Update update();
  bool changed() const { return changed_; }
  // Where the cursor is in text(), in characters (a text control's caret goes there).
  size_t cursorOffset() const;

  // The whole screen: finished lines, each with its '\n', then the cursor's line.
  std::string text() const;
  size_t lineCount() const { return lines_.size() + 1; }
  size_t dropped() const { return dropped_; }
  size_t column() const { return column_; }

 private:
  struct Line {
    std::string text;
    size_t chars;  // code points, without the '\n'
  };
  void put(std::string cell);
  void newLine();
  // Drops the oldest lines beyond the bound (the line being written counts as one).
  void keepBound();
  void flushUtf8();
  std::string current() const;

  size_t maxLines_, maxColumns_;
  std::deque<Line> lines_;          // finished lines
  std::vector<std::string> cells_;  // the cursor's line, one cell (one character) per column
  size_t column_ = 0;
  std::string utf8_;  // the start of a UTF-8 sequence still waiting for its other bytes
  size_t utf8Need_ = 0;
  size_t dropped_ = 0;
  // What the control shows: the first shownLines_ finished lines (shownChars_ characters with
  // their '\n'), then an older copy of the cursor's line.
  size_t shownLines_ = 0, shownChars_ = 0, removedChars_ = 0;
  bool rebuild_ = false, changed_ = false;
};

// What Enter sends.
enum class EnterSends { Cr, CrLf };

// Keys that are not characters, as a terminal sends them (VT100 cursor keys).
enum class TerminalKey { Enter, Backspace, Tab, Escape, Delete, Up, Down, Right, Left, Home, End };
std::string keyBytes(TerminalKey key, EnterSends enter);
// A typed character (a code point) as UTF-8; Ctrl+letter arrives as its control code already.
std::string characterBytes(uint32_t codePoint);
// The character an X11 keysym types (Latin-1 and Unicode keysyms, the keypad's digits and
// operators), 0 for keys that type none (function keys, modifiers, dead keys).
uint32_t keysymCodePoint(uint32_t keysym);
// Pasted text as typed: every line break (CR LF, LF or CR) becomes what Enter sends.
std::string pasteBytes(std::string_view text, EnterSends enter);

// What the user typed or pasted, waiting for the UART's wire. The wire takes 4096 bytes and
// passes them on one character time apart; while it is full the rest waits here, nothing is
// dropped. Only one thread (the UI's) uses it.
class TerminalInput {
 public:
  static constexpr size_t kMaxPending = 1 << 20;
  // Queues bytes; false (and nothing queued) when they would make more than kMaxPending wait.
  bool send(std::string_view bytes);
  // Hands waiting bytes to `wire` in order until it refuses one; returns how many it took.
  size_t pump(const std::function<bool(uint8_t)>& wire);
  size_t pending() const { return queue_.size(); }
  void clear() { queue_.clear(); }

 private:
  std::deque<uint8_t> queue_;
};

// The firmware's bytes on their way from the simulation thread (push, under the host's lock:
// quick and never blocking for long) to the UI thread (take, a few dozen times a second). When
// the UI does not take them for long, only the latest kMaxBytes are kept and the loss counted.
class TerminalFeed {
 public:
  static constexpr size_t kMaxBytes = 4 << 20;
  // Answers true for the first byte of a batch (nothing was waiting), so the taker need be woken
  // only then.
  bool push(uint8_t byte);
  // The bytes since the last take; *lost: how many were dropped before them.
  std::string take(size_t* lost);
  // True once any byte came.
  bool seen() const;

 private:
  mutable std::mutex mutex_;
  std::string bytes_;
  size_t lost_ = 0;
  bool seen_ = false;
};

}  // namespace korvel::simapp
