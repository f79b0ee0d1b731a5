#include "viewer3d/help_picture.h"

#include <wx/dcmemory.h>

namespace korvel::viewer {

namespace {

const wxColour kInk(60, 60, 60);
const wxColour kKeyFace(250, 250, 250);
const wxColour kKeyEdge(150, 150, 150);
const wxColour kAccent(40, 110, 190);

// A keyboard key with its label, 36 pixels square, at (x, y).
void drawKey(wxDC& dc, int x, int y, const wxString& label, int width = 36) {
  dc.SetPen(wxPen(kKeyEdge, 1));
  dc.SetBrush(wxBrush(kKeyFace));
  dc.DrawRoundedRectangle(x, y, width, 36, 5);
  dc.SetPen(wxPen(wxColour(210, 210, 210), 1));
  dc.DrawLine(x + 3, y + 31, x + width - 3, y + 31);
  dc.SetTextForeground(kInk);
  wxSize extent = dc.GetTextExtent(label);
  dc.DrawText(label, x + (width - extent.x) / 2, y + (32 - extent.y) / 2);
}

// A mouse seen from above; highlight: 0 wheel, 1 left button.
void drawMouse(wxDC& dc, int x, int y, int highlight) {
  dc.SetPen(wxPen(kKeyEdge, 1));
  dc.SetBrush(wxBrush(kKeyFace));
  dc.DrawRoundedRectangle(x, y, 30, 44, 12);
  dc.DrawLine(x + 15, y, x + 15, y + 18);
  dc.DrawLine(x, y + 18, x + 30, y + 18);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(kAccent));
  if (highlight == 0) {
    dc.DrawRoundedRectangle(x + 12, y + 4, 7, 11, 3);
  } else {
    dc.DrawRectangle(x + 4, y + 5, 10, 12);
  }
}

void drawText(wxDC& dc, int x, int y, const wxString& first, const wxString& second) {
  dc.SetTextForeground(kInk);
  dc.DrawText(first, x, y);
  if (!second.empty()) dc.DrawText(second, x, y + 17);
}

}  // namespace

wxBitmap makeHelpPicture() {
  wxBitmap bitmap(kHelpWidth, kHelpHeight, 24);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(wxBrush(wxColour(255, 255, 255)));
  dc.Clear();
  dc.SetPen(wxPen(wxColour(200, 200, 200), 1));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.DrawRectangle(0, 0, kHelpWidth, kHelpHeight);

  wxFont title(wxFontInfo(14).Bold());
  wxFont body(wxFontInfo(10));
  dc.SetFont(title);
  dc.SetTextForeground(kInk);
  wxString heading = "3D view controls";
  dc.DrawText(heading, (kHelpWidth - dc.GetTextExtent(heading).x) / 2, 16);
  dc.SetPen(wxPen(wxColour(220, 220, 220), 1));
  dc.DrawLine(20, 48, kHelpWidth - 20, 48);

  dc.SetFont(wxFont(wxFontInfo(12).Bold()));
  drawKey(dc, 24, 64, "C");
  drawKey(dc, 24, 116, "R");
  drawKey(dc, 64, 168, wxString::FromUTF8("\xE2\x86\x91"));  // up arrow
  drawKey(dc, 24, 208, wxString::FromUTF8("\xE2\x86\x90"));  // left
  drawKey(dc, 64, 208, wxString::FromUTF8("\xE2\x86\x93"));  // down
  drawKey(dc, 104, 208, wxString::FromUTF8("\xE2\x86\x92"));  // right
  drawMouse(dc, 27, 264, 0);
  drawMouse(dc, 27, 322, 1);

  dc.SetFont(body);
  drawText(dc, 76, 66, "C centres the object", "target, turn and eye back to the start");
  drawText(dc, 76, 118, "R toggles rotation", "the model stops or starts turning");
  drawText(dc, 150, 196, "Arrow keys move", "the camera");
  drawText(dc, 76, 270, "Wheel zooms", "turn it to come closer or go back");
  drawText(dc, 76, 328, "Left button grabs the camera", "hold it and drag to turn the view");

  dc.SetPen(wxPen(wxColour(220, 220, 220), 1));
  dc.DrawLine(20, 382, kHelpWidth - 20, 382);
  dc.SetFont(wxFont(wxFontInfo(11).Bold()));
  dc.SetTextForeground(kAccent);
  wxString dismiss = "Click to dismiss this picture";
  dc.DrawText(dismiss, (kHelpWidth - dc.GetTextExtent(dismiss).x) / 2, 396);
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

}  // namespace korvel::viewer
