// How the board's push buttons are wired: which port-2 pin each drives, where it sits on the
// board, which key stands for it, and the pin writes themselves (free of window code).
#pragma once

#include <atomic>
#include <cstdint>

#include "button_state.h"
#include "korvel/exports.h"
#include "korvel/host_functions.h"

namespace korvel::buttons {

struct ButtonWiring {
  const char* id;
  KVRect rect;       // in the board component's client coordinates
  uint32_t mask;     // the PORT2 bit it pulls low while pressed; 0 for RESET (no pin)
  unsigned int key;  // Windows virtual-key code
};

// In the order the buttons are created and their keys registered.
inline constexpr ButtonWiring kButtonWiring[] = {
    {"KEY1", {249, 514, 281, 546}, 0x800, 0x31},   // P2.11, key "1"
    {"KEY2", {299, 514, 331, 546}, 0x1000, 0x32},  // P2.12, key "2"
    {"INT0", {349, 514, 381, 546}, 0x400, 0x30},   // P2.10 (EINT0), key "0"
    {"RESET", {399, 514, 431, 546}, 0, 0x52},      // the chip's reset, key "R"
};

inline constexpr uint32_t kInt0Mask = 0x400;
inline constexpr const char* kJumperId = "JP5";
inline constexpr int kJumperLeft = 151;
inline constexpr int kJumperTop = 233;

// The port word with the button's pin at its new level: the buttons pull their pin to ground, so
// pressed clears the bit and released sets it. Throws std::runtime_error("Invalid button state.")
// for any other value.
uint32_t portWithButton(uint32_t port, uint32_t mask, ButtonState state);

// Read-modify-write of the PORT2 virtual register through the host. Pins of different buttons
// may change at the same time on different bounce threads; the writes are serialised so that
// neither loses the other's bit.
void driveButtonPin(const HostFunctionTable& host, uint32_t vtr, uint32_t mask, ButtonState state);

// The RESET button resets the chip when its contact first closes in a press; opening does
// nothing. The closings that follow within the same press (the press's bounce, and the closings
// of the release burst) belong to that press and reset nothing more, so one click is one reset.
class ResetOnPress {
 public:
  // `press` is the button's accepted-press count at the transition (ButtonModel::pressCount).
  void onTransition(const HostFunctionTable& host, uint64_t press, ButtonState state);

 private:
  std::atomic<uint64_t> lastReset_{0};
};

// INT0's enabled state from JP5: connected (any cap position but 0) follows the board's power.
inline int int0Enabled(int jumperState, int boardPowered) {
  return jumperState != 0 ? (boardPowered != 0 ? 1 : 0) : 0;
}

}  // namespace korvel::buttons
