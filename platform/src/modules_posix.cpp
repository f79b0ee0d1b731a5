#include <dlfcn.h>

#include "korvel/platform/platform.h"

namespace korvel::platform {

std::filesystem::path modulePathOf(const void* addressInModule) {
  Dl_info info{};
  if (dladdr(addressInModule, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ec;
  auto path = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::path(info.dli_fname) : path;
}

LibraryHandle loadLibrary(const std::filesystem::path& path, std::string* error) {
  // RTLD_LOCAL keeps each module's own symbols apart, as separate DLLs are; RTLD_NOW finds a
  // missing dependency at load time rather than at the first call.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error != nullptr) {
    const char* why = dlerror();
    *error = why != nullptr ? why : "unknown error";
  }
  return handle;
}

void* findSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

LibraryHandle loadedLibrary(const std::filesystem::path& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}

bool freeLibrary(LibraryHandle library) { return library != nullptr && dlclose(library) == 0; }

}  // namespace korvel::platform
