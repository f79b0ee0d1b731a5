// A text file of "key = value" lines, shared by the bundles' Info.list and korvel.ini.
// Lines starting with '%' are comments; a line is split at its first '='; key and value are
// trimmed of spaces (not tabs); lines with an empty key or value are skipped; a key may repeat
// and then holds several values in file order. Writes go out in key order, values in list order.
#pragma once

#include <filesystem>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

class KeyValueFile {
 public:
  using Entries = std::map<std::string, std::vector<std::string>>;
  using Defaults = std::map<std::string, std::string>;

  KeyValueFile(const std::filesystem::path& path, const Defaults& defaults, bool load);

  // Reads the file (a non-empty path replaces the stored one). When the file cannot be read the
  // defaults that are not yet present are added; the result is then 1 only if there were any.
  int load(const std::filesystem::path& path, const Defaults& defaults, bool clear);
  // Writes the entries (a non-empty path replaces the stored one). Only files ending in ".ini"
  // whose folder exists are written. The file is replaced atomically: the text goes to a
  // temporary file beside it that is renamed over the old one, so a crash or a full disk never
  // leaves a truncated file.
  int write(const std::filesystem::path& path = {});

  std::optional<std::vector<std::string>> find(const std::string& key) const;
  void set(const std::string& key, const std::string& value, bool replace);

  const std::filesystem::path& path() const { return path_; }
  const Entries& entries() const { return entries_; }

  // Parses lines from a stream into entries (exposed for tests and fuzzing).
  static void parse(std::istream& in, Entries& entries);
  // One line's key and value, or nothing when the line is a comment or malformed.
  static std::optional<std::pair<std::string, std::string>> parseLine(std::string line);

 private:
  std::filesystem::path path_;
  Entries entries_;
};

}  // namespace korvel
