// What the firmware readers (elf_image.cpp, intel_hex.cpp) share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "korvel_sim/elf_image.h"

namespace korvel::sim {

std::string hex32(uint32_t v);
// Whether [first, first + size) lies inside one of `allowed` (an empty range always does).
bool insideMemory(const std::vector<MemoryRange>& allowed, uint32_t first, uint64_t size);
// "data at 0x... (N bytes) lies outside the LPC17xx flash and RAM"
std::string outsideMemory(uint32_t address, uint64_t size);
// The whole file, refused (one line in *error) when missing, unreadable or beyond kMaxFirmwareFileSize.
bool readFileBytes(const std::filesystem::path& path, std::vector<uint8_t>* bytes, std::string* error);

}  // namespace korvel::sim
