// The emulator settings page and the credits page of the board component's information dialog.
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include <wx/html/htmlwin.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include "dialog_support.h"
#include "infodialog/chip_dialog.h"
#include "infodialog/info_tab_control.h"
#include "korvel/host_functions.h"
#include "korvel/platform/platform.h"

namespace {

using korvel::test::BoardSession;
using korvel::test::ScratchSettings;
namespace fs = std::filesystem;

enum : int {
  kButtonBounce = 1013, kPotBounce = 1014, kScaleRit = 1015, kScaleTim0 = 1016, kVolume = 1017,
  kTableSize = 1018, kOk = 1019, kCancel = 1020, kTableSizeSpin = 1021, kScaleTim1 = 1022,
  kScaleTim2 = 1023, kScaleTim3 = 1024, kScaleCustom = 1025, kCustomValue = 1026, kCustomValueSpin = 1027,
};

const char kStored[] =
    "BTN_BOUNCE=1\nPOTMETER_BOUNCE=0\nSCALE_RIT=1\nSCALE_TIM0=0\nSCALE_TIM1=1\nSCALE_TIM2=0\n"
    "SCALE_TIM3=0\nSCALE_CUSTOM=1\nSCALE_CUSTOM_VALUE=2.5\nSPEAKER_IN_DLL_VOLUME=150\nSIN_TABLE_SIZE=45\n";

std::vector<std::string> prompts;
int promptAnswer = 0;
int recordPrompt(const char* title, const char* text) {
  prompts.push_back(std::string(title) + "|" + text);
  return promptAnswer;
}
int resets = 0;
void recordReset() { ++resets; }

void mouseDown(wxWindow* window, int x, int y) {
  wxMouseEvent event(wxEVT_LEFT_DOWN);
  event.SetPosition(wxPoint(x, y));
  event.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(event);
}

void press(wxWindow* button) {
  wxCommandEvent event(wxEVT_BUTTON, button->GetId());
  event.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(event);
}

class SettingsPage : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.addBundle({"KorvelBase", KORVEL_BASE_LIB, "", {}});
    base_ = korvel::platform::loadLibrary(KORVEL_BASE_LIB);
    ASSERT_NE(base_, nullptr);
    setPrompt_ = reinterpret_cast<void (*)(int (*)(const char*, const char*))>(
        korvel::platform::findSymbol(base_, "korvelBaseSetResetPromptForTesting"));
    ASSERT_NE(setPrompt_, nullptr);
    setPrompt_(&recordPrompt);
    prompts.clear();
    promptAnswer = 0;
    resets = 0;
    HostFunctionTable* agsi = getAgsi();
    ASSERT_NE(agsi, nullptr);
    previousReset_ = agsi->AgsiTriggerReset;
    agsi->AgsiTriggerReset = &recordReset;
    ASSERT_TRUE(session_.open());
  }
  void TearDown() override {
    session_.close();
    getAgsi()->AgsiTriggerReset = previousReset_;
    setPrompt_(nullptr);
    korvel::platform::freeLibrary(base_);
  }

  // Opens the board's dialog and returns its settings page (third tab: no models here).
  wxWindow* openSettings() {
    BoardSession::flushIdle();
    KVBase* board = getBoardChipWithID("Korvel");
    if (!board) return nullptr;
    dialog_ = BoardSession::rightClick(board);
    // The user opens the tab first: only the shown page is enabled.
    if (auto* chip = dynamic_cast<ChipDialog*>(dialog_.get())) chip->tabs()->select(2);
    wxWindow* page = getDialogAtIndexForComponent(board, 2);
    if (page) page->SetSize(540, 420);
    return page;
  }
  static wxWindow* control(wxWindow* page, int id) {
    wxWindow* found = page->FindWindow(id);
    EXPECT_NE(found, nullptr) << "no control " << id;
    return found;
  }

  ScratchSettings settings_{kStored};
  BoardSession session_{"korvel-settings-page"};
  wxWeakRef<wxWindow> dialog_;
  void* base_ = nullptr;
  void (*setPrompt_)(int (*)(const char*, const char*)) = nullptr;
  PFN_AgsiTriggerReset previousReset_ = nullptr;
};

std::string line(const std::string& key, const std::string& value) { return key + "=" + value + "\n"; }

TEST_F(SettingsPage, OkWithoutChangesStoresAllElevenValuesAndAsksNothing) {
  wxWindow* page = openSettings();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->GetLabel().utf8_string(), "Settings");
  EXPECT_EQ(static_cast<wxTextCtrl*>(control(page, kCustomValue))->GetValue().utf8_string(), "2")
      << "2.5 is shown as its whole part";
  EXPECT_EQ(static_cast<wxSlider*>(control(page, kVolume))->GetValue(), 100) << "150 is shown at the limit";
  EXPECT_EQ(static_cast<wxTextCtrl*>(control(page, kTableSize))->GetValue().utf8_string(), "45");
  press(control(page, kOk));
  EXPECT_TRUE(prompts.empty()) << "asked although no scaling setting changed: " << prompts[0];
  EXPECT_EQ(resets, 0);
  const std::string file = settings_.text();
  for (const auto& [key, value] :
       std::vector<std::pair<std::string, std::string>>{{"BTN_BOUNCE", "1.000000"},
                                                        {"POTMETER_BOUNCE", "0.000000"},
                                                        {"SCALE_RIT", "1.000000"},
                                                        {"SCALE_TIM0", "0.000000"},
                                                        {"SCALE_TIM1", "1.000000"},
                                                        {"SCALE_TIM2", "0.000000"},
                                                        {"SCALE_TIM3", "0.000000"},
                                                        {"SCALE_CUSTOM", "1.000000"},
                                                        {"SCALE_CUSTOM_VALUE", "2.000000"},
                                                        {"SPEAKER_IN_DLL_VOLUME", "100.000000"},
                                                        {"SIN_TABLE_SIZE", "45.000000"}})
    EXPECT_NE(file.find(line(key, value)), std::string::npos) << key << " not saved as " << value << " in:\n" << file;
  BoardSession::flushIdle();
  EXPECT_FALSE(dialog_) << "OK leaves the information dialog open";
}

TEST_F(SettingsPage, OnlyScalingChangesAskForAReset) {
  struct Case {
    const char* what;
    std::function<void(wxWindow*)> change;
    bool asks;
  };
  const auto click = [](int id) { return [id](wxWindow* page) { mouseDown(control(page, id), 3, 3); }; };
  const std::vector<Case> cases = {
      {"button bounce", click(kButtonBounce), false},
      {"potentiometer", click(kPotBounce), false},
      {"speaker volume", [](wxWindow* page) { static_cast<wxSlider*>(control(page, kVolume))->SetValue(30); }, false},
      {"speaker array", [](wxWindow* page) { mouseDown(control(page, kTableSizeSpin), 5, 2); }, false},
      {"RIT", click(kScaleRit), true},
      {"TIM0", click(kScaleTim0), true},
      {"TIM1", click(kScaleTim1), true},
      {"TIM2", click(kScaleTim2), true},
      {"TIM3", click(kScaleTim3), true},
      {"custom scale", click(kScaleCustom), true},
      {"custom factor by its arrows", [](wxWindow* page) { mouseDown(control(page, kCustomValueSpin), 5, 2); }, true},
      {"custom factor typed", [](wxWindow* page) {
         static_cast<wxTextCtrl*>(control(page, kCustomValue))->SetValue("7");
       }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchSettings fresh(kStored);
    prompts.clear();
    wxWindow* page = openSettings();
    ASSERT_NE(page, nullptr);
    c.change(page);
    press(control(page, kOk));
    EXPECT_EQ(prompts.size(), c.asks ? 1u : 0u);
  }
  ASSERT_FALSE(prompts.empty());
  EXPECT_EQ(prompts.back(), "Action Required|In order to apply these settings the emulator needs to be "
                            "Resetted or Restarted. Do you want to restart it now?");
  EXPECT_EQ(resets, 0) << "No was answered every time";
}

TEST_F(SettingsPage, YesResetsTheTargetAndNoStillSavesAndCloses) {
  promptAnswer = 1;
  wxWindow* page = openSettings();
  ASSERT_NE(page, nullptr);
  mouseDown(control(page, kScaleTim2), 3, 3);
  press(control(page, kOk));
  EXPECT_EQ(resets, 1);
  EXPECT_NE(settings_.text().find("SCALE_TIM2=1.000000\n"), std::string::npos);

  promptAnswer = 0;
  page = openSettings();
  ASSERT_NE(page, nullptr);
  mouseDown(control(page, kScaleTim3), 3, 3);
  press(control(page, kOk));
  EXPECT_EQ(resets, 1) << "No reset the target";
  EXPECT_NE(settings_.text().find("SCALE_TIM3=1.000000\n"), std::string::npos) << "No lost the values";
  BoardSession::flushIdle();
  EXPECT_FALSE(dialog_);
}

// The board goes away while the reset question is open (the host ends the session).
BoardSession* closingSession = nullptr;
int closeBoardAndSayYes(const char*, const char*) {
  closingSession->close();
  return 1;
}

TEST_F(SettingsPage, TheBoardClosingDuringTheQuestionStillStoresAndResets) {
  wxWindow* page = openSettings();
  ASSERT_NE(page, nullptr);
  mouseDown(control(page, kScaleRit), 3, 3);
  closingSession = &session_;
  setPrompt_(&closeBoardAndSayYes);
  press(control(page, kOk));
  EXPECT_FALSE(dialog_) << "the board closed but the dialog lives";
  EXPECT_EQ(resets, 1);
  EXPECT_NE(settings_.text().find("SCALE_RIT=0.000000\n"), std::string::npos) << settings_.text();
}

TEST_F(SettingsPage, CustomFactorIsEditableOnlyWhileItsBoxIsChecked) {
  ScratchSettings off("SCALE_CUSTOM=0\nSCALE_CUSTOM_VALUE=3\n");
  wxWindow* page = openSettings();
  ASSERT_NE(page, nullptr);
  EXPECT_FALSE(control(page, kCustomValue)->IsEnabled());
  EXPECT_FALSE(control(page, kCustomValueSpin)->IsEnabled());
  mouseDown(control(page, kCustomValueSpin), 5, 2);
  EXPECT_EQ(static_cast<wxTextCtrl*>(control(page, kCustomValue))->GetValue().utf8_string(), "3")
      << "a disabled up-down control moved";
  mouseDown(control(page, kScaleCustom), 3, 3);
  EXPECT_TRUE(control(page, kCustomValue)->IsEnabled());
  EXPECT_TRUE(control(page, kCustomValueSpin)->IsEnabled());
  mouseDown(control(page, kCustomValueSpin), 5, 2);
  EXPECT_EQ(static_cast<wxTextCtrl*>(control(page, kCustomValue))->GetValue().utf8_string(), "4");
  static_cast<wxTextCtrl*>(control(page, kCustomValue))->SetValue("40000");
  press(control(page, kOk));
  EXPECT_NE(off.text().find("SCALE_CUSTOM_VALUE=4.000000\n"), std::string::npos)
      << "an out-of-range field moved the factor:\n" << off.text();
  page = openSettings();
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(control(page, kCustomValue)->IsEnabled());
  mouseDown(control(page, kScaleCustom), 3, 3);
  EXPECT_FALSE(control(page, kCustomValue)->IsEnabled()) << "unchecking disables again";
}

TEST_F(SettingsPage, CancelClosesWithoutStoring) {
  wxWindow* page = openSettings();
  ASSERT_NE(page, nullptr);
  mouseDown(control(page, kButtonBounce), 3, 3);
  press(control(page, kCancel));
  EXPECT_TRUE(prompts.empty());
  EXPECT_EQ(SettingsManager::sharedInstance().getValueWithKey("BTN_BOUNCE"), 1.0f);
  BoardSession::flushIdle();
  EXPECT_FALSE(dialog_);
}

TEST_F(SettingsPage, RowsStandInOrderWithTheirControlsRightAligned) {
  wxWindow* page = openSettings();
  ASSERT_NE(page, nullptr);
  const int width = page->GetClientSize().x;
  std::vector<wxWindow*> labels;
  for (wxWindow* child : page->GetChildren())
    if (dynamic_cast<wxStaticText*>(child) && !child->GetLabel().StartsWith("TIM")) labels.push_back(child);
  ASSERT_EQ(labels.size(), 8u);
  EXPECT_EQ(labels[0]->GetLabel().utf8_string(), "Enable/Disable Buttons bouncing");
  EXPECT_EQ(labels[7]->GetLabel().utf8_string(), "Values in speaker's array");
  for (size_t i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(labels[i]->GetPosition().x, 10);
    if (i > 0) {
      EXPECT_GT(labels[i]->GetPosition().y, labels[i - 1]->GetPosition().y) << i;
    }
  }
  const int T = labels[0]->GetSize().y;
  const wxRect bounce = control(page, kButtonBounce)->GetRect();
  EXPECT_EQ(bounce, wxRect(width - 10 - T, labels[0]->GetPosition().y, T, T));
  EXPECT_EQ(control(page, kScaleTim3)->GetSize(), wxSize(12, 12));
  EXPECT_LT(control(page, kScaleTim0)->GetPosition().x, control(page, kScaleTim3)->GetPosition().x);
  EXPECT_EQ(control(page, kCustomValue)->GetRect().x, width - 160);
  EXPECT_EQ(control(page, kCustomValueSpin)->GetRect(),
            wxRect(width - 50, control(page, kCustomValue)->GetPosition().y, 40, 26));
  EXPECT_EQ(control(page, kVolume)->GetSize(), wxSize(150, 36));
  const wxRect ok = control(page, kOk)->GetRect();
  const wxRect cancel = control(page, kCancel)->GetRect();
  EXPECT_EQ(ok.x, width - 180);
  EXPECT_EQ(cancel.x, width - 90);
  EXPECT_GT(ok.y, labels[7]->GetRect().GetBottom());
  EXPECT_LE(ok.GetBottom(), page->GetClientSize().y);
}

// The credits page shows the credit.html beside the module library that created it: a copy of
// the module in another folder shows that folder's file.
TEST(CreditPage, ShowsTheFileBesideItsOwnModule) {
  ScratchSettings settings;
  BoardSession session("korvel-credit-page");
  const fs::path folder = session.folderOf("KorvelBase");
  fs::create_directories(folder);
  fs::copy_file(KORVEL_BASE_LIB, folder / "libKorvelBaseCopy.so");
  std::ofstream(folder / "credit.html") << "<html><body><p>Credits of the copy</p></body></html>";
  session.addBundle({"KorvelBase", "libKorvelBaseCopy.so", "", {}});
  ASSERT_TRUE(session.open());
  KVBase* board = getBoardChipWithID("Korvel");
  ASSERT_NE(board, nullptr);
  BoardSession::rightClick(board);
  auto* credit = dynamic_cast<wxHtmlWindow*>(getDialogAtIndexForComponent(board, 3));
  ASSERT_NE(credit, nullptr);
  EXPECT_EQ(credit->GetLabel().utf8_string(), "Credit");
  EXPECT_NE(credit->ToText().find("Credits of the copy"), wxString::npos) << credit->ToText().utf8_string();

  // Without the file the page says which file is missing instead of staying blank.
  session.close();
  fs::remove(folder / "credit.html");
  ASSERT_TRUE(session.open());
  board = getBoardChipWithID("Korvel");
  BoardSession::rightClick(board);
  credit = dynamic_cast<wxHtmlWindow*>(getDialogAtIndexForComponent(board, 3));
  ASSERT_NE(credit, nullptr);
  EXPECT_NE(credit->ToText().find("credit.html cannot be read"), wxString::npos) << credit->ToText().utf8_string();
}

}  // namespace
