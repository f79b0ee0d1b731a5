// Pixels of the component base plates, the jumper's cap and the LED, and what happens when a
// component cannot be drawn or goes away with its information dialog open.
#include <unistd.h>

#include <stdexcept>

#include <wx/dialog.h>

#include "gui_support.h"
#include "kvjumper.h"
#include "kvled.h"

using korvel::test::ComponentCanvas;
using korvel::test::render;
using korvel::test::rgb;

namespace {

const std::string kBlue = rgb(2, 82, 131);
const std::string kWhite = rgb(255, 255, 255);
const std::string kBlack = rgb(0, 0, 0);
const std::string kFill = rgb(0, 200, 0);
constexpr unsigned long kFillRef = 0x0000C800;  // RGB(0, 200, 0) as 0x00BBGGRR

class Plate : public KVBase {
 public:
  Plate(BaseType type, int fill) : KVBase("Plate", Orientation0), type_(type), fill_(fill) {}
  void setOrientation(ChipOrientation) override {}

 protected:
  void DrawBackground(wxDC& dc) override { OnDraw(dc, type_, fill_, kFillRef); }

 private:
  BaseType type_;
  int fill_;
};

using PlateDrawing = ComponentCanvas;
using JumperDrawing = ComponentCanvas;
using ComponentLifetime = ComponentCanvas;

TEST_F(PlateDrawing, RectWithoutFillIsBlueInsideAOnePixelWhiteBorder) {
  Plate* plate = place(new Plate(Rect, 0), 10, 10, wxSize(20, 16));
  const wxImage image = render(*plate);
  for (auto [x, y] : {std::pair{0, 0}, {19, 0}, {0, 15}, {19, 15}, {10, 0}, {0, 8}, {19, 8}, {10, 15}})
    EXPECT_EQ(rgb(image, x, y), kWhite) << "border pixel (" << x << "," << y << ")";
  for (auto [x, y] : {std::pair{1, 1}, {18, 14}, {2, 2}, {10, 8}})
    EXPECT_EQ(rgb(image, x, y), kBlue) << "inside pixel (" << x << "," << y << ")";
}

TEST_F(PlateDrawing, RectWithFillShowsTheFillColourTwoPixelsIn) {
  Plate* plate = place(new Plate(Rect, 1), 10, 10, wxSize(20, 16));
  const wxImage image = render(*plate);
  EXPECT_EQ(rgb(image, 0, 0), kWhite);
  EXPECT_EQ(rgb(image, 1, 1), kBlue) << "the blue ring between border and fill";
  EXPECT_EQ(rgb(image, 18, 14), kBlue);
  for (auto [x, y] : {std::pair{2, 2}, {17, 2}, {2, 13}, {17, 13}, {10, 8}})
    EXPECT_EQ(rgb(image, x, y), kFill) << "fill pixel (" << x << "," << y << ")";
}

TEST_F(PlateDrawing, RotatedRectOf32IsADiamondWithCornersJustInsideEachSide) {
  EXPECT_EQ(KVBase::OffsetForRotatedRectOfWidth(32), 5);
  Plate* plate = place(new Plate(Rotated_Rect, 0), 10, 10, wxSize(32, 32));
  const wxImage image = render(*plate);
  EXPECT_EQ(rgb(image, 16, 16), kBlue) << "centre";
  for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}, {5, 5}, {26, 26}})
    EXPECT_EQ(rgb(image, x, y), kBlack) << "outside the diamond (" << x << "," << y << ")";
  // The four corners of the turned square reach to within two pixels of each side's middle.
  for (auto [x, y] : {std::pair{16, 2}, {16, 29}, {2, 16}, {29, 16}})
    EXPECT_NE(rgb(image, x, y), kBlack) << "diamond corner near (" << x << "," << y << ")";
  // Along the diagonals the plate stops well before the window's corners.
  EXPECT_EQ(rgb(image, 6, 6), kBlack);
  EXPECT_EQ(rgb(image, 8, 8), kWhite) << "the edge from the top corner to the left corner";
  EXPECT_EQ(rgb(image, 12, 12), kBlue);
}

TEST_F(PlateDrawing, RotatedRectOnANonSquareWindowIsReportedOnceAndNothingEscapes) {
  Plate* plate = place(new Plate(Rotated_Rect, 0), 10, 10, wxSize(32, 20));
  wxBitmap bitmap(32, 20, 24);
  wxMemoryDC dc(bitmap);
  EXPECT_FALSE(plate->Render(dc)) << "drawing a non-square diamond fails";
  EXPECT_FALSE(plate->Render(dc));
  EXPECT_EQ(plate->reportedDrawErrors(), 1u) << "the same error is reported once";
}

TEST_F(PlateDrawing, AnUnknownPlateShapeIsRefused) {
  Plate* plate = place(new Plate(static_cast<BaseType>(7), 0), 10, 10, wxSize(10, 10));
  wxBitmap bitmap(10, 10, 24);
  wxMemoryDC dc(bitmap);
  EXPECT_FALSE(plate->Render(dc));
  EXPECT_EQ(plate->reportedDrawErrors(), 1u);
}

// A part drawn over a plate that cannot be drawn (a diamond on a window that is not square).
class PartOverBrokenPlate : public Plate {
 public:
  PartOverBrokenPlate() : Plate(Rotated_Rect, 0) {}

 protected:
  void DrawComponent(wxDC& dc) override {
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(0, 200, 0)));
    dc.DrawRectangle(4, 4, 8, 8);
  }
};

TEST_F(PlateDrawing, APlateThatCannotBeDrawnStillLeavesThePartOnShow) {
  auto* part = place(new PartOverBrokenPlate, 10, 10, wxSize(32, 20));
  const wxImage image = render(*part);
  EXPECT_EQ(part->reportedDrawErrors(), 1u) << "the plate's error is reported";
  EXPECT_EQ(rgb(image, 8, 8), kFill) << "the part itself must still be drawn";
}

TEST_F(JumperDrawing, CapCoversTheTwoPinsOfItsState) {
  // Three jumps, upright: 15 x 35; pins of 10 pixels from y 2; the cap joins two of them.
  auto* jumper = place(new KVJumper("JPT", 1, 3, Orientation0), 10, 10,
                       KVJumper::Size(Orientation0, 3));
  ASSERT_EQ(jumper->GetClientSize(), wxSize(15, 35));
  const std::string cap = rgb(18, 231, 114);
  wxImage image = render(*jumper);
  EXPECT_EQ(rgb(image, 3, 12), cap) << "state 1 covers pins 1 and 2";
  EXPECT_EQ(rgb(image, 3, 27), kBlack) << "pin 3 is bare in state 1";
  EXPECT_EQ(rgb(image, 7, 7), rgb(155, 155, 155)) << "the pin's grey dot";
  EXPECT_EQ(rgb(image, 0, 0), kWhite) << "plate border";

  jumper->setState(2);
  image = render(*jumper);
  EXPECT_EQ(rgb(image, 3, 22), cap) << "state 2 covers pins 2 and 3";
  EXPECT_EQ(rgb(image, 3, 7), kBlack) << "pin 1 is bare in state 2";

  jumper->setState(0);
  image = render(*jumper);
  EXPECT_EQ(rgb(image, 3, 12), kBlack) << "no cap in state 0";
}

TEST_F(JumperDrawing, TurnedJumperLaysItsPinsInARow) {
  auto* jumper = place(new KVJumper("JPT", 1, 2, Orientation1), 10, 10,
                       KVJumper::Size(Orientation1, 2));
  ASSERT_EQ(jumper->GetClientSize(), wxSize(24, 15));
  const wxImage image = render(*jumper);
  EXPECT_EQ(rgb(image, 12, 3), rgb(18, 231, 114)) << "the cap spans both pins horizontally";
}

TEST_F(JumperDrawing, ClicksStepTheCapAndTellTheCallbackOnce) {
  auto* jumper = place(new KVJumper("JPT", 2, 3, Orientation0), 10, 10,
                       KVJumper::Size(Orientation0, 3));
  std::vector<int> told;
  jumper->setCallback([&](KVJumper*, int state) { told.push_back(state); });
  for (int i = 0; i < 3; ++i) jumper->OnLButtonDown(0, wxPoint(5, 5));
  EXPECT_EQ(told, (std::vector<int>{0, 1, 2}));
  jumper->setState(2);
  EXPECT_EQ(told.size(), 3u) << "setting the present state tells nobody";
  jumper->Update();
  EXPECT_EQ(told.size(), 4u) << "Update tells the present state";

  jumper->setEnabled(0);
  jumper->OnLButtonDown(0, wxPoint(5, 5));
  EXPECT_EQ(jumper->getState(), 2) << "a disabled jumper ignores clicks";
}

TEST_F(JumperDrawing, StoredStateIsFoldedIntoRangeAndJumpersWithoutStatesNeverDivide) {
  {
    auto* first = place(new KVJumper("JPS", 1, 3, Orientation0), 10, 10, wxSize(15, 35));
    first->setState(5);
  }
  auto* again = place(new KVJumper("JPS", 1, 3, Orientation0), 40, 10, wxSize(15, 35));
  EXPECT_EQ(again->getState(), 2) << "stored 5 folded modulo 3";

  auto* none = place(new KVJumper("JPS", 1, 0, Orientation0), 70, 10, wxSize(15, 15));
  EXPECT_EQ(none->getState(), 1) << "no states: the stored value cannot be folded, kept as built";
  none->nextState();
  none->OnLButtonDown(0, wxPoint(1, 1));
  render(*none);
  EXPECT_EQ(none->reportedDrawErrors(), 0u);
}

TEST_F(JumperDrawing, InvalidOrientationIsReportedNotThrown) {
  auto* jumper = place(new KVJumper("JPT", 1, 2, static_cast<ChipOrientation>(9)), 10, 10,
                       wxSize(15, 24));
  render(*jumper);
  EXPECT_EQ(jumper->reportedDrawErrors(), 1u);
}

TEST_F(JumperDrawing, LedIsLitWhileEnabledAndDarkWhileNot) {
  auto* led = place(new KVLed("LD12", KVLed::Red, Orientation1), 10, 10, KVLed::Size(Orientation1));
  ASSERT_EQ(led->GetClientSize(), wxSize(20, 12));
  wxImage image = render(*led);
  const int litRed = image.GetRed(4, 4);
  led->setEnabled(0);
  image = render(*led);
  EXPECT_GT(litRed, 200) << "lit lens";
  EXPECT_LT(image.GetRed(4, 4), 120) << "dark lens";
}

class RecordingDialog : public wxDialog {
 public:
  explicit RecordingDialog(wxWindow* owner) : wxDialog(owner, wxID_ANY, "info") {}
};

TEST_F(ComponentLifetime, DestroyingAComponentClosesItsInfoDialogFirst) {
  static KVBase* closedFor = nullptr;
  setInfoDialogCloser([](KVBase* component, wxWindow* dialog) {
    closedFor = component;
    dialog->Destroy();
  });
  auto* plate = place(new Plate(Rect, 0), 10, 10, wxSize(10, 10));
  auto* dialog = new RecordingDialog(nullptr);
  plate->setInfoDialog(dialog);
  delete plate;
  EXPECT_EQ(closedFor, plate) << "the dialog was told before the component went";
  setInfoDialogCloser(nullptr);
}

TEST_F(ComponentLifetime, AClosedInfoDialogIsForgottenAndTheNextRightClickOpensANewOne) {
  static int opened = 0;
  setInfoDialogOpener([](KVBase*) { ++opened; });
  auto* plate = place(new Plate(Rect, 0), 10, 10, wxSize(10, 10));
  auto* dialog = new RecordingDialog(nullptr);
  plate->setInfoDialog(dialog);
  plate->OnRButtonDown(0, wxPoint(1, 1));
  EXPECT_EQ(opened, 0) << "an open dialog is raised, not opened twice";
  delete dialog;
  EXPECT_EQ(plate->infoDialog(), nullptr);
  plate->OnRButtonDown(0, wxPoint(1, 1));
  EXPECT_EQ(opened, 1);
  setInfoDialogOpener(nullptr);
}

}  // namespace
