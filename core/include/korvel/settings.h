// The emulator's tunable numbers, kept in korvel.ini beside the core library.
// One process-wide store; every member is safe to call from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "korvel/api.h"

namespace korvel {
class KeyValueFile;
}

class KORVEL_API SettingsManager {
 public:
  static SettingsManager& sharedInstance();

  // 1 and the value when the key exists with a non-empty, numeric first value; else 0 and value
  // unchanged.
  int getValueWithKey(std::string key, float& value);
  // The value, or 0.0 when the flag-returning overload finds none.
  float getValueWithKey(std::string key);
  // Replaces every value of key with value formatted "%f"; marks the store modified.
  int setValueWithKey(std::string key, float value);
  // Writes korvel.ini now; 1 when written.
  int Save();

  ~SettingsManager();

  // Where the file lives (beside the core library).
  std::string filePath() const;

  // For tests: replaces the shared store with one read from path (created with the defaults if
  // absent), writing the old one first if it was modified. Not for production use.
  static void resetForTesting(const std::string& path);

 private:
  explicit SettingsManager(const std::string& path);
  SettingsManager(const SettingsManager&) = delete;
  SettingsManager& operator=(const SettingsManager&) = delete;

  int modified = 0;
  mutable std::recursive_mutex lock;
  std::unique_ptr<korvel::KeyValueFile> file;

  static std::unique_ptr<SettingsManager> instance;
  static std::once_flag once;
};
