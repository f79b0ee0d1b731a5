// The five-way joystick's window: a knob dragged with the left button, pressed in the middle with
// the middle button, and moved by the arrow keys and space through the module's key call-backs.
#pragma once

#include <functional>

#include "joystick_logic.h"
#include "korvel/kvbase.h"

class KVJoystick : public KVBase {
 public:
  using JoyDirection = korvel::joystick::JoyDirection;
  using OnChange = std::function<void(KVJoystick*, JoyDirection, int pressed)>;

  KVJoystick();

  void setEnabled(int enabled) override;
  void setOrientation(ChipOrientation orientation) override;

  void setOnChange(const OnChange& callback);
  void setDirection(JoyDirection d) { model_.setDirection(d); }
  void setPressed(int p) { model_.setPressed(p); }
  // An arrow key (virtual-key code) went down (1) or up (0). Any thread.
  void arrowKey(unsigned int virtualKey, int down);
  // The direction for a point in client coordinates (None unless the knob is being dragged).
  JoyDirection directionFromPoint(int x, int y) const;

  JoyDirection direction() const { return model_.direction(); }
  int pressed() const { return model_.pressed(); }
  bool dragging() const { return model_.dragging(); }
  wxRect knobRect() const { return knob_; }

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;

 private:
  void repaint();
  void onLeftDown(wxMouseEvent& event);
  void onMotion(wxMouseEvent& event);
  void onLeftUp(wxMouseEvent& event);
  void onMiddleDown(wxMouseEvent& event);
  void onMiddleUp(wxMouseEvent& event);
  void onCaptureLost(wxMouseCaptureLostEvent& event);
  void onSetCursor(wxSetCursorEvent& event);

  korvel::joystick::JoystickModel model_;
  wxRect knob_;

  wxDECLARE_EVENT_TABLE();
};
