#include "plain_controls.h"

#include <algorithm>

#include <wx/dcbuffer.h>
#include <wx/settings.h>
#include <wx/spinbutt.h>

namespace {

const wxColour kOutline(118, 118, 118);
const wxColour kOutlineDisabled(190, 190, 190);
const wxColour kMark(0, 95, 184);
const wxColour kFaceDisabled(240, 240, 240);

void fillBackground(wxWindow* window, wxDC& dc) {
  wxWindow* parent = window->GetParent();
  dc.SetBackground(wxBrush(parent ? parent->GetBackgroundColour() : *wxWHITE));
  dc.Clear();
}

}  // namespace

PlainCheckBox::PlainCheckBox(wxWindow* parent, wxWindowID id) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Create(parent, id, wxDefaultPosition, wxSize(16, 16), wxBORDER_NONE);
  Bind(wxEVT_PAINT, &PlainCheckBox::onPaint, this);
  Bind(wxEVT_LEFT_DOWN, &PlainCheckBox::onLeftDown, this);
  Bind(wxEVT_LEFT_DCLICK, &PlainCheckBox::onLeftDown, this);
  Bind(wxEVT_CHAR, &PlainCheckBox::onKey, this);
}

void PlainCheckBox::SetValue(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Refresh(false);
}

void PlainCheckBox::toggle() {
  SetValue(!checked_);
  wxCommandEvent event(wxEVT_CHECKBOX, GetId());
  event.SetEventObject(this);
  event.SetInt(checked_ ? 1 : 0);
  ProcessWindowEvent(event);
}

void PlainCheckBox::onLeftDown(wxMouseEvent& event) {
  event.Skip();  // focus follows the click
  if (IsEnabled()) toggle();
}

void PlainCheckBox::onKey(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_SPACE && IsEnabled()) {
    toggle();
    return;
  }
  event.Skip();
}

void PlainCheckBox::onPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  fillBackground(this, dc);
  const wxSize size = GetClientSize();
  const int side = std::min(size.x, size.y);
  const wxRect box((size.x - side) / 2, (size.y - side) / 2, side, side);
  dc.SetPen(wxPen(IsEnabled() ? kOutline : kOutlineDisabled));
  dc.SetBrush(wxBrush(IsEnabled() ? *wxWHITE : kFaceDisabled));
  dc.DrawRectangle(box);
  if (!checked_ || side < 6) return;
  // A tick inside the box, a fifth of the side away from its edges.
  const int inset = std::max(2, side / 5);
  const wxRect in = wxRect(box).Deflate(inset);
  dc.SetPen(wxPen(IsEnabled() ? kMark : kOutlineDisabled, std::max(1, side / 8)));
  const wxPoint tick[3] = {wxPoint(in.x, in.y + in.height / 2),
                           wxPoint(in.x + in.width / 3, in.GetBottom()),
                           wxPoint(in.GetRight(), in.y)};
  dc.DrawLines(3, tick);
}

UpDownControl::UpDownControl(wxWindow* parent, wxWindowID id) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Create(parent, id, wxDefaultPosition, wxSize(40, 26), wxBORDER_NONE);
  Bind(wxEVT_PAINT, &UpDownControl::onPaint, this);
  Bind(wxEVT_LEFT_DOWN, &UpDownControl::onLeftDown, this);
  Bind(wxEVT_LEFT_DCLICK, &UpDownControl::onLeftDown, this);
  Bind(wxEVT_MOUSEWHEEL, &UpDownControl::onWheel, this);
}

void UpDownControl::SetRange(int low, int high) {
  min_ = std::min(low, high);
  max_ = std::max(low, high);
  SetValue(value_);
}

void UpDownControl::SetValue(int value) {
  value_ = std::clamp(value, min_, max_);
}

void UpDownControl::step(int direction) {
  const int next = std::clamp(value_ + (direction > 0 ? 1 : -1), min_, max_);
  if (next == value_) return;
  value_ = next;
  wxSpinEvent event(direction > 0 ? wxEVT_SPIN_UP : wxEVT_SPIN_DOWN, GetId());
  event.SetEventObject(this);
  event.SetPosition(value_);
  ProcessWindowEvent(event);
  wxSpinEvent moved(wxEVT_SPIN, GetId());
  moved.SetEventObject(this);
  moved.SetPosition(value_);
  ProcessWindowEvent(moved);
}

void UpDownControl::onLeftDown(wxMouseEvent& event) {
  event.Skip();
  if (!IsEnabled()) return;
  step(event.GetPosition().y < GetClientSize().y / 2 ? +1 : -1);
}

void UpDownControl::onWheel(wxMouseEvent& event) {
  if (!IsEnabled() || event.GetWheelRotation() == 0) return;
  step(event.GetWheelRotation() > 0 ? +1 : -1);
}

void UpDownControl::onPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  fillBackground(this, dc);
  const wxSize size = GetClientSize();
  const bool enabled = IsEnabled();
  const wxColour outline = enabled ? kOutline : kOutlineDisabled;
  const wxColour face = enabled ? wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE) : kFaceDisabled;
  const int half = size.y / 2;
  const wxRect halves[2] = {wxRect(0, 0, size.x, half + 1), wxRect(0, half, size.x, size.y - half)};
  for (int i = 0; i < 2; ++i) {
    dc.SetPen(wxPen(outline));
    dc.SetBrush(wxBrush(face));
    dc.DrawRectangle(halves[i]);
    // An arrow pointing away from the middle line.
    const wxRect& r = halves[i];
    const int cx = r.x + r.width / 2, cy = r.y + r.height / 2;
    const int w = std::max(2, std::min(r.width, r.height) / 3);
    const int h = std::max(1, w / 2 + 1);
    const wxPoint up[3] = {wxPoint(cx - w, cy + h / 2), wxPoint(cx + w, cy + h / 2), wxPoint(cx, cy - h)};
    const wxPoint down[3] = {wxPoint(cx - w, cy - h / 2), wxPoint(cx + w, cy - h / 2), wxPoint(cx, cy + h)};
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(enabled ? wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT) : kOutlineDisabled));
    dc.DrawPolygon(3, i == 0 ? up : down);
  }
}
