// The staged core in a private copy: loaded, unloaded and loaded again from a fresh copy in one
// process. Needs the Korvel target built; skipped (with the reason) where it is not staged or
// not yet a plug-in.
#include <gtest/gtest.h>

#include "korvel_test/test_host.h"

namespace fs = std::filesystem;
using korvel_test::StagedTree;
using korvel_test::TestHost;

TEST(StagedTree, CopyHasItsOwnCoreSettingsAndBundlesAndIsRemovedAfterwards) {
  if (!StagedTree::stagedCoreExists()) GTEST_SKIP() << "no staged libKorvel.so in " << StagedTree::stageDir();
  fs::path root;
  {
    StagedTree tree;
    root = tree.root();
    EXPECT_TRUE(fs::is_regular_file(tree.plugin()));
    EXPECT_TRUE(fs::is_directory(tree.docs()));
    EXPECT_EQ(tree.readIni(), "");
    tree.writeIni("BTN_MIN_BOUNCE=3\n");
    EXPECT_EQ(tree.readIni(), "BTN_MIN_BOUNCE=3\n");
  }
  EXPECT_FALSE(fs::exists(root)) << "the temporary copy was left behind";
}

TEST(StagedTree, MissingBundleIsAOneLineError) {
  if (!StagedTree::stagedCoreExists()) GTEST_SKIP() << "no staged libKorvel.so in " << StagedTree::stageDir();
  try {
    StagedTree tree({"NoSuchBundle"});
    FAIL() << "a missing bundle was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("no staged bundle"), std::string::npos) << e.what();
  }
}

TEST(StagedTree, CoreLoadsUnloadsAndLoadsAgainFromAFreshCopy) {
  if (!StagedTree::stagedCoreExists()) GTEST_SKIP() << "no staged libKorvel.so in " << StagedTree::stageDir();
  for (int round = 0; round < 2; ++round) {
    StagedTree tree;
    TestHost host;
    std::string error;
    if (!host.loadPlugin(tree.plugin(), &error)) {
      if (error.find("exports no AgsiEntry") != std::string::npos) GTEST_SKIP() << error;
      FAIL() << error;
    }
    EXPECT_EQ(host.check(), 1u) << "round " << round;
    EXPECT_EQ(host.init(), 1u) << "round " << round << ": " << host.output();
    host.terminate();
    ASSERT_TRUE(host.unloadPlugin(&error)) << "round " << round << ": " << error;
    EXPECT_FALSE(TestHost::libraryIsLoaded(tree.plugin()));
  }
}
