// What the watcher threads do at each wake-up, without the threads: which frame of the data
// folder a receiver takes, and which colour of the settings folder a port shows. And the thread
// that runs one of them on a folder until it is stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "can_files.h"
#include "korvel/platform/platform.h"

namespace quillon {

// The masked identifier a receiver compares: 29 bits for frames with information, 11 without.
uint32_t maskedIdentifier(uint32_t information, uint32_t identifier);

// Remembers the valid files of the previous scan, so that a file is acted on once: when it has
// appeared (or changed) since then. A file that was not yet readable as a whole is not
// remembered and is looked at again at the next wake-up.
class FolderMemory {
 public:
  struct Entry {
    std::string name;
    korvel::platform::FileIdentity identity;
  };
  bool seenBefore(const Entry& e) const;
  void replace(std::vector<Entry> now) { previous_ = std::move(now); }

 private:
  std::vector<Entry> previous_;
};

struct Delivery {
  uint32_t information, identifier, dataA, dataB;
  bool operator==(const Delivery&) const = default;
};

// One wake-up of a port's frame watcher. Among the frame files that are new since the previous
// scan the one with the lowest masked identifier wins, as arbitration on a wire would decide (on
// equal identifiers the one listed later). It is delivered when its identifier is the acceptance
// ID, or the acceptance ID is kAcceptAllId. A bit-timing reference that is neither 0 nor equal to
// the frame's 10-bit timing turns the winner into noise (four values of the C random generator
// seeded with the time in seconds), as a receiver at the wrong bit rate would see.
class FrameScanner {
 public:
  // skip names a file of the folder that is not to be looked at (the port's own frame while it
  // sends it: a controller does not receive what it transmits).
  std::optional<Delivery> scan(const std::string& dataFolder, uint32_t acceptanceId,
                               uint32_t bitTimingReference, const std::string& skip = "");

 private:
  FolderMemory memory_;
};

// One wake-up of a port's colour watcher: the colour of the last colour file (in listing order)
// that is new since the previous scan.
class ColourScanner {
 public:
  std::optional<uint32_t> scan(const std::string& settingsFolder);

 private:
  FolderMemory memory_;
};

// Runs wakeUp on its own thread each time the folder changes, until stop(), a wake-up that
// returns false, or a failed notification (reported on standard output; only this watcher ends).
class FolderWatcher {
 public:
  // pollMs > 0 looks at the folder that often instead of asking for notifications (folders on
  // network file systems). Null with the failure already reported when the folder cannot be
  // watched. settleMs: the pause between a notification and the scan, so that a writer is done.
  static std::unique_ptr<FolderWatcher> start(const std::string& folder, uint32_t pollMs, uint32_t settleMs,
                                              std::function<bool()> wakeUp);
  ~FolderWatcher();  // stop()
  // Wakes the thread and waits for it to end. Never call from the watcher's own thread.
  void stop();
  bool finished() const { return finished_; }

 private:
  FolderWatcher() = default;
  void run(uint32_t settleMs, bool polling, std::function<bool()> wakeUp);
  std::unique_ptr<korvel::platform::DirectoryWatch> watch_;
  std::atomic<bool> stopping_{false}, finished_{false};
  std::thread thread_;
};

// True when CAN folders are to be polled whatever their file system: KORVEL_CAN_POLL=1 in the
// environment.
bool pollingForcedByEnvironment();

}  // namespace quillon
