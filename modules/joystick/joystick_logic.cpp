#include "joystick_logic.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "click_sounds.h"

namespace korvel::joystick {
namespace {
[[noreturn]] void invalidDirection() { throw std::runtime_error("Invalid JoyDirection."); }

std::mutex& portLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

uint32_t directionPins(JoyDirection d) {
  switch (d) {
    case JoyDirection::None: return 0;
    case JoyDirection::Right: return kRightPin;
    case JoyDirection::UpRight: return kRightPin | kUpPin;
    case JoyDirection::Up: return kUpPin;
    case JoyDirection::UpLeft: return kUpPin | kLeftPin;
    case JoyDirection::Left: return kLeftPin;
    case JoyDirection::DownLeft: return kLeftPin | kDownPin;
    case JoyDirection::Down: return kDownPin;
    case JoyDirection::DownRight: return kDownPin | kRightPin;
  }
  invalidDirection();
}

uint32_t portWithJoystick(uint32_t port, JoyDirection d, int pressed) {
  uint32_t closed = directionPins(d) | (pressed != 0 ? kCentrePin : 0);
  return (port | kAllPins) & ~closed;
}

void portUpdate(const HostFunctionTable& host, uint32_t vtr, JoyDirection d, int pressed) {
  directionPins(d);  // an invalid direction fails before the port is touched
  std::lock_guard<std::mutex> guard(portLock());
  uint32_t port = 0;
  host.AgsiReadVTR(vtr, &port);
  host.AgsiWriteVTR(vtr, portWithJoystick(port, d, pressed));
}

JoyDirection directionFromPoint(bool dragging, KVRect client, int x, int y) {
  if (!dragging) return JoyDirection::None;
  int cx = (client.left + client.right) / 2;
  int cy = (client.top + client.bottom) / 2;
  double dx = x - cx;
  double dy = cy - y;  // positive upwards
  double r = std::sqrt(dy * dy + dx * dx);
  if (r < 15.0) return JoyDirection::None;  // the dead zone around the centre
  double c = std::clamp(dx / r, -1.0, 1.0);
  int a = static_cast<int>(std::floor(std::acos(c) * 180.0 / std::numbers::pi));
  if (dy < 0) a = 360 - a;
  a %= 360;
  int sector = a / 45;
  int rest = a % 45;
  sector += (2 * rest) / 45;  // the upper half of a sector belongs to the next direction
  return static_cast<JoyDirection>(sector & 7);
}

int flagsFromDirection(JoyDirection d) {
  switch (d) {
    case JoyDirection::None: return 0;
    case JoyDirection::Right: return kFlagRight;
    case JoyDirection::UpRight: return kFlagUp | kFlagRight;
    case JoyDirection::Up: return kFlagUp;
    case JoyDirection::UpLeft: return kFlagUp | kFlagLeft;
    case JoyDirection::Left: return kFlagLeft;
    case JoyDirection::DownLeft: return kFlagDown | kFlagLeft;
    case JoyDirection::Down: return kFlagDown;
    case JoyDirection::DownRight: return kFlagDown | kFlagRight;
  }
  invalidDirection();
}

JoyDirection directionFromFlags(int flags) {
  switch (flags) {
    case kFlagUp: return JoyDirection::Up;
    case kFlagLeft: return JoyDirection::Left;
    case kFlagUp | kFlagLeft: return JoyDirection::UpLeft;
    case kFlagRight: return JoyDirection::Right;
    case kFlagUp | kFlagRight: return JoyDirection::UpRight;
    case kFlagDown: return JoyDirection::Down;
    case kFlagDown | kFlagLeft: return JoyDirection::DownLeft;
    case kFlagDown | kFlagRight: return JoyDirection::DownRight;
    default: return JoyDirection::None;
  }
}

KeyEffect arrowKeyEffect(unsigned int virtualKey, int down) {
  int own = 0, opposite = 0;
  switch (virtualKey) {
    case kVkLeft: own = kFlagLeft, opposite = kFlagRight; break;
    case kVkUp: own = kFlagUp, opposite = kFlagDown; break;
    case kVkRight: own = kFlagRight, opposite = kFlagLeft; break;
    case kVkDown: own = kFlagDown, opposite = kFlagUp; break;
    default: return {};
  }
  if (down != 0) return {true, own, opposite};
  return {true, 0, own};
}

KVRect knobRect(int cx, int cy, JoyDirection d) {
  if (d == JoyDirection::None) return {cx - 7, cy - 7, cx + 7, cy + 7};
  int index = static_cast<int>(d);
  if (index < 0 || index > 7) invalidDirection();
  double a = index * 45.0 * std::numbers::pi / 180.0;
  int ox = static_cast<int>(std::floor(11.0 * std::cos(a)));
  int oy = static_cast<int>(std::floor(11.0 * std::sin(a)));
  return {cx + ox - 7, cy - oy - 7, cx + ox + 7, cy - oy + 7};
}

void JoystickModel::setOnChange(OnChange cb) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  onChange_ = std::move(cb);
}

void JoystickModel::setDirection(JoyDirection d) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (d == direction_) return;
  direction_ = d;
  // Unpowered, the stick still moves but the pins stay as they were; the next change while
  // powered writes the whole state.
  if (!drawn_ || !enabled()) return;
  if (env_.invalidate) env_.invalidate();
  if (onChange_) onChange_(direction_, pressed_);
}

void JoystickModel::setPressed(int p) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (p == pressed_) return;
  pressed_ = p;
  if (env_.playSound) env_.playSound(p != 0 ? sounds::kReleaseClick : sounds::kSoftClick);
  if (!onChange_ || !enabled()) return;
  if (env_.invalidate && (p == 0 || drawn_)) env_.invalidate();
  onChange_(direction_, pressed_);
}

void JoystickModel::combineKeys(int added, int removed) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (dragging_) return;
  int flags = (flagsFromDirection(direction_) | added) & ~removed;
  setDirection(directionFromFlags(flags));
}

void JoystickModel::setDragging(bool dragging) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  dragging_ = dragging;
}
bool JoystickModel::dragging() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return dragging_;
}
void JoystickModel::setDrawn() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  drawn_ = true;
}
bool JoystickModel::drawn() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return drawn_;
}
JoyDirection JoystickModel::direction() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return direction_;
}
int JoystickModel::pressed() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return pressed_;
}

}  // namespace korvel::joystick
