#include "output_history.h"

#include <cstdint>

namespace korvel::simapp {

namespace {
bool validUtf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    uint8_t c = uint8_t(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < len; ++k) {
      uint8_t d = uint8_t(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
    static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += len;
  }
  return true;
}
}  // namespace

std::string displayableText(const std::string& bytes) {
  if (validUtf8(bytes)) return bytes;
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    uint8_t c = uint8_t(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool OutputHistory::add(const std::vector<std::string>& lines) {
  appended_.clear();
  // Of a batch larger than the pane only its tail can ever show.
  size_t skip = lines.size() > maxLines_ ? lines.size() - maxLines_ : 0;
  dropped_ += skip;
  bool trimmed = skip > 0;
  for (size_t i = skip; i < lines.size(); ++i) {
    lines_.push_back(displayableText(lines[i]));
    if (lines_.size() > maxLines_) {
      lines_.pop_front();
      ++dropped_;
      trimmed = true;
    }
  }
  if (!trimmed)
    for (size_t i = lines_.size() - (lines.size() - skip); i < lines_.size(); ++i) appended_ += lines_[i] + "\n";
  return trimmed;
}

std::string OutputHistory::text() const {
  std::string t;
  if (dropped_)
    t = "korvel-sim: " + std::to_string(dropped_) + " older lines dropped (the pane keeps the last " +
        std::to_string(maxLines_) + ")\n";
  for (const std::string& l : lines_) t += l + "\n";
  return t;
}

}  // namespace korvel::simapp
