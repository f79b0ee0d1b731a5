// The view page's shader sources (GLSL 1.50, the core profile of OpenGL 3.2), embedded in the
// library under the numeric ids by which the page looks them up.
#pragma once

namespace korvel::viewer {

inline constexpr int kVertexShaderId = 1027;
inline constexpr int kFragmentShaderId = 1031;

// Normal and tangent go to eye space, and the view and light vectors into the surface's tangent
// space, ready for normal mapping.
inline constexpr const char* kVertexShader = R"glsl(#version 150
in vec4 vPosition;
in vec3 vNormal;
in vec3 vTangent;
in vec2 vTexCoord;

uniform mat4 ProjectionMatrix;
uniform mat4 ModelViewMatrix;
uniform mat3 NormalMatrix;
uniform vec4 LightPosition;

out vec3 LightDirection;
out vec3 EyeDirection;
out vec2 TexCoord;

void main() {
  vec3 eyePosition = vec3(ModelViewMatrix * vPosition);
  vec3 n = normalize(NormalMatrix * vNormal);
  vec3 t = normalize(NormalMatrix * vTangent);
  vec3 b = cross(n, t);
  vec3 light = vec3(ModelViewMatrix * LightPosition) - eyePosition;
  LightDirection = vec3(dot(light, t), dot(light, b), dot(light, n));
  vec3 view = -eyePosition;
  EyeDirection = vec3(dot(view, t), dot(view, b), dot(view, n));
  TexCoord = vTexCoord;
  gl_Position = ProjectionMatrix * ModelViewMatrix * vPosition;
}
)glsl";

// The picture is ambient plus full diffuse plus specular; the lighting vectors are there for the
// normal map but do not change the colour.
inline constexpr const char* kFragmentShader = R"glsl(#version 150
in vec3 LightDirection;
in vec3 EyeDirection;
in vec2 TexCoord;

uniform sampler2D NormalTexture;
uniform sampler2D DiffuseTexture;
uniform sampler2D SpecularTexture;
uniform vec4 AmbientLight;

out vec4 FragColor;

void main() {
  vec4 normal = texture(NormalTexture, TexCoord);
  vec4 diffuse = texture(DiffuseTexture, TexCoord);
  vec4 specular = texture(SpecularTexture, TexCoord);
  vec3 colour = AmbientLight.rgb * diffuse.rgb + diffuse.rgb + specular.rgb;
  FragColor = vec4(colour, diffuse.a);
}
)glsl";

// The source of a shader by its id, or null.
inline const char* shaderSource(int id) {
  return id == kVertexShaderId ? kVertexShader : id == kFragmentShaderId ? kFragmentShader : nullptr;
}

}  // namespace korvel::viewer
