// The two contact states of a push button as its owner sees them.
#pragma once

#include <cstdint>

// 0 = contact closed (pressed), 1 = open (released). The values are part of the call-back
// contract: owners reject anything else with "Invalid button state.".
enum class ButtonState : int32_t { Pressed = 0, Released = 1 };
