#include "kvspeaker.h"

#include <wx/dc.h>

#include "korvel/dc_guard.h"

wxBEGIN_EVENT_TABLE(KVSpeaker, KVBase)
  EVT_LEFT_DOWN(KVSpeaker::onLeftDown)
wxEND_EVENT_TABLE()

KVSpeaker::KVSpeaker(std::function<bool()> sounding, std::function<void()> testTone)
    : KVBase("Speaker", Orientation0), sounding_(std::move(sounding)), testTone_(std::move(testTone)) {}

void KVSpeaker::setOrientation(ChipOrientation orientation) { orientation_ = orientation; }

void KVSpeaker::poll() {
  bool now = sounding_ && sounding_();
  if (now != shown_) {
    shown_ = now;
    Refresh(false);
  }
}

void KVSpeaker::DrawBackground(wxDC&) {}  // round: the board picture shows around it

void KVSpeaker::DrawComponent(wxDC& dc) {
  korvel::DcStateGuard exact(dc);
  const wxSize size = GetClientSize();
  const int cx = size.x / 2, cy = size.y / 2;
  const int r = std::min(size.x, size.y) / 2 - 1;
  {
    wxDCPenChanger pen(dc, wxPen(wxColour(120, 124, 130), 1));
    wxDCBrushChanger brush(dc, wxBrush(wxColour(30, 30, 32)));
    dc.DrawEllipse(cx - r, cy - r, 2 * r + 1, 2 * r + 1);
  }
  // The grille: a few rings of holes around the centre.
  {
    wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
    wxDCBrushChanger brush(dc, wxBrush(wxColour(80, 80, 86)));
    for (int y = -r + 6; y <= r - 6; y += 5)
      for (int x = -r + 6; x <= r - 6; x += 5)
        if (x * x + y * y <= (r - 6) * (r - 6)) dc.DrawRectangle(cx + x - 1, cy + y - 1, 2, 2);
  }
  if (!shown_) return;
  // Sound waves: three bright arcs on the right of the cone.
  wxDCBrushChanger none(dc, *wxTRANSPARENT_BRUSH);
  wxDCPenChanger pen(dc, wxPen(wxColour(255, 214, 40), 2));
  for (int k = 0; k < 3; ++k) {
    const int w = 6 + 6 * k;
    dc.DrawEllipticArc(cx - w, cy - w, 2 * w, 2 * w, -40, 40);
    dc.DrawEllipticArc(cx - w, cy - w, 2 * w, 2 * w, 140, 220);
  }
}

void KVSpeaker::onLeftDown(wxMouseEvent& event) {
  if (testTone_) testTone_();
  event.Skip();
}
