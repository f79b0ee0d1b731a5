#include <system_error>

#include "korvel/module.h"
#include "korvel/platform/platform.h"
#include "modules/key_value_file.h"

namespace {

std::string firstValue(const korvel::KeyValueFile& file, const char* key) {
  auto values = file.find(key);
  return values && !values->empty() ? values->front() : std::string();
}

// An absolute value replaces the folder, as path joining does everywhere else.
std::filesystem::path joined(const std::filesystem::path& folder, const std::string& value) {
  return value.empty() ? folder : folder / value;
}

}  // namespace

ComponentModule::ComponentModule() = default;

ComponentModule::~ComponentModule() = default;

bool ComponentModule::read(const std::filesystem::path& bundleFolder) {
  if (loaded && !unload()) return false;
  parsed = 0;
  std::error_code ec;
  if (bundleFolder.empty() || !std::filesystem::is_directory(bundleFolder, ec)) return false;
  folder = bundleFolder;

  auto info = folder / "Info.list";
  if (!std::filesystem::is_regular_file(info, ec)) return false;
  descriptionFile = std::make_unique<korvel::KeyValueFile>(info, korvel::KeyValueFile::Defaults{}, false);
  if (!descriptionFile->load({}, {}, true)) return false;

  identifier = firstValue(*descriptionFile, "ID");
  author = firstValue(*descriptionFile, "Author");
  version = firstValue(*descriptionFile, "Version");
  date = firstValue(*descriptionFile, "Date");
  description = joined(folder, firstValue(*descriptionFile, "Description"));
  schematic = joined(folder, firstValue(*descriptionFile, "Schematic"));
  models.clear();
  if (auto values = descriptionFile->find("Models")) {
    for (const auto& v : *values) models.push_back(folder / v);
  }
  library = joined(folder, firstValue(*descriptionFile, "Lib"));
  loadAfter.clear();
  if (auto values = descriptionFile->find("LoadAfterID")) loadAfter = *values;
  if (loadAfter.empty()) loadAfter.push_back(std::string());

  if (identifier.empty() || !std::filesystem::exists(library, ec)) return false;
  parsed = 1;
  return true;
}

bool ComponentModule::load() {
  if (loaded && !unload()) return false;
  if (!parsed && !read(folder)) return false;
  loadError.clear();
  libraryHandle = korvel::platform::loadLibrary(library, &loadError);
  if (libraryHandle == nullptr) return false;
  loaded = 1;
  return true;
}

bool ComponentModule::unload() {
  if (libraryHandle != nullptr) {
    if (!korvel::platform::freeLibrary(libraryHandle)) return false;
    libraryHandle = nullptr;
    loaded = 0;
    parsed = 0;
  }
  return true;
}

void* ComponentModule::lookup(const char* name) const {
  return korvel::platform::findSymbol(libraryHandle, name);
}
