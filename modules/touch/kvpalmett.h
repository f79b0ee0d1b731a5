// The touch panel: a component with nothing of its own to show, laid exactly over the LCD's
// screen, that turns left-button presses and drags into the pen position and the pen-down line.
#pragma once

#include <string>

#include "korvel/kvbase.h"
#include "touch_controller.h"

class KVPalmett : public KVBase {
 public:
  KVPalmett(const std::string& name, ChipOrientation orientation);

  // The panel keeps decoding while disabled; the flag only gates the pen and the answers.
  void setEnabled(int enabled) override { enabled_.store(enabled); }
  void setOrientation(ChipOrientation orientation) override { orientation_ = orientation; }

  palmett::TouchController& controller() { return controller_; }

  // Pen actions as the mouse handlers perform them (also used by tests without a display).
  void penPressed(const wxPoint& point);
  void penMoved(const wxPoint& point);
  void penReleased();

 protected:
  // The LCD shows through: what lies under the panel is the LCD's own picture.
  void DrawBackdrop(wxDC& dc) override;

 private:
  void onLeftDown(wxMouseEvent& event);
  void onLeftUp(wxMouseEvent& event);
  void onMotion(wxMouseEvent& event);
  void onLeave(wxMouseEvent& event);
  void onCaptureLost(wxMouseCaptureLostEvent& event);
  void onSetCursor(wxSetCursorEvent& event);

  palmett::TouchController controller_;
};
