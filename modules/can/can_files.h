// The files through which instances on one bus talk: frame files in D/data, colour files in
// D/settings, wake-up files in both. Names and contents are shared with instances on other
// systems, so they never change: "canDataId<signed id>.txt" with five unsigned decimals on lines
// of their own, "settingsQuillon.txt" with one, and the empty "tmp.txt".
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct Frame {
  uint32_t information = 0;  // CANxTFI/RFS: FF bit 31, RTR bit 30, DLC bits 19:16
  uint32_t identifier = 0;
  uint32_t dataA = 0;
  uint32_t dataB = 0;
  uint32_t bitTiming = 0;  // the sender's CANxBTR
  bool operator==(const Frame&) const = default;
};

// Nothing legitimate is longer: five 10-digit numbers and their line ends.
inline constexpr size_t kMaxFrameFileBytes = 256;
inline constexpr size_t kMaxColourFileBytes = 64;

// D + "data/", D + "settings/" (D ends with the separator).
std::string dataFolder(const std::string& directory);
std::string settingsFolder(const std::string& directory);
// D + "data/canDataId" + identifier printed as a signed 32-bit decimal + ".txt".
std::string frameFileName(const std::string& directory, uint32_t identifier);
std::string colourFileName(const std::string& directory);

// The frame file's text: five numbers, one per line, no line end after the last.
std::string formatFrame(const Frame& frame);
// Exactly five unsigned decimals that fit 32 bits, separated and surrounded by white space
// (CR LF line ends included). Anything else (an empty wake-up file, a half-written file, garbage,
// a number too large) is not a frame.
std::optional<Frame> parseFrame(std::string_view text);
// Exactly one unsigned decimal that fits 32 bits, with optional white space around it.
std::optional<uint32_t> parseColour(std::string_view text);

// Writes text to file (created or truncated); false when it could not be written.
bool writeTextFile(const std::filesystem::path& file, const std::string& text);

// Directory preparation for a confirmed port: every file in D/settings and D/data is deleted,
// or the folders are created with their missing parents; then the colour is broadcast as the
// colour file, which lives for 50 ms. Returns an empty string, or one line saying what failed
// and what to do.
std::string prepareDirectory(const std::string& directory, uint32_t colour);

// Creates the empty file, waits lifeMs, deletes it: every watcher on its folder wakes up.
void touchWakeUpFile(const std::filesystem::path& file, uint32_t lifeMs = 20);

}  // namespace quillon
