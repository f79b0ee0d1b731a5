#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "korvel/platform/platform.h"
#include "korvel/settings.h"
#include "modules/key_value_file.h"

std::unique_ptr<SettingsManager> SettingsManager::instance;
std::once_flag SettingsManager::once;

namespace {

// The emulator's tunable numbers and their first-run values.
const korvel::KeyValueFile::Defaults& defaults() {
  static const korvel::KeyValueFile::Defaults d{
      {"BTN_MIN_BOUNCE", "1.0"},      {"BTN_MAX_BOUNCE", "10.0"},
      {"BTN_US_RANGE", "3.0"},        {"BTN_BASE_US", "5.0"},
      {"BTN_SIGMA", "1.0"},           {"BTN_UP_BOUNCE_RATE", "2.0"},
      {"POTMETER_SIGMA", "0.005"},    {"POTMETER_PERC_OF_RAND", "1.0"},
      {"SPEAKER_IN_DLL_VOLUME", "10.0"}, {"SIN_TABLE_SIZE", "45.0"},
      {"SCALE_RIT", "0.0"},           {"SCALE_TIM0", "0.0"},
      {"SCALE_TIM1", "0.0"},          {"SCALE_TIM2", "0.0"},
      {"SCALE_TIM3", "0.0"},          {"BTN_BOUNCE", "1.0"},
      {"POTMETER_BOUNCE", "1.0"},     {"SCALE_CUSTOM", "0.0"},
      {"SCALE_CUSTOM_VALUE", "1.0"},
  };
  return d;
}

// korvel.ini beside the core library, unless the host names another file in KORVEL_INI: a host
// that runs unattended (korvel-sim's headless runs) keeps each run's board state in a file of its
// own, so one run's switch and jumper positions never reach the next.
std::string iniBesideCore() {
  if (const char* chosen = std::getenv("KORVEL_INI"); chosen && *chosen) return chosen;
  static const int anchor = 0;
  return (korvel::platform::modulePathOf(&anchor).parent_path() / "korvel.ini").string();
}

// The longest numeric prefix after leading white space, as strtof reads it. Text without a number
// (or out of the float range) counts as missing, so a typo never turns into a silent 0.
bool toFloat(const std::string& text, float& out) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  float v = std::strtof(begin, &end);
  if (end == begin || errno == ERANGE || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace

SettingsManager& SettingsManager::sharedInstance() {
  std::call_once(once, [] { instance.reset(new SettingsManager(iniBesideCore())); });
  return *instance;
}

void SettingsManager::resetForTesting(const std::string& path) {
  sharedInstance();
  instance.reset(new SettingsManager(path));
}

SettingsManager::SettingsManager(const std::string& path) {
  file = std::make_unique<korvel::KeyValueFile>(path, defaults(), true);
  file->write();
  modified = 0;
}

SettingsManager::~SettingsManager() {
  if (modified != 0) file->write();
}

std::string SettingsManager::filePath() const {
  std::lock_guard<std::recursive_mutex> guard(lock);
  return file->path().string();
}

int SettingsManager::getValueWithKey(std::string key, float& value) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  auto values = file->find(key);
  if (!values || values->empty() || values->front().empty()) return 0;
  float v = 0;
  if (!toFloat(values->front(), v)) return 0;
  value = v;
  return 1;
}

float SettingsManager::getValueWithKey(std::string key) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  float v = 0.0f;
  return getValueWithKey(std::move(key), v) ? v : 0.0f;
}

int SettingsManager::setValueWithKey(std::string key, float value) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  modified = 1;
  char text[64];
  std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
  file->set(key, text, true);
  return 1;
}

int SettingsManager::Save() {
  std::lock_guard<std::recursive_mutex> guard(lock);
  int result = file->write();
  modified = 0;
  return result;
}
