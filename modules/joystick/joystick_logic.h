// The five-way joystick without its window: the stick's direction from a drag point, the arrow
// keys combined into a direction, the pin levels of port 1, and the stick's state machine.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "korvel/exports.h"
#include "korvel/host_functions.h"

namespace korvel::joystick {

// The value is also the index of the direction's 45-degree sector, counted anticlockwise from
// pointing right with screen up as 90 degrees.
enum class JoyDirection : int32_t {
  None = -1,
  Right = 0,
  UpRight = 1,
  Up = 2,
  UpLeft = 3,
  Left = 4,
  DownLeft = 5,
  Down = 6,
  DownRight = 7,
};

// The pins on port 1: all five contacts pull their pin to ground while closed.
inline constexpr uint32_t kCentrePin = 1u << 25;
inline constexpr uint32_t kDownPin = 1u << 26;
inline constexpr uint32_t kLeftPin = 1u << 27;
inline constexpr uint32_t kRightPin = 1u << 28;
inline constexpr uint32_t kUpPin = 1u << 29;
inline constexpr uint32_t kAllPins = 0x3E000000;

// Pins a direction pulls low. Throws std::runtime_error("Invalid JoyDirection.") outside None..DownRight.
uint32_t directionPins(JoyDirection d);
// PORT1 with the joystick's five bits set from the stick: every contact open, then the centre
// and the direction's contacts closed. Other bits keep their values.
uint32_t portWithJoystick(uint32_t port, JoyDirection d, int pressed);
// Read-modify-write of PORT1 through the host (serialised between the key and UI threads).
void portUpdate(const HostFunctionTable& host, uint32_t vtr, JoyDirection d, int pressed);

// The direction of the stick dragged to (x, y) in a window with the given client rectangle:
// None while not dragging or within 15 pixels of the centre; otherwise the 45-degree sector,
// boundaries at whole degrees (22 stays, 23 moves on).
JoyDirection directionFromPoint(bool dragging, KVRect client, int x, int y);

// Direction flags of the arrow keys.
enum : int { kFlagUp = 1, kFlagLeft = 2, kFlagRight = 4, kFlagDown = 8 };
int flagsFromDirection(JoyDirection d);
// None for 0 and for impossible pairs (Up with Down, Left with Right).
JoyDirection directionFromFlags(int flags);

// What an arrow key does to the flags: a key going down adds its own direction and removes the
// opposite one, so opposite contacts are never closed together; going up removes its own.
struct KeyEffect {
  bool arrow = false;  // false for keys that are not arrows
  int added = 0;
  int removed = 0;
};
KeyEffect arrowKeyEffect(unsigned int virtualKey, int down);
inline constexpr unsigned int kVkSpace = 0x20, kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27,
                              kVkDown = 0x28;

// Where the knob is drawn for a direction, around the window centre.
KVRect knobRect(int cx, int cy, JoyDirection d);

// The stick's state: direction, centre press, drag, and whether the pins follow it.
// Key and mouse changes come from two threads; one lock keeps each change and its pin write
// together, so PORT1 always ends up showing the last state.
class JoystickModel {
 public:
  struct Environment {
    std::function<bool()> enabled;    // the board's power as the component sees it
    std::function<void()> invalidate; // asks for a repaint (posted to the UI thread)
    std::function<void(int)> playSound;
  };
  using OnChange = std::function<void(JoyDirection, int pressed)>;

  explicit JoystickModel(Environment env) : env_(std::move(env)) {}

  void setOnChange(OnChange cb);
  // Stores d; repaints and reports it only once drawn and while enabled.
  void setDirection(JoyDirection d);
  // Stores p with its click (1001 press, 1002 release, even unpowered); reports while enabled.
  void setPressed(int p);
  // The arrow-key step: ignored while the mouse drags the knob.
  void combineKeys(int added, int removed);

  void setDragging(bool dragging);
  bool dragging() const;
  void setDrawn();
  bool drawn() const;
  JoyDirection direction() const;
  int pressed() const;

 private:
  bool enabled() const { return !env_.enabled || env_.enabled(); }

  Environment env_;
  mutable std::recursive_mutex lock_;
  OnChange onChange_;
  JoyDirection direction_ = JoyDirection::None;
  int pressed_ = 0;
  bool dragging_ = false;
  bool drawn_ = false;
};

}  // namespace korvel::joystick
