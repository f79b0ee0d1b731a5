// The coloured square of one CAN port on the board ("Quillon1", "Quillon2"). Its colour is the
// port's colour, which every instance sharing the port's exchange directory agrees on.
#pragma once

#include <string>

#include <wx/gdicmn.h>

#include "korvel/api.h"
#include "korvel/kvbase.h"

#if defined(KORVEL_BUILDING_QUILLON)
#define QUILLON_API KORVEL_EXPORT
#else
#define QUILLON_API KORVEL_IMPORT
#endif

class QUILLON_API KVQuillon : public KVBase {
 public:
  // colour: 0x00BBGGRR.
  KVQuillon(const std::string& identifier, unsigned long colour, ChipOrientation orientation);
  ~KVQuillon() override;

  // 13 by 13 in every orientation.
  static wxSize Size();

  // Stores a new colour and repaints only the coloured square (not the plate around it) when the
  // square has been drawn and the component is enabled. UI thread only.
  void setColor(unsigned long colour);
  unsigned long getColor() const { return colour_; }
  // Stores the colour without repainting.
  void setColorVariable(unsigned long colour) { colour_ = colour; }

  // A directory the owner may keep with the component; the component does not use it.
  void setFolderVariable(const std::string& folder) { folder_ = folder; }
  std::string getFolderVariable() const { return folder_; }

  void setEnabled(int enabled) override;
  void setOrientation(ChipOrientation orientation) override;

  // The coloured square as last painted (empty before the first paint).
  wxRect colourRect() const { return colourRect_; }
  bool drawn() const { return drawn_ != 0; }

 protected:
  // The plate: blue with a white edge, grey inside (the square covers the grey).
  void DrawBackground(wxDC& dc) override;
  // The square, 2 pixels in from every edge, in the port's colour.
  void DrawComponent(wxDC& dc) override;

 private:
  wxRect colourRect_;
  unsigned long colour_;
  std::string folder_;
  int drawn_ = 0;
};
