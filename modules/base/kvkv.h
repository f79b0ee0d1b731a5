// The board itself: the component "Korvel" that shows the board picture and is the parent of
// every other component.
#pragma once

#include <filesystem>
#include <string>

#include <wx/bitmap.h>

#include "korvel/kvbase.h"

class KVKV : public KVBase {
 public:
  KVKV(const std::string& identifier, ChipOrientation orientation);

  // The picture keeps the orientation it was built with.
  void setOrientation(ChipOrientation orientation) override {}

  int painted() const { return painted_; }
  // Where the picture is read from (beside the module library).
  static std::filesystem::path picturePath();

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;
  void DrawBackdropFor(wxDC& dc, const wxRect& area) override;

 private:
  // The picture as last read; read again when the file changes on disk. Null when unreadable.
  const wxBitmap* picture();
  void drawPicture(wxDC& dc, const wxRect& area);

  int painted_ = 0;
  wxBitmap bitmap_;
  std::filesystem::file_time_type pictureTime_{};
  long long pictureSize_ = -1;
};
