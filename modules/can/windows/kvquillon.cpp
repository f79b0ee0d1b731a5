#include "kvquillon.h"

#include <wx/dc.h>

#include "korvel/dc_guard.h"

namespace {
wxColour fromColorRef(unsigned long ref) {
  return wxColour(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF);
}
}  // namespace

KVQuillon::KVQuillon(const std::string& identifier, unsigned long colour, ChipOrientation orientation)
    : KVBase(identifier, orientation), colour_(colour) {}

KVQuillon::~KVQuillon() = default;

wxSize KVQuillon::Size() { return wxSize(13, 13); }

void KVQuillon::setColor(unsigned long colour) {
  if (colour == colour_) return;
  colour_ = colour;
  if (drawn_ && isEnabled()) RefreshRect(colourRect_, false);
}

void KVQuillon::setEnabled(int enabled) {
  const int previous = enabled_.exchange(enabled);
  // A colour that arrived while the board was off has not been shown yet.
  if (previous != enabled && enabled && drawn_) RefreshRect(colourRect_, false);
}

void KVQuillon::setOrientation(ChipOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  if (drawn_) Refresh(true);
}

void KVQuillon::DrawBackground(wxDC& dc) { OnDraw(dc, Rect, 1, kComponentGrey); }

void KVQuillon::DrawComponent(wxDC& dc) {
  const wxSize size = GetClientSize();
  colourRect_ = wxRect(0, 0, size.x, size.y).Deflate(2);
  korvel::DcStateGuard exact(dc);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(fromColorRef(colour_)));
  dc.DrawRectangle(colourRect_);
  drawn_ = 1;
}
