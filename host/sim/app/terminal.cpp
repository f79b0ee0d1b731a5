#include "terminal.h"

#include <algorithm>
#include <cstdio>

namespace korvel::simapp {

namespace {
size_t countChars(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8) n += (uint8_t(c) & 0xC0) != 0x80;
  return n;
}

std::string escape(uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", unsigned(b));
  return text;
}

// A byte that is no part of valid UTF-8: its Latin-1 character, or an escape for 0x80..0x9F (the
// C1 controls, which have no glyph).
std::string latin1(uint8_t b) {
  if (b < 0xA0) return escape(b);
  return {char(0xC0 | (b >> 6)), char(0x80 | (b & 0x3F))};
}
}  // namespace

TerminalScreen::TerminalScreen(size_t maxLines, size_t maxColumns)
    : maxLines_(maxLines < 1 ? 1 : maxLines), maxColumns_(maxColumns < 8 ? 8 : maxColumns) {}

void TerminalScreen::put(std::string cell) {
  if (column_ >= maxColumns_) newLine();
  if (column_ < cells_.size()) cells_[column_] = std::move(cell);
  else cells_.push_back(std::move(cell));
  ++column_;
  changed_ = true;
}

void TerminalScreen::newLine() {
  std::string text = current();
  size_t chars = countChars(text);
  lines_.push_back({std::move(text), chars});
  cells_.clear();
  column_ = 0;
  changed_ = true;
  keepBound();
}

void TerminalScreen::keepBound() {
  while (lines_.size() + 1 > maxLines_) {
    if (shownLines_ > 0) {
      --shownLines_;
      shownChars_ -= lines_.front().chars + 1;
      removedChars_ += lines_.front().chars + 1;
    }
    lines_.pop_front();
    ++dropped_;
  }
}

void TerminalScreen::flushUtf8() {
  std::string bytes;
  bytes.swap(utf8_);
  utf8Need_ = 0;
  for (char c : bytes) put(latin1(uint8_t(c)));
}

void TerminalScreen::feed(std::string_view bytes) {
  for (char ch : bytes) {
    uint8_t b = uint8_t(ch);
    if (utf8Need_) {
      if ((b & 0xC0) == 0x80) {
        utf8_.push_back(ch);
        if (utf8_.size() < utf8Need_) continue;
        uint32_t cp = uint8_t(utf8_[0]) & (0x7F >> utf8Need_);
        for (size_t k = 1; k < utf8_.size(); ++k) cp = (cp << 6) | (uint8_t(utf8_[k]) & 0x3F);
        static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[utf8Need_] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
          flushUtf8();
        } else {
          std::string cell;
          cell.swap(utf8_);
          utf8Need_ = 0;
          put(std::move(cell));
        }
        continue;
      }
      flushUtf8();  // cut short: its bytes show as they are, the new byte starts afresh
    }
    if (b >= 0x80) {
      size_t need = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
      if (need) {
        utf8_.assign(1, ch);
        utf8Need_ = need;
      } else {
        put(latin1(b));
      }
      continue;
    }
    switch (b) {
      case '\r':
        column_ = 0;
        break;
      case '\n':
        newLine();
        break;
      case '\b':
        if (column_ > 0) --column_;
        break;
      case '\t': {
        if (column_ >= maxColumns_) newLine();
        size_t stop = std::min(maxColumns_, (column_ / 8 + 1) * 8);
        for (; column_ < stop; ++column_)
          if (column_ == cells_.size()) cells_.push_back(" ");
        changed_ = true;
        break;
      }
      default:
        put(b < 0x20 || b == 0x7F ? escape(b) : std::string(1, ch));
    }
  }
}

void TerminalScreen::note(const std::string& text) {
  lines_.push_back({text, countChars(text)});
  changed_ = true;
  keepBound();
}

void TerminalScreen::clear() {
  lines_.clear();
  cells_.clear();
  column_ = 0;
  utf8_.clear();
  utf8Need_ = 0;
  shownLines_ = shownChars_ = removedChars_ = 0;
  rebuild_ = changed_ = true;
}

std::string TerminalScreen::current() const {
  std::string text;
  for (const std::string& cell : cells_) text += cell;
  return text;
}

TerminalScreen::Update TerminalScreen::update() {
  Update u;
  u.rebuild = rebuild_;
  u.removeFront = rebuild_ ? 0 : removedChars_;
  u.replaceFrom = rebuild_ ? 0 : shownChars_;
  for (size_t i = shownLines_; i < lines_.size(); ++i) {
    u.text += lines_[i].text;
    u.text += '\n';
    shownChars_ += lines_[i].chars + 1;
  }
  u.text += current();
  shownLines_ = lines_.size();
  removedChars_ = 0;
  rebuild_ = changed_ = false;
  return u;
}

size_t TerminalScreen::cursorOffset() const {
  size_t offset = 0;
  for (const Line& l : lines_) offset += l.chars + 1;
  for (size_t i = 0; i < column_ && i < cells_.size(); ++i) offset += countChars(cells_[i]);
  return offset;
}

std::string TerminalScreen::text() const {
  std::string t;
  for (const Line& l : lines_) t += l.text + "\n";
  return t + current();
}

std::string keyBytes(TerminalKey key, EnterSends enter) {
  switch (key) {
    case TerminalKey::Enter: return enter == EnterSends::CrLf ? "\r\n" : "\r";
    case TerminalKey::Backspace: return "\b";
    case TerminalKey::Tab: return "\t";
    case TerminalKey::Escape: return "\x1b";
    case TerminalKey::Delete: return "\x1b[3~";
    case TerminalKey::Up: return "\x1b[A";
    case TerminalKey::Down: return "\x1b[B";
    case TerminalKey::Right: return "\x1b[C";
    case TerminalKey::Left: return "\x1b[D";
    case TerminalKey::Home: return "\x1b[H";
    case TerminalKey::End: return "\x1b[F";
  }
  return {};
}

std::string characterBytes(uint32_t cp) {
  if (cp < 0x80) return std::string(1, char(cp));
  if (cp < 0x800) return {char(0xC0 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
  if (cp >= 0xD800 && cp <= 0xDFFF) return {};
  if (cp < 0x10000) return {char(0xE0 | (cp >> 12)), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
  if (cp <= 0x10FFFF)
    return {char(0xF0 | (cp >> 18)), char(0x80 | ((cp >> 12) & 0x3F)), char(0x80 | ((cp >> 6) & 0x3F)),
            char(0x80 | (cp & 0x3F))};
  return {};
}

uint32_t keysymCodePoint(uint32_t keysym) {
  if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF)) return keysym;
  if ((keysym & 0xFF000000u) == 0x01000000u) {
    uint32_t cp = keysym & 0x00FFFFFFu;
    return cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) ? cp : 0;
  }
  if (keysym >= 0xFFB0 && keysym <= 0xFFB9) return '0' + (keysym - 0xFFB0);  // KP_0..KP_9
  switch (keysym) {
    case 0xFF80: return ' ';  // KP_Space
    case 0xFFAA: return '*';
    case 0xFFAB: return '+';
    case 0xFFAC: return ',';  // KP_Separator
    case 0xFFAD: return '-';
    case 0xFFAE: return '.';
    case 0xFFAF: return '/';
    case 0xFFBD: return '=';
    default: return 0;
  }
}

std::string pasteBytes(std::string_view text, EnterSends enter) {
  const std::string newline = keyBytes(TerminalKey::Enter, enter);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += newline;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool TerminalInput::send(std::string_view bytes) {
  if (queue_.size() + bytes.size() > kMaxPending) return false;
  queue_.insert(queue_.end(), bytes.begin(), bytes.end());
  return true;
}

size_t TerminalInput::pump(const std::function<bool(uint8_t)>& wire) {
  size_t taken = 0;
  while (!queue_.empty() && wire(queue_.front())) {
    queue_.pop_front();
    ++taken;
  }
  return taken;
}

bool TerminalFeed::push(uint8_t byte) {
  std::lock_guard lock(mutex_);
  seen_ = true;
  bool first = bytes_.empty() && lost_ == 0;
  bytes_.push_back(char(byte));
  // Dropping in halves keeps a push cheap; at least the latest kMaxBytes stay.
  if (bytes_.size() >= 2 * kMaxBytes) {
    bytes_.erase(0, kMaxBytes);
    lost_ += kMaxBytes;
  }
  return first;
}

std::string TerminalFeed::take(size_t* lost) {
  std::lock_guard lock(mutex_);
  std::string out;
  out.swap(bytes_);
  if (lost) *lost = lost_;
  lost_ = 0;
  return out;
}

bool TerminalFeed::seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

}  // namespace korvel::simapp
