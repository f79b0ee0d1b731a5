// The staged bundles as the information dialog and the 3D viewer will read them: every file an
// Info.list names exists, the pages are plain HTML, the schematics are 24-bit bitmaps, and every
// model's faces, materials and textures are consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "modules/key_value_file.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDocs = KORVEL_STAGE_DOCS;

// The bundles that document a part of the board.
const std::set<std::string> kDocumented = {"KorvelBase", "Jumpers", "Buttons", "Pictor",
                                           "Palmett",    "Joystick", "Power"};

struct Bundle {
  std::string id;
  fs::path folder;
  korvel::KeyValueFile info;
  std::vector<fs::path> files(const std::string& key) const {
    std::vector<fs::path> out;
    if (auto values = info.find(key))
      for (const auto& v : *values) out.push_back(folder / v);
    return out;
  }
};

std::vector<Bundle> bundles() {
  std::vector<Bundle> out;
  if (!fs::is_directory(kDocs)) return out;
  for (const auto& entry : fs::directory_iterator(kDocs)) {
    if (!fs::is_regular_file(entry.path() / "Info.list")) continue;
    korvel::KeyValueFile info(entry.path() / "Info.list", {}, true);
    auto id = info.find("ID");
    out.push_back({id ? id->front() : std::string(), entry.path(), std::move(info)});
  }
  return out;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

uint32_t le(const std::string& d, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(d[at + i]);
  return v;
}

// Checks a TGA as the viewer reads it: uncompressed true colour, 24 or 32 bits, all pixels there.
void expectTga(const fs::path& path) {
  SCOPED_TRACE(path.string());
  ASSERT_TRUE(fs::is_regular_file(path));
  const std::string d = slurp(path);
  ASSERT_GE(d.size(), 18u);
  EXPECT_EQ(d[2], 2) << "image type";
  const uint32_t w = le(d, 12, 2), h = le(d, 14, 2), bpp = static_cast<uint8_t>(d[16]);
  EXPECT_TRUE(bpp == 24 || bpp == 32) << bpp;
  EXPECT_GT(w, 0u);
  EXPECT_GT(h, 0u);
  EXPECT_LE(w * h, 1024u * 1024u) << "texture too large for a part model";
  EXPECT_EQ(d.size(), 18u + static_cast<uint8_t>(d[0]) + w * h * (bpp / 8));
}

struct ObjCounts {
  int v = 0, vt = 0, vn = 0, f = 0, triangles = 0, smoothing = 0;
  float radius = 0;
};

// Resolves one OBJ index (1-based, or negative counting back) against the count read so far.
bool inRange(long index, int count) {
  if (index > 0) return index <= count;
  if (index < 0) return -index <= count;
  return false;
}

void expectObj(const fs::path& path, ObjCounts& c) {
  SCOPED_TRACE(path.string());
  std::ifstream in(path);
  EXPECT_TRUE(in.is_open());
  std::set<std::string> used;
  std::string mtllib, line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string key;
    s >> key;
    if (key == "v") {
      float x, y, z;
      EXPECT_TRUE(static_cast<bool>(s >> x >> y >> z)) << line;
      ++c.v;
      c.radius = std::max(c.radius, std::sqrt(x * x + y * y + z * z));
    } else if (key == "vt") {
      ++c.vt;
    } else if (key == "vn") {
      float x, y, z;
      EXPECT_TRUE(static_cast<bool>(s >> x >> y >> z)) << line;
      EXPECT_NEAR(x * x + y * y + z * z, 1.0f, 0.01f) << line;
      ++c.vn;
    } else if (key == "f") {
      ++c.f;
      int corners = 0;
      std::string corner;
      while (s >> corner) {
        ++corners;
        long p = 0, t = 0, n = 0;
        ASSERT_EQ(std::sscanf(corner.c_str(), "%ld/%ld/%ld", &p, &t, &n), 3) << line;
        EXPECT_TRUE(inRange(p, c.v) && inRange(t, c.vt) && inRange(n, c.vn)) << line;
      }
      EXPECT_GE(corners, 3) << line;
      c.triangles += corners - 2;
    } else if (key == "s") {
      ++c.smoothing;
    } else if (key == "mtllib") {
      s >> mtllib;
    } else if (key == "usemtl") {
      std::string name;
      s >> name;
      used.insert(name);
    }
  }
  ASSERT_FALSE(mtllib.empty());
  const fs::path mtlPath = path.parent_path() / mtllib;
  ASSERT_TRUE(fs::is_regular_file(mtlPath)) << mtlPath;
  std::ifstream mtl(mtlPath);
  std::map<std::string, std::set<std::string>> keys;
  std::string current;
  while (std::getline(mtl, line)) {
    std::istringstream s(line);
    std::string key, value;
    s >> key >> value;
    if (key == "newmtl") current = value;
    else if (!key.empty() && key[0] != '#') keys[current].insert(key);
    if (key == "map_Kd") expectTga(path.parent_path() / value);
  }
  for (const auto& name : used) {
    SCOPED_TRACE("material " + name);
    ASSERT_TRUE(keys.count(name));
    for (const char* k : {"Ka", "Kd", "Ks", "d", "map_Kd"}) EXPECT_TRUE(keys[name].count(k)) << k;
  }
}

TEST(BundleDocs, EveryDocumentedBundleNamesItsPagesSchematicAndModels) {
  std::set<std::string> seen;
  for (const auto& b : bundles()) {
    SCOPED_TRACE(b.id);
    if (!kDocumented.count(b.id) && b.files("Description").empty()) continue;
    seen.insert(b.id);
    EXPECT_EQ(b.files("Description").size(), 1u);
    EXPECT_EQ(b.files("Schematic").size(), 1u);
    EXPECT_GE(b.files("Models").size(), 1u);
  }
  for (const auto& id : kDocumented) EXPECT_TRUE(seen.count(id)) << id << " is not staged";
}

TEST(BundleDocs, EveryNamedFileExistsInItsBundle) {
  for (const auto& b : bundles()) {
    for (const char* key : {"Description", "Schematic", "Models", "Lib"})
      for (const auto& file : b.files(key)) {
        EXPECT_TRUE(fs::is_regular_file(file)) << b.id << ": " << key << " names missing " << file;
        EXPECT_EQ(fs::weakly_canonical(file).parent_path(), fs::weakly_canonical(b.folder))
            << b.id << ": " << file << " lies outside its bundle";
      }
    // The credits page lies beside the module that shows it.
    if (b.id == "KorvelBase") {
      EXPECT_TRUE(fs::is_regular_file(b.folder / "credit.html"));
    }
  }
}

TEST(BundleDocs, PagesArePlainHtmlWithoutScripts) {
  for (const auto& b : bundles()) {
    std::vector<fs::path> pages = b.files("Description");
    if (fs::exists(b.folder / "credit.html")) pages.push_back(b.folder / "credit.html");
    for (const auto& page : pages) {
      SCOPED_TRACE(page.string());
      const std::string text = slurp(page);
      EXPECT_NE(text.find("<html>"), std::string::npos);
      EXPECT_NE(text.find("</html>"), std::string::npos);
      EXPECT_EQ(text.find("<script"), std::string::npos);
      EXPECT_EQ(text.find("style="), std::string::npos);
    }
  }
}

TEST(BundleDocs, JoystickPageSaysWhichPortBitsToRead) {
  const std::string text = slurp(kDocs / "Joystick" / "description.html");
  for (const char* pin : {"P1.25", "P1.26", "P1.27", "P1.28", "P1.29", "FIOPIN(1)"})
    EXPECT_NE(text.find(pin), std::string::npos) << pin;
}

TEST(BundleDocs, SchematicsAreUncompressed24BitBitmaps) {
  for (const auto& b : bundles())
    for (const auto& file : b.files("Schematic")) {
      SCOPED_TRACE(file.string());
      EXPECT_EQ(file.extension(), ".bmp");
      const std::string d = slurp(file);
      ASSERT_GE(d.size(), 54u);
      EXPECT_EQ(d.substr(0, 2), "BM");
      EXPECT_EQ(le(d, 28, 2), 24u) << "bits per pixel";
      EXPECT_EQ(le(d, 30, 4), 0u) << "compression";
      const uint32_t w = le(d, 18, 4), h = le(d, 22, 4);
      EXPECT_GE(w, 400u);
      EXPECT_GE(h, 250u);
      EXPECT_GE(d.size(), le(d, 10, 4) + (w * 3 + 3) / 4 * 4 * h);
    }
}

TEST(BundleDocs, ModelsAreSmallConsistentAndFitTheViewer) {
  int models = 0;
  for (const auto& b : bundles())
    for (const auto& file : b.files("Models")) {
      SCOPED_TRACE(file.string());
      EXPECT_EQ(file.extension(), ".obj");
      ObjCounts c;
      expectObj(file, c);
      ++models;
      EXPECT_GT(c.v, 0);
      EXPECT_GT(c.vt, 0);
      EXPECT_GT(c.vn, 0);
      EXPECT_GE(c.triangles, 12);
      EXPECT_LE(c.triangles, 5000);
      EXPECT_GT(c.smoothing, 0) << "no smoothing groups";
      // The viewer's camera starts 0.93 away with a 45 degree field: keep the model in view.
      EXPECT_LT(c.radius, 0.4f);
    }
  EXPECT_GE(models, 7);
}

}  // namespace
