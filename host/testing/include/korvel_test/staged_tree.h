// A private copy of the staged plug-in folder for one test: libKorvel.so and the chosen bundle
// folders under DOCS/, in a fresh temporary folder that is removed again. The core finds DOCS/
// and korvel.ini beside its own file, so each copy has its own settings and its own modules.
//
// The loader shares a library between everyone who names it by SONAME: the modules of a copy
// bind to whichever libKorvel.so is already in the process. So one test process keeps at most one
// copy loaded at a time and unloads it fully (TestHost::unloadPlugin checks) before the next.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvel_test {

class StagedTree {
 public:
  // Copies <stage>/lib/korvel/libKorvel.so and DOCS/<bundle> for each named bundle. Throws
  // std::runtime_error with a one-line reason if the staged core or a bundle is missing.
  explicit StagedTree(const std::vector<std::string>& bundles = {},
                      const std::filesystem::path& stage = stageDir());
  ~StagedTree();
  StagedTree(const StagedTree&) = delete;
  StagedTree& operator=(const StagedTree&) = delete;

  // The build's staged tree (build/<preset>/stage).
  static std::filesystem::path stageDir();
  // True if the staged core library exists (tests that need it skip without it).
  static bool stagedCoreExists(const std::filesystem::path& stage = stageDir());

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path pluginDir() const { return root_ / "lib" / "korvel"; }
  std::filesystem::path plugin() const { return pluginDir() / "libKorvel.so"; }
  std::filesystem::path docs() const { return pluginDir() / "DOCS"; }
  std::filesystem::path iniFile() const { return pluginDir() / "korvel.ini"; }

  // Copies a further bundle folder (e.g. a fixture built by the test) into DOCS/<name>.
  void addBundle(const std::filesystem::path& folder, const std::string& name);
  void writeIni(const std::string& text) const;
  std::string readIni() const;  // empty if there is none

 private:
  std::filesystem::path root_;
};

}  // namespace korvel_test
