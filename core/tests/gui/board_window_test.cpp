// The board window driven as the host drives it: through the "&Korvel" menu record, with the
// board picture module, the jumper module and a recording module loaded from bundle folders.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/toplevel.h>

#include "gui_support.h"
#include "screen_grab.h"
#include "korvel/agsi.h"
#include "korvel/board_testing.h"
#include "korvel/exports.h"
#include "korvel/host_functions.h"
#include "korvel/kvbase.h"
#include "korvel/module.h"
#include "korvel/platform/platform.h"
#include "board_layout.h"
#include "kvled.h"

namespace {

using korvel::test::rgb;
namespace fs = std::filesystem;

using DefineHook = int (*)(wxWindow*, KVRect, ComponentModule*);

// Components that note every setEnabled call, in call order, in one shared list.
std::vector<std::string> enabledCalls;
class Recorder : public KVBase {
 public:
  explicit Recorder(const std::string& id) : KVBase(id, Orientation0) {}
  void setEnabled(int enabled) override {
    enabledCalls.push_back(GetID() + "=" + std::to_string(enabled));
    KVBase::setEnabled(enabled);
  }
  void setOrientation(ChipOrientation) override {}
};

Recorder* duplicate = nullptr;
int duplicateResult = -1;
int placeRecorders(wxWindow* board, KVRect, ComponentModule* module) {
  for (const char* id : {"b", "KEY1", "a", "c"})
    DefineNewComponent(new Recorder(id), board, KVRect{10, 10, 20, 20}, module);
  duplicate = new Recorder("a");
  duplicateResult = DefineNewComponent(duplicate, board, KVRect{30, 10, 40, 20}, module);
  return 1;
}

void writeBundle(const fs::path& folder, const std::string& id, const std::string& lib,
                 const std::string& after) {
  fs::create_directories(folder);
  std::ofstream(folder / "Info.list") << "ID = " << id << "\nLib = " << lib << "\n"
                                      << (after.empty() ? "" : "LoadAfterID = " + after + "\n");
}

class BoardWindow : public korvel::test::ComponentCanvas {
 protected:
  void SetUp() override {
    ComponentCanvas::SetUp();
    docs_ = fs::temp_directory_path() / ("korvel-board-docs-" + std::to_string(::getpid()));
    fs::remove_all(docs_);
    writeBundle(docs_ / "KorvelBase", "KorvelBase", KORVEL_BASE_LIB, "");
    writeBundle(docs_ / "Jumpers", "Jumpers", KORVEL_JUMPERS_LIB, "KorvelBase");
    writeBundle(docs_ / "Parts", "Parts", BOARD_FIXTURE_LIB, "Jumpers");
    ASSERT_EQ(korvelUseModulesForTesting(docs_.string().c_str()), 1);
    fixture_ = korvel::platform::loadLibrary(BOARD_FIXTURE_LIB);
    ASSERT_NE(fixture_, nullptr);
    setHook_ = reinterpret_cast<void (*)(DefineHook)>(korvel::platform::findSymbol(fixture_, "fixtureSetDefineHook"));
    setClosingHook_ = reinterpret_cast<void (*)(void (*)())>(
        korvel::platform::findSymbol(fixture_, "fixtureSetClosingHook"));
    calls_ = reinterpret_cast<const char* (*)()>(korvel::platform::findSymbol(fixture_, "fixtureCalls"));
    clear_ = reinterpret_cast<void (*)()>(korvel::platform::findSymbol(fixture_, "fixtureClearCalls"));
    clear_();
    menu_ = korvelBoardMenuForTesting();
    menu_->pDlg->rc = AGSIRECT{-1, -1, -1, -1};
  }
  void TearDown() override {
    if (menu_->pDlg->hw) menu_->pDlg->Kill(menu_->pDlg);
    setHook_(nullptr);
    setClosingHook_(nullptr);
    korvel::platform::freeLibrary(fixture_);
    flushPendingDeletes();
    korvelUseModulesForTesting(nullptr);
    fs::remove_all(docs_);
    ComponentCanvas::TearDown();
  }
  static void flushPendingDeletes() {
    for (int i = 0; i < 3 && wxTheApp; ++i) wxTheApp->ProcessIdle();
  }
  wxTopLevelWindow* board() { return static_cast<wxTopLevelWindow*>(menu_->pDlg->hw); }
  void toggle() { menu_->fp(menu_); }

  fs::path docs_;
  void* fixture_ = nullptr;
  void (*setHook_)(DefineHook) = nullptr;
  void (*setClosingHook_)(void (*)()) = nullptr;
  const char* (*calls_)() = nullptr;
  void (*clear_)() = nullptr;
  AGSIMENU* menu_ = nullptr;
};

TEST_F(BoardWindow, MenuRecordIsTheKorvelEntryWithItsDialogRecord) {
  EXPECT_STREQ(menu_->szText, "&Korvel");
  EXPECT_EQ(menu_->iDelim, 1);
  EXPECT_EQ(menu_->nDlgId, 1000u);
  ASSERT_NE(menu_->pDlg, nullptr);
  EXPECT_NE(menu_->pDlg->Update, nullptr);
  EXPECT_NE(menu_->pDlg->Kill, nullptr);
}

TEST_F(BoardWindow, OpeningDrivesTheModulesAndClosingEndsTheBoard) {
  EXPECT_EQ(getBoardChipWithID("Korvel"), nullptr) << "no board yet";
  toggle();
  ASSERT_NE(board(), nullptr);
  EXPECT_EQ(std::string(calls_()), "DefineAllComponents,ComponentsLoaded,DefineAllKeys");
  EXPECT_EQ(board()->GetTitle().utf8_string(), "Tessarine - Korvel Emulator v1.2-3");
  EXPECT_EQ(board()->GetSize(), wxSize(803, 612));
  EXPECT_EQ(board()->GetBackgroundColour(), wxColour(240, 240, 240));
  KVBase* picture = getBoardChipWithID("Korvel");
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->GetPosition(), wxPoint(10, 10));
  EXPECT_EQ(picture->GetClientSize(), wxSize(768, 552));
  EXPECT_EQ(picture->GetBundleID(), "KorvelBase");
  EXPECT_NE(getBoardChipWithID("JP3"), nullptr);
  EXPECT_EQ(isBoardPowered(), 1);

  menu_->pDlg->Update();
  EXPECT_EQ(std::string(calls_()), "DefineAllComponents,ComponentsLoaded,DefineAllKeys,UpdateUI");

  toggle();
  EXPECT_EQ(menu_->pDlg->hw, nullptr);
  EXPECT_EQ(menu_->pDlg->iOpen, 0u);
  EXPECT_EQ(std::string(calls_()),
            "DefineAllComponents,ComponentsLoaded,DefineAllKeys,UpdateUI,ClosingUI");
  EXPECT_EQ(getBoardChipWithID("Korvel"), nullptr);
  EXPECT_EQ(isBoardPowered(), 0);
  menu_->pDlg->Update();
  EXPECT_EQ(std::string(calls_()).find("UpdateUI,ClosingUI,UpdateUI"), std::string::npos)
      << "no refresh reaches a module without a board";
}

TEST_F(BoardWindow, ReopensWhereItWasClosed) {
  toggle();
  ASSERT_NE(board(), nullptr);
  board()->Move(120, 70);
  const wxPoint where = board()->GetScreenPosition();
  toggle();
  EXPECT_EQ(menu_->pDlg->rc.left, where.x);
  EXPECT_EQ(menu_->pDlg->rc.top, where.y);
  EXPECT_EQ(menu_->pDlg->rc.right - menu_->pDlg->rc.left, 803);
  toggle();
  ASSERT_NE(board(), nullptr);
  EXPECT_EQ(board()->GetScreenPosition(), where);
}

// A key as the toolkit delivers it: to the focused component first, from where it travels up to
// the board window.
void pressKey(wxWindow* focused, int keyCode) {
  wxKeyEvent key(wxEVT_CHAR_HOOK);
  key.m_keyCode = keyCode;
  key.SetEventObject(focused);
  focused->GetEventHandler()->ProcessEvent(key);
}

TEST_F(BoardWindow, EnterLeavesTheBoardOpenAndEscClosesItKeepingItsPosition) {
  toggle();
  ASSERT_NE(board(), nullptr);
  board()->Move(150, 90);
  const wxPoint where = board()->GetScreenPosition();
  KVBase* picture = getBoardChipWithID("Korvel");
  ASSERT_NE(picture, nullptr);

  pressKey(picture, WXK_RETURN);
  pressKey(picture, WXK_NUMPAD_ENTER);
  ASSERT_NE(board(), nullptr) << "Enter closed the board";
  EXPECT_EQ(menu_->pDlg->rc.left, -1) << "Enter stored a position";
  EXPECT_EQ(std::string(calls_()).find("ClosingUI"), std::string::npos);

  pressKey(picture, WXK_ESCAPE);
  EXPECT_EQ(menu_->pDlg->hw, nullptr) << "Esc left the board open";
  EXPECT_EQ(menu_->pDlg->iOpen, 0u);
  EXPECT_EQ(menu_->pDlg->rc.left, where.x);
  EXPECT_EQ(menu_->pDlg->rc.top, where.y);
  EXPECT_EQ(menu_->pDlg->rc.right - menu_->pDlg->rc.left, 803);
  EXPECT_EQ(menu_->pDlg->rc.bottom - menu_->pDlg->rc.top, 612);
  EXPECT_NE(std::string(calls_()).find("ClosingUI"), std::string::npos) << "modules were not told";
  EXPECT_EQ(getBoardChipWithID("Korvel"), nullptr);
}

TEST_F(BoardWindow, PowerSwitchesEveryComponentOnceInIdentifierOrder) {
  setHook_(&placeRecorders);
  toggle();
  ASSERT_NE(board(), nullptr);
  enabledCalls.clear();
  setBoardPowered(1);
  EXPECT_TRUE(enabledCalls.empty()) << "power already on: nobody is told";
  setBoardPowered(0);
  EXPECT_EQ(enabledCalls, (std::vector<std::string>{"KEY1=0", "a=0", "b=0", "c=0"}));
  EXPECT_EQ(isBoardPowered(), 0);
  setBoardPowered(0);
  EXPECT_EQ(enabledCalls.size(), 4u);
}

TEST_F(BoardWindow, ASecondComponentUnderATakenIdentifierIsNotRegistered) {
  setHook_(&placeRecorders);
  toggle();
  ASSERT_NE(board(), nullptr);
  EXPECT_EQ(duplicateResult, 0);
  EXPECT_NE(getBoardChipWithID("a"), duplicate) << "the first 'a' stays the board's";
  EXPECT_TRUE(duplicate->IsShown()) << "the refused window stays on screen";
}

TEST_F(BoardWindow, DefinitionsAreRefusedOnceTheBoardIsReady) {
  toggle();
  ASSERT_NE(board(), nullptr);
  auto* late = new Recorder("late");
  ComponentModule record;
  EXPECT_EQ(DefineNewComponent(late, board(), KVRect{0, 0, 5, 5}, &record), 0);
  EXPECT_EQ(late->GetHandle(), nullptr) << "no window was created";
  EXPECT_EQ(DefineKey(nullptr), 0);
  delete late;
}

// What a module's "ClosingUI" meets when it tries to place one more component.
int lateDefinitionResult = -1;
void defineWhileClosing() {
  KVBase* board = getBoardChipWithID("Korvel");
  auto* late = new Recorder("late");
  ComponentModule record;
  lateDefinitionResult = board ? DefineNewComponent(late, board, KVRect{0, 0, 5, 5}, &record) : -2;
  if (!late->GetHandle()) delete late;
}

TEST_F(BoardWindow, AClosingBoardStillRefusesDefinitionsWhileModulesAreTold) {
  toggle();
  ASSERT_NE(board(), nullptr);
  lateDefinitionResult = -1;
  setClosingHook_(&defineWhileClosing);
  toggle();
  EXPECT_EQ(lateDefinitionResult, 0) << "-2: the board was gone during ClosingUI; 1: it took a "
                                        "component while closing";
}

TEST_F(BoardWindow, ForegroundAnswerFollowsTheTestHookOnlyWhileABoardExists) {
  korvelSetBoardForegroundForTesting(1);
  EXPECT_EQ(isDialogForeMost(), 0) << "no board";
  toggle();
  EXPECT_EQ(isDialogForeMost(), 1);
  korvelSetBoardForegroundForTesting(0);
  EXPECT_EQ(isDialogForeMost(), 0);
  korvelSetBoardForegroundForTesting(-1);
}

TEST_F(BoardWindow, BoardPictureIsFoundInAFolderWithNonAsciiCharacters) {
  // The module and a picture of its own, in a folder whose name no single-byte code page holds.
  const fs::path folder = docs_ / "unicode" / fs::path(u8"Bäse-板");
  fs::create_directories(folder);
  fs::copy_file(KORVEL_BASE_LIB, folder / fs::path(KORVEL_BASE_LIB).filename());
  writeBundle(folder, "KorvelBase", fs::path(KORVEL_BASE_LIB).filename().string(), "");
  wxImage picture(800, 600);
  picture.SetRGB(wxRect(0, 0, 800, 600), 200, 30, 160);
  ASSERT_TRUE(picture.SaveFile(wxString::FromUTF8((folder / "board.bmp").string()), wxBITMAP_TYPE_BMP));
  ASSERT_EQ(korvelUseModulesForTesting((docs_ / "unicode").string().c_str()), 1);

  toggle();
  ASSERT_NE(board(), nullptr);
  KVBase* board = getBoardChipWithID("Korvel");
  ASSERT_NE(board, nullptr);
  const wxImage shown = korvel::test::render(*board);
  EXPECT_EQ(rgb(shown, 0, 0), rgb(200, 30, 160)) << "the picture beside the module was not drawn";
  EXPECT_EQ(rgb(shown, 767, 551), rgb(200, 30, 160));
  EXPECT_EQ(board->reportedDrawErrors(), 0u);
}

TEST_F(BoardWindow, TurningTheBoardPictureChangesNothing) {
  toggle();
  ASSERT_NE(board(), nullptr);
  KVBase* picture = getBoardChipWithID("Korvel");
  ASSERT_NE(picture, nullptr);
  const wxImage before = korvel::test::render(*picture);
  picture->setOrientation(Orientation1);
  EXPECT_EQ(picture->orientation(), Orientation2);
  const wxImage after = korvel::test::render(*picture);
  EXPECT_EQ(picture->reportedDrawErrors(), 0u) << "the picture raised a drawing error once turned";
  ASSERT_EQ(after.GetSize(), before.GetSize());
  EXPECT_EQ(std::memcmp(after.GetData(), before.GetData(), before.GetWidth() * before.GetHeight() * 3), 0)
      << "the picture looks different after setOrientation(1)";
}

std::vector<void*> focusedWindows;
void recordFocus(void* window) { focusedWindows.push_back(window); }

TEST_F(BoardWindow, ActivationHandsTheBoardWindowToTheHostAndDeactivationHandsNone) {
  HostFunctionTable* agsi = getAgsi();
  ASSERT_NE(agsi, nullptr);
  const PFN_AgsiHandleFocus previous = agsi->AgsiHandleFocus;
  agsi->AgsiHandleFocus = &recordFocus;
  focusedWindows.clear();
  toggle();
  ASSERT_NE(board(), nullptr);
  void* const handle = menu_->pDlg->hw;

  // Without a window manager activation never arrives by itself: deliver it as the toolkit does.
  wxActivateEvent on(wxEVT_ACTIVATE, true, board()->GetId(), wxActivateEvent::Reason_Mouse);
  on.SetEventObject(board());
  board()->GetEventHandler()->ProcessEvent(on);
  EXPECT_EQ(isDialogForeMost(), 1) << "an active board is the foreground window";
  wxActivateEvent off(wxEVT_ACTIVATE, false, board()->GetId());
  off.SetEventObject(board());
  board()->GetEventHandler()->ProcessEvent(off);
  EXPECT_EQ(isDialogForeMost(), 0);
  agsi->AgsiHandleFocus = previous;

  ASSERT_GE(focusedWindows.size(), 2u);
  EXPECT_EQ(focusedWindows[focusedWindows.size() - 2], handle) << "activation passes the board's handle";
  EXPECT_EQ(focusedWindows.back(), nullptr) << "deactivation passes no window";
}

// Draws the board window's content as the components paint it: the grey window, then every
// component in creation order, each at its place.
void renderTree(wxDC& dc, wxWindow* window, wxPoint origin) {
  for (wxWindow* child : window->GetChildren()) {
    const wxPoint at = origin + child->GetPosition();
    if (auto* component = dynamic_cast<KVBase*>(child)) {
      dc.SetDeviceOrigin(at.x, at.y);
      component->Render(dc);
    }
    renderTree(dc, child, at);
  }
}

// What the X server shows, grabbed as the user sees it: the window's own margin around the
// board area, and the board picture inside it.
TEST_F(BoardWindow, OnScreenTheBoardSitsInTheWindowsGreyMargin) {
  toggle();
  ASSERT_NE(board(), nullptr);
  board()->Move(0, 0);
  board()->Raise();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!board()->IsShownOnScreen() && std::chrono::steady_clock::now() < until) {
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (int i = 0; i < 60; ++i) {  // first paint of the window and every component
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const wxImage client = korvel::test::grabClient(board());
  for (auto [x, y] : {std::pair{2, 2}, {5, 300}, {400, 5}, {781, 300}})
    EXPECT_EQ(rgb(client, x, y), rgb(240, 240, 240)) << "window margin at (" << x << "," << y << ")";
  // Inside the board area (from (10, 10)) the picture shows: PCB green left of the title.
  EXPECT_GT(client.GetGreen(10 + 8, 10 + 300), client.GetRed(10 + 8, 10 + 300) + 30)
      << "board picture at (18, 310): " << rgb(client, 18, 310);
  EXPECT_NE(rgb(client, 10, 10), rgb(240, 240, 240)) << "the board area starts at (10, 10)";
}

TEST_F(BoardWindow, ScreenshotShowsThePictureWithJumpersAndLed) {
  toggle();
  ASSERT_NE(board(), nullptr);
  const wxSize size = board()->GetClientSize();
  wxBitmap bitmap(size.x, size.y, 24);
  {
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(wxColour(240, 240, 240)));
    dc.Clear();
    renderTree(dc, board(), wxPoint(0, 0));
  }
  const wxImage image = bitmap.ConvertToImage();
  ASSERT_TRUE(image.SaveFile(BOARD_SCREENSHOT, wxBITMAP_TYPE_PNG));
  // The LED (board (648, 211), window +10) is lit on a powered board; the jumper JP3 has its cap.
  EXPECT_GT(image.GetRed(10 + 648 + 5, 10 + 211 + 5), 200);
  EXPECT_EQ(rgb(image, 10 + 693 + 3, 10 + 48 + 12), rgb(18, 231, 114));
  // Elsewhere the board picture shows: PCB green left of the title.
  EXPECT_GT(image.GetGreen(10 + 8, 10 + 300), image.GetRed(10 + 8, 10 + 300));
}

}  // namespace

namespace {

// Every component window lies over a drawn part of the board picture, not over bare PCB.
TEST(BoardPicture, EveryComponentPlaceFallsOnADrawnPart) {
  wxImage picture;
  ASSERT_TRUE(picture.LoadFile(KORVEL_BOARD_PICTURE, wxBITMAP_TYPE_BMP)) << KORVEL_BOARD_PICTURE;
  ASSERT_EQ(picture.GetSize(), wxSize(kBoardWidth, kBoardHeight));
  for (const ComponentPlace& place : kComponentPlaces) {
    int drawn = 0, total = 0;
    for (int y = place.top; y < place.bottom; ++y)
      for (int x = place.left; x < place.right; ++x, ++total)
        if (rgb(picture, x, y) != rgb(22, 92, 52)) ++drawn;
    EXPECT_GT(drawn * 2, total) << place.id << ": only " << drawn << " of " << total
                                << " pixels show a part";
  }
}

}  // namespace
