// The board's power circuit without its windows: when the board is powered, where the switch's
// lever is, how it is tilted, and the switch's remembered position.
#pragma once

#include <functional>
#include <optional>

#include "korvel/exports.h"

namespace korvel::power {

// The board runs only with SW6 on and a cap fitted on JP3 (any position but 0).
inline int boardPowered(int switchOn, int jumperState) {
  return (switchOn != 0 && jumperState != 0) ? 1 : 0;
}

// The switch window is 96 x 38 pixels with the lever on the right; the lever's clickable
// rectangle (before it is tilted) in client coordinates.
KVRect leverRect(KVRect client);

// A 2-D affine map: x' = m11 x + m21 y + dx, y' = m12 x + m22 y + dy.
struct Tilt {
  double m11, m12, m21, m22, dx, dy;
};
// The lever leans +15 degrees when on and -15 when off, about the middle of its left edge.
Tilt leverTilt(bool on, KVRect lever);

// SW6's position: 1 from the factory, or what was stored; every toggle is stored again.
class SwitchModel {
 public:
  using Store = std::function<void(float)>;
  explicit SwitchModel(std::optional<float> stored, Store store = {})
      : on_(stored ? (*stored != 0.0f ? 1 : 0) : 1), store_(std::move(store)) {}

  int on() const { return on_; }
  // Flips the lever and stores the new position (1.0 on, 0.0 off). Returns the new position.
  int toggle() {
    on_ = 1 - on_;
    if (store_) store_(on_ ? 1.0f : 0.0f);
    return on_;
  }

 private:
  int on_;
  Store store_;
};

}  // namespace korvel::power
