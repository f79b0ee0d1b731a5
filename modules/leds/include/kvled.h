// A surface-mount LED on the board: lit while its component is enabled (the board is powered),
// dark while not.
#pragma once

#include <string>

#include <wx/gdicmn.h>

#include "korvel/api.h"
#include "korvel/kvbase.h"

#if defined(KORVEL_BUILDING_LEDS)
#define LEDS_API KORVEL_EXPORT
#else
#define LEDS_API KORVEL_IMPORT
#endif

class LEDS_API KVLed : public KVBase {
 public:
  enum Colour : int { Green = 0, Red = 1, Yellow = 2, Blue = 3 };

  // colour: one of Colour (other values show green).
  KVLed(const std::string& identifier, int colour, ChipOrientation orientation);

  // 12 x 20 upright (orientations 0, 2), 20 x 12 turned (1, 3).
  static wxSize Size(ChipOrientation orientation);

  void setEnabled(int enabled) override;
  void setOrientation(ChipOrientation orientation) override;
  int colour() const { return colour_; }
  // The colour the lens shows now.
  wxColour lensColour() const;

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;

 private:
  int colour_;
};
