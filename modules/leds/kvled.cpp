#include "kvled.h"

#include <stdexcept>

#include <wx/dc.h>

namespace {

struct LensColours {
  wxColour lit;
  wxColour dark;
};

LensColours lensColours(int colour) {
  switch (colour) {
    case KVLed::Red: return {wxColour(255, 40, 30), wxColour(90, 20, 18)};
    case KVLed::Yellow: return {wxColour(255, 220, 40), wxColour(90, 80, 20)};
    case KVLed::Blue: return {wxColour(60, 120, 255), wxColour(20, 30, 80)};
    default: return {wxColour(40, 255, 70), wxColour(20, 80, 30)};
  }
}

}  // namespace

KVLed::KVLed(const std::string& identifier, int colour, ChipOrientation orientation)
    : KVBase(identifier, orientation), colour_(colour) {}

wxSize KVLed::Size(ChipOrientation orientation) {
  return (orientation == Orientation1 || orientation == Orientation3) ? wxSize(20, 12) : wxSize(12, 20);
}

void KVLed::setEnabled(int enabled) {
  const int previous = enabled_.exchange(enabled);
  if (previous != enabled && GetHandle()) Refresh();
}

void KVLed::setOrientation(ChipOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  if (GetHandle()) Refresh();
}

wxColour KVLed::lensColour() const {
  const LensColours c = lensColours(colour_);
  return isEnabled() ? c.lit : c.dark;
}

void KVLed::DrawBackground(wxDC& dc) { OnDraw(dc, Rect, 1, kComponentGrey); }

void KVLed::DrawComponent(wxDC& dc) {
  if (orientation_ < Orientation0 || orientation_ > Orientation3)
    throw std::runtime_error("Invalid orientation.");
  const wxSize size = GetClientSize();
  // The lens sits between the two solder pads, 3 pixels in from the plate's edge.
  const wxRect lens = wxRect(0, 0, size.x, size.y).Deflate(3);
  const wxPen pen = dc.GetPen();
  const wxBrush brush = dc.GetBrush();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(lensColour()));
  dc.DrawRectangle(lens);
  if (isEnabled()) {
    // The bright spot of a lit die.
    dc.SetBrush(wxBrush(lensColour().ChangeLightness(160)));
    dc.DrawRectangle(wxRect(lens).Deflate(lens.width > 4 ? 2 : 0, lens.height > 4 ? 2 : 0));
  }
  dc.SetPen(pen);
  dc.SetBrush(brush);
}
