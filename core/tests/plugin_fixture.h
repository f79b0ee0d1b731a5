// A private plug-in tree for one test: the staged core plus bundles made of the fixture module,
// loaded by the scriptable test host.
#pragma once

#include <string>

#include "korvel/platform/platform.h"
#include "korvel_test/staged_tree.h"
#include "korvel_test/test_host.h"
#include "test_support.h"

namespace korvel::test {

class PluginTest : public ::testing::Test {
 protected:
  // A bundle folder holding the fixture module (full or minimal) and the given Info.list lines,
  // with optional answers ("DefineAllVTREG=0" lines) for its exports.
  void addFixture(const std::string& folder, const std::string& info, const std::string& answers = "",
                  const char* library = FIXTURE_MODULE) {
    auto dir = scratch / folder;
    writeText(dir / "Info.list", info);
    if (!answers.empty()) writeText(dir / "answers.list", answers);
    std::filesystem::copy_file(library, dir / "libFixture.so");
    tree.addBundle(dir, folder);
  }

  // Loads the core from the tree, failing the test with the loader's reason otherwise.
  void load() {
    std::string error;
    ASSERT_TRUE(host.loadPlugin(tree.plugin(), &error)) << error;
  }

  void TearDown() override {
    std::string error;
    EXPECT_TRUE(host.unloadPlugin(&error)) << error;
  }

  // Lines written to the output window, without their line ends.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::string text = host.output();
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
      out.push_back(text.substr(start, nl - start));
    }
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
  }

  // A core export of the loaded plug-in.
  template <typename F>
  F coreExport(const char* name) {
    void* handle = platform::loadLibrary(tree.plugin());
    void* symbol = platform::findSymbol(handle, name);
    platform::freeLibrary(handle);  // the test host still holds the library
    return reinterpret_cast<F>(symbol);
  }

  TempDir scratch;
  korvel_test::StagedTree tree;
  korvel_test::TestHost host;
};

}  // namespace korvel::test
