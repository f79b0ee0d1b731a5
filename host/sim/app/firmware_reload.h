// What the window does with the firmware file, without the window: Open firmware... loads a
// file the user picked, and a file that changes on disk (the firmware was rebuilt) is loaded
// again once it has stopped changing for a while, so a file the linker is still writing is
// never loaded. A load that fails leaves the running firmware alone and says why in one line.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace korvel::simapp {

class FirmwareReload {
 public:
  using Clock = std::chrono::steady_clock;
  // load(file, error): loads and resets, or leaves everything as it was and puts one line in *error.
  using Load = std::function<bool(const std::filesystem::path& file, std::string* error)>;
  // What happened, for the output pane and the status bar.
  struct Event {
    bool ok;
    std::string text;  // "Firmware reloaded: NAME" or why it was not
  };

  explicit FirmwareReload(Load load, std::chrono::milliseconds settle = std::chrono::milliseconds(300));

  // Watches `file` (already loaded, e.g. from the command line) from its present state on.
  void watch(const std::filesystem::path& file);
  // Loads a file the user picked; on success it is the one watched from now on.
  Event open(const std::filesystem::path& file);
  // Called a few times a second (UI thread): a reload once the watched file changed and has
  // been left alone for the settle time; nothing otherwise. A file that failed to load is not
  // tried again until it changes again.
  std::optional<Event> poll(Clock::time_point now = Clock::now());
  const std::filesystem::path& file() const { return file_; }

 private:
  struct Stamp {
    bool exists = false;
    std::filesystem::file_time_type time{};
    uintmax_t size = 0;
    bool operator==(const Stamp&) const = default;
  };
  Stamp stampOf(const std::filesystem::path& file) const;

  Load load_;
  std::chrono::milliseconds settle_;
  std::filesystem::path file_;
  Stamp handled_;                  // the state last loaded (or last refused)
  std::optional<Stamp> changing_;  // a new state seen, and since when it has held
  Clock::time_point since_{};
};

}  // namespace korvel::simapp
