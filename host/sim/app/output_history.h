// What the window's output pane shows: the latest lines only (older ones dropped, with one note
// saying how many), every line as valid UTF-8 whatever bytes the firmware sent.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace korvel::simapp {

// The line as UTF-8: unchanged when it is valid UTF-8, otherwise read as Latin-1 (each byte one
// character), so no line is lost to a stray byte.
std::string displayableText(const std::string& bytes);

class OutputHistory {
 public:
  explicit OutputHistory(size_t maxLines = 5000) : maxLines_(maxLines) {}
  // Adds a batch; true when older lines had to go (the pane is then rebuilt from text()),
  // false when the batch can simply be appended (appended() holds it).
  bool add(const std::vector<std::string>& lines);
  // Text of the last batch, when add() returned false.
  const std::string& appended() const { return appended_; }
  // The whole pane: the note on dropped lines, if any, then the kept lines.
  std::string text() const;
  size_t dropped() const { return dropped_; }
  size_t size() const { return lines_.size(); }

 private:
  size_t maxLines_;
  std::deque<std::string> lines_;
  size_t dropped_ = 0;
  std::string appended_;
};

}  // namespace korvel::simapp
