// The LCD window under a real display: the picture the firmware draws shows within a refresh
// period, black while the component is disabled, and the unsupported orientations refuse to paint.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/log.h>
#include <wx/panel.h>

#include "array_host.h"
#include "korvel/host_functions.h"
#include "lcd_bus_driver.h"
#include "pictor/kvlcd.h"

extern "C" {
int DefineAllSFR(void);
int DefineAllVTREG(void);
int DefineAllWatches(void);
}

using korvel_testing::ArrayHost;
using korvel_testing::LcdBusDriver;

namespace {

// Pumps the UI thread's queue until pred holds (the limit only guards against a hang).
template <class Pred>
bool pumpUntil(Pred pred) {
  for (int i = 0; i < 400 && !pred(); ++i) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

wxImage render(KVLCD& lcd) {
  wxBitmap bitmap(lcd.GetClientSize());
  {
    wxMemoryDC dc(bitmap);
    lcd.Render(dc);
  }
  return bitmap.ConvertToImage();
}

std::string rgbAt(const wxImage& image, int x, int y) {
  char text[32];
  std::snprintf(text, sizeof text, "%02X%02X%02X", image.GetRed(x, y), image.GetGreen(x, y),
                image.GetBlue(x, y));
  return text;
}

TEST(KVLCDWindow, FirmwareDrawingShowsWithinARefreshAndGoesBlackWhenDisabled) {
  ArrayHost::clear();
  ArrayHost::install(*getAgsi());
  ASSERT_EQ(DefineAllSFR() && DefineAllVTREG() && DefineAllWatches(), 1);
  LcdBusDriver bus;
  bus.idle();
  bus.writeRegister(0x10, 0x1000);
  bus.writeRegister(0x07, 0x0133);  // display on: white
  bus.writeRegister(0x60, 0x8000);  // RAM row 0 at the top
  bus.writeRegister(0x03, 0x1030);
  bus.writeRegister(0x20, 0);
  bus.writeRegister(0x21, 0);
  bus.writeRegister(0x22, 0xF800);  // one red pixel at the top-left corner

  auto* frame = new wxFrame(nullptr, wxID_ANY, "LCD", wxDefaultPosition, wxSize(400, 500));
  auto* lcd = new KVLCD("Pictor", Orientation0);
  // A frame stretches a lone child over its client area: the LCD sits on a panel instead.
  auto* panel = new wxPanel(frame);
  ASSERT_TRUE(lcd->Create(panel, wxID_ANY, wxPoint(0, 0), KVLCD::Size(Orientation0)));
  frame->Show();
  ASSERT_TRUE(pumpUntil([&] { return lcd->shownFrame()[0] == 0x00FC0000u; }))
      << "the refresh thread did not deliver the drawn frame";

  wxImage shown = render(*lcd);
  if (const char* out = std::getenv("KORVEL_LCD_PNG")) shown.SaveFile(out, wxBITMAP_TYPE_PNG);
  EXPECT_EQ(rgbAt(shown, 16, 16), "FC0000") << "top-left of the screen area";
  EXPECT_EQ(rgbAt(shown, 17, 16), "FFFFFF") << "display-on white";
  EXPECT_EQ(rgbAt(shown, 255, 335), "FFFFFF") << "bottom-right of the screen area";
  EXPECT_EQ(rgbAt(shown, 12, 100), "323232") << "the dark frame around the screen";

  lcd->setEnabled(0);
  shown = render(*lcd);
  EXPECT_EQ(rgbAt(shown, 16, 16), "000000") << "a disabled LCD shows black";
  EXPECT_EQ(rgbAt(shown, 200, 300), "000000");

  lcd->setEnabled(1);
  lcd->setOrientation(Orientation1);
  {
    wxBitmap scratch(lcd->GetClientSize());
    wxMemoryDC dc(scratch);
    EXPECT_FALSE(lcd->Render(dc)) << "orientation 1 must refuse to paint";
  }
  EXPECT_EQ(lcd->reportedDrawErrors(), 1u);
  EXPECT_EQ(KVLCD::Size(Orientation1), wxSize(379, 272));
  frame->Destroy();
  pumpUntil([] { return false; });
}

}  // namespace
