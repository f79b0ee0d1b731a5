// The LCD on the board: a dark frame around a 240 x 320 screen that shows the controller's
// frame buffer while the component is enabled (the board powered) and black otherwise.
// A refresh thread per window polls the frame every 16 ms and, when it changed, copies it and
// posts a repaint to the UI thread; the window itself is touched on the UI thread only.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <wx/bitmap.h>
#include <wx/gdicmn.h>

#include "korvel/kvbase.h"
#include "pictor/api.h"

namespace pictor {
class FrameBuffer;
class FrameRefresher;
}

class PICTOR_API KVLCD : public KVBase {
 public:
  // Starts the refresh thread; throws std::system_error when it cannot be started.
  KVLCD(const std::string& name, ChipOrientation orientation);
  ~KVLCD() override;

  // The component's footprint: 272 x 379 upright (orientations 0 and 2), 379 x 272 across.
  static wxSize Size(ChipOrientation orientation);

  void setOrientation(ChipOrientation orientation) override;
  void setEnabled(int enabled) override;

  // Where the picture goes, in client coordinates (as the last paint computed it).
  wxRect screenRect() const { return screen_; }
  // The last frame the refresh thread delivered, as 0x00RRGGBB words (UI thread).
  std::vector<uint32_t> shownFrame() const;

 protected:
  void DrawBackground(wxDC& dc) override;
  void DrawComponent(wxDC& dc) override;

 private:
  void deliver(const pictor::FrameBuffer& frame);
  void onFrameArrived();
  const wxBitmap& displayBitmap();

  wxRect screen_{16, 16, 240, 320};
  bool drawn_ = false;
  mutable std::mutex displayMutex_;    // guards display_ between refresh and UI threads
  std::vector<uint32_t> display_;      // the last delivered frame
  bool bitmapStale_ = true;            // display_ changed since bitmap_ was built (UI thread)
  wxBitmap bitmap_;
  std::unique_ptr<pictor::FrameRefresher> refresher_;  // last member: stops first
};
