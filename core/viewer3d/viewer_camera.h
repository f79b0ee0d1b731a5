// The 3D view's camera: an eye orbiting a target at a distance, turned by pitch and yaw in
// degrees, and the matrices the shaders receive. No window or OpenGL here: the view page keeps
// one under its lock and tests drive it directly.
#pragma once

#include <array>

namespace korvel::viewer {

using Mat4 = std::array<float, 16>;  // row-major
using Mat3 = std::array<float, 9>;   // row-major

inline constexpr float kStartDistance = 0.9264815f;
inline constexpr float kDegrees = 0.01745329f;  // radians per degree
inline constexpr float kTargetStep = 0.01f;     // per arrow-key poll

struct ViewerCamera {
  float eye[3] = {0, 0, 0};
  float rotation[2] = {0, 0};  // pitch, yaw
  float previousEye[3] = {0, 0, 0};
  float previousRotation[2] = {0, 0};
  float target[3] = {0, 0, 0};
  float distance = 0;
  bool dragging = false;
  float dragStartEye[3] = {0, 0, 0};
  float dragStartRotation[2] = {0, 0};
  int dragStartX = 0, dragStartY = 0;

  // The model has just been loaded: the eye sits at the start distance on the z axis.
  void reset();
  // Eye from target, distance, pitch and yaw.
  void updateEye();
  // Copies eye and rotation to the previous values, from which the light is computed.
  void remember();
  // One animation frame (about 1/60 s): with autoRotate the view levels out and turns 0.5 degrees.
  void animate(bool autoRotate);
  void beginDrag(int x, int y);
  void dragTo(int x, int y);
  void endDrag() { dragging = false; }
  // Wheel: notches of 120; turning away from the user comes closer. Never below 0.
  void wheel(int rotation);
  // C: back to the start, unless dragging.
  void centre();
  // Arrow keys: dx, dy in steps, unless dragging.
  void moveTarget(float dx, float dy);
};

Mat4 perspective(float fovYDegrees, float aspect, float zNear, float zFar);
// Rx(pitch) × Ry(yaw) × translation by −eye.
Mat4 modelView(const ViewerCamera& camera);
// Inverse transpose of the model-view's upper 3×3.
Mat3 normalMatrix(const Mat4& modelView);
// Rx(previous pitch) × Ry(previous yaw) applied to (previous eye, 0).
std::array<float, 4> lightPosition(const ViewerCamera& camera);

}  // namespace korvel::viewer
