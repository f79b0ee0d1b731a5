// DWARF .debug_line (versions 2 to 5): each unit's header (directories and files) and its line
// number program, run as the DWARF state machine into rows of (address, file, line).
// arm-none-eabi-gcc emits version 3 through its assembler unless asked otherwise (-gdwarf-5
// with -Wa,--gdwarf-5 gives 5). Every read is bounded by the unit: a corrupt unit is dropped.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "korvel_sim/elf_image.h"

namespace korvel::sim {

namespace {

// Reads a bounded byte range; any read past its end sets `bad` and yields zeros.
struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool bad = false;

  size_t left() const { return size_t(end - p); }
  uint64_t fixed(size_t n) {
    if (left() < n) {
      bad = true;
      p = end;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t(p[i]) << (8 * i);
    p += n;
    return v;
  }
  uint8_t u8() { return uint8_t(fixed(1)); }
  uint64_t uleb() {
    uint64_t v = 0;
    for (unsigned shift = 0;; shift += 7) {
      if (p >= end) {
        bad = true;
        return 0;
      }
      uint8_t b = *p++;
      if (shift < 64) v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
  }
  int64_t sleb() {
    uint64_t v = 0;
    unsigned shift = 0;
    uint8_t b = 0;
    do {
      if (p >= end) {
        bad = true;
        return 0;
      }
      b = *p++;
      if (shift < 64) v |= uint64_t(b & 0x7F) << shift;
      shift += 7;
    } while (b & 0x80);
    if (shift < 64 && (b & 0x40)) v |= ~uint64_t(0) << shift;
    return int64_t(v);
  }
  std::string cstr() {
    const uint8_t* z = static_cast<const uint8_t*>(std::memchr(p, 0, left()));
    if (!z) {
      bad = true;
      p = end;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(p), size_t(z - p));
    p = z + 1;
    return s;
  }
  void skip(uint64_t n) {
    if (n > left()) {
      bad = true;
      p = end;
    } else {
      p += n;
    }
  }
};

std::string stringIn(const uint8_t* table, size_t size, uint64_t offset) {
  if (!table || offset >= size) return {};
  const char* s = reinterpret_cast<const char*>(table + offset);
  return std::string(s, strnlen(s, size - offset));
}

enum : uint64_t {
  kFormBlock = 0x09, kFormData1 = 0x0b, kFormData2 = 0x05, kFormData4 = 0x06, kFormData8 = 0x07,
  kFormData16 = 0x1e, kFormString = 0x08, kFormStrp = 0x0e, kFormLineStrp = 0x1f, kFormUdata = 0x0f,
  kFormStrx = 0x1a, kFormStrx1 = 0x25, kFormStrx2 = 0x26, kFormStrx3 = 0x27, kFormStrx4 = 0x28,
};
enum : uint64_t { kLnctPath = 1, kLnctDirectoryIndex = 2 };

struct Strings {
  const uint8_t *lineStr, *str;
  size_t lineStrSize, strSize;
};

// One attribute of a version 5 directory or file entry: its number (or string) value.
// False for a form these entries never use (the unit cannot be read further).
bool readForm(Reader& r, uint64_t form, unsigned offsetSize, const Strings& s, uint64_t* number, std::string* text) {
  switch (form) {
    case kFormString: *text = r.cstr(); return true;
    case kFormLineStrp: *text = stringIn(s.lineStr, s.lineStrSize, r.fixed(offsetSize)); return true;
    case kFormStrp: *text = stringIn(s.str, s.strSize, r.fixed(offsetSize)); return true;
    case kFormUdata: *number = r.uleb(); return true;
    case kFormData1: *number = r.fixed(1); return true;
    case kFormData2: *number = r.fixed(2); return true;
    case kFormData4: *number = r.fixed(4); return true;
    case kFormData8: *number = r.fixed(8); return true;
    case kFormData16: r.skip(16); return true;
    case kFormBlock: r.skip(r.uleb()); return true;
    // Indexes into .debug_str_offsets: the name stays unknown.
    case kFormStrx: r.uleb(); return true;
    case kFormStrx1: r.fixed(1); return true;
    case kFormStrx2: r.fixed(2); return true;
    case kFormStrx3: r.fixed(3); return true;
    case kFormStrx4: r.fixed(4); return true;
    default: return false;
  }
}

// A version 5 entry table (directories or files): names and directory indexes.
bool readEntries(Reader& r, unsigned offsetSize, const Strings& s, std::vector<std::string>* names,
                 std::vector<uint64_t>* dirs) {
  unsigned formats = r.u8();
  std::vector<std::pair<uint64_t, uint64_t>> format;
  for (unsigned i = 0; i < formats && !r.bad; ++i) {
    uint64_t type = r.uleb();
    format.push_back({type, r.uleb()});
  }
  uint64_t count = r.uleb();
  // Each entry takes at least a byte (or the count is a lie): bounded by the unit's size.
  if (r.bad || (count > r.left() && !format.empty()) || (format.empty() && count > 0)) return false;
  for (uint64_t i = 0; i < count; ++i) {
    std::string name;
    uint64_t dir = 0;
    for (auto [type, form] : format) {
      uint64_t number = 0;
      std::string text;
      if (!readForm(r, form, offsetSize, s, &number, &text) || r.bad) return false;
      if (type == kLnctPath) name = text;
      if (type == kLnctDirectoryIndex) dir = number;
    }
    names->push_back(std::move(name));
    if (dirs) dirs->push_back(dir);
  }
  return true;
}

// One unit: its files appended to `files` (indexes as the program uses them mapped through
// fileIndex), its rows appended to `rows`.
bool readUnit(Reader r, const Strings& s, std::vector<std::string>& files, std::map<std::string, uint32_t>& known,
              std::vector<SourceLines::Row>& rows) {
  uint64_t length = r.fixed(4);
  unsigned offsetSize = 4;
  if (length == 0xFFFFFFFF) {
    length = r.fixed(8);
    offsetSize = 8;
  }
  (void)length;
  unsigned version = unsigned(r.fixed(2));
  if (r.bad || version < 2 || version > 5) return false;
  if (version >= 5) {
    unsigned addressSize = r.u8();
    r.u8();  // segment selector size
    if (addressSize != 4) return false;
  }
  uint64_t headerLength = r.fixed(offsetSize);
  if (r.bad || headerLength > r.left()) return false;
  Reader program{r.p + headerLength, r.end};
  unsigned minInst = r.u8();
  if (version >= 4) r.u8();  // maximum operations per instruction: 1 on ARM
  bool defaultIsStmt = r.u8() != 0;
  (void)defaultIsStmt;
  int lineBase = int8_t(r.u8());
  unsigned lineRange = r.u8();
  unsigned opcodeBase = r.u8();
  if (r.bad || lineRange == 0 || opcodeBase == 0) return false;
  std::vector<uint8_t> argCount(opcodeBase, 0);
  for (unsigned i = 1; i < opcodeBase; ++i) argCount[i] = r.u8();

  std::vector<std::string> names;
  if (version >= 5) {
    std::vector<std::string> dirNames;
    if (!readEntries(r, offsetSize, s, &dirNames, nullptr) || !readEntries(r, offsetSize, s, &names, nullptr))
      return false;
  } else {
    while (!r.bad && r.left() && *r.p) r.cstr();  // include directories
    r.u8();
    names.push_back({});  // version 2-4 files count from 1
    while (!r.bad && r.left() && *r.p) {
      names.push_back(r.cstr());
      r.uleb(), r.uleb(), r.uleb();  // directory, time, size
    }
    if (r.bad) return false;
  }
  // The unit's file numbers, mapped to the table's (one entry per distinct name).
  std::vector<uint32_t> fileIndex;
  auto indexOf = [&](const std::string& n) {
    auto [it, added] = known.emplace(n, uint32_t(files.size()));
    if (added) files.push_back(n);
    return it->second;
  };
  for (const std::string& n : names) fileIndex.push_back(indexOf(n.empty() ? "?" : n));

  // The state machine.
  uint64_t address = 0;
  int64_t line = 1;
  uint64_t file = 1;
  size_t sequenceStart = rows.size();
  uint64_t sequenceAddress = 0;
  bool inSequence = false;
  auto emit = [&](bool end) {
    if (!inSequence) {
      sequenceStart = rows.size();
      sequenceAddress = address;
      inSequence = true;
    }
    uint32_t f = file < fileIndex.size() ? fileIndex[size_t(file)] : indexOf("?");
    rows.push_back({uint32_t(address), uint32_t(std::clamp<int64_t>(line, 0, UINT32_MAX)), f, end});
    if (end) {
      // The linker leaves the sequences of functions it dropped at address 0, where this chip
      // has its vector table and never code.
      if (sequenceAddress == 0) rows.resize(sequenceStart);
      address = 0, line = 1, file = 1, inSequence = false;
    }
  };
  Reader& p = program;
  while (!p.bad && p.left()) {
    uint8_t op = p.u8();
    if (op >= opcodeBase) {
      unsigned adjusted = op - opcodeBase;
      address += uint64_t(adjusted / lineRange) * minInst;
      line += lineBase + int(adjusted % lineRange);
      emit(false);
      continue;
    }
    switch (op) {
      case 0: {
        uint64_t len = p.uleb();
        if (p.bad || len == 0 || len > p.left()) {
          p.bad = true;
          break;
        }
        const uint8_t* next = p.p + len;
        uint8_t sub = p.u8();
        if (sub == 1) emit(true);
        else if (sub == 2) address = p.fixed(size_t(std::min<uint64_t>(len - 1, 8)));
        p.p = next;
        break;
      }
      case 1: emit(false); break;
      case 2: address += p.uleb() * minInst; break;
      case 3: line += p.sleb(); break;
      case 4: file = p.uleb(); break;
      case 8: address += uint64_t((255 - opcodeBase) / lineRange) * minInst; break;
      case 9: address += p.fixed(2); break;
      default:
        for (unsigned i = 0; i < argCount[op]; ++i) p.uleb();
        break;
    }
  }
  // An unfinished sequence has no end row: its rows would run on to the next one's; drop them.
  if (inSequence) rows.resize(sequenceStart);
  return true;
}

}  // namespace

SourceLines readDebugLine(const uint8_t* section, size_t size, const uint8_t* lineStr, size_t lineStrSize,
                          const uint8_t* str, size_t strSize) {
  SourceLines out;
  if (!section) return out;
  Strings s{lineStr, str, lineStrSize, strSize};
  std::map<std::string, uint32_t> known;
  for (size_t offset = 0; offset + 4 <= size;) {
    Reader head{section + offset, section + size};
    uint64_t length = head.fixed(4);
    size_t lengthSize = 4;
    if (length == 0xFFFFFFFF) length = head.fixed(8), lengthSize = 12;
    if (head.bad || length == 0 || length > size - offset - lengthSize) break;
    size_t unitEnd = offset + lengthSize + size_t(length);
    size_t before = out.rows.size();
    if (!readUnit(Reader{section + offset, section + unitEnd}, s, out.files, known, out.rows))
      out.rows.resize(before);
    offset = unitEnd;
  }
  // By address; where one sequence ends and the next begins at the same address, the end first.
  std::stable_sort(out.rows.begin(), out.rows.end(), [](const SourceLines::Row& a, const SourceLines::Row& b) {
    return a.address != b.address ? a.address < b.address : a.end > b.end;
  });
  return out;
}

std::string SourceLines::at(uint32_t address) const {
  address &= ~1u;
  auto it = std::upper_bound(rows.begin(), rows.end(), address,
                             [](uint32_t a, const Row& r) { return a < r.address; });
  if (it == rows.begin()) return {};
  const Row& r = *std::prev(it);
  if (r.end || r.file >= files.size()) return {};
  return files[r.file] + ":" + std::to_string(r.line);
}

}  // namespace korvel::sim
