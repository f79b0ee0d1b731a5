#include "firmware_reload.h"

namespace korvel::simapp {

FirmwareReload::FirmwareReload(Load load, std::chrono::milliseconds settle) : load_(std::move(load)), settle_(settle) {}

FirmwareReload::Stamp FirmwareReload::stampOf(const std::filesystem::path& file) const {
  Stamp s;
  std::error_code ec;
  if (file.empty() || !std::filesystem::is_regular_file(file, ec)) return s;
  s.time = std::filesystem::last_write_time(file, ec);
  if (ec) return s;
  s.size = std::filesystem::file_size(file, ec);
  s.exists = !ec;
  return s;
}

void FirmwareReload::watch(const std::filesystem::path& file) {
  file_ = file;
  handled_ = stampOf(file);
  changing_.reset();
}

FirmwareReload::Event FirmwareReload::open(const std::filesystem::path& file) {
  Stamp before = stampOf(file);
  std::string error;
  if (!load_(file, &error)) return {false, "Firmware not loaded, the previous one keeps running: " + error};
  file_ = file;
  handled_ = before;
  changing_.reset();
  return {true, "Firmware loaded: " + file.filename().string()};
}

std::optional<FirmwareReload::Event> FirmwareReload::poll(Clock::time_point now) {
  if (file_.empty()) return std::nullopt;
  Stamp s = stampOf(file_);
  if (s == handled_) {
    changing_.reset();  // changed and changed back (or touched and restored): nothing to do
    return std::nullopt;
  }
  // A linker writes the file in pieces (and may remove it first): wait until it holds still.
  if (!changing_ || !(*changing_ == s)) {
    changing_ = s;
    since_ = now;
    return std::nullopt;
  }
  if (now - since_ < settle_ || !s.exists) return std::nullopt;
  handled_ = s;
  changing_.reset();
  std::string error;
  if (!load_(file_, &error))
    return Event{false, "Firmware not reloaded, the previous one keeps running: " + error};
  return Event{true, "Firmware reloaded: " + file_.filename().string()};
}

}  // namespace korvel::simapp
