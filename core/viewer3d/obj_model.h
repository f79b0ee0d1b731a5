// Wavefront OBJ models with MTL materials and uncompressed TGA textures, read and prepared for
// drawing without OpenGL or any window: what the 3D view uploads (model_gl.h) and what unit tests
// and the fuzz target exercise.
//
// Model, material and texture files are input from disk, so every reader is bounded: a hostile
// or truncated file gives an error or a partial model, never a crash, an endless loop or an
// unbounded allocation. The limits are the constants below.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::model {

// Map kinds, in material order; kind k is always drawn from texture unit k.
enum MapKind : int { kDiffuse = 0, kAmbient, kEmissive, kSpecular, kShininess, kNormal };
inline constexpr int kMapKinds = 6;

// Bounds on what one load may read and build.
inline constexpr std::size_t kMaxLineLength = 1024;            // longer lines: the rest is dropped
inline constexpr std::size_t kMaxObjFileBytes = 64u << 20;     // 64 MiB
inline constexpr std::size_t kMaxMtlFileBytes = 4u << 20;      // 4 MiB
inline constexpr std::size_t kMaxElements = 1u << 22;          // positions, coordinates, normals each
inline constexpr std::size_t kMaxVertices = 1u << 22;          // model vertices
inline constexpr std::size_t kMaxIndices = 1u << 24;           // triangle and line indices together
inline constexpr std::size_t kMaxMaterials = 1024;
inline constexpr int kMaxLibraries = 16;                       // "mtllib" lines honoured per model
inline constexpr int kMaxTextureSide = 8192;                   // pixels, width and height
inline constexpr std::size_t kMaxTexturePixels = 1u << 24;     // 16 Mi pixels per texture
inline constexpr std::size_t kMaxTextureBytes = 256u << 20;    // all textures of one model

// One model vertex: 11 floats, the layout of the vertex buffer.
struct Vertex {
  float tangent[3];
  float normal[3];
  float texCoord[2];
  float position[3];
};
static_assert(sizeof(Vertex) == 11 * sizeof(float));

// Pixels as the file stores them: rows bottom-up, BGR or BGRA.
struct TgaImage {
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;  // 3 or 4
  std::vector<uint8_t> pixels;
};

enum class TgaResult { Ok, TooShort, NotUncompressedTrueColour, UnsupportedDepth, BadSize, Truncated };
// Decodes an uncompressed true-colour TGA (image type 2, 24 or 32 bits).
TgaResult decodeTga(const uint8_t* data, std::size_t size, TgaImage& out);
const char* describe(TgaResult result);

struct Texture {
  std::string file;  // path as read from the library's folder; empty: no image
  bool clamp = false;
  float scale[3] = {1, 1, 1};
  float offset[3] = {0, 0, 0};
  std::shared_ptr<const TgaImage> image;  // null when the file is missing or refused
};

struct MaterialProperty {
  float colour[4] = {0, 0, 0, 1};
  std::optional<Texture> texture;
};

struct Material {
  std::string name;
  std::array<MaterialProperty, kMapKinds> properties;
  int wireframe = 0;
};

struct Surface {
  int material = 0;
  std::vector<uint32_t> triangles;  // three vertex indices each
  std::vector<uint32_t> lines;      // two vertex indices each
  int wireframe = 0;
};

struct ModelData {
  std::vector<Vertex> vertices;
  std::vector<Surface> surfaces;
  std::vector<Material> materials;
  float minimum[3] = {0, 0, 0};
  float maximum[3] = {0, 0, 0};
  float radius = 0;                   // largest distance of a position from the origin
  std::vector<std::string> warnings;  // what was dropped or refused, one line each
};

// Reads a whole file of at most maxBytes; false when it cannot be opened or is larger.
using FileReader = std::function<bool(const std::string& path, std::size_t maxBytes, std::string& out)>;
bool readFileLimited(const std::string& path, std::size_t maxBytes, std::string& out);

Material defaultMaterial(std::string name);

// Parses OBJ text whose companion files (material libraries, textures) live in folder, then
// prepares the model (clean-up, tangents, opaque surfaces first). cancel, when given and set,
// stops the parse early with no model.
std::optional<ModelData> parseObj(std::string_view text, const std::string& folder,
                                  const FileReader& reader, const std::atomic<bool>* cancel = nullptr);

// Appends the materials of one MTL text to the model; textures are read through reader from folder.
void parseMtl(std::string_view text, const std::string& folder, const FileReader& reader, ModelData& model);

// Loads an OBJ file with its materials and textures. Loads are serialised process-wide. Returns
// no model when the file cannot be read; error then says why in one line.
std::optional<ModelData> loadObjFile(const std::string& path, std::string* error = nullptr,
                                     const std::atomic<bool>* cancel = nullptr);

// The steps after parsing: drops empty surfaces and unused materials, computes tangents and
// orders the surfaces opaque first.
void prepareModel(ModelData& model);

}  // namespace korvel::model
