// Draws the board picture "board.bmp" (768 x 552): a green PCB with the board's parts where the
// component windows are laid over it, silkscreen labels, the microcontroller and connectors.
// Runs at build time without a display: usage draw_board <output.bmp>.
#include <cmath>
#include <cstdio>
#include <string>

#include <wx/wx.h>
#include <wx/dcgraph.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/init.h>

#include "board_layout.h"

namespace {

const wxColour kPcb(22, 92, 52);
const wxColour kPcbEdge(12, 58, 32);
const wxColour kTrace(44, 128, 74);
const wxColour kSilk(236, 236, 226);
const wxColour kCopper(204, 164, 72);
const wxColour kMetal(186, 190, 196);
const wxColour kMetalDark(120, 124, 130);
const wxColour kChip(28, 28, 30);
const wxColour kChipText(170, 170, 170);

class Painter {
 public:
  explicit Painter(wxGCDC& dc) : dc_(dc) {}

  void fill(const wxRect& r, const wxColour& c, const wxColour& outline = wxNullColour,
            int penWidth = 1) {
    dc_.SetBrush(wxBrush(c));
    dc_.SetPen(outline.IsOk() ? wxPen(outline, penWidth) : *wxTRANSPARENT_PEN);
    dc_.DrawRectangle(r);
  }
  void rounded(const wxRect& r, double radius, const wxColour& c, const wxColour& outline) {
    dc_.SetBrush(wxBrush(c));
    dc_.SetPen(outline.IsOk() ? wxPen(outline, 1) : *wxTRANSPARENT_PEN);
    dc_.DrawRoundedRectangle(r, radius);
  }
  void outline(const wxRect& r, const wxColour& c, int width = 1) {
    dc_.SetBrush(*wxTRANSPARENT_BRUSH);
    dc_.SetPen(wxPen(c, width));
    dc_.DrawRectangle(r);
  }
  void circle(int cx, int cy, int radius, const wxColour& c, const wxColour& outline = wxNullColour,
              int penWidth = 1) {
    dc_.SetBrush(c.IsOk() ? wxBrush(c) : *wxTRANSPARENT_BRUSH);
    dc_.SetPen(outline.IsOk() ? wxPen(outline, penWidth) : *wxTRANSPARENT_PEN);
    dc_.DrawCircle(cx, cy, radius);
  }
  void line(int x1, int y1, int x2, int y2, const wxColour& c, int width) {
    dc_.SetPen(wxPen(c, width));
    dc_.DrawLine(x1, y1, x2, y2);
  }
  void text(const std::string& s, int x, int y, int points, const wxColour& c, bool bold = true) {
    wxFontInfo info(points);
    info.Family(wxFONTFAMILY_SWISS);
    if (bold) info.Bold();
    dc_.SetFont(wxFont(info));
    dc_.SetTextForeground(c);
    dc_.DrawText(s, x, y);
  }
  // Centred horizontally on cx.
  void label(const std::string& s, int cx, int y, int points = 7) {
    wxFontInfo info(points);
    info.Family(wxFONTFAMILY_SWISS).Bold();
    dc_.SetFont(wxFont(info));
    const wxSize extent = dc_.GetTextExtent(s);
    text(s, cx - extent.x / 2, y, points, kSilk);
  }

 private:
  wxGCDC& dc_;
};

void drawBoardOutline(Painter& p) {
  p.fill(wxRect(0, 0, kBoardWidth, kBoardHeight), kPcb);
  p.outline(wxRect(1, 1, kBoardWidth - 2, kBoardHeight - 2), kPcbEdge, 3);
  for (auto [x, y] : {std::pair{14, 14}, {754, 14}, {14, 538}, {754, 538}}) {
    p.circle(x, y, 8, kCopper);
    p.circle(x, y, 4, kPcbEdge);
  }
}

// Copper tracks between the parts, drawn first so the parts sit on top of them.
void drawTraces(Painter& p) {
  for (int i = 0; i < 8; ++i) {  // LCD data bus to the microcontroller
    p.line(508, 150 + i * 8, 518 + i * 5, 150 + i * 8, kTrace, 2);
    p.line(518 + i * 5, 150 + i * 8, 518 + i * 5, 220, kTrace, 2);
    p.line(518 + i * 5, 220, 562 + i * 5, 264, kTrace, 2);
    p.line(562 + i * 5, 264, 562 + i * 5, 294, kTrace, 2);
  }
  for (int i = 0; i < 4; ++i) {  // buttons to port 2
    const int x = 265 + i * 50;
    p.line(x, 512, x, 490, kTrace, 2);
    p.line(x, 490, 560 - i * 6, 490, kTrace, 2);
  }
  p.line(560, 490, 560, 400, kTrace, 2);
  p.line(169, 474, 169, 440, kTrace, 2);  // joystick to port 1
  p.line(169, 440, 548, 440, kTrace, 2);
  p.line(548, 440, 548, 400, kTrace, 2);
  for (int i = 0; i < 2; ++i) {  // CAN transceivers to the controller pins
    const int x = 377 + i * 50;
    p.line(x, 66, x, 80, kTrace, 2);
    p.line(x, 80, 588 + i * 8, 80, kTrace, 2);
    p.line(588 + i * 8, 80, 588 + i * 8, 294, kTrace, 2);
  }
  p.line(708, 66, 740, 66, kTrace, 3);  // power path: jack, jumper, switch, regulator
  p.line(660, 114, 640, 114, kTrace, 3);
  p.line(640, 114, 640, 160, kTrace, 3);
  p.line(158, 257, 158, 330, kTrace, 2);  // JP5 to the INT0 line
  p.line(158, 330, 560, 330, kTrace, 2);
  p.line(704, 462, 704, 452, kTrace, 2);  // potentiometer wiper to AD0.5 (P1.31)
  p.line(704, 452, 652, 452, kTrace, 2);
  p.line(652, 452, 652, 408, kTrace, 2);
  p.line(614, 468, 614, 458, kTrace, 2);  // speaker amplifier to AOUT (P0.26)
  p.line(614, 458, 640, 458, kTrace, 2);
  p.line(640, 458, 640, 408, kTrace, 2);
  for (int i = 0; i < 6; ++i) p.line(110, 72 + 0, 110 + 20 + i * 4, 72, kTrace, 1);
}

void drawMicrocontroller(Painter& p) {
  const wxRect chip(560, 300, 100, 100);
  for (int i = 0; i < 25; ++i) {  // 100 gull-wing pins, 25 a side
    const int o = chip.y + 4 + i * 4;
    p.fill(wxRect(chip.x - 6, o, 6, 2), kMetal);
    p.fill(wxRect(chip.GetRight() + 1, o, 6, 2), kMetal);
    const int q = chip.x + 4 + i * 4;
    p.fill(wxRect(q, chip.y - 6, 2, 6), kMetal);
    p.fill(wxRect(q, chip.GetBottom() + 1, 2, 6), kMetal);
  }
  p.fill(chip, kChip);
  p.circle(chip.x + 10, chip.y + 10, 3, wxColour(50, 50, 52));
  p.text("NXP", chip.x + 34, chip.y + 24, 9, kChipText);
  p.text("LPC1768", chip.x + 18, chip.y + 44, 9, kChipText);
  p.text("FBD100", chip.x + 26, chip.y + 64, 7, kChipText, false);
  p.label("U1", chip.x + 50, chip.GetBottom() + 10);
  // 12 MHz crystal and its load capacitors.
  p.rounded(wxRect(580, 424, 36, 14), 6, kMetal, kMetalDark);
  p.text("12.000", 584, 425, 6, kChip, false);
  p.fill(wxRect(622, 424, 8, 5), wxColour(160, 120, 70));
  p.fill(wxRect(622, 433, 8, 5), wxColour(160, 120, 70));
  p.label("Y1", 598, 442);
}

void drawSmdParts(Painter& p) {
  // Decoupling capacitors and resistors scattered around the microcontroller and the LCD.
  const int parts[][3] = {{540, 420, 0}, {670, 310, 1}, {670, 350, 1}, {540, 280, 0}, {620, 280, 0},
                          {520, 110, 1}, {520, 190, 1}, {690, 250, 0}, {610, 220, 1}, {215, 300, 1},
                          {215, 340, 1}, {60, 410, 0},  {100, 410, 0}, {190, 90, 1},  {460, 60, 0}};
  for (const auto& part : parts) {
    const bool resistor = part[2];
    const wxRect body(part[0], part[1], 10, 5);
    p.fill(body, resistor ? wxColour(20, 20, 20) : wxColour(170, 130, 80));
    p.fill(wxRect(body.x, body.y, 2, 5), kMetal);
    p.fill(wxRect(body.GetRight() - 1, body.y, 2, 5), kMetal);
  }
}

void drawLeftSide(Painter& p) {
  p.text("KORVEL", 28, 140, 26, kSilk);
  p.text("LPC17xx development board", 30, 182, 8, kSilk, false);
  p.text("Tessarine  rev 1.2", 30, 198, 7, kSilk, false);
  // JTAG header, 2 x 10.
  p.fill(wxRect(20, 60, 90, 24), wxColour(30, 30, 30), kSilk);
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 2; ++j) p.fill(wxRect(25 + i * 8, 64 + j * 9, 4, 4), kCopper);
  p.label("JTAG", 65, 46);
  // USB device connector on the left edge.
  p.fill(wxRect(0, 96, 34, 30), kMetal, kMetalDark);
  p.fill(wxRect(4, 104, 22, 14), kMetalDark);
  p.label("USB", 50, 104);
  // Serial connector and its level shifter.
  p.rounded(wxRect(20, 250, 70, 30), 6, kMetal, kMetalDark);
  for (int i = 0; i < 5; ++i) p.circle(32 + i * 11, 260, 2, kChip);
  for (int i = 0; i < 4; ++i) p.circle(37 + i * 11, 270, 2, kChip);
  p.label("UART0", 55, 284);
  p.fill(wxRect(40, 320, 50, 24), kChip);
  p.label("U3", 65, 348);
  // SD card socket.
  p.fill(wxRect(24, 380, 90, 70), kMetal, kMetalDark);
  p.fill(wxRect(30, 386, 78, 58), wxColour(150, 154, 160));
  p.label("SD CARD", 69, 452);
}

void drawLcd(Painter& p, const wxRect& lcd) {
  // The display module: a carrier outline on the silkscreen, the module itself and its flex cable.
  p.outline(wxRect(lcd).Inflate(4), kSilk, 1);
  p.fill(wxRect(lcd.x + 100, lcd.GetBottom() - 4, 72, 14), kCopper);
  p.fill(lcd, wxColour(40, 40, 44), wxColour(90, 90, 96));
  p.fill(wxRect(lcd).Deflate(16), wxColour(12, 14, 18));
  p.text("LCD1  TFT 240 x 320", lcd.x + 2, lcd.y - 17, 7, kSilk);
}

void drawCan(Painter& p, const wxRect& bus) {
  // Two DB9 connectors (CAN1, CAN2) on the top edge with their transceivers below.
  p.outline(wxRect(bus).Inflate(2), kSilk, 1);
  const int centres[2] = {377, 427};
  for (int i = 0; i < 2; ++i) {
    const int cx = centres[i];
    p.fill(wxRect(cx - 23, 0, 46, 34), kMetal, kMetalDark);
    p.rounded(wxRect(cx - 16, 14, 32, 14), 5, kChip, kMetalDark);
    for (int k = 0; k < 5; ++k) p.circle(cx - 12 + k * 6, 19, 1, kCopper);
    for (int k = 0; k < 4; ++k) p.circle(cx - 9 + k * 6, 24, 1, kCopper);
    p.fill(wxRect(cx - 14, 48, 28, 18), kChip);
    for (int k = 0; k < 4; ++k) {
      p.fill(wxRect(cx - 12 + k * 7, 45, 3, 3), kMetal);
      p.fill(wxRect(cx - 12 + k * 7, 66, 3, 3), kMetal);
    }
    p.text(i == 0 ? "CAN1" : "CAN2", cx - 12, 51, 6, kChipText, false);
  }
}

void drawPower(Painter& p) {
  // DC jack in the top-right corner.
  p.fill(wxRect(722, 2, 44, 40), wxColour(26, 26, 28), kMetalDark);
  p.circle(744, 22, 9, wxColour(60, 60, 62));
  p.circle(744, 22, 3, kMetal);
  p.label("5V DC", 744, 44);
  // Regulator.
  p.fill(wxRect(600, 150, 34, 22), kChip);
  p.fill(wxRect(607, 142, 20, 8), kMetal);
  for (int k = 0; k < 3; ++k) p.fill(wxRect(603 + k * 12, 172, 4, 6), kMetal);
  p.label("U2 3V3", 617, 182);
}

// The footprint under a component window: pads and a silkscreen outline around its rectangle,
// and the label the board prints next to it.
void drawFootprint(Painter& p, const ComponentPlace& place) {
  const wxRect r(place.left, place.top, place.right - place.left, place.bottom - place.top);
  switch (place.kind) {
    case PartKind::Button:
      for (auto [dx, dy] : {std::pair{-4, 3}, {r.width, 3}, {-4, r.height - 9}, {r.width, r.height - 9}})
        p.fill(wxRect(r.x + dx, r.y + dy, 4, 6), kMetal);
      p.fill(r, kMetalDark);
      p.outline(wxRect(r).Inflate(3), kSilk);
      p.label(place.id, r.x + r.width / 2, r.y - 15);
      break;
    case PartKind::Jumper:
      p.fill(wxRect(r).Inflate(1), wxColour(24, 24, 24));
      p.outline(wxRect(r).Inflate(3), kSilk);
      p.label(place.id, r.x + r.width / 2, r.y - 15);
      break;
    case PartKind::Joystick:
      p.circle(r.x + r.width / 2, r.y + r.height / 2, r.width / 2 + 4, wxNullColour, kSilk, 1);
      p.circle(r.x + r.width / 2, r.y + r.height / 2, r.width / 2, kMetalDark, kMetal, 1);
      p.label("JOYSTICK", r.x + r.width / 2, r.y - 15);
      break;
    case PartKind::Switch:
      p.fill(r, wxColour(30, 30, 32), kSilk);
      p.label("SW6  POWER", r.x + r.width / 2, r.GetBottom() + 4);
      break;
    case PartKind::Led:
      p.fill(wxRect(r).Inflate(2), kCopper);
      p.fill(r, wxColour(230, 230, 220));
      p.label("LD12 PWR", r.x + r.width / 2, r.GetBottom() + 5);
      break;
    case PartKind::Lcd:
      drawLcd(p, r);
      break;
    case PartKind::CanBus:
      drawCan(p, r);
      break;
    case PartKind::CanPort:
      p.fill(r, kChip, kMetal);
      break;
    case PartKind::Potmeter:
      // A square trimmer body with its three legs below; the knob window covers the body.
      for (int k = 0; k < 3; ++k) p.fill(wxRect(r.x + 12 + k * 14, r.GetBottom() + 1, 4, 6), kMetal);
      p.fill(r, wxColour(30, 30, 32), kMetalDark);
      p.outline(wxRect(r).Inflate(3), kSilk);
      p.label("POT1  AD0.5", r.x + r.width / 2, r.y - 15);
      break;
    case PartKind::Speaker:
      p.circle(r.x + r.width / 2, r.y + r.height / 2, r.width / 2 + 3, wxNullColour, kSilk, 1);
      p.circle(r.x + r.width / 2, r.y + r.height / 2, r.width / 2, wxColour(30, 30, 32), kMetalDark, 1);
      p.label("LS1 SPEAKER", r.x + r.width / 2, r.GetBottom() + 4);
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_board <output.bmp>\n");
    return 2;
  }
  wxInitializer init;
  if (!init.IsOk()) {
    std::fprintf(stderr, "draw_board: cannot initialise wxWidgets\n");
    return 1;
  }
  wxImage image(kBoardWidth, kBoardHeight);
  {
    wxGraphicsContext* gc = wxGraphicsContext::Create(image);
    gc->EnableOffset(true);
    wxGCDC dc(gc);
    Painter p(dc);
    drawBoardOutline(p);
    drawTraces(p);
    drawLeftSide(p);
    drawMicrocontroller(p);
    drawSmdParts(p);
    drawPower(p);
    for (const ComponentPlace& place : kComponentPlaces) drawFootprint(p, place);
  }
  if (!image.SaveFile(wxString::FromUTF8(argv[1]), wxBITMAP_TYPE_BMP)) {
    std::fprintf(stderr, "draw_board: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
