// The information dialog that a right click opens: its tabs, the module's pages, the description
// and schematic pages, the exports around it, and its life next to the component's.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/weakref.h>

#include "dialog_support.h"
#include "gui_support.h"
#include "screen_grab.h"
#include "infodialog/chip_dialog.h"
#include "infodialog/description_page.h"
#include "infodialog/info_tab_control.h"
#include "infodialog/schematic_page.h"
#include "korvel/platform/platform.h"

namespace {

using korvel::test::BoardSession;
using korvel::test::rgb;
namespace fs = std::filesystem;

using PagesHook = int (*)(wxWindow*);

// A mouse event at a client point, delivered through the window's handlers.
void mouse(wxWindow* window, wxEventType type, int x, int y) {
  wxMouseEvent event(type);
  event.SetPosition(wxPoint(x, y));
  event.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(event);
}

void writeBmp(const fs::path& file, int width, int height, unsigned char r, unsigned char g, unsigned char b) {
  wxImage image(width, height);
  image.SetRGB(wxRect(0, 0, width, height), r, g, b);
  ASSERT_TRUE(image.SaveFile(wxString::FromUTF8(file.string()), wxBITMAP_TYPE_BMP)) << file;
}

std::vector<std::string> labels(const InfoTabControl* tabs) {
  std::vector<std::string> out;
  for (size_t i = 0; tabs && i < tabs->pageCount(); ++i) out.push_back(tabs->label(i).utf8_string());
  return out;
}

// The board picture module with documentation and two models, and the test module with none.
class InfoDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.addBundle({"KorvelBase", KORVEL_BASE_LIB, "",
                        {"Description = doc/board.html", "Schematic = board.bmp",
                         "Models = models/board.obj", "Models = models/lcd.obj"}});
    session_.addBundle({"Parts", DIALOG_FIXTURE_LIB, "KorvelBase", {}});
    session_.addBundle({"Bare", DIALOG_FIXTURE_NOPAGES_LIB, "KorvelBase", {}});
    const fs::path base = session_.folderOf("KorvelBase");
    fs::create_directories(base / "doc");
    std::ofstream(base / "doc" / "board.html")
        << "<html><body><h2>The Korvel board</h2><p>Right-click a part to read about it.</p></body></html>";
    writeBmp(base / "board.bmp", 300, 200, 30, 60, 200);
    fixture_ = korvel::platform::loadLibrary(DIALOG_FIXTURE_LIB);
    ASSERT_NE(fixture_, nullptr);
    setHook_ = reinterpret_cast<void (*)(PagesHook)>(korvel::platform::findSymbol(fixture_, "fixtureSetPagesHook"));
    ASSERT_NE(setHook_, nullptr);
    ASSERT_TRUE(session_.open());
  }
  void TearDown() override {
    session_.close();
    setHook_(nullptr);
    korvel::platform::freeLibrary(fixture_);
  }

  ChipDialog* openFor(const char* id) {
    KVBase* component = getBoardChipWithID(id);
    EXPECT_NE(component, nullptr) << id;
    if (!component) return nullptr;
    return dynamic_cast<ChipDialog*>(BoardSession::rightClick(component));
  }

  korvel::test::ScratchSettings settings_;
  BoardSession session_{"korvel-infodialog"};
  void* fixture_ = nullptr;
  void (*setHook_)(PagesHook) = nullptr;
};

TEST_F(InfoDialog, BoardDialogShowsDocumentationModelsThenSettingsAndCredit) {
  ChipDialog* dialog = openFor("Korvel");
  ASSERT_NE(dialog, nullptr) << "a right click opened no information dialog";
  EXPECT_EQ(dialog->GetTitle().utf8_string(), "Korvel");
  EXPECT_TRUE(dialog->IsShown());
  EXPECT_EQ(labels(dialog->tabs()),
            (std::vector<std::string>{"Description", "Schematic", "board", "lcd", "Settings", "Credit"}));
  KVBase* board = getBoardChipWithID("Korvel");
  EXPECT_EQ(getDialogComponentCaller(dialog), board);
  EXPECT_EQ(getDialogAtIndexForComponent(board, 5), dialog->tabs()->page(5));
  EXPECT_EQ(getDialogAtIndexForComponent(board, 6), nullptr) << "index equal to the page count";
  auto* description = dynamic_cast<HTMLDescriptionDialog*>(getDialogAtIndexForComponent(board, 0));
  ASSERT_NE(description, nullptr);
  EXPECT_TRUE(description->showsFile());
  EXPECT_NE(description->ToText().find("Right-click a part"), wxString::npos);
  auto* schematic = dynamic_cast<ChipSchematicDialog*>(getDialogAtIndexForComponent(board, 1));
  ASSERT_NE(schematic, nullptr);
  EXPECT_TRUE(schematic->loaded());
  auto* credit = dynamic_cast<wxHtmlWindow*>(getDialogAtIndexForComponent(board, 5));
  ASSERT_NE(credit, nullptr);
  EXPECT_NE(credit->ToText().find("Tessarine"), wxString::npos)
      << "the credits beside KorvelBase were not shown: " << credit->ToText().utf8_string();
  // Every page lies inside the strip's display area; only the first is shown and enabled.
  for (size_t i = 0; i < dialog->tabs()->pageCount(); ++i) {
    wxWindow* page = dialog->tabs()->page(i);
    EXPECT_EQ(page->GetParent(), dialog->tabs());
    EXPECT_EQ(page->GetRect(), dialog->tabs()->displayArea()) << i;
    EXPECT_EQ(page->IsShown(), i == 0) << i;
    EXPECT_EQ(page->IsThisEnabled(), i == 0) << i;
  }
}

// Runs the toolkit's own loop for a while, so that windows really paint (the tests themselves run
// outside the application's main loop).
void runEventLoopFor(int milliseconds) {
  wxGUIEventLoop loop;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&loop](wxTimerEvent&) { loop.Exit(); });
  timer.StartOnce(milliseconds);
  loop.Run();
}

using korvel::test::grabScreen;

TEST_F(InfoDialog, ScreenshotsOfEveryTabOfTheBoardDialog) {
  ChipDialog* dialog = openFor("Korvel");
  ASSERT_NE(dialog, nullptr);
  dialog->Move(20, 20);
  InfoTabControl* tabs = dialog->tabs();
  for (size_t i = 0; i < tabs->pageCount(); ++i) {
    tabs->select(i);
    dialog->Raise();
    dialog->Refresh();
    dialog->Update();
    runEventLoopFor(300);
    const wxImage shot = grabScreen(dialog->GetScreenRect());
    const wxString name = wxString::Format("%s/infodialog-tab-%zu-%s.png", SCREENSHOT_DIR, i,
                                           tabs->label(i));
    EXPECT_TRUE(shot.IsOk() && shot.SaveFile(name, wxBITMAP_TYPE_PNG)) << name.utf8_string();
    // The strip shows this tab as the open one: white inside, where the others are grey.
    if (shot.IsOk()) {
      const wxPoint at = tabs->GetScreenPosition() + tabs->tabRect(i).GetTopLeft() - dialog->GetScreenPosition();
      EXPECT_EQ(rgb(shot, at.x + 3, at.y + 3), rgb(255, 255, 255)) << "tab " << i << " is not drawn as shown";
    }
    EXPECT_TRUE(tabs->page(i)->IsShown());
  }
  // And the built-in pages of a bundle without documentation.
  ChipDialog* bare = openFor("BARE");
  ASSERT_NE(bare, nullptr);
  bare->Move(40, 40);
  for (size_t i = 0; i < 2; ++i) {
    bare->tabs()->select(i);
    bare->Raise();
    runEventLoopFor(300);
    const wxString name = wxString::Format("%s/infodialog-missing-%s.png", SCREENSHOT_DIR, bare->tabs()->label(i));
    const wxImage shot = grabScreen(bare->GetScreenRect());
    EXPECT_TRUE(shot.IsOk() && shot.SaveFile(name, wxBITMAP_TYPE_PNG)) << name.utf8_string();
  }
}

TEST_F(InfoDialog, BundleWithoutModelsShowsTwoTabsThenTheModulePages) {
  setHook_([](wxWindow* dialog) {
    auto* untitled = new wxPanel(dialog);
    auto* named = new wxPanel(dialog);
    named->SetLabel("Extra");
    return DefinePageDialog(untitled, dialog) & DefinePageDialog(named, dialog);
  });
  ChipDialog* dialog = openFor("PART");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(labels(dialog->tabs()), (std::vector<std::string>{"Description", "Schematic", "Page 3", "Extra"}));
  auto* description = dynamic_cast<HTMLDescriptionDialog*>(dialog->tabs()->page(0));
  ASSERT_NE(description, nullptr);
  EXPECT_FALSE(description->showsFile());
  EXPECT_NE(description->ToText().find("It appears that the file you were looking for does not exist in "
                                       "your system. Please make sure to follow the installation guide."),
            wxString::npos);
  auto* schematic = dynamic_cast<ChipSchematicDialog*>(dialog->tabs()->page(1));
  ASSERT_NE(schematic, nullptr);
  EXPECT_FALSE(schematic->loaded());
  ASSERT_NE(schematic->missingText(), nullptr);
  EXPECT_EQ(schematic->missingText()->GetLabel().utf8_string(), "The schematic is missing for this component.");
  EXPECT_EQ(getDialogAtIndexForComponent(getBoardChipWithID("PART"), 4), nullptr);
}

TEST_F(InfoDialog, PagesOfAModuleThatRefusesAreNeverShownAndEndWithTheDialog) {
  static wxWeakRef<wxWindow> refused;
  setHook_([](wxWindow* dialog) {
    refused = new wxPanel(dialog);
    DefinePageDialog(refused.get(), dialog);
    return 0;
  });
  ChipDialog* dialog = openFor("PART");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->tabs()->pageCount(), 2u);
  ASSERT_TRUE(refused);
  EXPECT_FALSE(refused->IsShown());
  dialog->Close();
  BoardSession::flushIdle();
  EXPECT_FALSE(refused) << "the refused page outlived its dialog";
}

TEST_F(InfoDialog, AModuleWithoutTheExportAddsNoPages) {
  ChipDialog* dialog = openFor("BARE");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(labels(dialog->tabs()), (std::vector<std::string>{"Description", "Schematic"}));
}

TEST_F(InfoDialog, ExportsRefuseWhatIsNotAnInformationDialog) {
  static int results[5];
  setHook_([](wxWindow* dialog) {
    auto* page = new wxPanel(dialog);
    results[0] = DefinePageDialog(nullptr, dialog);
    results[1] = DefinePageDialog(page, dialog->GetParent());  // the board window
    results[2] = DefinePageDialog(page, dialog);
    results[3] = DefinePageDialog(page, dialog);  // twice
    results[4] = DefinePageDialog(dialog, dialog);
    return 1;
  });
  ChipDialog* dialog = openFor("PART");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  EXPECT_EQ(results[2], 1);
  EXPECT_EQ(results[3], 0) << "a page registered twice would get two tabs and be destroyed twice";
  EXPECT_EQ(results[4], 0);
  EXPECT_EQ(dialog->tabs()->pageCount(), 3u);
  EXPECT_EQ(getDialogComponentCaller(session_.board()), nullptr);
  EXPECT_EQ(getDialogComponentCaller(nullptr), nullptr);
  EXPECT_EQ(getDialogAtIndexForComponent(nullptr, 0), nullptr);
  EXPECT_EQ(getDialogAtIndexForComponent(getBoardChipWithID("BARE"), 0), nullptr) << "no dialog open";
}

size_t openChipDialogs() {
  size_t count = 0;
  for (wxWindow* window : wxTopLevelWindows)
    if (dynamic_cast<ChipDialog*>(window) && window->IsShown()) ++count;
  return count;
}

TEST_F(InfoDialog, RightClickOpensOneDialogAndAfterClosingANewOne) {
  KVBase* part = getBoardChipWithID("PART");
  ASSERT_NE(part, nullptr);
  wxWindow* first = BoardSession::rightClick(part);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(BoardSession::rightClick(part), first);
  EXPECT_EQ(openChipDialogs(), 1u);
  first->Close();
  EXPECT_EQ(part->infoDialog(), nullptr) << "the component still points at its closed dialog";
  BoardSession::flushIdle();
  EXPECT_EQ(openChipDialogs(), 0u);
  wxWindow* second = BoardSession::rightClick(part);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(openChipDialogs(), 1u);
  EXPECT_TRUE(session_.board()->IsShown()) << "the board stays open beside the dialog";
}

TEST_F(InfoDialog, EscapeClosesTheDialog) {
  ChipDialog* dialog = openFor("PART");
  ASSERT_NE(dialog, nullptr);
  wxKeyEvent key(wxEVT_CHAR_HOOK);
  key.m_keyCode = WXK_ESCAPE;
  key.SetEventObject(dialog);
  dialog->GetEventHandler()->ProcessEvent(key);
  EXPECT_EQ(getBoardChipWithID("PART")->infoDialog(), nullptr);
}

TEST_F(InfoDialog, ClosingTheBoardWithDialogsOpenLeavesNothingBehind) {
  setHook_([](wxWindow* dialog) { return DefinePageDialog(new wxPanel(dialog), dialog); });
  wxWeakRef<wxWindow> dialog = openFor("PART");
  wxWeakRef<wxWindow> boardDialog = openFor("Korvel");
  ASSERT_TRUE(dialog && boardDialog);
  wxWeakRef<wxWindow> page = static_cast<ChipDialog*>(dialog.get())->tabs()->page(2);
  ASSERT_TRUE(page);
  EXPECT_EQ(getDialogComponentCaller(dialog.get()), getBoardChipWithID("PART"));
  session_.close();
  EXPECT_FALSE(dialog) << "the dialog outlived its component";
  EXPECT_FALSE(boardDialog);
  EXPECT_FALSE(page) << "a page outlived its component";
}

TEST_F(InfoDialog, ADialogWhoseComponentGoesForgetsItAtOnce) {
  // The component is destroyed while its dialog is open; until the dialog window goes at the next
  // idle time nothing may reach the dead component through it.
  wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "parts");
  class Plain : public KVBase {
   public:
    Plain() : KVBase("PART", Orientation0) {}
    void setOrientation(ChipOrientation) override {}
  };
  auto* part = new Plain;
  part->Create(frame, wxID_ANY, wxPoint(0, 0), wxSize(20, 20));
  part->SetBundleID("Parts");
  wxWindow* dialog = BoardSession::rightClick(part);
  ASSERT_NE(dialog, nullptr);
  wxWeakRef<wxWindow> weak = dialog;
  delete part;
  ASSERT_TRUE(weak) << "closed at once; the rest of the check is moot";
  EXPECT_EQ(getDialogComponentCaller(dialog), nullptr);
  EXPECT_FALSE(dialog->IsShown());
  BoardSession::flushIdle();
  EXPECT_FALSE(weak);
  frame->Destroy();
  BoardSession::flushIdle();
}

TEST_F(InfoDialog, APageItsModuleDestroysLeavesTheStrip) {
  static wxWindow* early = nullptr;
  setHook_([](wxWindow* dialog) {
    early = new wxPanel(dialog);
    early->SetLabel("Early");
    auto* late = new wxPanel(dialog);
    late->SetLabel("Late");
    return DefinePageDialog(early, dialog) & DefinePageDialog(late, dialog);
  });
  ChipDialog* dialog = openFor("PART");
  ASSERT_NE(dialog, nullptr);
  dialog->tabs()->select(2);
  delete early;
  EXPECT_EQ(labels(dialog->tabs()), (std::vector<std::string>{"Description", "Schematic", "Late"}));
  EXPECT_EQ(getDialogAtIndexForComponent(getBoardChipWithID("PART"), 3), nullptr);
  EXPECT_TRUE(dialog->tabs()->page(dialog->tabs()->shownIndex())->IsShown());
}

TEST_F(InfoDialog, UnknownBundleGivesAnEmptyDialogCalledComponent) {
  wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "parts");
  class Plain : public KVBase {
   public:
    Plain() : KVBase("LOST", Orientation0) {}
    void setOrientation(ChipOrientation) override {}
  };
  auto* part = new Plain;
  part->Create(frame, wxID_ANY, wxPoint(0, 0), wxSize(20, 20));
  part->SetBundleID("Nobody");
  auto* dialog = dynamic_cast<ChipDialog*>(BoardSession::rightClick(part));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->GetTitle().utf8_string(), "Component");
  EXPECT_EQ(dialog->tabs(), nullptr);
  EXPECT_EQ(getDialogAtIndexForComponent(part, 0), nullptr);
  frame->Destroy();
  BoardSession::flushIdle();
}

// ---- The tab strip ---------------------------------------------------------------------------

TEST_F(InfoDialog, TabStripDrawsFrameAndTabsAndOnlyClicksChangeTheTab) {
  ChipDialog* dialog = openFor("Korvel");
  ASSERT_NE(dialog, nullptr);
  InfoTabControl* tabs = dialog->tabs();
  EXPECT_EQ(tabs->GetRect(), ChipDialog::stripRect(dialog->GetClientSize()));

  wxKeyEvent right(wxEVT_KEY_DOWN);
  right.m_keyCode = WXK_RIGHT;
  right.SetEventObject(tabs);
  tabs->GetEventHandler()->ProcessEvent(right);
  EXPECT_EQ(tabs->shownIndex(), 0u) << "a key changed the tab";

  const wxRect second = tabs->tabRect(1);
  mouse(tabs, wxEVT_LEFT_DOWN, second.x + second.width / 2, second.y + second.height / 2);
  EXPECT_EQ(tabs->shownIndex(), 1u);
  EXPECT_FALSE(tabs->page(0)->IsShown());
  EXPECT_FALSE(tabs->page(0)->IsThisEnabled());
  EXPECT_TRUE(tabs->page(1)->IsShown());
  EXPECT_TRUE(tabs->page(1)->IsThisEnabled());

  const wxSize size = tabs->GetClientSize();
  wxBitmap bitmap(size.x, size.y, 24);
  {
    wxMemoryDC dc(bitmap);
    tabs->Render(dc);
  }
  const wxImage image = bitmap.ConvertToImage();
  const wxRect shown = tabs->tabRect(1);
  const wxRect other = tabs->tabRect(0);
  const int frameTop = other.GetBottom() + 1;
  EXPECT_EQ(rgb(image, 0, frameTop + 20), rgb(200, 200, 200)) << "page frame, left edge";
  EXPECT_EQ(rgb(image, size.x - 1, frameTop + 20), rgb(200, 200, 200)) << "page frame, right edge";
  EXPECT_EQ(rgb(image, 10, size.y - 2), rgb(200, 200, 200)) << "frame ends one pixel above the bottom";
  EXPECT_EQ(rgb(image, 10, frameTop + 20), rgb(255, 255, 255)) << "white page";
  EXPECT_EQ(rgb(image, shown.x + 3, shown.y + 2), rgb(255, 255, 255)) << "shown tab";
  EXPECT_EQ(rgb(image, other.x + 3, other.y + 2), rgb(240, 240, 240)) << "other tab";
  EXPECT_EQ(rgb(image, shown.x, shown.y + 2), rgb(200, 200, 200)) << "tab outline";
  EXPECT_EQ(rgb(image, shown.x + 5, frameTop), rgb(255, 255, 255)) << "the shown tab opens into the page";
  EXPECT_EQ(rgb(image, other.x + 5, frameTop), rgb(200, 200, 200)) << "other tabs stay closed";
  EXPECT_EQ(rgb(image, shown.GetRight() - 2, shown.y + 2), rgb(200, 200, 200))
      << "a tab is drawn two pixels narrower";
  EXPECT_NE(rgb(image, shown.GetRight() - 1, shown.y + 2), rgb(200, 200, 200))
      << "a tab is drawn two pixels narrower";

  // A resized dialog takes the strip and the pages with it.
  dialog->SetClientSize(760, 560);
  runEventLoopFor(200);
  ASSERT_EQ(dialog->GetClientSize(), wxSize(760, 560));
  EXPECT_EQ(tabs->GetRect(), wxRect(20, 10, 720, 530));
  for (size_t i = 0; i < tabs->pageCount(); ++i) EXPECT_EQ(tabs->page(i)->GetRect(), tabs->displayArea()) << i;
}

// ---- Schematic page --------------------------------------------------------------------------

class SchematicPage : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "schematic", wxPoint(0, 0), wxSize(700, 600));
    frame_->Show();
    folder_ = fs::temp_directory_path() / ("korvel-schematic-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    ChipSchematicDialog::setLauncherForTesting(nullptr);
    frame_->Destroy();
    BoardSession::flushIdle();
    fs::remove_all(folder_);
  }
  ChipSchematicDialog* page(const fs::path& file, wxSize size) {
    auto* p = new ChipSchematicDialog(frame_, file);
    p->SetSize(0, 0, size.x, size.y);
    return p;
  }
  static wxImage render(ChipSchematicDialog* p) {
    const wxSize size = p->GetClientSize();
    wxBitmap bitmap(size.x, size.y, 24);
    {
      wxMemoryDC dc(bitmap);
      p->Render(dc);
    }
    return bitmap.ConvertToImage();
  }

  wxFrame* frame_ = nullptr;
  fs::path folder_;
};

TEST_F(SchematicPage, AWidePictureIsShrunkToTheWidthAndCentredVertically) {
  writeBmp(folder_ / "wide.bmp", 2000, 1000, 200, 20, 20);
  ChipSchematicDialog* p = page(folder_ / "wide.bmp", wxSize(500, 400));
  ASSERT_TRUE(p->loaded());
  const wxImage image = render(p);
  EXPECT_EQ(p->drawnRect(), wxRect(0, 75, 500, 250));
  EXPECT_EQ(rgb(image, 250, 74), rgb(255, 255, 255)) << "75 pixels free above";
  EXPECT_EQ(rgb(image, 250, 75), rgb(200, 20, 20));
  EXPECT_EQ(rgb(image, 0, 200), rgb(200, 20, 20));
  EXPECT_EQ(rgb(image, 499, 200), rgb(200, 20, 20));
  EXPECT_EQ(rgb(image, 250, 324), rgb(200, 20, 20));
  EXPECT_EQ(rgb(image, 250, 325), rgb(255, 255, 255)) << "75 pixels free below";
}

TEST_F(SchematicPage, ASmallPictureKeepsItsSizeCentred) {
  writeBmp(folder_ / "small.bmp", 300, 200, 20, 200, 20);
  ChipSchematicDialog* p = page(folder_ / "small.bmp", wxSize(500, 400));
  const wxImage image = render(p);
  EXPECT_EQ(p->drawnRect(), wxRect(100, 100, 300, 200)) << "never enlarged";
  EXPECT_EQ(rgb(image, 99, 150), rgb(255, 255, 255));
  EXPECT_EQ(rgb(image, 100, 150), rgb(20, 200, 20));
  EXPECT_EQ(rgb(image, 399, 299), rgb(20, 200, 20));
  EXPECT_EQ(rgb(image, 400, 299), rgb(255, 255, 255));
  EXPECT_EQ(rgb(image, 250, 300), rgb(255, 255, 255));
}

TEST_F(SchematicPage, DoubleClickOpensTheFileOnlyOnThePictureAndTheHandShowsWhereItWould) {
  writeBmp(folder_ / "small.bmp", 300, 200, 20, 200, 20);
  static std::vector<fs::path> opened;
  opened.clear();
  ChipSchematicDialog::setLauncherForTesting([](const fs::path& file) {
    opened.push_back(file);
    return true;
  });
  ChipSchematicDialog* p = page(folder_ / "small.bmp", wxSize(500, 400));
  render(p);
  mouse(p, wxEVT_LEFT_DCLICK, 50, 50);
  mouse(p, wxEVT_LEFT_DCLICK, 99, 150);
  EXPECT_TRUE(opened.empty()) << "a double click beside the picture opened it";
  mouse(p, wxEVT_MOTION, 99, 150);
  EXPECT_FALSE(p->GetCursor().IsOk()) << "the hand shows beside the picture";
  mouse(p, wxEVT_MOTION, 150, 150);
  EXPECT_TRUE(p->GetCursor().IsOk()) << "no hand over the picture";
  mouse(p, wxEVT_LEFT_DCLICK, 150, 150);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], folder_ / "small.bmp");
}

TEST_F(SchematicPage, WhatIsNotAReadableBmpShowsTheMissingText) {
  std::ofstream(folder_ / "picture.png") << "not a picture";
  writeBmp(folder_ / "real.bmp", 10, 10, 1, 2, 3);
  fs::copy_file(folder_ / "real.bmp", folder_ / "real.png");
  // A header that claims 65535 by 65535 pixels and carries none.
  std::string huge(54, '\0');
  huge[0] = 'B', huge[1] = 'M', huge[14] = 40, huge[18] = '\xff', huge[19] = '\xff', huge[22] = '\xff',
  huge[23] = '\xff', huge[26] = 1, huge[28] = 24;
  std::ofstream(folder_ / "huge.bmp", std::ios::binary) << huge;
  std::ofstream(folder_ / "short.bmp", std::ios::binary) << "BM";
  for (const char* name : {"missing.bmp", "picture.png", "real.png", "huge.bmp", "short.bmp"}) {
    ChipSchematicDialog* p = page(folder_ / name, wxSize(300, 200));
    EXPECT_FALSE(p->loaded()) << name;
    ASSERT_NE(p->missingText(), nullptr) << name;
    EXPECT_EQ(p->missingText()->GetLabel().utf8_string(), "The schematic is missing for this component.");
    EXPECT_LT(p->missingText()->GetPosition().y, 100) << "centred vertically";
    EXPECT_GT(p->missingText()->GetRect().GetBottom(), 100);
  }
  EXPECT_TRUE(page(folder_ / "real.bmp", wxSize(300, 200))->loaded());
}

// ---- Description page ------------------------------------------------------------------------

TEST_F(SchematicPage, DescriptionWheelScrollsTwentyPixelsPerNotch) {
  std::string html = "<html><body>";
  for (int i = 0; i < 200; ++i) html += "<p>Line " + std::to_string(i) + " of the description.</p>";
  html += "</body></html>";
  std::ofstream(folder_ / "long.html") << html;
  auto* view = new HTMLDescriptionDialog(frame_, folder_ / "long.html");
  view->SetSize(0, 0, 400, 300);
  ASSERT_TRUE(view->showsFile());
  EXPECT_EQ(view->GetLabel().utf8_string(), "Description");
  const auto wheel = [&](int rotation) {
    wxMouseEvent event(wxEVT_MOUSEWHEEL);
    event.m_wheelRotation = rotation;
    event.m_wheelDelta = 120;
    event.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
    event.SetEventObject(view);
    view->GetEventHandler()->ProcessEvent(event);
  };
  EXPECT_EQ(view->scrollPixelsY(), 0);
  wheel(-120);
  EXPECT_EQ(view->scrollPixelsY(), 20) << "one notch towards the user";
  wheel(-240);
  EXPECT_EQ(view->scrollPixelsY(), 60);
  wheel(120);
  EXPECT_EQ(view->scrollPixelsY(), 40);
  wheel(-60);
  EXPECT_EQ(view->scrollPixelsY(), 40) << "half a notch waits for the other half";
  wheel(-60);
  EXPECT_EQ(view->scrollPixelsY(), 60);
}

}  // namespace

namespace {

TEST_F(SchematicPage, DescriptionWithoutACharsetIsReadAsUtf8) {
  std::ofstream(folder_ / "joystick.html")
      << "<html><body><p>Pins P1.25\xE2\x80\x93P1.29 \xE2\x80\x94 read them low-active.</p></body></html>";
  auto* view = new HTMLDescriptionDialog(frame_, folder_ / "joystick.html");
  ASSERT_TRUE(view->showsFile());
  EXPECT_NE(view->ToText().find(wxString::FromUTF8("P1.25\xE2\x80\x93P1.29 \xE2\x80\x94 read")), wxString::npos)
      << view->ToText().utf8_string();
  // A folder instead of a file shows the built-in page.
  auto* folder = new HTMLDescriptionDialog(frame_, folder_);
  EXPECT_FALSE(folder->showsFile());
}

}  // namespace
