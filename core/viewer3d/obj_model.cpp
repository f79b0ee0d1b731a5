#include "viewer3d/obj_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <unordered_map>

namespace korvel::model {

namespace {

// ---------------------------------------------------------------------------------------------
// Text helpers. Numbers are read with from_chars: the toolkit may have switched the C locale to
// one with a decimal comma, and model files always use a point.

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  return s.substr(i);
}
std::string_view trimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && isSpace(s[n - 1])) --n;
  return s.substr(0, n);
}

// Takes the next whitespace-separated word off s.
std::string_view nextWord(std::string_view& s) {
  s = trimLeft(s);
  std::size_t n = 0;
  while (n < s.size() && !isSpace(s[n])) ++n;
  std::string_view word = s.substr(0, n);
  s = s.substr(n);
  return word;
}

bool parseFloat(std::string_view word, float& out) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  if (word.empty()) return false;
  float v = 0;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
  if (ec != std::errc() || end != word.data() + word.size()) return false;
  out = std::isfinite(v) ? v : 0.0f;  // a NaN would poison the bounds and the tangents
  return true;
}

bool parseInt(std::string_view word, long long& out) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  if (word.empty()) return false;
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), out);
  return ec == std::errc() && end == word.data() + word.size();
}

// Reads up to n numbers into out; returns how many were read.
int parseFloats(std::string_view rest, float* out, int n) {
  int count = 0;
  while (count < n) {
    std::string_view word = nextWord(rest);
    if (word.empty() || !parseFloat(word, out[count])) break;
    ++count;
  }
  return count;
}

// Calls onLine for every line of text, each cut to kMaxLineLength - 1 characters like a
// fixed line buffer would, but with the rest of an over-long line dropped rather than read as a
// line of its own. onLine returns false to stop.
template <typename F>
void forEachLine(std::string_view text, std::vector<std::string>& warnings, F&& onLine) {
  bool warned = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.size() > kMaxLineLength - 1) {
      line = line.substr(0, kMaxLineLength - 1);
      if (!warned) warnings.push_back("a line longer than 1023 characters was cut short");
      warned = true;
    }
    if (!onLine(line)) return;
  }
}

// ---------------------------------------------------------------------------------------------
// Loading state shared by the OBJ file, its libraries and their textures.

struct LoadState {
  LoadState(const FileReader& r, ModelData& m) : reader(r), model(m) {}
  const FileReader& reader;
  ModelData& model;
  std::map<std::string, std::shared_ptr<const TgaImage>> textures;  // by path: read each file once
  std::size_t textureBytes = 0;
  int libraries = 0;
};

void warnOnce(ModelData& model, const std::string& text) {
  if (std::find(model.warnings.begin(), model.warnings.end(), text) == model.warnings.end())
    model.warnings.push_back(text);
}

std::shared_ptr<const TgaImage> readTexture(LoadState& state, const std::string& path) {
  if (auto it = state.textures.find(path); it != state.textures.end()) return it->second;
  std::shared_ptr<const TgaImage> result;
  const std::size_t maxBytes = 18 + 255 + 65535 * 4 + kMaxTexturePixels * 4;
  std::string bytes;
  if (!state.reader(path, maxBytes, bytes)) {
    warnOnce(state.model, "texture " + path + " is missing or too large");
  } else {
    auto image = std::make_shared<TgaImage>();
    TgaResult r = decodeTga(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), *image);
    if (r != TgaResult::Ok) {
      warnOnce(state.model, "texture " + path + ": " + describe(r));
    } else if (state.textureBytes + image->pixels.size() > kMaxTextureBytes) {
      warnOnce(state.model, "texture " + path + " left out: the model's textures exceed 256 MiB");
    } else {
      state.textureBytes += image->pixels.size();
      result = std::move(image);
    }
  }
  state.textures.emplace(path, result);
  return result;
}

// "map_Kd [-clamp on|off] [-s u [v [w]]] [-o u [v [w]]] name.tga [anything]"
Texture parseMap(LoadState& state, std::string_view rest, const std::string& folder) {
  Texture texture;
  for (;;) {
    std::string_view probe = rest;
    std::string_view option = nextWord(probe);
    if (option == "-clamp") {
      texture.clamp = nextWord(probe) == "on";
    } else if (option == "-s" || option == "-o") {
      float* values = option == "-s" ? texture.scale : texture.offset;
      for (int i = 0; i < 3; ++i) {
        std::string_view before = probe;
        float v;
        if (!parseFloat(nextWord(probe), v)) {
          probe = before;
          break;
        }
        values[i] = v;
      }
    } else {
      break;
    }
    rest = probe;
  }
  std::string_view name = trimLeft(rest);
  std::size_t cut = std::min(name.find(".tga"), name.find(".TGA"));
  if (cut == std::string_view::npos) {
    warnOnce(state.model, "texture " + std::string(trimRight(name)) + " is not a .tga file");
    return texture;  // no image
  }
  texture.file = folder + "/" + std::string(name.substr(0, cut + 4));
  texture.image = readTexture(state, texture.file);
  return texture;
}

void parseMtlText(LoadState& state, std::string_view text, const std::string& folder) {
  ModelData& model = state.model;
  int current = -1;
  forEachLine(text, model.warnings, [&](std::string_view line) {
    std::string_view rest = line;
    std::string_view key = nextWord(rest);
    if (key == "newmtl") {
      if (model.materials.size() >= kMaxMaterials) {
        warnOnce(model, "more than 1024 materials: the rest are ignored");
        current = -1;
        return true;
      }
      model.materials.push_back(defaultMaterial(std::string(trimRight(trimLeft(rest)))));
      current = static_cast<int>(model.materials.size()) - 1;
      return true;
    }
    if (current < 0) return true;
    Material& m = model.materials[current];
    static constexpr const char* colourKeys[] = {"Kd", "Ka", "Ke", "Ks", "Ns"};
    static constexpr const char* mapKeys[] = {"map_Kd", "map_Ka", "map_Ke", "map_Ks", "map_Ns", "map_Kn"};
    for (int k = 0; k < 5; ++k) {
      if (key == colourKeys[k]) {
        parseFloats(rest, m.properties[k].colour, 3);
        return true;
      }
    }
    for (int k = 0; k < kMapKinds; ++k) {
      if (key == mapKeys[k]) {
        m.properties[k].texture = parseMap(state, rest, folder);
        return true;
      }
    }
    float v;
    if (key == "d" && parseFloats(rest, &v, 1) == 1) {
      m.properties[kDiffuse].colour[3] = v;
    } else if (key == "Tr" && parseFloats(rest, &v, 1) == 1) {
      m.properties[kDiffuse].colour[3] = 1.0f - v;
    } else if (key == "wireframe") {
      long long w = 0;
      if (parseInt(nextWord(rest), w)) m.wireframe = w != 0;
    }
    return true;
  });
}

// ---------------------------------------------------------------------------------------------
// OBJ

struct VertexKey {
  int32_t position, texCoord, normal, group;
  bool operator==(const VertexKey&) const = default;
};
struct VertexKeyHash {
  std::size_t operator()(const VertexKey& k) const {
    uint64_t h = static_cast<uint32_t>(k.position);
    h = h * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.texCoord);
    h = h * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.normal);
    h = h * 0x9E3779B97F4A7C15ull ^ static_cast<uint32_t>(k.group);
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
};

// Turns a 1-based or negative (counting back) index into a 0-based one; -1 if out of range.
int32_t resolveIndex(long long index, std::size_t count) {
  long long n = static_cast<long long>(count);
  long long i = index > 0 ? index - 1 : n + index;
  if (index == 0 || i < 0 || i >= n) return -1;
  return static_cast<int32_t>(i);
}

class ObjParser {
 public:
  ObjParser(LoadState& state, const std::string& folder) : state_(state), model_(state.model), folder_(folder) {
    model_.materials.push_back(defaultMaterial("default"));
  }

  bool line(std::string_view line) {
    std::string_view rest = line;
    std::string_view key = nextWord(rest);
    if (key == "v") {
      float p[3] = {0, 0, 0};
      parseFloats(rest, p, 3);
      if (!room(positions_.size(), kMaxElements, "positions")) return true;
      positions_.push_back({p[0], p[1], p[2]});
    } else if (key == "vt") {
      float t[2] = {0, 0};
      parseFloats(rest, t, 2);
      if (!room(texCoords_.size(), kMaxElements, "texture coordinates")) return true;
      texCoords_.push_back({t[0], t[1]});
    } else if (key == "vn") {
      float n[3] = {0, 0, 0};
      parseFloats(rest, n, 3);
      if (!room(normals_.size(), kMaxElements, "normals")) return true;
      normals_.push_back({n[0], n[1], n[2]});
    } else if (key == "f") {
      face(rest);
    } else if (key == "l") {
      polyline(rest);
    } else if (key == "mtllib") {
      library(std::string(trimRight(trimLeft(rest))));
    } else if (key == "usemtl") {
      useMaterial(std::string(trimRight(trimLeft(rest))));
    } else if (key == "s") {
      long long g = 0;
      if (!parseInt(nextWord(rest), g)) g = 0;  // "s off"
      group_ = static_cast<int32_t>(std::clamp<long long>(g, INT32_MIN, INT32_MAX));
    }
    return true;
  }

  void finish() {
    // Bounds of every position read, whether or not a face uses it.
    if (positions_.empty()) return;
    for (int a = 0; a < 3; ++a) {
      model_.minimum[a] = positions_[0][a];
      model_.maximum[a] = positions_[0][a];
    }
    for (const auto& p : positions_) {
      for (int a = 0; a < 3; ++a) {
        model_.minimum[a] = std::min(model_.minimum[a], p[a]);
        model_.maximum[a] = std::max(model_.maximum[a], p[a]);
      }
      model_.radius = std::max(model_.radius, std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]));
    }
  }

 private:
  bool room(std::size_t have, std::size_t limit, const char* what) {
    if (have < limit) return true;
    warnOnce(model_, std::string("too many ") + what + ": the rest are ignored");
    return false;
  }

  Surface& surface() {
    if (surface_ < 0) {
      for (std::size_t i = 0; i < model_.surfaces.size(); ++i)
        if (model_.surfaces[i].material == material_) surface_ = static_cast<int>(i);
      if (surface_ < 0) {
        Surface s;
        s.material = material_;
        s.wireframe = model_.materials[material_].wireframe;
        model_.surfaces.push_back(std::move(s));
        surface_ = static_cast<int>(model_.surfaces.size()) - 1;
      }
    }
    return model_.surfaces[surface_];
  }

  // One face or line vertex "p", "p/t", "p//n" or "p/t/n" as a model vertex index; -1 if it is
  // malformed or refers to an element that does not exist.
  int64_t vertex(std::string_view word, bool allowNormal) {
    std::string_view parts[3];
    int count = 0;
    while (count < 3) {
      std::size_t slash = word.find('/');
      parts[count++] = word.substr(0, slash);
      if (slash == std::string_view::npos) break;
      word = word.substr(slash + 1);
      if (count == 3) return -1;  // a fourth part
    }
    long long raw;
    VertexKey key{-1, -1, -1, group_};
    if (!parseInt(parts[0], raw) || (key.position = resolveIndex(raw, positions_.size())) < 0) return -1;
    if (count >= 2 && !parts[1].empty()) {
      if (!parseInt(parts[1], raw) || (key.texCoord = resolveIndex(raw, texCoords_.size())) < 0) return -1;
    }
    if (count == 3) {
      if (!allowNormal) return -1;
      if (!parseInt(parts[2], raw) || (key.normal = resolveIndex(raw, normals_.size())) < 0) return -1;
    }
    if (auto it = shared_.find(key); it != shared_.end()) return it->second;
    if (!room(model_.vertices.size(), kMaxVertices, "vertices")) return -1;
    Vertex v{};
    std::copy_n(positions_[key.position].data(), 3, v.position);
    if (key.texCoord >= 0) std::copy_n(texCoords_[key.texCoord].data(), 2, v.texCoord);
    if (key.normal >= 0) std::copy_n(normals_[key.normal].data(), 3, v.normal);
    model_.vertices.push_back(v);
    uint32_t index = static_cast<uint32_t>(model_.vertices.size() - 1);
    shared_.emplace(key, index);
    return index;
  }

  bool readVertices(std::string_view rest, bool allowNormal, std::vector<uint32_t>& out) {
    out.clear();
    for (std::string_view word = nextWord(rest); !word.empty(); word = nextWord(rest)) {
      int64_t v = vertex(word, allowNormal);
      if (v < 0) {
        warnOnce(model_, "faces or lines with invalid vertex references were left out");
        return false;
      }
      out.push_back(static_cast<uint32_t>(v));
    }
    return true;
  }

  void face(std::string_view rest) {
    if (!readVertices(rest, true, scratch_) || scratch_.size() < 3) return;
    std::size_t added = (scratch_.size() - 2) * 3;
    if (!room(indices_ + added - 1, kMaxIndices, "faces and lines")) return;
    indices_ += added;
    auto& triangles = surface().triangles;
    for (std::size_t i = 1; i + 1 < scratch_.size(); ++i) {
      triangles.insert(triangles.end(), {scratch_[0], scratch_[i], scratch_[i + 1]});
    }
  }

  void polyline(std::string_view rest) {
    if (!readVertices(rest, false, scratch_) || scratch_.size() < 2) return;
    std::size_t added = (scratch_.size() - 1) * 2;
    if (!room(indices_ + added - 1, kMaxIndices, "faces and lines")) return;
    indices_ += added;
    auto& lines = surface().lines;
    for (std::size_t i = 0; i + 1 < scratch_.size(); ++i) lines.insert(lines.end(), {scratch_[i], scratch_[i + 1]});
  }

  void library(const std::string& name) {
    if (name.empty()) return;
    if (state_.libraries >= kMaxLibraries) {
      warnOnce(model_, "more than 16 material libraries: the rest are ignored");
      return;
    }
    ++state_.libraries;
    std::string path = folder_ + "/" + name;
    std::string text;
    if (!state_.reader(path, kMaxMtlFileBytes, text)) {
      warnOnce(model_, "material library " + path + " is missing or larger than 4 MiB");
      return;
    }
    std::string folder = path.substr(0, path.find_last_of('/'));
    parseMtlText(state_, text, folder);
  }

  void useMaterial(const std::string& name) {
    material_ = 0;
    for (std::size_t i = model_.materials.size(); i-- > 0;) {
      if (model_.materials[i].name == name) {
        material_ = static_cast<int>(i);
        break;
      }
    }
    surface_ = -1;
  }

  LoadState& state_;
  ModelData& model_;
  std::string folder_;
  std::vector<std::array<float, 3>> positions_;
  std::vector<std::array<float, 2>> texCoords_;
  std::vector<std::array<float, 3>> normals_;
  std::unordered_map<VertexKey, uint32_t, VertexKeyHash> shared_;
  std::vector<uint32_t> scratch_;
  std::size_t indices_ = 0;
  int material_ = 0;
  int surface_ = -1;
  int32_t group_ = 0;
};

std::array<float, 3> sub(const float* a, const float* b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
std::array<float, 3> cross(const std::array<float, 3>& a, const std::array<float, 3>& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
// Normalises in place; a zero vector stays zero instead of turning into NaNs.
bool normalise(float* v) {
  float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(length > 1e-20f) || !std::isfinite(length)) {
    v[0] = v[1] = v[2] = 0;
    return false;
  }
  for (int a = 0; a < 3; ++a) v[a] /= length;
  return true;
}

std::mutex& loadLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

const char* describe(TgaResult result) {
  switch (result) {
    case TgaResult::Ok: return "ok";
    case TgaResult::TooShort: return "shorter than a TGA header";
    case TgaResult::NotUncompressedTrueColour: return "not an uncompressed true-colour TGA (type 2)";
    case TgaResult::UnsupportedDepth: return "neither 24 nor 32 bits per pixel";
    case TgaResult::BadSize: return "width or height is 0 or larger than 8192, or over 16 Mi pixels";
    case TgaResult::Truncated: return "pixel data is cut short";
  }
  return "?";
}

TgaResult decodeTga(const uint8_t* data, std::size_t size, TgaImage& out) {
  out = TgaImage{};
  if (size < 18) return TgaResult::TooShort;
  const std::size_t idLength = data[0];
  const int colourMapType = data[1];
  const int imageType = data[2];
  const std::size_t mapLength = data[5] | (data[6] << 8);
  const std::size_t mapEntryBits = data[7];
  const int width = data[12] | (data[13] << 8);
  const int height = data[14] | (data[15] << 8);
  const int depth = data[16];
  if (imageType != 2) return TgaResult::NotUncompressedTrueColour;
  if (depth != 24 && depth != 32) return TgaResult::UnsupportedDepth;
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide ||
      static_cast<std::size_t>(width) * height > kMaxTexturePixels)
    return TgaResult::BadSize;
  // A true-colour image may still carry a colour map, which sits between the identification
  // field and the pixels.
  const std::size_t mapBytes = colourMapType == 1 ? mapLength * ((mapEntryBits + 7) / 8) : 0;
  const std::size_t offset = 18 + idLength + mapBytes;
  const std::size_t bytes = static_cast<std::size_t>(width) * height * (depth / 8);
  if (offset > size || size - offset < bytes) return TgaResult::Truncated;
  out.width = width;
  out.height = height;
  out.bytesPerPixel = depth / 8;
  out.pixels.assign(data + offset, data + offset + bytes);
  return TgaResult::Ok;
}

bool readFileLimited(const std::string& path, std::size_t maxBytes, std::string& out) {
  out.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0 || static_cast<unsigned long long>(size) > maxBytes) return false;  // also directories
  in.seekg(0);
  out.resize(static_cast<std::size_t>(size));
  in.read(out.data(), size);
  return in.gcount() == size;
}

Material defaultMaterial(std::string name) {
  Material m;
  m.name = std::move(name);
  const float colours[kMapKinds][4] = {
      {1, 1, 1, 1},        // diffuse
      {0.2f, 0.2f, 0.2f, 1},  // ambient
      {0, 0, 0, 1},        // emissive
      {0, 0, 0, 1},        // specular
      {0, 0, 0, 1},        // shininess
      {0.5f, 0.5f, 1, 1},  // normal: pointing straight out of the surface
  };
  for (int k = 0; k < kMapKinds; ++k) std::copy_n(colours[k], 4, m.properties[k].colour);
  return m;
}

void parseMtl(std::string_view text, const std::string& folder, const FileReader& reader, ModelData& model) {
  LoadState state(reader, model);
  parseMtlText(state, text, folder);
}

std::optional<ModelData> parseObj(std::string_view text, const std::string& folder, const FileReader& reader,
                                  const std::atomic<bool>* cancel) {
  ModelData model;
  LoadState state(reader, model);
  ObjParser parser(state, folder);
  bool cancelled = false;
  std::size_t lines = 0;
  forEachLine(text, model.warnings, [&](std::string_view line) {
    if ((++lines & 4095) == 0 && cancel && cancel->load()) {
      cancelled = true;
      return false;
    }
    return parser.line(line);
  });
  if (cancelled) return std::nullopt;
  parser.finish();
  prepareModel(model);
  return model;
}

void prepareModel(ModelData& model) {
  // Clean-up: surfaces with nothing to draw, then materials no surface uses.
  std::erase_if(model.surfaces, [](const Surface& s) { return s.triangles.empty() && s.lines.empty(); });
  std::vector<int> remap(model.materials.size(), -1);
  std::vector<Material> used;
  for (Surface& s : model.surfaces) {
    if (remap[s.material] < 0) {
      remap[s.material] = static_cast<int>(used.size());
      used.push_back(std::move(model.materials[s.material]));
    }
    s.material = remap[s.material];
  }
  model.materials = std::move(used);

  // Tangents along the direction in which the second texture coordinate grows, for normal maps.
  for (Vertex& v : model.vertices) {
    normalise(v.normal);
    std::fill_n(v.tangent, 3, 0.0f);
  }
  for (const Surface& s : model.surfaces) {
    for (std::size_t i = 0; i + 2 < s.triangles.size(); i += 3) {
      Vertex* v[3] = {&model.vertices[s.triangles[i]], &model.vertices[s.triangles[i + 1]],
                      &model.vertices[s.triangles[i + 2]]};
      const float t1 = v[1]->texCoord[1] - v[0]->texCoord[1];
      const float t2 = v[2]->texCoord[1] - v[0]->texCoord[1];
      auto e1 = sub(v[1]->position, v[0]->position);
      auto e2 = sub(v[2]->position, v[0]->position);
      float t[3] = {t2 * e1[0] - t1 * e2[0], t2 * e1[1] - t1 * e2[1], t2 * e1[2] - t1 * e2[2]};
      if (!normalise(t)) continue;
      for (Vertex* x : v)
        for (int a = 0; a < 3; ++a) x->tangent[a] += t[a];
    }
  }
  for (Vertex& v : model.vertices) {
    std::array<float, 3> n{v.normal[0], v.normal[1], v.normal[2]};
    std::array<float, 3> t{v.tangent[0], v.tangent[1], v.tangent[2]};
    auto r = cross(cross(n, t), n);
    std::copy_n(r.data(), 3, v.tangent);
    normalise(v.tangent);
  }

  // Opaque before translucent, so that translucent surfaces blend over what lies behind them.
  std::stable_sort(model.surfaces.begin(), model.surfaces.end(), [&](const Surface& a, const Surface& b) {
    return model.materials[a.material].properties[kDiffuse].colour[3] >
           model.materials[b.material].properties[kDiffuse].colour[3];
  });
}

std::optional<ModelData> loadObjFile(const std::string& path, std::string* error, const std::atomic<bool>* cancel) {
  std::lock_guard<std::mutex> guard(loadLock());
  std::string text;
  if (!readFileLimited(path, kMaxObjFileBytes, text)) {
    if (error) *error = "Cannot read " + path + " (missing, unreadable or over 64 MiB): reinstall the bundle.";
    return std::nullopt;
  }
  std::size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  auto model = parseObj(text, folder, readFileLimited, cancel);
  if (!model && error) *error = "Loading " + path + " was cancelled.";
  return model;
}

}  // namespace korvel::model
