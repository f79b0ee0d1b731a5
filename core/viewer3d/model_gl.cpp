#include "viewer3d/model_gl.h"

#include <GL/glew.h>

#include <cstddef>
#include <map>

namespace korvel::model {

namespace {

unsigned int uploadImage(const TgaImage& image, bool clamp) {
  GLuint id = 0;
  glGenTextures(1, &id);
  glBindTexture(GL_TEXTURE_2D, id);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  const GLint wrap = clamp ? GL_CLAMP_TO_EDGE : GL_REPEAT;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);  // 24-bit rows need not be 4-byte aligned
  if (image.bytesPerPixel == 4) {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 image.pixels.data());
  } else {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, image.width, image.height, 0, GL_BGR, GL_UNSIGNED_BYTE,
                 image.pixels.data());
  }
  glGenerateMipmap(GL_TEXTURE_2D);
  return id;
}

unsigned int uploadColour(const float* colour) {
  TgaImage texel;
  texel.width = texel.height = 1;
  texel.bytesPerPixel = 4;
  auto byte = [](float v) { return static_cast<uint8_t>(v <= 0 ? 0 : v >= 1 ? 255 : v * 255.0f + 0.5f); };
  texel.pixels = {byte(colour[2]), byte(colour[1]), byte(colour[0]), byte(colour[3])};
  return uploadImage(texel, true);
}

unsigned int uploadIndices(const std::vector<uint32_t>& indices) {
  if (indices.empty()) return 0;
  GLuint id = 0;
  glGenBuffers(1, &id);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, id);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint32_t)),
               indices.data(), GL_STATIC_DRAW);
  return id;
}

}  // namespace

std::unique_ptr<GlModel> uploadModel(ModelData data) {
  auto model = std::make_unique<GlModel>();
  model->data = std::move(data);
  const ModelData& d = model->data;
  glGenVertexArrays(1, &model->vertexArray);
  glBindVertexArray(model->vertexArray);
  glGenBuffers(1, &model->vertexBuffer);
  glBindBuffer(GL_ARRAY_BUFFER, model->vertexBuffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(d.vertices.size() * sizeof(Vertex)), d.vertices.data(),
               GL_STATIC_DRAW);
  for (const Surface& s : d.surfaces) model->surfaceBuffers.push_back({uploadIndices(s.triangles), uploadIndices(s.lines)});
  glBindVertexArray(0);

  std::map<const TgaImage*, unsigned int> uploaded;  // a file used by several maps is uploaded once
  for (const Material& m : d.materials) {
    std::array<unsigned int, kMapKinds> ids{};
    for (int k = 0; k < kMapKinds; ++k) {
      const MaterialProperty& p = m.properties[k];
      if (p.texture && p.texture->image) {
        auto [it, added] = uploaded.emplace(p.texture->image.get(), 0u);
        if (added) {
          it->second = uploadImage(*p.texture->image, p.texture->clamp);
          model->ownedTextures.push_back(it->second);
        }
        ids[k] = it->second;
      } else {
        ids[k] = uploadColour(p.colour);
        model->ownedTextures.push_back(ids[k]);
      }
    }
    model->textures.push_back(ids);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return model;
}

void bindSampler(GlModel& model, int kind, int colourLocation, int samplerLocation) {
  if (kind < 0 || kind >= kMapKinds) return;
  model.colourLocations[kind] = colourLocation;
  model.samplerLocations[kind] = samplerLocation;
}

void bindAttributes(GlModel& model, int tangent, int normal, int texCoord, int position) {
  model.tangentAttribute = tangent;
  model.normalAttribute = normal;
  model.texCoordAttribute = texCoord;
  model.positionAttribute = position;
  glBindVertexArray(model.vertexArray);
  glBindBuffer(GL_ARRAY_BUFFER, model.vertexBuffer);
  auto attribute = [](int location, int size, std::size_t offset) {
    if (location < 0) return;
    glEnableVertexAttribArray(static_cast<GLuint>(location));
    glVertexAttribPointer(static_cast<GLuint>(location), size, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                          reinterpret_cast<const void*>(offset));
  };
  attribute(tangent, 3, offsetof(Vertex, tangent));
  attribute(normal, 3, offsetof(Vertex, normal));
  attribute(texCoord, 2, offsetof(Vertex, texCoord));
  attribute(position, 3, offsetof(Vertex, position));
  glBindVertexArray(0);
}

void drawModel(const GlModel& model) {
  glBindVertexArray(model.vertexArray);
  for (std::size_t i = 0; i < model.data.surfaces.size(); ++i) {
    const Surface& s = model.data.surfaces[i];
    if (s.triangles.empty() && s.lines.empty()) continue;
    glPolygonMode(GL_FRONT_AND_BACK, s.wireframe ? GL_LINE : GL_FILL);
    const Material& m = model.data.materials[s.material];
    for (int k = 0; k < kMapKinds; ++k) {
      if (model.samplerLocations[k] >= 0) {
        glActiveTexture(GL_TEXTURE0 + k);
        glBindTexture(GL_TEXTURE_2D, model.textures[s.material][k]);
        glUniform1i(model.samplerLocations[k], k);
      }
      if (model.colourLocations[k] >= 0) glUniform4fv(model.colourLocations[k], 1, m.properties[k].colour);
    }
    const auto& buffers = model.surfaceBuffers[i];
    if (buffers.triangles) {
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers.triangles);
      glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(s.triangles.size()), GL_UNSIGNED_INT, nullptr);
    }
    if (buffers.lines) {
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers.lines);
      glDrawElements(GL_LINES, static_cast<GLsizei>(s.lines.size()), GL_UNSIGNED_INT, nullptr);
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glActiveTexture(GL_TEXTURE0);
  }
  glBindVertexArray(0);
}

void deleteModel(GlModel& model) {
  for (const auto& b : model.surfaceBuffers) {
    if (b.triangles) glDeleteBuffers(1, &b.triangles);
    if (b.lines) glDeleteBuffers(1, &b.lines);
  }
  if (!model.ownedTextures.empty())
    glDeleteTextures(static_cast<GLsizei>(model.ownedTextures.size()), model.ownedTextures.data());
  if (model.vertexBuffer) glDeleteBuffers(1, &model.vertexBuffer);
  if (model.vertexArray) glDeleteVertexArrays(1, &model.vertexArray);
  model = GlModel{};
}

}  // namespace korvel::model
