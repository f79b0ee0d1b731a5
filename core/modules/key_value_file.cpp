#include "modules/key_value_file.h"

#include <cstdio>
#include <fstream>
#include <system_error>

#include "korvel/platform/platform.h"

namespace korvel {
namespace {

// Only the space character is trimmed: a tab stays part of the key or value.
std::string trimSpaces(const std::string& s) {
  size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

}  // namespace

KeyValueFile::KeyValueFile(const std::filesystem::path& path, const Defaults& defaults, bool doLoad)
    : path_(path) {
  if (doLoad) load(path, defaults, false);
}

std::optional<std::pair<std::string, std::string>> KeyValueFile::parseLine(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!line.empty() && line.front() == '%') return std::nullopt;
  size_t eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  std::string key = trimSpaces(line.substr(0, eq));
  std::string value = trimSpaces(line.substr(eq + 1));
  if (key.empty() || value.empty()) return std::nullopt;
  return std::make_pair(std::move(key), std::move(value));
}

void KeyValueFile::parse(std::istream& in, Entries& entries) {
  std::string line;
  while (std::getline(in, line)) {
    if (auto kv = parseLine(line)) entries[kv->first].push_back(std::move(kv->second));
  }
}

int KeyValueFile::load(const std::filesystem::path& path, const Defaults& defaults, bool clear) {
  if (clear) entries_.clear();
  if (!path.empty()) path_ = path;
  std::error_code ec;
  if (std::filesystem::is_regular_file(path_, ec)) {
    std::ifstream in(path_, std::ios::binary);
    if (in.is_open() && in.good()) {
      parse(in, entries_);
      return 1;
    }
  }
  for (const auto& [key, value] : defaults) {
    if (entries_.find(key) == entries_.end()) entries_[key].push_back(value);
  }
  return defaults.empty() ? 0 : 1;
}

int KeyValueFile::write(const std::filesystem::path& path) {
  if (!path.empty()) path_ = path;
  std::error_code ec;
  const auto folder = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  if (path_.extension() != ".ini" || !std::filesystem::is_directory(folder, ec)) return 0;
  // A file the user made read-only stays as it is, although the rename below could replace it.
  auto status = std::filesystem::status(path_, ec);
  if (!ec && std::filesystem::exists(status) &&
      (status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none) {
    return 0;
  }

  std::string text;
  for (const auto& [key, values] : entries_) {
    for (const auto& value : values) text += key + "=" + value + kLineEnd;
  }
  // Written beside the file under a name of its own and renamed over it: a failure at any point
  // leaves the old file, two instances saving at once never write into one temporary file, and
  // the file keeps its permissions (and stays behind its symbolic link, if it has one).
  if (!platform::replaceFileContents(path_, text)) return 0;
  return 1;
}

std::optional<std::vector<std::string>> KeyValueFile::find(const std::string& key) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

void KeyValueFile::set(const std::string& key, const std::string& value, bool replace) {
  auto& values = entries_[key];
  if (replace) values.clear();
  values.push_back(value);
}

}  // namespace korvel
