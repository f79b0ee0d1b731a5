// A prepared model (obj_model.h) in OpenGL buffers and textures, and its drawing. Every function
// here needs the model's OpenGL context current on the calling thread.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "viewer3d/obj_model.h"

namespace korvel::model {

struct GlModel {
  ModelData data;
  unsigned int vertexArray = 0;
  unsigned int vertexBuffer = 0;
  struct SurfaceBuffers {
    unsigned int triangles = 0;
    unsigned int lines = 0;
  };
  std::vector<SurfaceBuffers> surfaceBuffers;
  // Per material and kind: the texture, either the map's image or, for a kind without one, a
  // single texel of the material's colour, so that an untextured material shows its colour.
  std::vector<std::array<unsigned int, kMapKinds>> textures;
  std::vector<unsigned int> ownedTextures;
  std::array<int, kMapKinds> samplerLocations{-1, -1, -1, -1, -1, -1};
  std::array<int, kMapKinds> colourLocations{-1, -1, -1, -1, -1, -1};
  int tangentAttribute = -1, normalAttribute = -1, texCoordAttribute = -1, positionAttribute = -1;
};

// Uploads the model's vertices, index lists and textures.
std::unique_ptr<GlModel> uploadModel(ModelData data);
// Draws kind's texture from unit kind through samplerLocation, and its colour through
// colourLocation (-1: not bound).
void bindSampler(GlModel& model, int kind, int colourLocation, int samplerLocation);
void bindAttributes(GlModel& model, int tangent, int normal, int texCoord, int position);
// Draws every surface; the program must be in use.
void drawModel(const GlModel& model);
// Releases the buffers and textures; the model is empty afterwards.
void deleteModel(GlModel& model);

}  // namespace korvel::model
