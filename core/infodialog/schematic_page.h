// The "Schematic" page: the bundle's schematic bitmap shrunk to fit (never enlarged) and centred;
// a double click on it opens the file in the desktop's default program. Without a usable ".bmp"
// the page says that the schematic is missing.
#pragma once

#include <filesystem>
#include <functional>

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/panel.h>

#include "korvel/api.h"

class wxStaticText;

class KORVEL_API ChipSchematicDialog : public wxPanel {
 public:
  ChipSchematicDialog(wxWindow* parent, const std::filesystem::path& file);

  // True when the picture loaded (picture mode).
  bool loaded() const { return loaded_; }
  // Where the picture lies in the page for the present client size; empty without a picture.
  wxRect pictureRect() const;
  // The rectangle in which the picture was last drawn.
  wxRect drawnRect() const { return drawn_; }
  wxStaticText* missingText() const { return text_; }

  // Draws the page (white background and the picture) as the paint handler does.
  void Render(wxDC& dc);

  // What opens the file on a double click; the desktop's default program unless replaced.
  using Launcher = std::function<bool(const std::filesystem::path&)>;
  static void setLauncherForTesting(Launcher launcher);

  // Pictures wider or taller than this are refused (a hostile header cannot claim gigabytes).
  static constexpr int kMaxSide = 16384;

 private:
  void onPaint(wxPaintEvent& event);
  void onSize(wxSizeEvent& event);
  void onMotion(wxMouseEvent& event);
  void onDoubleClick(wxMouseEvent& event);
  void placeText();

  std::filesystem::path file_;
  wxImage image_;
  wxBitmap scaled_;
  wxStaticText* text_ = nullptr;
  bool loaded_ = false;
  wxRect drawn_;
};

// The size of a BMP file's picture from its header, or an empty size when it is not a BMP.
wxSize bmpHeaderSize(const std::filesystem::path& file);
