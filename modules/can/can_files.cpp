#include "can_files.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#include "korvel/platform/platform.h"

namespace quillon {
namespace fs = std::filesystem;

std::string dataFolder(const std::string& directory) { return directory + "data/"; }
std::string settingsFolder(const std::string& directory) { return directory + "settings/"; }

std::string frameFileName(const std::string& directory, uint32_t identifier) {
  char id[16];
  std::snprintf(id, sizeof id, "%d", static_cast<int32_t>(identifier));
  return directory + "data/canDataId" + id + ".txt";
}

std::string colourFileName(const std::string& directory) { return directory + "settings/settingsQuillon.txt"; }

std::string formatFrame(const Frame& f) {
  char text[64];
  std::snprintf(text, sizeof text, "%u\n%u\n%u\n%u\n%u", f.information, f.identifier, f.dataA, f.dataB,
                f.bitTiming);
  return text;
}

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Reads the unsigned decimal numbers of text into out; false at anything else or at the
// (count + 1)th number.
template <size_t N>
bool readNumbers(std::string_view text, uint32_t (&out)[N], size_t* count) {
  size_t n = 0, i = 0;
  while (i < text.size()) {
    if (isSpace(text[i])) {
      ++i;
      continue;
    }
    if (text[i] < '0' || text[i] > '9' || n == N) return false;
    uint64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = v * 10 + uint64_t(text[i] - '0');
      if (v > 0xFFFFFFFFull) return false;
      ++i;
    }
    if (i < text.size() && !isSpace(text[i])) return false;  // "12x", "3.5"
    out[n++] = uint32_t(v);
  }
  *count = n;
  return true;
}

}  // namespace

std::optional<Frame> parseFrame(std::string_view text) {
  uint32_t v[5];
  size_t n = 0;
  if (!readNumbers(text, v, &n) || n != 5) return std::nullopt;
  return Frame{v[0], v[1], v[2], v[3], v[4]};
}

std::optional<uint32_t> parseColour(std::string_view text) {
  uint32_t v[1];
  size_t n = 0;
  if (!readNumbers(text, v, &n) || n != 1) return std::nullopt;
  return v[0];
}

bool writeTextFile(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << text;
  out.close();
  return !out.fail();
}

namespace {

// Empties an existing folder of its files, or creates it; "" or the reason it failed.
std::string cleanOrCreate(const std::string& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) {
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code ignored;
      if (!it->is_directory(ignored)) fs::remove(it->path(), ignored);
    }
    if (ec) return "cannot list the CAN folder " + folder + " (" + ec.message() + "): check its permissions";
    return "";
  }
  fs::create_directories(folder, ec);
  if (ec) return "cannot create the CAN folder " + folder + " (" + ec.message() + "): pick a folder you can write to";
  return "";
}

}  // namespace

std::string prepareDirectory(const std::string& directory, uint32_t colour) {
  std::string error = cleanOrCreate(settingsFolder(directory));
  if (error.empty()) error = cleanOrCreate(dataFolder(directory));
  if (!error.empty()) return error;
  std::string file = colourFileName(directory);
  if (!writeTextFile(file, std::to_string(colour)))
    return "cannot write the CAN colour file " + file + ": check the folder's permissions";
  korvel::platform::sleepMillis(50);
  std::error_code ignored;
  fs::remove(file, ignored);
  return "";
}

void touchWakeUpFile(const fs::path& file, uint32_t lifeMs) {
  if (!writeTextFile(file, "")) return;
  korvel::platform::sleepMillis(lifeMs);
  std::error_code ignored;
  fs::remove(file, ignored);
}

}  // namespace quillon
