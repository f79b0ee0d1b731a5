// Feeds arbitrary bytes to the model readers. The first byte picks the reader: OBJ, MTL or TGA.
// Every companion file an OBJ or MTL names (material library, texture) reads the same bytes, so
// one input reaches all three readers and their links. Checks what a drawing needs to be safe:
// every index names an existing vertex, every surface an existing material, every image has all
// of its pixels.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "viewer3d/obj_model.h"

using namespace korvel::model;

namespace {

void checkImage(const TgaImage& image) {
  if (image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * image.bytesPerPixel)
    __builtin_trap();
}

void checkModel(const ModelData& model) {
  for (const Surface& s : model.surfaces) {
    if (s.material < 0 || static_cast<std::size_t>(s.material) >= model.materials.size()) __builtin_trap();
    if (s.triangles.size() % 3 || s.lines.size() % 2) __builtin_trap();
    for (uint32_t i : s.triangles)
      if (i >= model.vertices.size()) __builtin_trap();
    for (uint32_t i : s.lines)
      if (i >= model.vertices.size()) __builtin_trap();
  }
  for (const Vertex& v : model.vertices)
    for (float f : v.tangent)
      if (!std::isfinite(f)) __builtin_trap();
  for (const Material& m : model.materials)
    for (const auto& p : m.properties)
      if (p.texture && p.texture->image) checkImage(*p.texture->image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int reader = data[0] % 3;
  std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  FileReader same = [&](const std::string&, std::size_t maxBytes, std::string& out) {
    if (input.size() > maxBytes) return false;
    out = input;
    return true;
  };
  if (reader == 0) {
    auto model = parseObj(input, "fuzz", same);
    if (!model) __builtin_trap();
    checkModel(*model);
  } else if (reader == 1) {
    ModelData model;
    model.materials.push_back(defaultMaterial("default"));
    parseMtl(input, "fuzz", same, model);
    checkModel(model);
  } else {
    TgaImage image;
    if (decodeTga(reinterpret_cast<const uint8_t*>(input.data()), input.size(), image) == TgaResult::Ok)
      checkImage(image);
  }
  return 0;
}
