#include "kvjoystick.h"

#include <wx/dc.h>
#include <wx/graphics.h>
#include <wx/thread.h>

#include "click_sounds.h"

using korvel::joystick::JoyDirection;

wxBEGIN_EVENT_TABLE(KVJoystick, KVBase)
  EVT_LEFT_DOWN(KVJoystick::onLeftDown)
  EVT_MOTION(KVJoystick::onMotion)
  EVT_LEFT_UP(KVJoystick::onLeftUp)
  EVT_MIDDLE_DOWN(KVJoystick::onMiddleDown)
  EVT_MIDDLE_UP(KVJoystick::onMiddleUp)
  EVT_MOUSE_CAPTURE_LOST(KVJoystick::onCaptureLost)
  EVT_SET_CURSOR(KVJoystick::onSetCursor)
wxEND_EVENT_TABLE()

KVJoystick::KVJoystick()
    : KVBase("Joystick", Orientation0),
      model_({[this] { return isEnabled() != 0; }, [this] { repaint(); },
              [](int id) { korvel::sounds::playClick(id); }}) {}

void KVJoystick::setEnabled(int enabled) { enabled_.store(enabled); }

void KVJoystick::setOrientation(ChipOrientation orientation) { orientation_ = orientation; }

void KVJoystick::setOnChange(const OnChange& callback) {
  if (!callback) {
    model_.setOnChange({});
    return;
  }
  model_.setOnChange([this, callback](JoyDirection d, int p) { callback(this, d, p); });
}

void KVJoystick::arrowKey(unsigned int virtualKey, int down) {
  korvel::joystick::KeyEffect effect = korvel::joystick::arrowKeyEffect(virtualKey, down);
  if (effect.arrow) model_.combineKeys(effect.added, effect.removed);
}

JoyDirection KVJoystick::directionFromPoint(int x, int y) const {
  const wxSize size = GetClientSize();
  return korvel::joystick::directionFromPoint(model_.dragging(), KVRect{0, 0, size.x, size.y}, x, y);
}

void KVJoystick::repaint() {
  // Keys move the stick from the key listener's thread: the window repaints on the UI thread.
  if (wxThread::IsMain()) {
    Refresh(false);
  } else {
    CallAfter([this] { Refresh(false); });
  }
}

void KVJoystick::DrawBackground(wxDC& dc) { OnDraw(dc, Rotated_Rect, 1, kComponentGrey); }

namespace {
// Shapes land on whole pixels like the board's other parts: no blended edges.
class PixelExact {
 public:
  explicit PixelExact(wxDC& dc) : gc_(dc.GetGraphicsContext()) {
    if (gc_) {
      mode_ = gc_->GetAntialiasMode();
      gc_->SetAntialiasMode(wxANTIALIAS_NONE);
    }
  }
  ~PixelExact() {
    if (gc_) gc_->SetAntialiasMode(mode_);
  }

 private:
  wxGraphicsContext* gc_;
  wxAntialiasMode mode_ = wxANTIALIAS_DEFAULT;
};
}  // namespace

void KVJoystick::DrawComponent(wxDC& dc) {
  PixelExact exact(dc);
  const wxSize size = GetClientSize();
  const int cx = size.x / 2, cy = size.y / 2;
  const wxBrush grey(wxColour(155, 155, 155));
  wxDCBrushChanger brush(dc, grey);
  {
    // The stick's rubber boot, then its collar with a dark rim.
    wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
    dc.DrawEllipse(cx - 22, cy - 22, 44 - 1, 44 - 1);
  }
  wxDCPenChanger pen(dc, *wxBLACK_PEN);
  dc.DrawEllipse(cx - 18, cy - 18, 36 - 1, 36 - 1);
  KVRect k = korvel::joystick::knobRect(cx, cy, model_.direction());
  knob_ = wxRect(wxPoint(k.left, k.top), wxPoint(k.right - 1, k.bottom - 1));
  dc.SetBrush(model_.pressed() ? wxBrush(wxColour(50, 50, 50)) : *wxBLACK_BRUSH);
  dc.DrawEllipse(knob_.x, knob_.y, knob_.width - 1, knob_.height - 1);
  model_.setDrawn();
}

void KVJoystick::onLeftDown(wxMouseEvent& event) {
  if (isEnabled() && knob_.Contains(event.GetPosition())) {
    if (!HasCapture()) CaptureMouse();
    model_.setDragging(true);
    model_.setDirection(directionFromPoint(event.GetX(), event.GetY()));
  }
  event.Skip();
}

void KVJoystick::onMotion(wxMouseEvent& event) {
  if (model_.dragging() && event.LeftIsDown())
    model_.setDirection(directionFromPoint(event.GetX(), event.GetY()));
  event.Skip();
}

void KVJoystick::onLeftUp(wxMouseEvent& event) {
  if (HasCapture()) ReleaseMouse();
  model_.setDragging(false);
  model_.setDirection(directionFromPoint(event.GetX(), event.GetY()));  // None: no longer dragging
  event.Skip();
}

void KVJoystick::onCaptureLost(wxMouseCaptureLostEvent&) {
  // Another window took the mouse: the user's hand left the stick, which springs back.
  model_.setDragging(false);
  model_.setDirection(JoyDirection::None);
}

void KVJoystick::onMiddleDown(wxMouseEvent& event) {
  model_.setPressed(1);
  event.Skip();
}

void KVJoystick::onMiddleUp(wxMouseEvent& event) {
  model_.setPressed(0);
  event.Skip();
}

void KVJoystick::onSetCursor(wxSetCursorEvent& event) {
  if (isEnabled() && (model_.dragging() || knob_.Contains(event.GetX(), event.GetY()))) {
    event.SetCursor(wxCursor(wxCURSOR_HAND));
    return;
  }
  event.Skip();
}
