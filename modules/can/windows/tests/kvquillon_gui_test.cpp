// The CAN port square and the invisible CAN area on screen: a colour change repaints the square
// and nothing else, the plate stays, and the CAN area reports the footprints it cannot draw.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include <wx/frame.h>
#include <wx/panel.h>

#include "can_gui_support.h"
#include "can_sfondo.h"
#include "gui_test_main.h"
#include "korvel/exports.h"
#include "korvel/host_functions.h"
#include "kvquillon.h"

using can_test::pumpUntil;
using can_test::rgb;

namespace {

std::vector<std::string> messages;
void recordMessage(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  messages.push_back(text);
}

const std::string kWhite = "255,255,255", kBlue = "2,82,131";

class CanComponents : public ::testing::Test {
 protected:
  void SetUp() override {
    messages.clear();
    previousMessage_ = getAgsi()->AgsiMessage;
    getAgsi()->AgsiMessage = &recordMessage;
    frame_ = new wxFrame(nullptr, wxID_ANY, "CAN", wxPoint(0, 0), wxSize(300, 200));
    // A frame stretches a lone child over itself: the components sit on a panel.
    panel_ = new wxPanel(frame_);
    panel_->SetBackgroundColour(*wxBLACK);
    frame_->Show();
  }
  void TearDown() override {
    panel_->DestroyChildren();  // at once: their handlers point into this fixture
    frame_->Destroy();
    korvel::guitest::drainEvents();
    getAgsi()->AgsiMessage = previousMessage_;
  }
  template <class T>
  T* place(T* component, wxRect at) {
    component->Create(panel_, wxID_ANY, at.GetPosition(), at.GetSize());
    return component;
  }
  KVQuillon* square(unsigned long colour) {
    KVQuillon* q = place(new KVQuillon("Quillon1", colour, Orientation0), wxRect(wxPoint(40, 40), KVQuillon::Size()));
    EXPECT_TRUE(pumpUntil([&] { return q->drawn() && q->IsShownOnScreen(); })) << "the square was never painted";
    can_test::pumpFor(std::chrono::milliseconds(100));
    return q;
  }

  // The areas of q that the window system asks to repaint from now on.
  std::vector<wxRect>& watchRepaints(KVQuillon* q) {
    q->Bind(wxEVT_PAINT, [this, q](wxPaintEvent& event) {
      repainted_.push_back(q->GetUpdateRegion().GetBox());
      event.Skip();
    });
    return repainted_;
  }

  wxFrame* frame_ = nullptr;
  wxPanel* panel_ = nullptr;
  std::vector<wxRect> repainted_;
  void (*previousMessage_)(const char*, ...) = nullptr;
};

TEST_F(CanComponents, SquareIsTheColourInsideAWhiteEdgedBluePlate) {
  EXPECT_EQ(KVQuillon::Size(), wxSize(13, 13));
  KVQuillon* q = square(0x000000FF);
  EXPECT_EQ(q->colourRect(), wxRect(2, 2, 9, 9));
  const wxImage image = korvel::guitest::render(q);
  for (int i : {0, 12}) {
    EXPECT_EQ(rgb(image, i, 6), kWhite) << "edge column " << i;
    EXPECT_EQ(rgb(image, 6, i), kWhite) << "edge row " << i;
  }
  for (int i : {1, 11}) EXPECT_EQ(rgb(image, i, i), kBlue) << "plate at " << i;
  for (int i : {2, 6, 10}) EXPECT_EQ(rgb(image, i, i), "255,0,0") << "square at " << i;
  // The grey of the plate lies exactly under the square: none of it shows.
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 13; ++x) EXPECT_NE(rgb(image, x, y), "155,155,155") << x << "," << y;
}

TEST_F(CanComponents, ColourChangeRepaintsOnlyTheInnerSquare) {
  KVQuillon* q = square(0);
  std::vector<wxRect>& repainted = watchRepaints(q);

  q->setColor(0x0000FF00);  // green
  EXPECT_EQ(q->getColor(), 0x0000FF00u);
  ASSERT_TRUE(pumpUntil([&] { return !repainted.empty(); })) << "the new colour was never painted";
  can_test::pumpFor(std::chrono::milliseconds(50));
  for (const wxRect& area : repainted) EXPECT_EQ(area, wxRect(2, 2, 9, 9)) << "repainted more than the square";

  const wxImage screen = can_test::grab(q);
  EXPECT_EQ(rgb(screen, 2, 2), "0,255,0");
  EXPECT_EQ(rgb(screen, 10, 10), "0,255,0");
  EXPECT_EQ(rgb(screen, 1, 1), kBlue) << "the plate around the square";
  EXPECT_EQ(rgb(screen, 11, 6), kBlue);
  EXPECT_EQ(rgb(screen, 0, 0), kWhite);
  EXPECT_EQ(rgb(screen, 12, 12), kWhite);

  repainted.clear();
  q->setColor(0x0000FF00);
  can_test::pumpFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(repainted.empty()) << "the same colour again repainted the square";
}

TEST_F(CanComponents, DisabledSquareKeepsTheColourAndShowsItWhenEnabled) {
  KVQuillon* q = square(0);
  std::vector<wxRect>& repainted = watchRepaints(q);
  q->setEnabled(0);
  q->setColor(0x00FF0000);  // blue
  can_test::pumpFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(repainted.empty()) << "a disabled square repainted";
  EXPECT_EQ(q->getColor(), 0x00FF0000u);
  q->setEnabled(1);
  ASSERT_TRUE(pumpUntil([&] { return !repainted.empty(); }));
  EXPECT_EQ(rgb(can_test::grab(q), 6, 6), "0,0,255");
}

TEST_F(CanComponents, SquareKeepsAFolderAndAColourWithoutRepainting) {
  KVQuillon q("Quillon2", 0x123456, Orientation0);
  EXPECT_EQ(q.getColor(), 0x123456u);
  EXPECT_FALSE(q.drawn());
  q.setColor(0x654321);  // no window yet: stored only
  q.setColorVariable(0x00ABCDEF);
  EXPECT_EQ(q.getColor(), 0x00ABCDEFu);
  q.setFolderVariable("/srv/can/");
  EXPECT_EQ(q.getFolderVariable(), "/srv/can/");
}

TEST_F(CanComponents, CanAreaDrawsNothingUprightAndReportsTheTurnedFootprints) {
  canSfondo* area = place(new canSfondo("CAN Bus", Orientation0), wxRect(10, 10, 149, 38));
  const wxImage upright = korvel::guitest::render(area);
  EXPECT_EQ(area->reportedDrawErrors(), 0u);
  EXPECT_TRUE(area->drawn());
  EXPECT_EQ(rgb(upright, 70, 20), "0,0,0") << "the panel underneath shows through";

  area->setOrientation(Orientation2);
  korvel::guitest::render(area);
  EXPECT_EQ(area->reportedDrawErrors(), 0u);

  for (ChipOrientation turned : {Orientation1, Orientation3}) {
    area->setOrientation(turned);
    wxBitmap bitmap(149, 38, 24);
    wxMemoryDC dc(bitmap);
    EXPECT_FALSE(area->Render(dc)) << "orientation " << turned;
  }
  EXPECT_EQ(area->reportedDrawErrors(), 1u) << "one message for both turned footprints";
  area->setOrientation(static_cast<ChipOrientation>(4));
  korvel::guitest::render(area);
  EXPECT_EQ(area->reportedDrawErrors(), 2u);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("Not yet implemented."), std::string::npos) << messages[0];
  EXPECT_NE(messages[1].find("Invalid orientation."), std::string::npos) << messages[1];
  EXPECT_NE(messages[0].find("CAN Bus"), std::string::npos) << messages[0];

  // Painting on screen in a turned footprint is reported, not fatal.
  area->setOrientation(Orientation1);
  area->Refresh();
  can_test::pumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(frame_->IsShown());
}

}  // namespace
