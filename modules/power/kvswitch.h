// The slide switch SW6: a lever that flips between on and off when clicked, remembered from one
// run to the next.
#pragma once

#include <functional>
#include <string>

#include "korvel/kvbase.h"
#include "power_logic.h"

class KVSwitch : public KVBase {
 public:
  using Callback = std::function<void(KVSwitch*, int on)>;

  // Reads the stored position (on when none is stored).
  KVSwitch(const std::string& name, ChipOrientation orientation);

  void setEnabled(int enabled) override;
  void setOrientation(ChipOrientation orientation) override;
  void setCallback(const Callback& callback) { callback_ = callback; }

  int isOn() const { return model_.on(); }
  // Flips the lever: stores the position, repaints, tells the owner.
  void toggle();
  // The lever's click area as last drawn (before its tilt).
  wxRect leverRect() const { return lever_; }

 protected:
  void DrawComponent(wxDC& dc) override;

 private:
  std::optional<float> storedPosition();
  void onLeftDown(wxMouseEvent& event);
  void onSetCursor(wxSetCursorEvent& event);

  wxRect lever_;
  korvel::power::SwitchModel model_;
  Callback callback_;
  bool drawn_ = false;

  wxDECLARE_EVENT_TABLE();
};
