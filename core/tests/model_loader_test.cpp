// The OBJ/MTL/TGA readers and the 3D view's camera, without a display or OpenGL.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "viewer3d/obj_model.h"
#include "viewer3d/viewer_camera.h"

namespace fs = std::filesystem;
using namespace korvel::model;

namespace {

// Companion files served from memory; records every path asked for.
struct Files {
  std::map<std::string, std::string> content;
  std::vector<std::string> asked;
  FileReader reader() {
    return [this](const std::string& path, std::size_t maxBytes, std::string& out) {
      asked.push_back(path);
      auto it = content.find(path);
      if (it == content.end() || it->second.size() > maxBytes) return false;
      out = it->second;
      return true;
    };
  }
};

std::string tga(int type, int width, int height, int depth, std::size_t pixelBytes, int idLength = 0,
                int mapLength = 0, int mapBits = 0) {
  std::string h(18, '\0');
  h[0] = static_cast<char>(idLength);
  h[1] = mapLength ? 1 : 0;
  h[2] = static_cast<char>(type);
  h[5] = static_cast<char>(mapLength & 0xFF);
  h[6] = static_cast<char>(mapLength >> 8);
  h[7] = static_cast<char>(mapBits);
  h[12] = static_cast<char>(width & 0xFF);
  h[13] = static_cast<char>(width >> 8);
  h[14] = static_cast<char>(height & 0xFF);
  h[15] = static_cast<char>(height >> 8);
  h[16] = static_cast<char>(depth);
  h += std::string(static_cast<std::size_t>(idLength), 'I');
  h += std::string(static_cast<std::size_t>(mapLength * ((mapBits + 7) / 8)), 'M');
  for (std::size_t i = 0; i < pixelBytes; ++i) h += static_cast<char>(i & 0xFF);
  return h;
}

TgaResult decode(const std::string& bytes, TgaImage& image) {
  return decodeTga(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), image);
}

ModelData parse(const std::string& obj, Files& files) {
  auto model = parseObj(obj, "dir", files.reader());
  EXPECT_TRUE(model.has_value());
  return model ? *model : ModelData{};
}

const std::string kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nvn 0 0 2\n";

}  // namespace

TEST(ObjModel, FaceVerticesAreSharedWithinASmoothingGroupOnly) {
  Files files;
  ModelData m = parse(kTriangle + "v 1 1 0\ns 1\nf 1/1/1 2/2/1 3/3/1\nf 1/1/1 3/3/1 4/1/1\ns 2\nf 1/1/1 2/2/1 3/3/1\n", files);
  ASSERT_EQ(m.surfaces.size(), 1u);
  const auto& t = m.surfaces[0].triangles;
  ASSERT_EQ(t.size(), 9u);
  EXPECT_EQ(t[0], t[3]) << "same position/texture/normal in group 1: one vertex";
  EXPECT_EQ(t[2], t[4]);
  EXPECT_NE(t[6], t[0]) << "group 2 makes new vertices for the same reference";
  EXPECT_EQ(m.vertices.size(), 7u);
  // A different texture index in the same group is a different vertex.
  ModelData n = parse(kTriangle + "f 1/1/1 2/2/1 3/3/1\nf 1/2/1 2/2/1 3/3/1\n", files);
  EXPECT_EQ(n.vertices.size(), 4u);
}

TEST(ObjModel, NegativeIndicesCountBackFromTheElementsReadSoFar) {
  Files files;
  ModelData m = parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\nv 5 5 5\nf -4 -1 -2\n", files);
  ASSERT_EQ(m.surfaces.size(), 1u);
  const auto& t = m.surfaces[0].triangles;
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(m.vertices[t[2]].position[1], 1.0f) << "-1 is the last position read so far";
  EXPECT_EQ(m.vertices[t[4]].position[0], 5.0f) << "after a fourth v, -1 is the new one";
  EXPECT_EQ(t[0], t[3]);
  // Every face form, a polygon fanned into triangles, and a polyline of n - 1 segments.
  ModelData forms = parse(kTriangle + "v 1 1 0\nf 1/1/1 2/2/1 3/3/1 4/1/1\nf 1/1 2/2 3/3\nf 1//1 2//1 3//1\nf 1 2 3\nl 1 2/2 3 4\n", files);
  ASSERT_EQ(forms.surfaces.size(), 1u);
  EXPECT_EQ(forms.surfaces[0].triangles.size(), 5u * 3);
  EXPECT_EQ(forms.surfaces[0].lines.size(), 3u * 2);
}

TEST(ObjModel, PreparationNormalisesAndBuildsTangentsAndBounds) {
  Files files;
  ModelData m = parse(kTriangle + "v -3 4 0\nf 1/1/1 2/2/1 3/3/1\n", files);
  ASSERT_EQ(m.vertices.size(), 3u);
  for (const Vertex& v : m.vertices) {
    EXPECT_FLOAT_EQ(v.normal[2], 1.0f) << "normal (0,0,2) normalised";
    EXPECT_NEAR(v.tangent[0], 1.0f, 1e-6) << "the second coordinate grows along y: tangent along x";
    EXPECT_NEAR(v.tangent[1], 0.0f, 1e-6);
    EXPECT_NEAR(v.tangent[2], 0.0f, 1e-6);
  }
  EXPECT_EQ(m.minimum[0], -3.0f);
  EXPECT_EQ(m.maximum[1], 4.0f);
  EXPECT_FLOAT_EQ(m.radius, 5.0f) << "bounds count every position read, used or not";
  // A face whose texture coordinates are all equal has no tangent direction: zero, not NaN.
  ModelData flat = parse("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", files);
  for (const Vertex& v : flat.vertices)
    for (float f : v.tangent) EXPECT_EQ(f, 0.0f);
}

TEST(ObjModel, MaterialsOrderOpaqueSurfacesBeforeTranslucentOnesAndDropUnusedOnes) {
  Files files;
  files.content["dir/m.mtl"] =
      "newmtl glass\nKd 0 0 1\nd 0.25\nnewmtl smoke\nTr 0.5\nnewmtl wood\nKd 0.5 0.25 0\nwireframe 1\n"
      "newmtl unused\nKd 1 1 1\n";
  ModelData m = parse("mtllib m.mtl\n" + kTriangle + "usemtl glass\nf 1 2 3\nusemtl smoke\nf 1 2 3\nusemtl wood\nf 1 2 3\n"
                      "usemtl unused\n", files);
  ASSERT_EQ(m.surfaces.size(), 3u);
  ASSERT_EQ(m.materials.size(), 3u) << "default and unused materials are dropped";
  EXPECT_EQ(m.materials[m.surfaces[0].material].name, "wood");
  EXPECT_EQ(m.materials[m.surfaces[1].material].name, "smoke");
  EXPECT_EQ(m.materials[m.surfaces[2].material].name, "glass");
  EXPECT_FLOAT_EQ(m.materials[m.surfaces[1].material].properties[kDiffuse].colour[3], 0.5f);
  EXPECT_EQ(m.surfaces[0].wireframe, 1);
  EXPECT_FLOAT_EQ(m.materials[m.surfaces[0].material].properties[kDiffuse].colour[1], 0.25f);
  // Faces after usemtl of an existing material's name join its surface.
  ModelData again = parse("mtllib m.mtl\n" + kTriangle + "usemtl wood\nf 1 2 3\nusemtl glass\nf 1 2 3\nusemtl wood\nf 3 2 1\n", files);
  ASSERT_EQ(again.surfaces.size(), 2u);
  EXPECT_EQ(again.surfaces[0].triangles.size(), 6u);
}

TEST(Tga, AcceptsUncompressedTrueColourOf24And32Bits) {
  TgaImage image;
  ASSERT_EQ(decode(tga(2, 3, 2, 24, 18), image), TgaResult::Ok);
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.bytesPerPixel, 3);
  ASSERT_EQ(image.pixels.size(), 18u);
  EXPECT_EQ(image.pixels[0], 0) << "pixels kept in the file's order";
  EXPECT_EQ(image.pixels[17], 17);
  ASSERT_EQ(decode(tga(2, 2, 2, 32, 16, /*id*/ 5, /*map*/ 4, 24), image), TgaResult::Ok);
  EXPECT_EQ(image.bytesPerPixel, 4);
  EXPECT_EQ(image.pixels[0], 0) << "identification field and colour map are skipped";
  EXPECT_EQ(image.pixels[15], 15);
}

TEST(Tga, RefusesOtherTypesDepthsAndShortOrHugeImages) {
  TgaImage image;
  EXPECT_EQ(decode(tga(10, 2, 2, 24, 12), image), TgaResult::NotUncompressedTrueColour) << "run-length encoded";
  EXPECT_EQ(decode(tga(1, 2, 2, 8, 4, 0, 256, 24), image), TgaResult::NotUncompressedTrueColour) << "colour-mapped";
  EXPECT_EQ(decode(tga(3, 2, 2, 8, 4), image), TgaResult::NotUncompressedTrueColour) << "grey";
  EXPECT_EQ(decode(tga(2, 2, 2, 16, 8), image), TgaResult::UnsupportedDepth);
  EXPECT_EQ(decode(tga(2, 2, 2, 24, 11), image), TgaResult::Truncated) << "one byte short";
  EXPECT_EQ(decode(tga(2, 0, 2, 24, 0), image), TgaResult::BadSize);
  EXPECT_EQ(decode(tga(2, 65535, 65535, 32, 16), image), TgaResult::BadSize) << "refused before any allocation";
  EXPECT_EQ(decode(tga(2, 8192, 8192, 24, 16), image), TgaResult::BadSize) << "over 16 Mi pixels";
  EXPECT_EQ(decode(tga(2, 4096, 4096, 24, 16), image), TgaResult::Truncated);
  EXPECT_EQ(decode(std::string(17, '\0'), image), TgaResult::TooShort);
  EXPECT_TRUE(image.pixels.empty());
}

TEST(Mtl, MapNamesAreCutAfterTheTgaExtensionAndOnlyTgaFilesGiveImages) {
  Files files;
  files.content["dir/a.tga"] = tga(2, 1, 1, 24, 3);
  files.content["dir/b.TGA"] = tga(2, 1, 1, 32, 4);
  files.content["dir/rle.tga"] = tga(10, 1, 1, 24, 3);
  files.content["dir/c.png"] = tga(2, 1, 1, 24, 3);
  ModelData m;
  parseMtl("newmtl x\nmap_Kd -clamp on -s 2 3 -o 0.5 a.tga trailing words\nmap_Kn b.TGA\nmap_Ks rle.tga\n"
           "map_Ka c.png\nmap_Ke missing.tga\n",
           "dir", files.reader(), m);
  ASSERT_EQ(m.materials.size(), 1u);
  const auto& p = m.materials[0].properties;
  ASSERT_TRUE(p[kDiffuse].texture.has_value());
  EXPECT_EQ(p[kDiffuse].texture->file, "dir/a.tga");
  EXPECT_TRUE(p[kDiffuse].texture->clamp);
  EXPECT_EQ(p[kDiffuse].texture->scale[1], 3.0f);
  EXPECT_EQ(p[kDiffuse].texture->scale[2], 1.0f);
  EXPECT_EQ(p[kDiffuse].texture->offset[0], 0.5f);
  EXPECT_NE(p[kDiffuse].texture->image, nullptr);
  EXPECT_NE(p[kNormal].texture->image, nullptr);
  EXPECT_EQ(p[kSpecular].texture->image, nullptr) << "run-length encoded: no image";
  EXPECT_EQ(p[kAmbient].texture->image, nullptr) << "not a .tga name: no image";
  EXPECT_EQ(p[kAmbient].texture->file, "");
  EXPECT_EQ(p[kEmissive].texture->image, nullptr) << "missing file";
  EXPECT_FALSE(m.warnings.empty());
}

TEST(ObjModel, HostileInputGivesAPartialModelWithinItsLimits) {
  Files files;
  // Indices that are zero, out of range, huge or not numbers drop their face; the rest stays.
  ModelData bad = parse(kTriangle +
                            "f 1 2 3\nf 0 1 2\nf 1 2 4\nf 1 2 -4\nf 1 2 99999999999999999999999\nf 1/9 2 3\n"
                            "f 1//9 2 3\nf a b c\nf 1/1/1/1 2 3\nf 1 2\nl 1\nf 1 2 3 nan\n",
                        files);
  ASSERT_EQ(bad.surfaces.size(), 1u);
  EXPECT_EQ(bad.surfaces[0].triangles.size(), 3u);
  EXPECT_FALSE(bad.warnings.empty());
  // An over-long line is cut, and its tail is not read as a line of its own.
  ModelData longLine = parse(kTriangle + "# " + std::string(1100, 'x') + "\nf 1 2 3\n" + std::string(1030, ' ') +
                                 "f 3 2 1\n",
                             files);
  ASSERT_EQ(longLine.surfaces.size(), 1u);
  EXPECT_EQ(longLine.surfaces[0].triangles.size(), 3u) << "the cut tail \"f 3 2 1\" must not count";
  // Non-numbers and infinities become 0 rather than poisoning the bounds.
  ModelData inf = parse("v inf -inf nan\nv 1e39 2 3\nv 1 2\nf 1 2 3\n", files);
  EXPECT_TRUE(std::isfinite(inf.radius));
  // The same library named again and again is read 16 times at most; a thousand materials are cut.
  std::string many;
  for (int i = 0; i < 2000; ++i) many += "newmtl m" + std::to_string(i) + "\n";
  files.content["dir/many.mtl"] = many;
  std::string obj;
  for (int i = 0; i < 100; ++i) obj += "mtllib many.mtl\n";
  ModelData libs = parse(obj + kTriangle + "usemtl m1500\nf 1 2 3\n", files);
  EXPECT_EQ(files.asked.size(), 16u);
  EXPECT_EQ(libs.materials.size(), 1u) << "m1500 was never defined: the face uses the default material";
  EXPECT_EQ(libs.materials[0].name, "default");
  // Empty, binary and truncated input.
  EXPECT_TRUE(parse("", files).surfaces.empty());
  EXPECT_TRUE(parse(std::string("\0\xff\x01v", 4), files).vertices.empty());
  EXPECT_TRUE(parse("v 1 2 3\nf 1 2 3 4 5 6 7 8 9 1", files).surfaces.empty());
}

TEST(ObjModel, LoadingAFileTellsWhyItFailed) {
  std::string error;
  EXPECT_FALSE(loadObjFile("/nonexistent/model.obj", &error).has_value());
  EXPECT_NE(error.find("/nonexistent/model.obj"), std::string::npos) << error;
  EXPECT_FALSE(loadObjFile(fs::temp_directory_path().string(), &error).has_value()) << "a folder is no model";
  fs::path dir = fs::temp_directory_path() / ("korvel-model-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "m.obj") << "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n";
  std::ofstream(dir / "m.mtl") << "newmtl red\nKd 1 0 0\nmap_Kd t.tga\n";
  std::ofstream(dir / "t.tga", std::ios::binary) << tga(2, 1, 1, 24, 3);
  auto model = loadObjFile((dir / "m.obj").string(), &error);
  ASSERT_TRUE(model.has_value());
  ASSERT_EQ(model->materials.size(), 1u);
  EXPECT_NE(model->materials[0].properties[kDiffuse].texture->image, nullptr) << "texture found beside the library";
  fs::remove_all(dir);
}

TEST(ViewerCamera, WheelArrowsCentreAndDragMoveTheCameraAsTheControlsSay) {
  using korvel::viewer::ViewerCamera;
  ViewerCamera c;
  c.reset();
  EXPECT_FLOAT_EQ(c.eye[2], 0.9264815f);
  c.wheel(120 * 5);
  EXPECT_NEAR(c.distance, 0.4264815f, 1e-6) << "five notches towards the model";
  c.wheel(120 * 10);
  EXPECT_EQ(c.distance, 0.0f) << "never below 0";
  c.wheel(-240);
  EXPECT_NEAR(c.distance, 0.2f, 1e-6);
  c.wheel(119);
  EXPECT_NEAR(c.distance, 0.2f, 1e-6) << "less than a notch does nothing";
  for (int i = 0; i < 50; ++i) c.moveTarget(korvel::viewer::kTargetStep, 0);
  EXPECT_NEAR(c.target[0], 0.5f, 1e-5) << "one second of left arrow at one step per 20 ms poll";
  c.animate(true);
  EXPECT_FLOAT_EQ(c.rotation[1], 0.5f);
  EXPECT_NEAR(c.eye[0], 0.5f + 0.2f * std::sin(-0.5f * korvel::viewer::kDegrees), 1e-6);
  c.beginDrag(10, 10);
  c.moveTarget(1, 1);
  c.centre();
  EXPECT_NEAR(c.target[0], 0.5f, 1e-5) << "keys do nothing while dragging";
  c.dragTo(10 + 400, 10 - 30);
  EXPECT_FLOAT_EQ(c.rotation[1], std::fmod(0.5f + 400, 360.0f));
  EXPECT_FLOAT_EQ(c.rotation[0], -30.0f);
  c.animate(true);
  EXPECT_FLOAT_EQ(c.rotation[0], -30.0f) << "no turning while dragging";
  c.endDrag();
  c.animate(true);
  EXPECT_FLOAT_EQ(c.rotation[0], -30.0f * 0.96f) << "the view levels out";
  c.centre();
  EXPECT_EQ(c.target[0], 0.0f);
  EXPECT_EQ(c.rotation[1], 0.0f);
  EXPECT_FLOAT_EQ(c.eye[2], 0.2f);
  c.rotation[1] = 360.2f;
  c.animate(false);
  EXPECT_EQ(c.rotation[1], 0.0f) << "yaw past 360 starts again at 0";
}

TEST(ViewerCamera, ModelViewLooksFromTheEyeTowardsTheTarget) {
  using namespace korvel::viewer;
  ViewerCamera c;
  c.reset();
  c.rotation[0] = 20;
  c.rotation[1] = 70;
  c.updateEye();
  const Mat4 m = modelView(c);
  // The target (origin) lies straight ahead on the view's −z axis at the camera's distance.
  const float x = m[3], y = m[7], z = m[11];
  EXPECT_NEAR(x, 0, 1e-5);
  EXPECT_NEAR(y, 0, 1e-5);
  EXPECT_NEAR(z, -kStartDistance, 1e-5);
  const Mat3 n = normalMatrix(m);
  EXPECT_NEAR(n[0], m[0], 1e-5) << "a rotation is its own normal matrix";
  EXPECT_NEAR(n[5], m[6], 1e-5);
}
