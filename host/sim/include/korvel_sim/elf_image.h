// A firmware file as the simulator loads it: the bytes of its loadable segments at their load
// addresses, the entry point, and the symbol table (for AgsiGetSymbolByName).
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

struct ElfImage {
  uint32_t entry = 0;
  std::vector<ElfSegment> segments;
  std::vector<ElfSymbol> symbols;
};

// Reads a 32-bit little-endian ARM executable. Every loadable segment must lie inside one of
// `allowed` at both its load and its run address. False with one line in *error otherwise.
bool readElf(const std::filesystem::path& path, const std::vector<MemoryRange>& allowed, ElfImage* image,
             std::string* error);

// The function symbol covering `address` (the Thumb bit ignored) as "name" or "name+0x1A";
// empty when no function symbol covers it.
std::string functionAt(const std::vector<ElfSymbol>& symbols, uint32_t address);

}  // namespace korvel::sim
