#include "power_logic.h"

#include <cmath>
#include <numbers>

namespace korvel::power {

KVRect leverRect(KVRect client) {
  int top = client.top + 2;
  int bottom = client.bottom - 2;
  int middle = (bottom - top - 18) / 2 + top;
  return {69, middle + 3, client.right - (client.left + 2), middle + 15};
}

Tilt leverTilt(bool on, KVRect lever) {
  double a = (on ? 15.0 : -15.0) * std::numbers::pi / 180.0;
  double x0 = lever.left;
  double y0 = lever.top + (lever.bottom - lever.top) / 2;
  double c = std::cos(a), s = std::sin(a);
  return {c, s, -s, c, x0 - c * x0 + s * y0, y0 - c * y0 - s * x0};
}

}  // namespace korvel::power
