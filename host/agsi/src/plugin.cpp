#include <system_error>

#include "agsi_host/host.h"
#include "korvel/platform/platform.h"

namespace agsi_host {

namespace platform = korvel::platform;

Plugin::~Plugin() { unload(); }

bool Plugin::load(const std::filesystem::path& path, std::string* error) {
  auto fail = [&](const std::string& reason) {
    if (error != nullptr) *error = reason;
    return false;
  };
  if (handle_ != nullptr) return fail("a plug-in is already loaded from " + path_.string());
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    return fail("cannot load plug-in " + path.string() + ": no such file");
  if (std::filesystem::is_directory(path, ec))
    return fail("cannot load plug-in " + path.string() + ": it is a folder, not a library file");
  std::string why;
  void* handle = platform::loadLibrary(path, &why);
  if (handle == nullptr) {
    // The loader's reason often starts with the path again; say it once.
    std::string prefix = path.string() + ": ";
    if (why.rfind(prefix, 0) == 0) why.erase(0, prefix.size());
    return fail("cannot load plug-in " + path.string() + ": " + why);
  }
  auto entry = reinterpret_cast<PFN_AgsiEntry>(platform::findSymbol(handle, "AgsiEntry"));
  if (entry == nullptr) {
    platform::freeLibrary(handle);
    return fail(path.string() + " is not an AGSI plug-in: it exports no AgsiEntry");
  }
  handle_ = handle;
  entry_ = entry;
  path_ = path;
  return true;
}

uint32_t Plugin::entry(uint32_t code, void* record) {
  // No host lock here: the plug-in's stages may start threads that call back into the host
  // and wait for them.
  return entry_ != nullptr ? entry_(code, record) : 0;
}

uint32_t Plugin::check(uint32_t targetKind) {
  uint32_t kind = targetKind;
  return entry(AGSI_CHECK, &kind);
}

uint32_t Plugin::init(const std::string& appFile) {
  appFile_ = appFile;
  config_ = AGSICONFIG{};
  config_.hInstance = Host::instance().moduleHandle();
  config_.pszProjectPath = "";
  config_.pszDevice = "LPC1768";
  config_.pszConfiguration = "";
  config_.pszAppFile = appFile_.c_str();
  return entry(AGSI_INIT, &config_);
}

uint32_t Plugin::reset() { return entry(AGSI_RESET, nullptr); }

uint32_t Plugin::terminate() { return entry(AGSI_TERMINATE, nullptr); }

void Plugin::unload() {
  if (handle_ == nullptr) return;
  // Nothing may call into the library's code once it is gone.
  Host::instance().forgetPlugin();
  // The core's modules each hold a reference to the core: let it free them first, or neither
  // would leave the process before it ends.
  using Unload = void (*)(void);
  if (auto unloadModules = reinterpret_cast<Unload>(platform::findSymbol(handle_, "KorvelUnload"))) {
    unloadModules();
  }
  platform::freeLibrary(handle_);
  handle_ = nullptr;
  entry_ = nullptr;
}

}  // namespace agsi_host
