// A component module as the core holds it: one per accepted bundle folder under DOCS/.
// Modules only ever receive a pointer to their own record (in DefineAllComponents) and pass it
// back to DefineNewComponent; everything else here is for the core and its tests.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "korvel/api.h"

namespace korvel {
class KeyValueFile;
}

class KORVEL_API ComponentModule {
 public:
  ComponentModule();
  ~ComponentModule();
  ComponentModule(const ComponentModule&) = delete;
  ComponentModule& operator=(const ComponentModule&) = delete;

  // Reads folder/Info.list; true when the bundle is accepted (non-empty ID, Lib path exists).
  bool read(const std::filesystem::path& folder);
  // Loads the library (reading the bundle again first if needed); true on success.
  bool load();
  // Frees the library; true when nothing was loaded or it was freed.
  bool unload();
  // The named export of the loaded library, or null.
  void* lookup(const char* name) const;

  int loaded = 0;
  int parsed = 0;
  std::filesystem::path folder;
  std::unique_ptr<korvel::KeyValueFile> descriptionFile;
  std::string identifier;
  std::string author;
  std::string version;
  std::string date;
  std::filesystem::path description;
  std::filesystem::path schematic;
  std::vector<std::filesystem::path> models;
  std::filesystem::path library;
  std::vector<std::string> loadAfter;
  void* libraryHandle = nullptr;
  std::string loadError;  // why the last load failed, for diagnostics
};

// Signatures of the module exports (C linkage, looked up by exactly these names).
extern "C" {
typedef int (*PFN_ModuleStage)(void);                 // DefineAllSFR … ResetPeripheral, Terminate,
                                                      // DefineAllKeys
typedef void (*PFN_ModuleNotify)(void);               // UpdateUI, ClosingUI, ComponentsLoaded
}
class wxWindow;
struct KVRect;
typedef int (*PFN_DefineAllComponents)(wxWindow* board, KVRect area, ComponentModule* module);
typedef int (*PFN_DefineAllDialogPages)(wxWindow* dialog);
