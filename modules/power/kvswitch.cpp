#include "kvswitch.h"

#include "korvel/dc_guard.h"
#include <stdexcept>

#include <wx/affinematrix2d.h>
#include <wx/dc.h>
#include <wx/graphics.h>

wxBEGIN_EVENT_TABLE(KVSwitch, KVBase)
  EVT_LEFT_DOWN(KVSwitch::onLeftDown)
  EVT_SET_CURSOR(KVSwitch::onSetCursor)
wxEND_EVENT_TABLE()

namespace {
const wxColour kBlue(2, 82, 131);
const wxColour kBody(70, 15, 10);
const wxColour kGrey(155, 155, 155);
const wxColour kLever(125, 125, 125);

// What a rectangle (left, top, right, bottom) covers when drawn without a pen.
wxRect penless(int left, int top, int right, int bottom) {
  return wxRect(left, top, right - left - 1, bottom - top - 1);
}
}  // namespace

KVSwitch::KVSwitch(const std::string& name, ChipOrientation orientation)
    : KVBase(name, orientation), model_(storedPosition(), [this](float v) { saveSettings(v); }) {}

std::optional<float> KVSwitch::storedPosition() {
  float value = 0.0f;
  if (loadSettings(value)) return value;
  return std::nullopt;
}

void KVSwitch::setEnabled(int enabled) { enabled_.store(enabled); }

void KVSwitch::setOrientation(ChipOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  if (drawn_) Refresh(true);
}

void KVSwitch::toggle() {
  int on = model_.toggle();
  if (drawn_) Refresh(true);
  if (callback_) callback_(this, on);
}


void KVSwitch::DrawComponent(wxDC& dc) {
  korvel::DcStateGuard exact(dc);
  if (orientation_ >= Orientation0 && orientation_ < Orientation3)
    throw std::runtime_error("Not yet implemented.");
  if (orientation_ != Orientation3) throw std::runtime_error("Invalid ChipOrientation.");

  const wxSize size = GetClientSize();
  const KVRect client{0, 0, size.x, size.y};
  wxDCPenChanger pen(dc, wxPen(*wxWHITE, 1));
  wxDCBrushChanger brush(dc, wxBrush(kBlue));
  auto fill = [&dc](int l, int t, int r, int b, const wxColour& c) {
    wxDCPenChanger none(dc, *wxTRANSPARENT_PEN);
    wxDCBrushChanger solid(dc, wxBrush(c));
    dc.DrawRectangle(l, t, r - l, b - t);
  };

  fill(0, 0, size.x, size.y, wxColour(240, 240, 240));
  // The switch body: the blue housing with its white edge, whose right corners blend into the
  // slider track.
  dc.DrawRectangle(0, 0, 48, 38);
  for (int y : {1, 2, 36, 35}) {
    dc.SetPen(wxPen(kBlue));
    dc.DrawPoint(47, y);
  }
  fill(9, 2, 48, 36, kBody);
  const int step = (34 - 10 - 6) / 2 + 2;
  for (int i = 0; i < 3; ++i) fill(2, 7 + i * step, 9, 9 + i * step, kGrey);  // the three legs
  // From here on the shapes have no outline, and a shape without one leaves out the last column
  // and row of its rectangle.
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(kGrey));
  dc.DrawRectangle(penless(16, 6, 49, 32));

  KVRect lever = korvel::power::leverRect(client);
  lever_ = wxRect(wxPoint(lever.left, lever.top), wxPoint(lever.right - 1, lever.bottom - 1));
  const int middle = lever.top - 3;

  // The lever leans one way when on and the other when off.
  korvel::power::Tilt t = korvel::power::leverTilt(model_.on() != 0, lever);
  wxAffineMatrix2D tilt;
  tilt.Set(wxMatrix2D(t.m11, t.m12, t.m21, t.m22), wxPoint2DDouble(t.dx, t.dy));
  dc.SetBrush(wxBrush(kLever));
  if (dc.CanUseTransformMatrix()) {
    const wxAffineMatrix2D previous = dc.GetTransformMatrix();
    wxAffineMatrix2D combined = previous;
    combined.Concat(tilt);
    dc.SetTransformMatrix(combined);
    dc.DrawRoundedRectangle(penless(lever.left, lever.top, lever.right, lever.bottom), 4);
    dc.SetTransformMatrix(previous);
  } else {
    wxPoint corners[4] = {{lever.left, lever.top}, {lever.right, lever.top},
                          {lever.right, lever.bottom}, {lever.left, lever.bottom}};
    for (wxPoint& p : corners) {
      wxPoint2DDouble q = tilt.TransformPoint(wxPoint2DDouble(p.x, p.y));
      p = wxPoint(static_cast<int>(std::lround(q.m_x)), static_cast<int>(std::lround(q.m_y)));
    }
    dc.DrawPolygon(4, corners);
  }

  // The slot the lever comes out of, with its dark edge.
  dc.SetBrush(wxBrush(kGrey));
  dc.DrawRectangle(penless(48, middle, 74, middle + 18));
  fill(48, middle, 49, middle + 18, kLever);
  drawn_ = true;
}

void KVSwitch::onLeftDown(wxMouseEvent& event) {
  if (isEnabled() && lever_.Contains(event.GetPosition())) toggle();
  event.Skip();
}

void KVSwitch::onSetCursor(wxSetCursorEvent& event) {
  if (isEnabled() && lever_.Contains(event.GetX(), event.GetY())) {
    event.SetCursor(wxCursor(wxCURSOR_HAND));
    return;
  }
  event.Skip();
}
