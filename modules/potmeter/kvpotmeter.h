// The potentiometer's window: a knob turned by dragging it with the left button (it points at
// the mouse), by the mouse wheel over it, and by the module's keys (Page Up / Page Down, + / -).
#pragma once

#include <functional>

#include "korvel/kvbase.h"
#include "potmeter_logic.h"

class KVPotmeter : public KVBase {
 public:
  using Write = std::function<void(float volts)>;
  using Settings = std::function<korvel::potmeter::NoiseSettings()>;

  // write: where readings go (the AIN5 register); settings: the noise settings for each reading.
  KVPotmeter(Write write, Settings settings);
  ~KVPotmeter() override;

  void setEnabled(int enabled) override;
  void setOrientation(ChipOrientation orientation) override;

  korvel::potmeter::PotmeterModel& model() { return model_; }
  // Called first thing in the destructor, so other threads can stop using the knob in time.
  void setOnGone(std::function<void()> onGone) { onGone_ = std::move(onGone); }
  // The position saved when the knob was last on the board (false: none saved).
  bool loadPosition(float* position) { return loadSettings(*position) != 0; }
  // A key of the key listener went down. Any thread.
  void key(unsigned int virtualKey);
  // The knob's circle in client coordinates.
  wxRect knobRect() const;

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;

 private:
  void repaint();
  void onLeftDown(wxMouseEvent& event);
  void onMotion(wxMouseEvent& event);
  void onLeftUp(wxMouseEvent& event);
  void onWheel(wxMouseEvent& event);
  void onCaptureLost(wxMouseCaptureLostEvent& event);
  void onSetCursor(wxSetCursorEvent& event);
  void pointAt(const wxPoint& p);

  korvel::potmeter::PotmeterModel model_;
  std::function<void()> onGone_;

  wxDECLARE_EVENT_TABLE();
};
