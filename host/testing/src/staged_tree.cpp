#include "korvel_test/staged_tree.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace korvel_test {

namespace {

fs::path makeFreshFolder() {
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "korvel-test-" << std::hex << random() << random();
    fs::path candidate = base / name.str();
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) return candidate;  // false if it already exists
  }
  throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

}  // namespace

fs::path StagedTree::stageDir() { return fs::path(KORVEL_STAGE_DIR); }

bool StagedTree::stagedCoreExists(const fs::path& stage) {
  std::error_code ec;
  return fs::is_regular_file(stage / "lib" / "korvel" / "libKorvel.so", ec);
}

StagedTree::StagedTree(const std::vector<std::string>& bundles, const fs::path& stage) {
  fs::path source = stage / "lib" / "korvel";
  if (!stagedCoreExists(stage))
    throw std::runtime_error("no staged core at " + (source / "libKorvel.so").string() +
                             ": build the Korvel target first");
  for (const auto& b : bundles) {
    if (!fs::is_directory(source / "DOCS" / b))
      throw std::runtime_error("no staged bundle " + (source / "DOCS" / b).string() +
                               ": build its module first");
  }
  root_ = makeFreshFolder();
  fs::create_directories(docs());
  fs::copy_file(source / "libKorvel.so", plugin());
  for (const auto& b : bundles)
    fs::copy(source / "DOCS" / b, docs() / b, fs::copy_options::recursive);
}

StagedTree::~StagedTree() {
  std::error_code ec;
  if (!root_.empty()) fs::remove_all(root_, ec);
}

void StagedTree::addBundle(const fs::path& folder, const std::string& name) {
  if (!fs::is_directory(folder))
    throw std::runtime_error("no bundle folder " + folder.string());
  fs::copy(folder, docs() / name, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void StagedTree::writeIni(const std::string& text) const {
  std::ofstream out(iniFile(), std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + iniFile().string());
}

std::string StagedTree::readIni() const {
  std::ifstream in(iniFile(), std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace korvel_test
