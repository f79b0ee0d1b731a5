// A small mesh builder for the bundles' 3D models: boxes, cylinders and cones built in
// millimetres (Y up from the board surface, X to the right, Z towards the board's front edge),
// then centred, scaled and tilted for the viewer and written as OBJ + MTL + TGA.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace modelgen {

struct Vec3 {
  float x = 0, y = 0, z = 0;
};
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 normalized(Vec3 a) {
  const float l = std::sqrt(dot(a, a));
  return l > 0 ? a * (1.0f / l) : a;
}

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// A picture in memory, rows bottom-up as TGA and OpenGL keep them.
struct Image {
  int width = 0, height = 0;
  bool alpha = false;
  std::vector<uint8_t> rgba;  // width * height * 4
  void set(int x, int y, Rgb c, uint8_t a = 255) {
    uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = a;
  }
};
Image makeImage(int width, int height, Rgb fill, bool alpha = false);

// A material is either shaded (its texture is a dark-to-light ramp of its colour, and each
// vertex picks its brightness from its normal, so the model looks lit whatever the viewer's
// shader does with normals) or a picture mapped onto the top faces of boxes.
struct Material {
  std::string name;
  Rgb colour;
  float opacity = 1.0f;
  float shininess = 10.0f;
  bool picture = false;
  Image image;  // the picture, or empty for a ramp
};

struct Vertex {
  Vec3 p, n;
  float u = 0, v = 0;
};

class Mesh {
 public:
  // Adds a shaded material; returns its name for the builders below.
  std::string material(const std::string& name, Rgb colour, float opacity = 1.0f,
                       float shininess = 10.0f);
  std::string pictureMaterial(const std::string& name, Image image);

  // Axis-aligned box from lo to hi. A non-empty topMaterial (a picture) covers the +Y face,
  // mapped with u along X and v along -Z.
  void box(Vec3 lo, Vec3 hi, const std::string& mat, const std::string& topMaterial = "");
  // Upright frustum around (cx, cz) from y0 (radius r0) to y1 (radius r1). Up to 8 segments
  // are drawn flat (a hexagonal nut), more are smooth.
  void frustum(float cx, float cz, float y0, float y1, float r0, float r1, int segments,
               const std::string& mat, bool capTop = true, bool capBottom = false);
  void cylinder(float cx, float cz, float y0, float y1, float r, int segments,
                const std::string& mat, bool capTop = true) {
    frustum(cx, cz, y0, y1, r, r, segments, mat, capTop, false);
  }

  // Centres the model, scales its bounding sphere to `radius` and tilts it by `tiltDegrees`
  // about X (90 shows the top face-on to a camera on +Z).
  void fit(float radius, float tiltDegrees);

  int triangleCount() const;
  // Writes <dir>/<name>.obj, .mtl and one TGA per material; false with a message on failure.
  bool write(const std::string& dir, const std::string& name, const std::string& title,
             std::string& error) const;

 private:
  struct Batch {
    std::string material;
    bool smooth = false;
    std::vector<Vertex> corners;  // three per triangle
  };
  Batch& batch(const std::string& mat, bool smooth);
  void triangle(const std::string& mat, bool smooth, Vertex a, Vertex b, Vertex c);
  void quad(const std::string& mat, Vec3 centre, Vec3 u, Vec3 v, Vec3 n, bool picture);
  const Material* find(const std::string& name) const;

  std::vector<Material> materials_;
  std::vector<Batch> batches_;
};

bool writeTga(const std::string& path, const Image& image);
// Reads an uncompressed 24- or 32-bit BMP; false with a message on failure.
bool readBmp(const std::string& path, Image& image, std::string& error);
// Halves a picture by averaging 2 x 2 blocks.
Image halve(const Image& image);

}  // namespace modelgen
