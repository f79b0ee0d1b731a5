// Puts back a DC's pen, brush and smoothing however a drawing step ends, and meanwhile draws on
// whole pixels: the board's parts have hard edges like the original GDI shapes, no blending.
#pragma once

#include <wx/dc.h>
#include <wx/graphics.h>

namespace korvel {

class DcStateGuard {
 public:
  explicit DcStateGuard(wxDC& dc) : dc_(dc), pen_(dc.GetPen()), brush_(dc.GetBrush()) {
    gc_ = dc.GetGraphicsContext();
    if (gc_) {
      antialias_ = gc_->GetAntialiasMode();
      gc_->SetAntialiasMode(wxANTIALIAS_NONE);
    }
  }
  ~DcStateGuard() {
    if (gc_) gc_->SetAntialiasMode(antialias_);
    dc_.SetPen(pen_);
    dc_.SetBrush(brush_);
  }
  DcStateGuard(const DcStateGuard&) = delete;
  DcStateGuard& operator=(const DcStateGuard&) = delete;

 private:
  wxDC& dc_;
  wxPen pen_;
  wxBrush brush_;
  wxGraphicsContext* gc_ = nullptr;
  wxAntialiasMode antialias_ = wxANTIALIAS_DEFAULT;
};

}  // namespace korvel
