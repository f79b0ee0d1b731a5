// The firmware file readers: Intel HEX record by record, raw binaries, the choice of format,
// and thousands of corrupted files (ELF and HEX) that must be refused or read, never crash.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "korvel_sim/elf_image.h"

namespace {

using namespace korvel::sim;

const std::vector<MemoryRange> kLpc = {{0x00000000, 512 * 1024, "flash"},
                                       {0x10000000, 32 * 1024, "SRAM"},
                                       {0x2007C000, 32 * 1024, "AHB SRAM"}};

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// One record with its checksum computed.
std::string record(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {uint8_t(data.size()), uint8_t(offset >> 8), uint8_t(offset), type};
  b.insert(b.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t x : b) sum = uint8_t(sum + x);
  b.push_back(uint8_t(-sum));
  std::string line = ":";
  char h[3];
  for (uint8_t x : b) std::snprintf(h, sizeof h, "%02X", x), line += h;
  return line + "\n";
}
const std::string kEof = ":00000001FF\n";

struct Hex {
  bool ok;
  ElfImage image;
  std::string error;
};
Hex readHex(const std::string& text) {
  Hex h;
  h.ok = readIntelHex(bytesOf(text), "fw.hex", kLpc, &h.image, &h.error);
  return h;
}

TEST(IntelHex, DataRecordsLandAtTheirAddressesAndAdjacentOnesJoin) {
  // Two records back to back, one apart, CRLF line ends and lower-case digits as some tools write.
  std::string text = record(0, 0x0000, {1, 2, 3, 4}) + record(0, 0x0004, {5, 6}) + record(0, 0x0100, {7});
  text += kEof;
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += char(std::tolower(c));
  }
  Hex h = readHex(crlf);
  ASSERT_TRUE(h.ok) << h.error;
  ASSERT_EQ(h.image.segments.size(), 2u);
  EXPECT_EQ(h.image.segments[0].address, 0u);
  EXPECT_EQ(h.image.segments[0].bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(h.image.segments[1].address, 0x100u);
  EXPECT_EQ(h.image.segments[1].bytes, (std::vector<uint8_t>{7}));
}

TEST(IntelHex, ExtendedLinearAndSegmentAddressesAndStartRecords) {
  std::string text = record(4, 0, {0x10, 0x00}) + record(0, 0x0010, {0xAA, 0xBB}) +  // 0x10000010
                     record(4, 0, {0x20, 0x07}) + record(0, 0xC000, {0xCC}) +        // 0x2007C000
                     record(2, 0, {0x10, 0x00}) + record(0, 0x0020, {0xDD}) +        // 0x1000 << 4 = 0x10000
                     record(5, 0, {0x00, 0x00, 0x01, 0x35}) + kEof;
  Hex h = readHex(text);
  ASSERT_TRUE(h.ok) << h.error;
  ASSERT_EQ(h.image.segments.size(), 3u);
  EXPECT_EQ(h.image.segments[0].address, 0x10020u);
  EXPECT_EQ(h.image.segments[1].address, 0x10000010u);
  EXPECT_EQ(h.image.segments[1].bytes, (std::vector<uint8_t>{0xAA, 0xBB}));
  EXPECT_EQ(h.image.segments[2].address, 0x2007C000u);
  EXPECT_EQ(h.image.entry, 0x135u);
  // Type 03 is CS:IP.
  Hex s = readHex(record(3, 0, {0x00, 0x10, 0x00, 0x04}) + record(0, 0, {1}) + kEof);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.image.entry, 0x104u);
}

TEST(IntelHex, SegmentAddressingWrapsInsideItsSegment) {
  // A record crossing the end of a 64 KiB segment continues at the segment's start.
  Hex h = readHex(record(2, 0, {0x00, 0x00}) + record(0, 0xFFFE, {1, 2, 3, 4}) + kEof);
  ASSERT_TRUE(h.ok) << h.error;
  ASSERT_EQ(h.image.segments.size(), 2u);
  EXPECT_EQ(h.image.segments[0].address, 0u);
  EXPECT_EQ(h.image.segments[0].bytes, (std::vector<uint8_t>{3, 4}));
  EXPECT_EQ(h.image.segments[1].address, 0xFFFEu);
  EXPECT_EQ(h.image.segments[1].bytes, (std::vector<uint8_t>{1, 2}));
}

TEST(IntelHex, DamagedFilesNameTheLineAndWhatIsWrong) {
  std::string good = record(0, 0, {1, 2, 3, 4});
  std::string badSum = good;
  badSum[good.size() - 2] = badSum[good.size() - 2] == '0' ? '1' : '0';
  struct Case {
    std::string text, expected;
  } cases[] = {
      {good + badSum + kEof, "fw.hex:2: bad checksum"},
      {good + good.substr(0, 9) + "\n" + kEof, "fw.hex:2: record too short"},
      {good + ":04000000FC\n" + kEof, "fw.hex:2: the record says 4 data bytes but holds 0"},
      {good + good.substr(0, good.size() - 5) + "\n" + kEof, "fw.hex:2: the record says 4 data bytes but holds 2"},
      {good + good.substr(0, good.size() - 2) + "\n" + kEof, "fw.hex:2: odd number of hex digits"},
      {good + ":0400000001G2030406\n" + kEof, "fw.hex:2: 'G' is not a hex digit"},
      {good + "\n\nhello\n" + kEof, "fw.hex:4: not an Intel HEX record"},
      {good, "fw.hex:2: no end-of-file record (type 01)"},
      {good + record(6, 0, {}) + kEof, "fw.hex:2: unknown record type 06"},
      {good + record(4, 0, {1}) + kEof, "fw.hex:2: an extended linear address record (type 04) holds 2 bytes"},
      {good + record(0, 2, {9, 9}) + kEof, "fw.hex:2: data at 0x00000002 overlaps the data of line 1"},
      {good + record(4, 0, {0x40, 0x00}) + record(0, 0, {1}) + kEof,
       "fw.hex:3: data at 0x40000000 (1 bytes) lies outside the LPC17xx flash and RAM"},
      // The last byte of flash is fine, the next one is not.
      {record(4, 0, {0x00, 0x07}) + record(0, 0xFFFF, {1, 2}) + kEof,
       "fw.hex:2: data at 0x0007FFFF (2 bytes) lies outside the LPC17xx flash and RAM"},
      {record(4, 0, {0xFF, 0xFF}) + record(0, 0xFFFF, {1, 2}) + kEof,
       "fw.hex:2: data runs past the end of the 4 GiB address space"},
      {kEof, "fw.hex:1: no data records"},
      {"", "fw.hex:1: no end-of-file record"},
  };
  for (const Case& c : cases) {
    Hex h = readHex(c.text);
    EXPECT_FALSE(h.ok) << c.text;
    EXPECT_EQ(h.error.rfind(c.expected, 0), 0u) << "got: " << h.error << "\nfor:\n" << c.text;
    EXPECT_EQ(h.error.find('\n'), std::string::npos) << h.error;
  }
  // Anything after the end-of-file record is not read.
  EXPECT_TRUE(readHex(good + kEof + "garbage\n").ok);
}

TEST(RawBinary, LoadsAtZeroAndMustFitTheFlash) {
  ElfImage image;
  std::string error;
  std::vector<uint8_t> bytes(1000, 0x5A);
  ASSERT_TRUE(readBinary(bytes, "fw.bin", kLpc, &image, &error)) << error;
  ASSERT_EQ(image.segments.size(), 1u);
  EXPECT_EQ(image.segments[0].address, 0u);
  EXPECT_EQ(image.segments[0].bytes, bytes);
  EXPECT_TRUE(readBinary(std::vector<uint8_t>(512 * 1024), "fw.bin", kLpc, &image, &error)) << error;
  EXPECT_FALSE(readBinary(std::vector<uint8_t>(512 * 1024 + 1), "fw.bin", kLpc, &image, &error));
  EXPECT_EQ(error, "fw.bin: 524289 bytes do not fit the LPC17xx flash at address 0 (a raw binary is loaded there)");
  EXPECT_FALSE(readBinary({}, "fw.bin", kLpc, &image, &error));
  EXPECT_NE(error.find("empty file"), std::string::npos) << error;
}

TEST(FirmwareFile, TheFormatComesFromTheContentThenTheExtension) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("korvel_formats_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  };
  std::string hex = record(0, 0, {1, 2, 3, 4}) + kEof;
  ElfImage image;
  std::string error;
  // HEX content wins over a misleading extension; ':' at the start is enough.
  ASSERT_TRUE(readFirmware(write("a.bin", hex), kLpc, &image, &error)) << error;
  EXPECT_EQ(image.segments[0].bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
  // A .bin is a raw image whatever it holds.
  ASSERT_TRUE(readFirmware(write("b.bin", "\x10\x20"), kLpc, &image, &error)) << error;
  EXPECT_EQ(image.segments[0].bytes, (std::vector<uint8_t>{0x10, 0x20}));
  // A .hex that is not HEX says what is wrong with it as HEX.
  EXPECT_FALSE(readFirmware(write("c.hex", "x"), kLpc, &image, &error));
  EXPECT_NE(error.find("c.hex:1: not an Intel HEX record"), std::string::npos) << error;
  // ELF magic is ELF whatever the name; an .elf that is not one says so.
  EXPECT_FALSE(readFirmware(write("d.elf", "garbage"), kLpc, &image, &error));
  EXPECT_NE(error.find("d.elf: not an ELF file"), std::string::npos) << error;
  EXPECT_FALSE(readFirmware(write("e.hex", std::string("\x7F" "ELF", 4)), kLpc, &image, &error));
  EXPECT_NE(error.find("e.hex: truncated ELF file"), std::string::npos) << error;
  std::string header(52, '\0');
  header.replace(0, 5, "\x7F" "ELF\x02");  // 64-bit
  EXPECT_FALSE(readFirmware(write("g", header), kLpc, &image, &error));
  EXPECT_NE(error.find("g: not a 32-bit little-endian ARM ELF file"), std::string::npos) << error;
  EXPECT_FALSE(readFirmware(write("f.txt", "hello"), kLpc, &image, &error));
  EXPECT_NE(error.find("f.txt: not a firmware file korvel-sim knows"), std::string::npos) << error;
  EXPECT_FALSE(readFirmware(dir / "missing.elf", kLpc, &image, &error));
  EXPECT_NE(error.find("missing.elf: no such firmware file"), std::string::npos) << error;
  std::filesystem::remove_all(dir);
}

#ifdef KORVEL_FIRMWARE_DIR
std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The image as Intel HEX: 16-byte data records under type 04 records, as objcopy writes them.
std::string toHex(const ElfImage& image) {
  std::string out;
  uint32_t upper = 0xFFFFFFFF;
  for (const ElfSegment& s : image.segments)
    for (size_t i = 0; i < s.bytes.size(); i += 16) {
      uint32_t a = s.address + uint32_t(i);
      if (a >> 16 != upper) {
        upper = a >> 16;
        out += record(4, 0, {uint8_t(upper >> 8), uint8_t(upper)});
      }
      size_t n = std::min<size_t>(16, std::min<size_t>(s.bytes.size() - i, 0x10000 - (a & 0xFFFF)));
      out += record(0, uint16_t(a), std::vector<uint8_t>(s.bytes.begin() + long(i), s.bytes.begin() + long(i + n)));
      i -= 16 - n;
    }
  return out + kEof;
}

TEST(FirmwareFile, AnElfAndTheHexMadeFromItHoldTheSameBytes) {
  ElfImage elf, hex;
  std::string error;
  ASSERT_TRUE(readElf(fileBytes(std::string(KORVEL_FIRMWARE_DIR) + "/hello.elf"), "hello.elf", kLpc, &elf, &error)) << error;
  ASSERT_FALSE(elf.lines.rows.empty()) << "the firmware is built with -g";
  ASSERT_TRUE(readIntelHex(bytesOf(toHex(elf)), "hello.hex", kLpc, &hex, &error)) << error;
  std::vector<uint8_t> a, b;
  for (auto* img : {&elf, &hex}) {
    std::vector<uint8_t>& out = img == &elf ? a : b;
    for (const ElfSegment& s : img->segments) {
      out.push_back(uint8_t(s.address >> 24));
      out.insert(out.end(), s.bytes.begin(), s.bytes.end());
    }
  }
  EXPECT_EQ(a, b);
}

// Corrupted copies of a real ELF (with its symbols and line table) and of its HEX: each must be
// refused with one line or read, without a crash (the sanitizers watch), a hang or a huge
// allocation. libFuzzer does this at length (fuzz/); this keeps every test run doing some.
TEST(FirmwareFile, ThousandsOfCorruptedFilesAreReadOrRefusedSafely) {
  std::vector<uint8_t> elf = fileBytes(std::string(KORVEL_FIRMWARE_DIR) + "/hello.elf");
  ASSERT_FALSE(elf.empty());
  ElfImage image;
  std::string error;
  ASSERT_TRUE(readElf(elf, "hello.elf", kLpc, &image, &error)) << error;
  std::vector<uint8_t> hex = bytesOf(toHex(image));
  std::mt19937 random(12345);
  int refused = 0, read = 0;
  for (int round = 0; round < 3000; ++round) {
    bool isElf = round % 2 == 0;
    std::vector<uint8_t> file = isElf ? elf : hex;
    int edits = 1 + int(random() % 8);
    for (int e = 0; e < edits; ++e) {
      size_t at = random() % file.size();
      switch (random() % 4) {
        case 0: file[at] = uint8_t(random()); break;                           // any byte
        case 1: file[at] ^= uint8_t(1u << (random() % 8)); break;               // one bit
        case 2: file.resize(at + 1); break;                                      // cut short
        case 3: std::memset(&file[at], 0xFF, std::min<size_t>(4, file.size() - at)); break;  // a huge count
      }
    }
    ElfImage out;
    std::string why;
    bool ok = isElf ? readElf(file, "f", kLpc, &out, &why) : readIntelHex(file, "f", kLpc, &out, &why);
    if (ok) {
      ++read;
      for (const ElfSegment& s : out.segments) {
        bool inside = false;
        for (const MemoryRange& r : kLpc)
          inside |= s.address >= r.first && uint64_t(s.address) + s.bytes.size() <= uint64_t(r.first) + r.size;
        EXPECT_TRUE(inside) << "segment at " << s.address << " of " << s.bytes.size() << " bytes";
      }
      for (uint32_t a = 0; a < 0x400; a += 2) (void)out.lines.at(a);
    } else {
      ++refused;
      EXPECT_FALSE(why.empty());
      EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
  }
  EXPECT_GT(refused, 100);
  EXPECT_GT(read, 100);
}
#ifdef KORVEL_ADDR2LINE
// Every instruction address of every function, looked up in our line table and by binutils'
// addr2line, must name the same file and line; for each DWARF version the toolchain writes.
TEST(LineTable, AgreesWithAddr2lineOnEveryInstructionOfTheFirmware) {
  for (const char* name : {"hello", "fault_dwarf4", "fault_dwarf5", "board-demo"}) {
    SCOPED_TRACE(name);
    std::string path = std::string(KORVEL_FIRMWARE_DIR) + "/" + name + ".elf";
    ElfImage image;
    std::string error;
    ASSERT_TRUE(readElf(fileBytes(path), name, kLpc, &image, &error)) << error;
    std::vector<uint32_t> addresses;
    for (const ElfSymbol& s : image.symbols)
      if (!s.object)
        for (uint32_t a = s.address & ~1u; a < (s.address & ~1u) + s.size; a += 2) addresses.push_back(a);
    ASSERT_GT(addresses.size(), 100u);
    std::string list = std::filesystem::temp_directory_path() / ("korvel_addr2line_" + std::to_string(::getpid()));
    {
      std::ofstream out(list);
      for (uint32_t a : addresses) out << std::hex << "0x" << a << "\n";
    }
    std::string command = std::string(KORVEL_ADDR2LINE) + " -e " + path + " < " + list;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    size_t i = 0, known = 0, differ = 0;
    while (fgets(line, sizeof line, pipe) && i < addresses.size()) {
      std::string theirs = line;
      theirs = theirs.substr(0, theirs.find_first_of(" \n"));
      size_t slash = theirs.rfind('/');
      if (slash != std::string::npos) theirs = theirs.substr(slash + 1);
      if (theirs.rfind("??", 0) == 0 || theirs.ends_with(":?") || theirs.ends_with(":0")) theirs.clear();
      std::string ours = image.lines.at(addresses[i]);
      known += !theirs.empty();
      if (ours != theirs && differ++ < 5)
        ADD_FAILURE() << std::hex << "0x" << addresses[i] << ": ours \"" << ours << "\", addr2line \"" << theirs << "\"";
      ++i;
    }
    pclose(pipe);
    std::filesystem::remove(list);
    EXPECT_EQ(i, addresses.size());
    EXPECT_EQ(differ, 0u);
    EXPECT_GT(known, addresses.size() / 2) << "most instructions have a line";
  }
}
#endif
#endif

}  // namespace
