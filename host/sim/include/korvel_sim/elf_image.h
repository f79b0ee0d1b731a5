// A firmware file as the simulator loads it: the bytes of its loadable segments at their load
// addresses, the entry point, and, from an ELF file, the symbol table (for AgsiGetSymbolByName
// and fault reports) and the line table (file:line in fault reports). Three formats: ELF,
// Intel HEX and raw binary (loaded at address 0).
//
// The readers take hostile input: every offset, size and count is checked against the file,
// and what they allocate is bounded by the file's size and the allowed memory ranges.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvel::sim {

struct MemoryRange {
  uint32_t first;
  uint32_t size;
  const char* name;
};

struct ElfSegment {
  uint32_t address;  // load (physical) address
  std::vector<uint8_t> bytes;
};

struct ElfSymbol {
  std::string name;
  uint32_t address;
  uint32_t size;
  bool object;  // a variable (not a function)
};

// Which source line each instruction came from, from DWARF .debug_line (versions 2 to 5).
struct SourceLines {
  struct Row {
    uint32_t address;
    uint32_t line;
    uint32_t file;  // index into files
    bool end;       // the first address after a sequence: no line from here on
  };
  std::vector<std::string> files;  // as the compiler named them (usually without their folder)
  std::vector<Row> rows;           // sorted by address

  // "file.c:123" for the instruction at `address` (Thumb bit ignored); empty when no row covers it.
  std::string at(uint32_t address) const;
};

struct ElfImage {
  uint32_t entry = 0;
  std::vector<ElfSegment> segments;
  std::vector<ElfSymbol> symbols;
  SourceLines lines;
};

// Files larger than this are refused before they are read: no LPC17xx firmware comes close.
constexpr uint64_t kMaxFirmwareFileSize = 128ull << 20;

// Reads a firmware file: ELF (by its magic), Intel HEX (first character ':'), else by its
// extension (.elf, .hex/.ihex, .bin). Every byte must lie inside one of `allowed`. False with
// one line in *error ("FILE: ..." or, for a bad HEX line, "FILE:LINE: ...") otherwise.
bool readFirmware(const std::filesystem::path& path, const std::vector<MemoryRange>& allowed, ElfImage* image,
                  std::string* error);

// The readers for one format, on bytes already read; `name` starts the error messages.
// ELF: a 32-bit little-endian ARM executable whose loadable segments lie inside `allowed` at
// both their load and run addresses.
bool readElf(const std::vector<uint8_t>& file, const std::string& name, const std::vector<MemoryRange>& allowed,
             ElfImage* image, std::string* error);
// Intel HEX: records 00 (data), 01 (end of file), 02/04 (extended segment/linear address),
// 03/05 (start address), each with its checksum; overlapping data is refused.
bool readIntelHex(const std::vector<uint8_t>& file, const std::string& name, const std::vector<MemoryRange>& allowed,
                  ElfImage* image, std::string* error);
// Raw binary: the whole file at address 0.
bool readBinary(const std::vector<uint8_t>& file, const std::string& name, const std::vector<MemoryRange>& allowed,
                ElfImage* image, std::string* error);

// Reads an ELF file (kept for callers that know they hold one).
bool readElf(const std::filesystem::path& path, const std::vector<MemoryRange>& allowed, ElfImage* image,
             std::string* error);

// The line table of an ELF file's .debug_line section (`section`), with .debug_line_str and
// .debug_str for DWARF 5's indirect strings (either may be empty). Units it cannot read are
// skipped; rows in a sequence starting at address 0 (functions the linker dropped) are left out.
SourceLines readDebugLine(const uint8_t* section, size_t size, const uint8_t* lineStr, size_t lineStrSize,
                          const uint8_t* str, size_t strSize);

// The function symbol covering `address` (the Thumb bit ignored) as "name" or "name+0x1A";
// empty when no function symbol covers it.
std::string functionAt(const std::vector<ElfSymbol>& symbols, uint32_t address);

}  // namespace korvel::sim
