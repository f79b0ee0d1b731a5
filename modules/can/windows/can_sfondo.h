// The invisible component "CAN Bus" that spans the CAN area of the board: it draws nothing (the
// board picture shows through) and exists so that a right click anywhere on the CAN connectors
// opens the CAN information dialog.
#pragma once

#include <string>

#include "korvel/kvbase.h"

class canSfondo : public KVBase {
 public:
  canSfondo(const std::string& identifier, ChipOrientation orientation);

  void setOrientation(ChipOrientation orientation) override;
  bool drawn() const { return drawn_ != 0; }

 protected:
  // Only the upright footprints (orientations 0 and 2) exist; the others report
  // "Not yet implemented." and values above 3 "Invalid orientation.".
  void DrawComponent(wxDC& dc) override;

 private:
  int drawn_ = 0;
};
