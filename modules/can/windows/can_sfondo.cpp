#include "can_sfondo.h"

#include <stdexcept>

canSfondo::canSfondo(const std::string& identifier, ChipOrientation orientation)
    : KVBase(identifier, orientation) {}

void canSfondo::setOrientation(ChipOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  if (drawn_) Refresh(true);
}

void canSfondo::DrawComponent(wxDC&) {
  switch (orientation_) {
    case Orientation0:
    case Orientation2:
      drawn_ = 1;
      return;
    case Orientation1:
    case Orientation3:
      throw std::runtime_error("Not yet implemented.");
    default:
      throw std::runtime_error("Invalid orientation.");
  }
}
