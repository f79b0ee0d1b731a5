// Key states from the X server. The reader opens a connection of its own, so the key poller
// thread never shares Xlib state with the toolkit running on the UI thread.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <vector>

#include "korvel/platform/platform.h"

namespace korvel::platform {
namespace {

// The X key symbols that stand for one Windows virtual-key code.
std::vector<KeySym> keysymsFor(uint32_t vk) {
  if (vk >= 0x30 && vk <= 0x39) return {static_cast<KeySym>(XK_0 + (vk - 0x30))};
  if (vk >= 0x41 && vk <= 0x5A) return {static_cast<KeySym>(XK_a + (vk - 0x41))};
  if (vk >= 0x60 && vk <= 0x69) return {static_cast<KeySym>(XK_KP_0 + (vk - 0x60))};
  if (vk >= 0x70 && vk <= 0x7B) return {static_cast<KeySym>(XK_F1 + (vk - 0x70))};
  switch (vk) {
    case 0x08: return {XK_BackSpace};
    case 0x09: return {XK_Tab};
    case 0x0D: return {XK_Return, XK_KP_Enter};
    case 0x10: return {XK_Shift_L, XK_Shift_R};
    case 0x11: return {XK_Control_L, XK_Control_R};
    case 0x12: return {XK_Alt_L, XK_Alt_R};
    case 0x1B: return {XK_Escape};
    case 0x20: return {XK_space};
    case 0x21: return {XK_Page_Up};
    case 0x22: return {XK_Page_Down};
    case 0x23: return {XK_End};
    case 0x24: return {XK_Home};
    case 0x25: return {XK_Left};
    case 0x26: return {XK_Up};
    case 0x27: return {XK_Right};
    case 0x28: return {XK_Down};
    case 0x2D: return {XK_Insert};
    case 0x2E: return {XK_Delete};
    case 0x6A: return {XK_KP_Multiply};
    case 0x6B: return {XK_KP_Add};
    case 0x6D: return {XK_KP_Subtract};
    case 0x6E: return {XK_KP_Decimal};
    case 0x6F: return {XK_KP_Divide};
    case 0xA0: return {XK_Shift_L};
    case 0xA1: return {XK_Shift_R};
    case 0xA2: return {XK_Control_L};
    case 0xA3: return {XK_Control_R};
    case 0xA4: return {XK_Alt_L};
    case 0xA5: return {XK_Alt_R};
    case 0xBB: return {XK_equal, XK_plus};
    case 0xBC: return {XK_comma};
    case 0xBD: return {XK_minus};
    case 0xBE: return {XK_period};
    default: return {};
  }
}

class X11KeyboardReader final : public KeyboardReader {
 public:
  X11KeyboardReader() : display_(XOpenDisplay(nullptr)) {
    if (display_ == nullptr) return;
    for (uint32_t vk = 0; vk < 256; ++vk) {
      for (KeySym sym : keysymsFor(vk)) {
        KeyCode code = XKeysymToKeycode(display_, sym);
        if (code != 0) codes_[vk].push_back(code);
      }
    }
  }
  ~X11KeyboardReader() override {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  void refresh() override {
    if (display_ != nullptr) XQueryKeymap(display_, keys_.data());
  }
  bool isDown(uint32_t vk) const override {
    if (display_ == nullptr || vk >= 256) return false;
    for (KeyCode code : codes_[vk]) {
      if (keys_[code / 8] & (1 << (code % 8))) return true;
    }
    return false;
  }
  bool available() const override { return display_ != nullptr; }

 private:
  Display* display_;
  std::array<char, 32> keys_{};
  std::array<std::vector<KeyCode>, 256> codes_{};
};

}  // namespace

std::unique_ptr<KeyboardReader> openKeyboardReader() { return std::make_unique<X11KeyboardReader>(); }

}  // namespace korvel::platform
