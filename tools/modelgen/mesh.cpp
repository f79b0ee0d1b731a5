#include "mesh.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

namespace modelgen {
namespace {

constexpr float kPi = 3.14159265f;
constexpr int kRampWidth = 64;

// The light the ramps are baked for: from above, a little left and in front.
const Vec3 kLight = normalized({-0.35f, 0.85f, 0.55f});

float shade(Vec3 n) { return 0.28f + 0.7f * std::max(0.0f, dot(normalized(n), kLight)); }

// Varies across every face so that no triangle has three equal second texture coordinates
// (the viewer derives tangents from them); the ramp is constant along v, so it does not show.
float rampV(Vec3 p) { return 0.5f + 0.4f * std::sin(p.x * 0.9f + p.y * 1.3f + p.z * 0.7f); }

Image ramp(const Material& m) {
  Image image = makeImage(kRampWidth, 4, {}, m.opacity < 1.0f);
  const float shine = std::min(1.0f, m.shininess / 100.0f);
  for (int x = 0; x < kRampWidth; ++x) {
    const float b = (x + 0.5f) / kRampWidth;
    const float highlight = std::max(0.0f, (b - 0.88f) / 0.12f) * 0.5f * shine;
    auto channel = [&](uint8_t c) {
      const float lit = c * b;
      return static_cast<uint8_t>(std::clamp(lit + (255.0f - lit) * highlight, 0.0f, 255.0f));
    };
    const Rgb c{channel(m.colour.r), channel(m.colour.g), channel(m.colour.b)};
    for (int y = 0; y < image.height; ++y)
      image.set(x, y, c, static_cast<uint8_t>(std::lround(m.opacity * 255)));
  }
  return image;
}

std::string fmt(const char* format, float a, float b, float c = 0) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, a, b, c);
  return buffer;
}

}  // namespace

Image makeImage(int width, int height, Rgb fill, bool alpha) {
  Image image;
  image.width = width;
  image.height = height;
  image.alpha = alpha;
  image.rgba.resize(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.set(x, y, fill);
  return image;
}

std::string Mesh::material(const std::string& name, Rgb colour, float opacity, float shininess) {
  if (!find(name)) materials_.push_back({name, colour, opacity, shininess, false, {}});
  return name;
}

std::string Mesh::pictureMaterial(const std::string& name, Image image) {
  if (!find(name)) materials_.push_back({name, {255, 255, 255}, 1.0f, 10.0f, true, std::move(image)});
  return name;
}

const Material* Mesh::find(const std::string& name) const {
  for (const auto& m : materials_)
    if (m.name == name) return &m;
  return nullptr;
}

Mesh::Batch& Mesh::batch(const std::string& mat, bool smooth) {
  for (auto& b : batches_)
    if (b.material == mat && b.smooth == smooth) return b;
  batches_.push_back({mat, smooth, {}});
  return batches_.back();
}

void Mesh::triangle(const std::string& mat, bool smooth, Vertex a, Vertex b, Vertex c) {
  auto& corners = batch(mat, smooth).corners;
  corners.push_back(a);
  corners.push_back(b);
  corners.push_back(c);
}

// One rectangle centred on `centre`, spanned by the half-axes u and v (u x v points along n).
void Mesh::quad(const std::string& mat, Vec3 centre, Vec3 u, Vec3 v, Vec3 n, bool picture) {
  const Vec3 p[4] = {centre - u - v, centre + u - v, centre + u + v, centre - u + v};
  // For a picture the corners run along (+Z, +X) on the top face: u is the Z half-axis.
  const float pu[4] = {0, 0, 1, 1};
  const float pv[4] = {1, 0, 0, 1};
  Vertex q[4];
  for (int i = 0; i < 4; ++i) {
    q[i].p = p[i];
    q[i].n = n;
    q[i].u = picture ? pu[i] : shade(n);
    q[i].v = picture ? pv[i] : rampV(p[i]);
  }
  triangle(mat, false, q[0], q[1], q[2]);
  triangle(mat, false, q[0], q[2], q[3]);
}

void Mesh::box(Vec3 lo, Vec3 hi, const std::string& mat, const std::string& topMaterial) {
  const Vec3 c = (lo + hi) * 0.5f;
  const Vec3 h = (hi - lo) * 0.5f;
  const Vec3 X{h.x, 0, 0}, Y{0, h.y, 0}, Z{0, 0, h.z};
  quad(mat, c + X, Y, Z, {1, 0, 0}, false);
  quad(mat, c - X, Z, Y, {-1, 0, 0}, false);
  if (topMaterial.empty())
    quad(mat, c + Y, Z, X, {0, 1, 0}, false);
  else
    quad(topMaterial, c + Y, Z, X, {0, 1, 0}, true);
  quad(mat, c - Y, X, Z, {0, -1, 0}, false);
  quad(mat, c + Z, X, Y, {0, 0, 1}, false);
  quad(mat, c - Z, Y, X, {0, 0, -1}, false);
}

void Mesh::frustum(float cx, float cz, float y0, float y1, float r0, float r1, int segments,
                   const std::string& mat, bool capTop, bool capBottom) {
  const bool smooth = segments > 8;
  const float slope = (r0 - r1) / std::max(1e-6f, y1 - y0);
  auto at = [&](int i, float y, float r) {
    const float a = 2 * kPi * i / segments;
    return Vec3{cx + r * std::cos(a), y, cz - r * std::sin(a)};
  };
  auto radial = [&](float a) { return normalized({std::cos(a), slope, -std::sin(a)}); };
  for (int i = 0; i < segments; ++i) {
    const float a0 = 2 * kPi * i / segments, a1 = 2 * kPi * (i + 1) / segments;
    const Vec3 n0 = smooth ? radial(a0) : radial((a0 + a1) / 2);
    const Vec3 n1 = smooth ? radial(a1) : n0;
    auto v = [&](Vec3 p, Vec3 n) { return Vertex{p, n, shade(n), rampV(p)}; };
    const Vertex b0 = v(at(i, y0, r0), n0), b1 = v(at(i + 1, y0, r0), n1);
    const Vertex t0 = v(at(i, y1, r1), n0), t1 = v(at(i + 1, y1, r1), n1);
    triangle(mat, smooth, b0, b1, t1);
    triangle(mat, smooth, b0, t1, t0);
    if (capTop && r1 > 0) {
      const Vec3 up{0, 1, 0};
      triangle(mat, false, v({cx, y1, cz}, up), v(t0.p, up), v(t1.p, up));
    }
    if (capBottom && r0 > 0) {
      const Vec3 down{0, -1, 0};
      triangle(mat, false, v({cx, y0, cz}, down), v(b1.p, down), v(b0.p, down));
    }
  }
}

void Mesh::fit(float radius, float tiltDegrees) {
  Vec3 lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
  for (const auto& b : batches_)
    for (const auto& v : b.corners) {
      lo = {std::min(lo.x, v.p.x), std::min(lo.y, v.p.y), std::min(lo.z, v.p.z)};
      hi = {std::max(hi.x, v.p.x), std::max(hi.y, v.p.y), std::max(hi.z, v.p.z)};
    }
  const Vec3 centre = (lo + hi) * 0.5f;
  float far = 0;
  for (const auto& b : batches_)
    for (const auto& v : b.corners) far = std::max(far, std::sqrt(dot(v.p - centre, v.p - centre)));
  const float scale = far > 0 ? radius / far : 1.0f;
  const float a = tiltDegrees * kPi / 180.0f, c = std::cos(a), s = std::sin(a);
  auto turn = [&](Vec3 p) { return Vec3{p.x, p.y * c - p.z * s, p.y * s + p.z * c}; };
  for (auto& b : batches_)
    for (auto& v : b.corners) {
      v.p = turn((v.p - centre) * scale);
      v.n = turn(v.n);
    }
}

int Mesh::triangleCount() const {
  size_t n = 0;
  for (const auto& b : batches_) n += b.corners.size() / 3;
  return static_cast<int>(n);
}

bool Mesh::write(const std::string& dir, const std::string& name, const std::string& title,
                 std::string& error) const {
  auto fail = [&](const std::string& path) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  };
  const std::string objPath = dir + "/" + name + ".obj", mtlPath = dir + "/" + name + ".mtl";

  std::ofstream mtl(mtlPath);
  if (!mtl) return fail(mtlPath);
  mtl << "# " << title << " (Korvel board emulator), materials\n";
  for (const auto& m : materials_) {
    bool used = false;
    for (const auto& b : batches_) used = used || b.material == m.name;
    if (!used) continue;
    const std::string texture = name + "_" + m.name + ".tga";
    if (!writeTga(dir + "/" + texture, m.picture ? m.image : ramp(m))) return fail(dir + "/" + texture);
    const float r = m.colour.r / 255.0f, g = m.colour.g / 255.0f, b = m.colour.b / 255.0f;
    mtl << "\nnewmtl " << m.name << "\n"
        << fmt("Ka %.3f %.3f %.3f\n", r * 0.2f, g * 0.2f, b * 0.2f)
        << fmt("Kd %.3f %.3f %.3f\n", r, g, b)
        << fmt("Ks %.3f %.3f %.3f\n", 0.3f * m.shininess / 100.0f, 0.3f * m.shininess / 100.0f,
               0.3f * m.shininess / 100.0f)
        << fmt("Ns %.1f %.1f %.1f\n", m.shininess, m.shininess, m.shininess)
        << fmt("d %.2f\n", m.opacity, 0) << "map_Kd " << texture << "\n";
  }
  if (!mtl.flush()) return fail(mtlPath);

  std::ofstream obj(objPath);
  if (!obj) return fail(objPath);
  obj << "# " << title << " (Korvel board emulator), " << triangleCount() << " triangles\n"
      << "mtllib " << name << ".mtl\no " << name << "\n";
  // Shared positions, texture coordinates and normals, each written once.
  std::map<std::string, int> positions, coords, normals;
  std::string body;
  auto index = [&](std::map<std::string, int>& table, const std::string& key, const char* tag) {
    auto [it, added] = table.emplace(key, static_cast<int>(table.size()) + 1);
    if (added) obj << tag << ' ' << key << '\n';
    return it->second;
  };
  for (const auto& b : batches_) {
    body += "usemtl " + b.material + "\n" + (b.smooth ? "s 1\n" : "s off\n");
    for (size_t i = 0; i < b.corners.size(); i += 3) {
      body += "f";
      for (size_t k = 0; k < 3; ++k) {
        const Vertex& v = b.corners[i + k];
        const int p = index(positions, fmt("%.5f %.5f %.5f", v.p.x, v.p.y, v.p.z), "v");
        const int t = index(coords, fmt("%.4f %.4f", v.u, v.v), "vt");
        const Vec3 n = normalized(v.n);
        const int q = index(normals, fmt("%.4f %.4f %.4f", n.x, n.y, n.z), "vn");
        body += " " + std::to_string(p) + "/" + std::to_string(t) + "/" + std::to_string(q);
      }
      body += "\n";
    }
  }
  obj << body;
  if (!obj.flush()) return fail(objPath);
  return true;
}

bool writeTga(const std::string& path, const Image& image) {
  std::ofstream out(path, std::ios::binary);
  if (!out) return false;
  const int bpp = image.alpha ? 32 : 24;
  const uint8_t header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              static_cast<uint8_t>(image.width & 0xFF),
                              static_cast<uint8_t>(image.width >> 8),
                              static_cast<uint8_t>(image.height & 0xFF),
                              static_cast<uint8_t>(image.height >> 8),
                              static_cast<uint8_t>(bpp),
                              static_cast<uint8_t>(image.alpha ? 8 : 0)};
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  std::vector<uint8_t> pixels;
  pixels.reserve(static_cast<size_t>(image.width) * image.height * 4);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    pixels.push_back(image.rgba[i + 2]);
    pixels.push_back(image.rgba[i + 1]);
    pixels.push_back(image.rgba[i]);
    if (image.alpha) pixels.push_back(image.rgba[i + 3]);
  }
  out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out.flush());
}

bool readBmp(const std::string& path, Image& image, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                                 static_cast<uint32_t>(data[at + 3]) << 24);
  };
  if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') {
    error = path + " is not a BMP file";
    return false;
  }
  const uint32_t offset = u32(10);
  const int32_t width = static_cast<int32_t>(u32(18)), height = static_cast<int32_t>(u32(22));
  const int bpp = data[28] | data[29] << 8;
  if ((bpp != 24 && bpp != 32) || u32(30) != 0 || width <= 0 || width > 8192 || height == 0 ||
      height > 8192 || height < -8192) {
    error = path + ": only uncompressed 24- or 32-bit BMP files are read";
    return false;
  }
  const int rows = std::abs(height);
  const size_t stride = (static_cast<size_t>(width) * (bpp / 8) + 3) / 4 * 4;
  if (offset + stride * rows > data.size()) {
    error = path + " is truncated";
    return false;
  }
  image = makeImage(width, rows, {});
  for (int r = 0; r < rows; ++r) {
    // Bottom-up files (positive height) already have the order we keep.
    const uint8_t* row = &data[offset + stride * (height > 0 ? r : rows - 1 - r)];
    for (int x = 0; x < width; ++x) {
      const uint8_t* px = row + x * (bpp / 8);
      image.set(x, r, {px[2], px[1], px[0]});
    }
  }
  return true;
}

Image halve(const Image& image) {
  Image out = makeImage(image.width / 2, image.height / 2, {}, image.alpha);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      int sum[4] = {};
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          for (int c = 0; c < 4; ++c)
            sum[c] += image.rgba[((static_cast<size_t>(2 * y + dy)) * image.width + 2 * x + dx) * 4 + c];
      out.set(x, y, {static_cast<uint8_t>(sum[0] / 4), static_cast<uint8_t>(sum[1] / 4),
                     static_cast<uint8_t>(sum[2] / 4)},
              static_cast<uint8_t>(sum[3] / 4));
    }
  return out;
}

}  // namespace modelgen
