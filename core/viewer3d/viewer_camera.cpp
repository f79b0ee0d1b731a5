#include "viewer3d/viewer_camera.h"

#include <algorithm>
#include <cmath>

namespace korvel::viewer {

namespace {

Mat4 multiply(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r[i * 4 + j] += a[i * 4 + k] * b[k * 4 + j];
  return r;
}

Mat4 identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Mat4 rotationX(float degrees) {
  const float c = std::cos(degrees * kDegrees), s = std::sin(degrees * kDegrees);
  return {1, 0, 0, 0, 0, c, -s, 0, 0, s, c, 0, 0, 0, 0, 1};
}

Mat4 rotationY(float degrees) {
  const float c = std::cos(degrees * kDegrees), s = std::sin(degrees * kDegrees);
  return {c, 0, s, 0, 0, 1, 0, 0, -s, 0, c, 0, 0, 0, 0, 1};
}

}  // namespace

void ViewerCamera::reset() {
  distance = kStartDistance;
  eye[0] = eye[1] = 0;
  eye[2] = distance;
  std::copy_n(eye, 3, previousEye);
}

void ViewerCamera::updateEye() {
  const float pitch = rotation[0] * kDegrees, yaw = rotation[1] * kDegrees;
  eye[0] = target[0] + distance * std::cos(pitch) * std::sin(-yaw);
  eye[1] = target[1] + distance * std::sin(pitch);
  eye[2] = distance * std::cos(pitch) * std::cos(-yaw);
}

void ViewerCamera::remember() {
  std::copy_n(eye, 3, previousEye);
  std::copy_n(rotation, 2, previousRotation);
}

void ViewerCamera::animate(bool autoRotate) {
  if (autoRotate && !dragging) {
    rotation[0] -= rotation[0] * 0.04f;
    rotation[1] += 0.5f;
  }
  if (rotation[1] > 360) rotation[1] = 0;
  updateEye();
  remember();
}

void ViewerCamera::beginDrag(int x, int y) {
  dragStartX = x;
  dragStartY = y;
  std::copy_n(eye, 3, dragStartEye);
  std::copy_n(rotation, 2, dragStartRotation);
  dragging = true;
}

void ViewerCamera::dragTo(int x, int y) {
  if (!dragging) return;
  rotation[0] = std::fmod(dragStartRotation[0] + static_cast<float>(y - dragStartY), 360.0f);
  rotation[1] = std::fmod(dragStartRotation[1] + static_cast<float>(x - dragStartX), 360.0f);
  updateEye();
  remember();
}

void ViewerCamera::wheel(int wheelRotation) {
  if (dragging) return;
  distance = std::max(distance - static_cast<float>(wheelRotation / 120) * 0.1f, 0.0f);
}

void ViewerCamera::centre() {
  if (dragging) return;
  std::fill_n(target, 3, 0.0f);
  std::fill_n(rotation, 2, 0.0f);
  eye[0] = eye[1] = 0;
  eye[2] = distance;
}

void ViewerCamera::moveTarget(float dx, float dy) {
  if (dragging) return;
  target[0] += dx;
  target[1] += dy;
}

Mat4 perspective(float fovYDegrees, float aspect, float zNear, float zFar) {
  const float f = 1.0f / std::tan(fovYDegrees * kDegrees / 2);
  if (!(aspect > 0)) aspect = 1;
  return {f / aspect, 0, 0, 0,
          0, f, 0, 0,
          0, 0, (zFar + zNear) / (zNear - zFar), 2 * zFar * zNear / (zNear - zFar),
          0, 0, -1, 0};
}

Mat4 modelView(const ViewerCamera& camera) {
  Mat4 translation = identity();
  translation[3] = -camera.eye[0];
  translation[7] = -camera.eye[1];
  translation[11] = -camera.eye[2];
  return multiply(multiply(rotationX(camera.rotation[0]), rotationY(camera.rotation[1])), translation);
}

Mat3 normalMatrix(const Mat4& m) {
  const float a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
  const float det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
  if (std::fabs(det) < 1e-12f) return {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const float k = 1.0f / det;
  // Transpose of the inverse: the cofactor matrix divided by the determinant.
  return {(e * i - f * h) * k, -(d * i - f * g) * k, (d * h - e * g) * k,
          -(b * i - c * h) * k, (a * i - c * g) * k, -(a * h - b * g) * k,
          (b * f - c * e) * k, -(a * f - c * d) * k, (a * e - b * d) * k};
}

std::array<float, 4> lightPosition(const ViewerCamera& camera) {
  const Mat4 r = multiply(rotationX(camera.previousRotation[0]), rotationY(camera.previousRotation[1]));
  std::array<float, 4> out{};
  const float v[4] = {camera.previousEye[0], camera.previousEye[1], camera.previousEye[2], 0};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) out[i] += r[i * 4 + k] * v[k];
  return out;
}

}  // namespace korvel::viewer
