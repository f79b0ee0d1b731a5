#include "pictor/kvlcd.h"

#include <cstring>
#include <stdexcept>

#include <wx/dc.h>
#include <wx/image.h>

#include "frame_refresher.h"
#include "lcd_peripheral.h"

using pictor::kLcdHeight;
using pictor::kLcdPixels;
using pictor::kLcdWidth;

namespace {
constexpr int kInset = 5;  // the frame's border inside the component
const wxColour kBaseGrey(155, 155, 155);
const wxColour kFrameGrey(50, 50, 50);
}  // namespace

KVLCD::KVLCD(const std::string& name, ChipOrientation orientation)
    : KVBase(name, orientation) {
  pictor::FrameBuffer& frame = pictor::lcdPeripheral().frame();
  display_.resize(kLcdPixels);
  frame.copyTo(display_.data());
  refresher_ = std::make_unique<pictor::FrameRefresher>(
      frame,
      [this] { return isEnabled() && pictor::lcdPeripheral().controller().displayShowing(); },
      [this](const pictor::FrameBuffer& frame) { deliver(frame); });
}

KVLCD::~KVLCD() { refresher_.reset(); }

wxSize KVLCD::Size(ChipOrientation orientation) {
  return (orientation == Orientation1 || orientation == Orientation3) ? wxSize(379, 272)
                                                                      : wxSize(272, 379);
}

void KVLCD::setOrientation(ChipOrientation orientation) {
  if (orientation == orientation_) return;
  orientation_ = orientation;
  if (drawn_) Refresh(true);
}

void KVLCD::setEnabled(int enabled) {
  if ((enabled != 0) == (isEnabled() != 0)) return;
  KVBase::setEnabled(enabled);
  if (GetHandle()) RefreshRect(screen_, false);
}

std::vector<uint32_t> KVLCD::shownFrame() const {
  std::lock_guard<std::mutex> lock(displayMutex_);
  return display_;
}

// Refresh thread: one block copy, then the UI thread repaints.
void KVLCD::deliver(const pictor::FrameBuffer& frame) {
  {
    std::lock_guard<std::mutex> lock(displayMutex_);
    frame.copyTo(display_.data());
  }
  CallAfter(&KVLCD::onFrameArrived);
}

void KVLCD::onFrameArrived() {
  bitmapStale_ = true;
  if (!GetHandle()) return;
  RefreshRect(screen_, false);
  // The touch panel lies over the screen and paints the LCD's picture as its own backdrop.
  for (wxWindow* child : GetChildren()) child->Refresh(false);
}

const wxBitmap& KVLCD::displayBitmap() {
  if (bitmapStale_ || !bitmap_.IsOk()) {
    wxImage image(kLcdWidth, kLcdHeight, false);
    unsigned char* rgb = image.GetData();
    std::lock_guard<std::mutex> lock(displayMutex_);
    for (int i = 0; i < kLcdPixels; ++i) {
      const uint32_t word = display_[i];
      rgb[3 * i] = static_cast<unsigned char>(word >> 16);
      rgb[3 * i + 1] = static_cast<unsigned char>(word >> 8);
      rgb[3 * i + 2] = static_cast<unsigned char>(word);
    }
    bitmap_ = wxBitmap(image, 24);
    bitmapStale_ = false;
  }
  return bitmap_;
}

void KVLCD::DrawBackground(wxDC& dc) {
  OnDraw(dc, Rect, 0, kComponentGrey);
  const wxSize size = GetClientSize();
  const wxPen oldPen = dc.GetPen();
  const wxBrush oldBrush = dc.GetBrush();
  dc.SetPen(wxPen(*wxWHITE, 6));
  dc.SetBrush(wxBrush(kFrameGrey));
  // The frame reaches one pixel further right and down than the inset rectangle.
  dc.DrawRectangle(kInset, kInset, size.x - 2 * kInset + 1, size.y - 2 * kInset + 1);
  dc.SetPen(oldPen);
  dc.SetBrush(oldBrush);
}

void KVLCD::DrawComponent(wxDC& dc) {
  const wxSize size = GetClientSize();
  const int left = kInset, right = size.x - kInset;
  if (orientation_ > Orientation3 || orientation_ < Orientation0)
    throw std::runtime_error("Invalid ChipOrientation.");
  if (orientation_ == Orientation1 || orientation_ == Orientation3)
    throw std::runtime_error("Not yet implemented.");
  // Upright either way up: the screen hangs from the frame's horizontal centre.
  const int cx = (left + right + 1) / 2;
  screen_ = wxRect(cx - 120, cx - 120, kLcdWidth, kLcdHeight);
  if (isEnabled()) {
    dc.DrawBitmap(displayBitmap(), screen_.GetTopLeft(), false);
  } else {
    const wxPen oldPen = dc.GetPen();
    const wxBrush oldBrush = dc.GetBrush();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(*wxBLACK_BRUSH);
    dc.DrawRectangle(screen_);
    dc.SetPen(oldPen);
    dc.SetBrush(oldBrush);
  }
  drawn_ = true;
}
