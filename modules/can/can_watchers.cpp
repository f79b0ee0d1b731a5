#include "can_watchers.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "can_bus.h"

namespace quillon {
namespace fs = std::filesystem;
using korvel::platform::FileIdentity;

uint32_t maskedIdentifier(uint32_t information, uint32_t identifier) {
  return identifier & (information != 0 ? 0x1FFFFFFFu : 0x7FFu);
}

bool FolderMemory::seenBefore(const Entry& e) const {
  for (const Entry& p : previous_)
    if (p.name == e.name && p.identity == e.identity) return true;
  return false;
}

namespace {

// Calls fn(name, content, identity) for every regular file of the folder that can be read whole.
template <typename Fn>
void forEachSmallFile(const std::string& folder, size_t maxBytes, Fn fn) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return;  // removed meanwhile: nothing to scan
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string content;
    FileIdentity identity;
    // Vanished, unreadable, too large, not a plain file: skipped.
    if (!korvel::platform::readSmallFile(it->path(), maxBytes, &content, &identity)) continue;
    fn(it->path().filename().string(), content, identity);
  }
}

}  // namespace

std::optional<Delivery> FrameScanner::scan(const std::string& dataFolder, uint32_t acceptanceId,
                                           uint32_t bitTimingReference, const std::string& skip) {
  std::vector<FolderMemory::Entry> now;
  bool anyNew = false;
  uint32_t minimum = 0xFFFFFFFFu;
  Delivery selected{};
  forEachSmallFile(dataFolder, kMaxFrameFileBytes, [&](const std::string& name, const std::string& text,
                                                        const FileIdentity& identity) {
    if (!skip.empty() && name == skip) return;
    std::optional<Frame> frame = parseFrame(text);
    if (!frame) return;  // wake-up file, half-written or foreign: not a frame
    FolderMemory::Entry entry{name, identity};
    bool fresh = !memory_.seenBefore(entry);
    now.push_back(std::move(entry));
    if (!fresh) return;
    anyNew = true;
    uint32_t id = maskedIdentifier(frame->information, frame->identifier);
    if (minimum < id) return;
    minimum = id;
    selected = {frame->information, id, frame->dataA, frame->dataB};
    uint32_t timing = frame->bitTiming & 0x3FF;
    bool accepted = id == acceptanceId || acceptanceId == kAcceptAllId;
    if (accepted && bitTimingReference != timing && bitTimingReference != 0) {
      std::srand(static_cast<unsigned>(std::time(nullptr)));
      selected.information = static_cast<uint32_t>(std::rand() & 0x7FFF);
      minimum = static_cast<uint32_t>(std::rand() & 0x7FFF);
      selected.identifier = minimum;
      selected.dataA = static_cast<uint32_t>(std::rand() & 0x7FFF);
      selected.dataB = static_cast<uint32_t>(std::rand() & 0x7FFF);
    }
  });
  memory_.replace(std::move(now));
  if (!anyNew) return std::nullopt;
  if (minimum != acceptanceId && acceptanceId != kAcceptAllId) return std::nullopt;
  return selected;
}

std::optional<uint32_t> ColourScanner::scan(const std::string& settingsFolder) {
  std::vector<FolderMemory::Entry> now;
  std::optional<uint32_t> colour;
  forEachSmallFile(settingsFolder, kMaxColourFileBytes,
                   [&](const std::string& name, const std::string& text, const FileIdentity& identity) {
                     std::optional<uint32_t> value = parseColour(text);
                     if (!value) return;
                     FolderMemory::Entry entry{name, identity};
                     if (!memory_.seenBefore(entry)) colour = value;
                     now.push_back(std::move(entry));
                   });
  memory_.replace(std::move(now));
  return colour;
}

namespace {

void report(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

std::unique_ptr<FolderWatcher> FolderWatcher::start(const std::string& folder, uint32_t pollMs, uint32_t settleMs,
                                                    std::function<bool()> wakeUp) {
  std::unique_ptr<FolderWatcher> w(new FolderWatcher());
  std::string error;
  w->watch_ = pollMs > 0 ? korvel::platform::pollDirectory(pollMs)
                         : korvel::platform::watchDirectory(folder, &error);
  if (!w->watch_) {
    report("\n ERROR: FindFirstChangeNotification function failed.\n");
    if (!error.empty()) std::fprintf(stdout, " (%s)\n", error.c_str());
    return nullptr;
  }
  w->thread_ = std::thread(&FolderWatcher::run, w.get(), settleMs, pollMs > 0, std::move(wakeUp));
  return w;
}

void FolderWatcher::run(uint32_t settleMs, bool polling, std::function<bool()> wakeUp) {
  report("\nWaiting for notification...\n");
  while (!stopping_) {
    auto result = watch_->wait();
    if (result == korvel::platform::DirectoryWatch::Result::Woken || stopping_) break;
    if (result == korvel::platform::DirectoryWatch::Result::Failed) {
      report("\n ERROR: FindNextChangeNotification function failed.\n");
      break;
    }
    if (settleMs) korvel::platform::sleepMillis(settleMs);
    if (!wakeUp()) break;
    // Polling wakes every few milliseconds: saying so each time would flood the console.
    if (!polling) report("\nWaiting for notification...\n");
  }
  finished_ = true;
}

FolderWatcher::~FolderWatcher() { stop(); }

void FolderWatcher::stop() {
  stopping_ = true;
  if (watch_) watch_->wake();
  if (thread_.joinable()) thread_.join();
}

bool pollingForcedByEnvironment() {
  const char* v = std::getenv("KORVEL_CAN_POLL");
  return v != nullptr && v[0] != '\0' && v[0] != '0';
}

}  // namespace quillon
