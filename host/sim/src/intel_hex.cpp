// Intel HEX: text lines ":LLAAAATT<data>CC", LL data bytes at offset AAAA of the current base,
// record type TT, CC the two's complement of the sum of the other bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "firmware_formats.h"

namespace korvel::sim {

namespace {

int nibble(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

struct Record {
  uint32_t address;
  size_t line;
  std::vector<uint8_t> bytes;
};

}  // namespace

bool readIntelHex(const std::vector<uint8_t>& file, const std::string& name, const std::vector<MemoryRange>& allowed,
                  ElfImage* image, std::string* error) {
  size_t lineNumber = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = name + ":" + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  ElfImage result;
  std::vector<Record> records;
  uint32_t base = 0;
  bool segmented = false;  // type 02: offsets wrap inside the 64 KiB segment
  bool ended = false;
  for (size_t p = 0; p < file.size() && !ended;) {
    size_t q = p;
    while (q < file.size() && file[q] != '\n') ++q;
    ++lineNumber;
    size_t end = q;
    while (end > p && (file[end - 1] == '\r' || file[end - 1] == ' ' || file[end - 1] == '\t')) --end;
    size_t begin = p;
    while (begin < end && (file[begin] == ' ' || file[begin] == '\t')) ++begin;
    p = q + 1;
    if (begin == end) continue;  // blank line
    if (file[begin] != ':') return fail("not an Intel HEX record (a record line starts with ':')");
    size_t digits = end - begin - 1;
    if (digits % 2 != 0) return fail("odd number of hex digits (the line is cut short or has a stray character)");
    if (digits < 10) return fail("record too short (a record has at least 5 bytes: count, address, type, checksum)");
    std::vector<uint8_t> bytes(digits / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
      int hi = nibble(file[begin + 1 + 2 * i]), lo = nibble(file[begin + 2 + 2 * i]);
      if (hi < 0 || lo < 0) {
        uint8_t bad = hi < 0 ? file[begin + 1 + 2 * i] : file[begin + 2 + 2 * i];
        char b[64];
        std::snprintf(b, sizeof b, bad >= 0x20 && bad < 0x7F ? "'%c' is not a hex digit" : "byte 0x%02X is not a hex digit", bad);
        return fail(b);
      }
      bytes[i] = uint8_t(hi * 16 + lo);
    }
    size_t count = bytes[0];
    if (bytes.size() != count + 5)
      return fail("the record says " + std::to_string(count) + " data bytes but holds " +
                  std::to_string(bytes.size() > 5 ? bytes.size() - 5 : 0) + " (a truncated or damaged line)");
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = uint8_t(sum + b);
    if (sum != 0) {
      uint8_t expected = uint8_t(bytes.back() - sum);
      char b[96];
      std::snprintf(b, sizeof b, "bad checksum %02X (the record's bytes need %02X): the line is damaged", bytes.back(), expected);
      return fail(b);
    }
    uint32_t offset = uint32_t(bytes[1]) << 8 | bytes[2];
    const uint8_t* data = bytes.data() + 4;
    auto word16 = [&] { return uint32_t(data[0]) << 8 | data[1]; };
    switch (bytes[3]) {
      case 0x00: {
        if (count == 0) break;
        // Segment addressing wraps the offset inside its 64 KiB; a record crossing that edge
        // becomes two pieces.
        uint32_t first = segmented ? 0x10000 - offset : uint32_t(count);
        for (uint32_t done = 0; done < count;) {
          uint32_t n = std::min<uint32_t>(uint32_t(count) - done, done == 0 ? first : uint32_t(count));
          uint32_t address = segmented ? base + ((offset + done) & 0xFFFF) : base + offset + done;
          if (!segmented && uint64_t(base) + offset + done + n > 0x100000000ull)
            return fail("data runs past the end of the 4 GiB address space");
          if (!insideMemory(allowed, address, n)) return fail(outsideMemory(address, n));
          records.push_back({address, lineNumber, std::vector<uint8_t>(data + done, data + done + n)});
          done += n;
        }
        break;
      }
      case 0x01:
        if (count != 0) return fail("an end-of-file record (type 01) carries no data");
        ended = true;
        break;
      case 0x02:
        if (count != 2) return fail("an extended segment address record (type 02) holds 2 bytes");
        base = word16() << 4;
        segmented = true;
        break;
      case 0x04:
        if (count != 2) return fail("an extended linear address record (type 04) holds 2 bytes");
        base = word16() << 16;
        segmented = false;
        break;
      case 0x03:
        if (count != 4) return fail("a start segment address record (type 03) holds 4 bytes (CS:IP)");
        result.entry = (word16() << 4) + (uint32_t(data[2]) << 8 | data[3]);
        break;
      case 0x05:
        if (count != 4) return fail("a start linear address record (type 05) holds 4 bytes");
        result.entry = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
        break;
      default: {
        char b[80];
        std::snprintf(b, sizeof b, "unknown record type %02X (Intel HEX has types 00 to 05)", bytes[3]);
        return fail(b);
      }
    }
  }
  if (!ended) {
    lineNumber += 1;
    return fail("no end-of-file record (type 01): the file is cut short (still being written?)");
  }
  // Data written twice is most likely two images merged by mistake: refuse rather than pick one.
  std::stable_sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.address < b.address; });
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    if (!result.segments.empty()) {
      ElfSegment& last = result.segments.back();
      uint64_t lastEnd = uint64_t(last.address) + last.bytes.size();
      if (r.address < lastEnd) {
        const Record& earlier = records[i - 1];
        lineNumber = std::max(r.line, earlier.line);
        return fail("data at " + hex32(r.address) + " overlaps the data of line " +
                    std::to_string(std::min(r.line, earlier.line)));
      }
      if (r.address == lastEnd) {
        last.bytes.insert(last.bytes.end(), r.bytes.begin(), r.bytes.end());
        continue;
      }
    }
    result.segments.push_back({r.address, r.bytes});
  }
  if (result.segments.empty()) {
    lineNumber = 1;
    return fail("no data records: nothing to load");
  }
  *image = std::move(result);
  return true;
}

}  // namespace korvel::sim
