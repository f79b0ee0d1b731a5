#include "kvpotmeter.h"

#include <cmath>

#include <wx/dc.h>
#include <wx/thread.h>

#include "korvel/dc_guard.h"

wxBEGIN_EVENT_TABLE(KVPotmeter, KVBase)
  EVT_LEFT_DOWN(KVPotmeter::onLeftDown)
  EVT_MOTION(KVPotmeter::onMotion)
  EVT_LEFT_UP(KVPotmeter::onLeftUp)
  EVT_MOUSEWHEEL(KVPotmeter::onWheel)
  EVT_MOUSE_CAPTURE_LOST(KVPotmeter::onCaptureLost)
  EVT_SET_CURSOR(KVPotmeter::onSetCursor)
wxEND_EVENT_TABLE()

namespace {
constexpr double kPi = 3.14159265358979323846;
}

KVPotmeter::KVPotmeter(Write write, Settings settings)
    : KVBase("Potmeter", Orientation0),
      model_({std::move(write), [this] { repaint(); }, std::move(settings)}) {}

KVPotmeter::~KVPotmeter() {
  if (onGone_) onGone_();
  // The knob stays where the user left it, as a real one does.
  saveSettings(float(model_.position()));
}

void KVPotmeter::setEnabled(int enabled) { enabled_.store(enabled); }

void KVPotmeter::setOrientation(ChipOrientation orientation) { orientation_ = orientation; }

void KVPotmeter::key(unsigned int virtualKey) { model_.step(korvel::potmeter::keyDirection(virtualKey)); }

wxRect KVPotmeter::knobRect() const {
  const wxSize size = GetClientSize();
  const int r = std::max(4, std::min(size.x, size.y) / 2 - 8);
  return wxRect(size.x / 2 - r, size.y / 2 - r, 2 * r, 2 * r);
}

void KVPotmeter::repaint() {
  // Keys turn the knob from the key listener's thread: the window repaints on the UI thread.
  if (wxThread::IsMain()) {
    Refresh(false);
  } else {
    CallAfter([this] { Refresh(false); });
  }
}

void KVPotmeter::DrawBackground(wxDC& dc) { OnDraw(dc, Rect, 1, 0x00202020); }

void KVPotmeter::DrawComponent(wxDC& dc) {
  korvel::DcStateGuard exact(dc);
  const wxSize size = GetClientSize();
  const int cx = size.x / 2, cy = size.y / 2;
  const wxRect knob = knobRect();
  const int r = knob.width / 2;
  // The scale: a tick every tenth of the travel just outside the knob.
  {
    wxDCPenChanger pen(dc, wxPen(wxColour(236, 236, 226), 1));
    for (int i = 0; i <= 10; ++i) {
      double a = korvel::potmeter::angleForPosition(i / 10.0) * kPi / 180.0;
      double c = std::cos(a), s = -std::sin(a);
      dc.DrawLine(cx + int(std::lround((r + 2) * c)), cy + int(std::lround((r + 2) * s)),
                  cx + int(std::lround((r + 6) * c)), cy + int(std::lround((r + 6) * s)));
    }
  }
  {
    wxDCPenChanger pen(dc, wxPen(wxColour(90, 90, 96), 1));
    wxDCBrushChanger brush(dc, wxBrush(wxColour(46, 46, 50)));
    dc.DrawEllipse(knob.x, knob.y, knob.width, knob.height);
  }
  {
    wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
    wxDCBrushChanger brush(dc, wxBrush(wxColour(70, 70, 76)));
    const int inner = r * 2 / 3;
    dc.DrawEllipse(cx - inner, cy - inner, 2 * inner, 2 * inner);
  }
  // The pointer line shows the wiper's position.
  double a = korvel::potmeter::angleForPosition(model_.position()) * kPi / 180.0;
  const wxColour mark = isEnabled() ? wxColour(250, 250, 240) : wxColour(150, 150, 150);
  wxDCPenChanger pen(dc, wxPen(mark, 3));
  dc.DrawLine(cx + int(std::lround(r * 0.25 * std::cos(a))), cy - int(std::lround(r * 0.25 * std::sin(a))),
              cx + int(std::lround((r - 2) * std::cos(a))), cy - int(std::lround((r - 2) * std::sin(a))));
}

void KVPotmeter::pointAt(const wxPoint& p) {
  const wxSize size = GetClientSize();
  model_.pointTo(p.x - size.x / 2.0, p.y - size.y / 2.0);
}

void KVPotmeter::onLeftDown(wxMouseEvent& event) {
  if (knobRect().Contains(event.GetPosition())) {
    if (!HasCapture()) CaptureMouse();
    model_.setDragging(true);
    pointAt(event.GetPosition());
  }
  event.Skip();
}

void KVPotmeter::onMotion(wxMouseEvent& event) {
  if (model_.dragging() && event.LeftIsDown()) pointAt(event.GetPosition());
  event.Skip();
}

void KVPotmeter::onLeftUp(wxMouseEvent& event) {
  if (HasCapture()) ReleaseMouse();
  if (model_.dragging()) pointAt(event.GetPosition());
  model_.setDragging(false);
  event.Skip();
}

void KVPotmeter::onWheel(wxMouseEvent& event) {
  // Up (away from the user) turns clockwise, as on a volume knob.
  const int notches = event.GetWheelDelta() > 0 ? event.GetWheelRotation() / event.GetWheelDelta() : 0;
  for (int i = 0; i < std::abs(notches); ++i) model_.step(notches > 0 ? 1 : -1);
}

void KVPotmeter::onCaptureLost(wxMouseCaptureLostEvent&) { model_.setDragging(false); }

void KVPotmeter::onSetCursor(wxSetCursorEvent& event) {
  if (model_.dragging() || knobRect().Contains(event.GetX(), event.GetY())) {
    event.SetCursor(wxCursor(wxCURSOR_HAND));
    return;
  }
  event.Skip();
}
