#include "modules/module_registry.h"

#include "test_support.h"

namespace korvel {
namespace {

using Dependents = std::map<std::string, std::vector<std::string>>;

// A bundle folder holding a copy of a fixture module and an Info.list with the given lines.
void makeBundle(const std::filesystem::path& docs, const std::string& folder, const std::string& info,
                const char* library = FIXTURE_MODULE) {
  auto dir = docs / folder;
  std::filesystem::create_directories(dir);
  test::writeText(dir / "Info.list", info);
  std::filesystem::copy_file(library, dir / "libFixture.so");
}

std::vector<std::string> loadedIds(const ModuleRegistry& registry) {
  std::vector<std::string> ids;
  for (const auto& [id, module] : registry.loadedModules()) ids.push_back(id);
  return ids;
}

TEST(LoadOrder, DependentsComeAfterEveryBundleTheyNameWhateverTheReadingOrder) {
  // Bundles read in the order C (after A and B), B (after A), A.
  Dependents d{{"", {"A"}}, {"A", {"C", "B"}}, {"B", {"C"}}, {"C", {}}};
  EXPECT_EQ(ModuleRegistry::computeLoadOrder(d), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(LoadOrder, SiblingsKeepReadingOrderAndUnreachableBundlesAreLeftOut) {
  Dependents d{{"", {"Y", "X"}}, {"X", {}}, {"Y", {}}, {"missing", {"Z"}}, {"Z", {}}};
  EXPECT_EQ(ModuleRegistry::computeLoadOrder(d), (std::vector<std::string>{"Y", "X"}));
  EXPECT_TRUE(ModuleRegistry::computeLoadOrder({{"A", {}}}).empty()) << "nothing depends on the root";
}

TEST(LoadOrder, CyclesAreFoundOnlyWhenReachableFromTheRoot) {
  Dependents reachable{{"", {"A"}}, {"A", {"X"}}, {"X", {"Y"}}, {"Y", {"X"}}};
  EXPECT_THROW(ModuleRegistry::computeLoadOrder(reachable), RegistryError);
  try {
    ModuleRegistry::computeLoadOrder(reachable);
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "[Critical Error']LoadAfterIDs: Cycle detected aborting!");
  }
  Dependents isolated{{"", {}}, {"X", {"Y"}}, {"Y", {"X"}}};
  EXPECT_TRUE(ModuleRegistry::computeLoadOrder(isolated).empty());
}

TEST(Registry, LoadsBundlesInDependencyOrderAndReadsTheirDescriptions) {
  test::TempDir docs;
  makeBundle(docs.path(), "c", "ID=C\nLib=libFixture.so\nLoadAfterID=A\nLoadAfterID=B\n");
  makeBundle(docs.path(), "b", "ID=B\nLib=libFixture.so\nLoadAfterID=A\nModels=m.obj\nModels=n.obj\n");
  makeBundle(docs.path(), "a", "ID = A\nLib = libFixture.so\nAuthor = Ann\nVersion=1\nDescription=d.html\n");
  ModuleRegistry registry(docs.path());
  EXPECT_EQ(loadedIds(registry), (std::vector<std::string>{"A", "B", "C"}));

  const ComponentModule* a = registry.find("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->author, "Ann");
  EXPECT_EQ(a->description, docs.path() / "a" / "d.html");
  EXPECT_EQ(a->schematic, docs.path() / "a") << "an absent key gives the bundle folder";
  EXPECT_EQ(a->loadAfter, std::vector<std::string>{""});
  EXPECT_EQ(registry.find("B")->models.size(), 2u);
  EXPECT_NE(a->lookup("DefineAllSFR"), nullptr);
}

TEST(Registry, UnreadableBundlesAreIgnoredSilently) {
  test::TempDir docs;
  makeBundle(docs.path(), "blank", "ID =   \nLib=libFixture.so\n");
  makeBundle(docs.path(), "nolib", "ID=NoLib\nLib=absent.so\n");
  makeBundle(docs.path(), "orphan", "ID=Orphan\nLib=libFixture.so\nLoadAfterID=Nobody\n");
  std::filesystem::create_directories(docs.path() / "empty");
  test::writeText(docs.path() / "stray.txt", "not a folder");
  makeBundle(docs.path(), "ok", "ID=Ok\nLib=libFixture.so\n");
  ModuleRegistry registry(docs.path());
  EXPECT_EQ(loadedIds(registry), std::vector<std::string>{"Ok"});
  EXPECT_EQ(registry.find("NoLib"), nullptr);
  EXPECT_NE(registry.find("Orphan"), nullptr) << "accepted but never loaded";
}

TEST(Registry, ALibraryThatCannotLoadStaysKnownButOutOfTheLoadOrder) {
  test::TempDir docs;
  makeBundle(docs.path(), "bad", "ID=Bad\nLib=libFixture.so\n");
  test::writeText(docs.path() / "bad" / "libFixture.so", "this is not a shared library");
  makeBundle(docs.path(), "after", "ID=After\nLib=libFixture.so\nLoadAfterID=Bad\n");
  ModuleRegistry registry(docs.path());
  ASSERT_NE(registry.find("Bad"), nullptr);
  EXPECT_EQ(registry.find("Bad")->loaded, 0);
  EXPECT_FALSE(registry.find("Bad")->loadError.empty());
  EXPECT_EQ(loadedIds(registry), std::vector<std::string>{"After"}) << "its dependents still load";
}

TEST(Registry, DuplicateIdentifiersAbandonTheRegistry) {
  test::TempDir docs;
  makeBundle(docs.path(), "one", "ID=Same\nLib=libFixture.so\n");
  makeBundle(docs.path(), "two", "ID=Same\nLib=libFixture.so\n");
  try {
    ModuleRegistry registry(docs.path());
    FAIL() << "a duplicate identifier must raise";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Two bundles CANNOT have the same IDentifier!");
  }
}

TEST(Registry, ModuleExportsAreCalledByName) {
  test::TempDir docs;
  makeBundle(docs.path(), "m", "ID=M\nLib=libFixture.so\n", FIXTURE_MINIMAL);
  test::writeText(docs.path() / "m" / "answers.list", "DefineAllVTREG=0\n");
  ModuleRegistry registry(docs.path());
  ComponentModule* m = registry.find("M");
  ASSERT_NE(m, nullptr);
  int result = -1;
  EXPECT_TRUE(callModuleStage(*m, "DefineAllVTREG", &result));
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(callModuleStage(*m, "DefineAllMenuEntries", &result)) << "absent exports are not called";
}

}  // namespace
}  // namespace korvel
