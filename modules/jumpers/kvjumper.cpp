#include "kvjumper.h"

#include <stdexcept>

#include <wx/dc.h>
#include <wx/graphics.h>

namespace {

const wxColour kCapGreen(18, 231, 114);
const wxColour kPinGrey(155, 155, 155);

// A GDI shape drawn without a pen covers one pixel less to the right and below than its
// rectangle; the pins keep that footprint.
wxRect penlessRect(int left, int top, int right, int bottom) {
  return wxRect(left, top, right - left - 1, bottom - top - 1);
}

// The stored value is free text: one outside int's range (1e10, inf, nan) is no cap position
// the jumper ever saved, and converting it would be undefined. The jumper then keeps its
// initial position, as if nothing were stored.
int foldStoredState(float stored, int jumps, int initialState) {
  if (!(stored > -2147483648.0f && stored < 2147483648.0f)) return initialState;
  return static_cast<int>(stored) % jumps;
}

}  // namespace

KVJumper::KVJumper(const std::string& name, int initialState, int numberOfJumps,
                   ChipOrientation orientation)
    : KVBase(name, orientation), state_(initialState), jumps_(numberOfJumps) {
  float stored = 0;
  // Without a single state there is nothing to fold a stored value into.
  if (loadSettings(stored) && jumps_ >= 1) state_ = foldStoredState(stored, jumps_, initialState);
  Bind(wxEVT_LEFT_DOWN, &KVJumper::onLeftDown, this);
  Bind(wxEVT_SET_CURSOR, &KVJumper::onSetCursor, this);
}

KVJumper::~KVJumper() = default;

wxSize KVJumper::Size(ChipOrientation orientation, int numberOfJumps) {
  const int length = 11 * numberOfJumps + 2;
  return (orientation == Orientation1 || orientation == Orientation3) ? wxSize(length, 15)
                                                                       : wxSize(15, length);
}

void KVJumper::setNumberOfJumps(int numberOfJumps) {
  if (numberOfJumps == jumps_) return;
  jumps_ = numberOfJumps;
  if (drawn_) Refresh();
}

void KVJumper::setOrientation(ChipOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  if (drawn_) Refresh();
}

void KVJumper::nextState() {
  if (jumps_ < 1) return;  // no states to step through
  const int next = (state_ + 1) % jumps_;
  if (next != state_) changeState(next);
}

void KVJumper::setState(int state) {
  if (state != state_) changeState(state);
}

void KVJumper::setCallback(const Callback& callback) { callback_ = callback; }

void KVJumper::Update() {
  if (callback_) callback_(this, state_);
}

void KVJumper::changeState(int state) {
  state_ = state;
  saveSettings(static_cast<float>(state));
  if (drawn_) Refresh();
  if (callback_) callback_(this, state);
}

void KVJumper::OnLButtonDown(unsigned int flags, const wxPoint& point) {
  if (isEnabled()) nextState();
}

void KVJumper::onLeftDown(wxMouseEvent& event) {
  event.Skip();
  OnLButtonDown(0x0001, event.GetPosition());
}

void KVJumper::onSetCursor(wxSetCursorEvent& event) {
  if (isEnabled())
    event.SetCursor(wxCursor(wxCURSOR_HAND));
  else
    event.Skip();
}

void KVJumper::DrawBackground(wxDC& dc) { OnDraw(dc, Rect, 0, kComponentGrey); }

void KVJumper::DrawComponent(wxDC& dc) {
  const wxSize size = GetClientSize();
  const int left = 2, top = 2, right = size.x - 2, bottom = size.y - 2;
  const int n = jumps_;
  if (orientation_ > Orientation3 || orientation_ < Orientation0)
    throw std::runtime_error("Invalid orientation.");

  const wxPen previousPen = dc.GetPen();
  const wxBrush previousBrush = dc.GetBrush();
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  const wxAntialiasMode previousMode = gc ? gc->GetAntialiasMode() : wxANTIALIAS_DEFAULT;
  if (gc) gc->SetAntialiasMode(wxANTIALIAS_NONE);
  dc.SetPen(*wxTRANSPARENT_PEN);

  if (n >= 1) {
    const bool upright = orientation_ == Orientation0 || orientation_ == Orientation2;
    // Pins run down the long side; the cap covers two neighbouring pins.
    const int span = upright ? bottom - top : right - left;
    const int cell = span / n;
    const int start = (span - cell * n) / 2 + (upright ? top : left);
    const auto cellRect = [&](int from, int to) {
      return upright ? penlessRect(left, from, right, to) : penlessRect(from, top, to, bottom);
    };
    dc.SetBrush(*wxBLACK_BRUSH);
    for (int i = 0; i < n; ++i) dc.DrawRoundedRectangle(cellRect(start + i * cell, start + (i + 1) * cell), 2);
    if (state_ >= 1) {
      dc.SetBrush(wxBrush(kCapGreen));
      const int from = start + cell * (state_ - 1);
      dc.DrawRoundedRectangle(cellRect(from, from + 2 * cell), 2);
    }
    dc.SetBrush(wxBrush(kPinGrey));
    for (int i = 0; i < n; ++i) {
      const int along = start + (cell - 8) / 2 + i * cell;
      if (upright) {
        const int x = (left + right) / 2 - 3;
        dc.DrawEllipse(penlessRect(x, along, x + 8, along + 8));
      } else {
        const int y = (top + bottom) / 2 + 4 - 8;
        dc.DrawEllipse(penlessRect(along, y, along + 8, y + 8));
      }
    }
  }

  if (gc) gc->SetAntialiasMode(previousMode);
  dc.SetPen(previousPen);
  dc.SetBrush(previousBrush);
  drawn_ = 1;
}
