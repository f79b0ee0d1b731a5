// Two small self-drawn controls of the settings page, drawn at exactly the size the page gives
// them (the desktop's own check boxes and spin buttons need more room than the page's rows):
// a check box without text that the page toggles itself, and an up-down control.
#pragma once

#include <wx/control.h>

// A square check box. A click or the space bar flips it and sends wxEVT_CHECKBOX.
class PlainCheckBox : public wxControl {
 public:
  PlainCheckBox(wxWindow* parent, wxWindowID id);
  bool GetValue() const { return checked_; }
  void SetValue(bool checked);
  // Flips the state as a click does, telling the page.
  void toggle();

 private:
  void onPaint(wxPaintEvent& event);
  void onLeftDown(wxMouseEvent& event);
  void onKey(wxKeyEvent& event);
  wxSize DoGetBestSize() const override { return wxSize(16, 16); }

  bool checked_ = false;
};

// Two arrow halves: the upper one raises the position by one, the lower one lowers it, within
// the range; each step sends wxEVT_SPIN with the new position. The wheel steps too.
class UpDownControl : public wxControl {
 public:
  UpDownControl(wxWindow* parent, wxWindowID id);
  void SetRange(int low, int high);
  int GetMin() const { return min_; }
  int GetMax() const { return max_; }
  int GetValue() const { return value_; }
  // Clamped to the range; sends nothing.
  void SetValue(int value);
  // One step as a click does (+1 or -1), telling the page.
  void step(int direction);

 private:
  void onPaint(wxPaintEvent& event);
  void onLeftDown(wxMouseEvent& event);
  void onWheel(wxMouseEvent& event);
  wxSize DoGetBestSize() const override { return wxSize(40, 26); }

  int min_ = 0;
  int max_ = 100;
  int value_ = 0;
};
