#include "kvpalmett.h"

#include <wx/cursor.h>
#include <wx/dc.h>

#include "touch_serial.h"

KVPalmett::KVPalmett(const std::string& name, ChipOrientation orientation)
    : KVBase(name, orientation) {
  Bind(wxEVT_LEFT_DOWN, &KVPalmett::onLeftDown, this);
  Bind(wxEVT_LEFT_UP, &KVPalmett::onLeftUp, this);
  Bind(wxEVT_MOTION, &KVPalmett::onMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &KVPalmett::onLeave, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &KVPalmett::onCaptureLost, this);
  Bind(wxEVT_SET_CURSOR, &KVPalmett::onSetCursor, this);
}

void KVPalmett::penPressed(const wxPoint& point) {
  if (!isEnabled()) return;
  controller_.press(point.x, point.y);
  palmett::touchSerial().drivePenDown(true);
}

void KVPalmett::penMoved(const wxPoint& point) {
  if (!controller_.penDown() || !isEnabled()) return;
  const wxSize size = GetClientSize();
  const bool inside = point.x >= 0 && point.y >= 0 && point.x < size.x && point.y < size.y;
  controller_.drag(point.x, point.y, inside);
}

void KVPalmett::penReleased() {
  controller_.release();
  palmett::touchSerial().drivePenDown(false);
}

void KVPalmett::onLeftDown(wxMouseEvent& event) {
  penPressed(event.GetPosition());
  // Keep the drag's events while the button is held, wherever the pointer goes.
  if (isEnabled() && !HasCapture()) CaptureMouse();
  event.Skip();
}

void KVPalmett::onLeftUp(wxMouseEvent& event) {
  if (HasCapture()) ReleaseMouse();
  penReleased();
  event.Skip();
}

void KVPalmett::onMotion(wxMouseEvent& event) {
  penMoved(event.GetPosition());
  event.Skip();
}

void KVPalmett::onLeave(wxMouseEvent& event) {
  // While the mouse is captured a drag outside keeps the pen down at an unknown position;
  // without capture, leaving the panel lifts the pen. The pointer merely passing over the panel
  // touches nothing: P2.13 is driven by presses and their releases only.
  if (isEnabled() && !HasCapture() && controller_.penDown()) penReleased();
  event.Skip();
}

void KVPalmett::onCaptureLost(wxMouseCaptureLostEvent&) {
  // The window system took the mouse mid-drag (another grab, a dialog): the button-up will not
  // come here, so the pen lifts now rather than staying down with P2.13 low.
  penReleased();
}

void KVPalmett::onSetCursor(wxSetCursorEvent& event) {
  if (isEnabled()) {
    event.SetCursor(wxCursor(wxCURSOR_CROSS));
    return;
  }
  event.Skip();
}

void KVPalmett::DrawBackdrop(wxDC& dc) {
  auto* lcd = dynamic_cast<KVBase*>(GetParent());
  if (!lcd) {
    KVBase::DrawBackdrop(dc);
    return;
  }
  const wxPoint at = GetPosition();
  const wxPoint origin = dc.GetDeviceOrigin();
  dc.SetDeviceOrigin(origin.x - at.x, origin.y - at.y);
  lcd->Render(dc);
  dc.SetDeviceOrigin(origin.x, origin.y);
}
