// The settings page "CAN Bus settings" in a frame of its own (the information dialog's stand-in):
// pickers and check boxes reach the CAN state at once, "OK" hands the typed acceptance texts to
// the confirmation and closes the dialog, "Cancel" only closes it, and the rows follow the layout
// rule at any size.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "can_gui_support.h"
#include "can_settings_dialog.h"
#include "fake_can_bus.h"
#include "gui_test_main.h"
#include "korvel/exports.h"

extern "C" int DefineAllDialogPages(wxWindow* dialog);

using quillon::CanBus;

namespace {

std::string text(wxWindow* window) { return std::string(window->GetLabel().utf8_str()); }

void press(wxWindow* control, wxEventType type) {
  wxCommandEvent event(type, control->GetId());
  event.SetEventObject(control);
  control->GetEventHandler()->ProcessEvent(event);
}

class SettingsPage : public ::testing::Test {
 protected:
  void SetUp() override {
    quillon::fake::reset();
    CANBusSettingsDialog::forgetTypedTexts();
    CANBusSettingsDialog::setPickers(
        [this](wxWindow* parent, int port) {
          folderAsks.push_back(port);
          EXPECT_NE(parent, nullptr);
          return nextFolder;
        },
        [this](wxWindow*, int port) {
          colourAsks.push_back(port);
          return nextColour;
        });
    open();
  }
  void TearDown() override {
    CANBusSettingsDialog::setPickers(nullptr, nullptr);
    close();
  }

  // A dialog holding the page, as the information dialog does; closing it is recorded and
  // vetoed, so that the test sees the request and still owns the window.
  void open(wxSize client = wxSize(620, 420)) {
    dialog = new wxFrame(nullptr, wxID_ANY, "CAN Bus", wxPoint(0, 0));
    dialog->SetClientSize(client);
    dialog->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
      ++closeRequests;
      if (event.CanVeto()) event.Veto();
    });
    page = new CANBusSettingsDialog(dialog);
    dialog->Show();
    can_test::pumpFor(std::chrono::milliseconds(30));
  }
  void close() {
    if (!dialog) return;
    dialog->Destroy();
    korvel::guitest::drainEvents();
    dialog = nullptr;
    page = nullptr;
  }
  // Makes port ready for a confirmation as a user would: enabled, a folder picked.
  void prepare(int port, const std::string& folder) {
    press(page->enableBox(port), wxEVT_CHECKBOX);
    nextFolder = folder;
    press(page->control(port == 1 ? 1 : 5), wxEVT_BUTTON);
  }

  wxFrame* dialog = nullptr;
  CANBusSettingsDialog* page = nullptr;
  int closeRequests = 0;
  std::optional<std::string> nextFolder;
  std::optional<uint32_t> nextColour;
  std::vector<int> folderAsks, colourAsks;
};

TEST_F(SettingsPage, RowsShowTheirTextsAndTheEditsStartAtMinusOne) {
  EXPECT_EQ(text(page->label(1)), "/");
  EXPECT_EQ(text(page->control(1)), "Select folder CAN 1");
  EXPECT_EQ(text(page->label(2)), "Color CAN 1  R: #00,  G: #00,  B: #00");
  EXPECT_EQ(text(page->control(2)), "Select color CAN 1");
  EXPECT_EQ(text(page->label(3)), "Id acceptance filter CAN 1");
  EXPECT_EQ(text(page->label(4)), "Enable CAN 1");
  EXPECT_EQ(text(page->label(5)), "/");
  EXPECT_EQ(text(page->control(5)), "Select folder CAN 2");
  EXPECT_EQ(text(page->label(6)), "Color CAN 2  R: #00,  G: #00,  B: #00");
  EXPECT_EQ(text(page->control(6)), "Select color CAN 2");
  EXPECT_EQ(text(page->label(7)), "Id acceptance filter CAN 2");
  EXPECT_EQ(text(page->label(8)), "Enable CAN 2");
  EXPECT_EQ(text(page->okButton()), "OK");
  EXPECT_EQ(text(page->cancelButton()), "Cancel");
  const std::array<int, 8> ids = {1011, 1012, 4712, 1017, 1015, 1016, 4712, 1018};
  for (int row = 1; row <= 8; ++row) EXPECT_EQ(page->control(row)->GetId(), ids[row - 1]) << "row " << row;
  EXPECT_EQ(page->okButton()->GetId(), 1013);
  EXPECT_EQ(page->cancelButton()->GetId(), 1014);
  EXPECT_EQ(page->acceptanceEdit(1)->GetValue(), "-1");
  EXPECT_EQ(page->acceptanceEdit(2)->GetValue(), "-1");
  EXPECT_FALSE(page->enableBox(1)->GetValue());
  EXPECT_TRUE(quillon::fake::record().pagePresent) << "firmware commands wait for the page";
}

TEST_F(SettingsPage, PickingRedShowsTheColourLineAtOnce) {
  nextColour = 0x000000FF;
  press(page->control(2), wxEVT_BUTTON);
  EXPECT_EQ(colourAsks, std::vector<int>{1});
  EXPECT_EQ(text(page->label(2)), "Color CAN 1  R: #FF,  G: #00,  B: #00");
  EXPECT_EQ(CanBus::instance().port(1).colour, 0x000000FFu);
  EXPECT_EQ(text(page->label(6)), "Color CAN 2  R: #00,  G: #00,  B: #00") << "port 2 untouched";

  nextColour = 0x00563412;  // B 0x56, G 0x34, R 0x12
  press(page->control(6), wxEVT_BUTTON);
  EXPECT_EQ(text(page->label(6)), "Color CAN 2  R: #12,  G: #34,  B: #56");

  nextColour.reset();  // the picker left with Cancel
  press(page->control(2), wxEVT_BUTTON);
  EXPECT_EQ(CanBus::instance().port(1).colour, 0x000000FFu);
  EXPECT_EQ(text(page->label(2)), "Color CAN 1  R: #FF,  G: #00,  B: #00");
}

TEST_F(SettingsPage, PickedFolderBecomesThePortsDirectoryWithItsSeparator) {
  nextFolder = "/tmp/can bus";
  press(page->control(5), wxEVT_BUTTON);
  EXPECT_EQ(folderAsks, std::vector<int>{2});
  EXPECT_EQ(CanBus::instance().port(2).directory, "/tmp/can bus/");
  EXPECT_TRUE(CanBus::instance().port(2).directoryChosen);
  EXPECT_EQ(text(page->label(5)), "/tmp/can bus/");
  EXPECT_EQ(text(page->label(1)), "/") << "port 1 untouched";
  EXPECT_FALSE(CanBus::instance().port(1).directoryChosen);

  nextFolder.reset();  // the picker left with Cancel
  press(page->control(1), wxEVT_BUTTON);
  EXPECT_FALSE(CanBus::instance().port(1).directoryChosen);
  EXPECT_EQ(text(page->label(1)), "/");
}

TEST_F(SettingsPage, EnableBoxesFlipTheirPortAtOnce) {
  press(page->enableBox(1), wxEVT_CHECKBOX);
  EXPECT_TRUE(CanBus::instance().port(1).enabled);
  EXPECT_TRUE(page->enableBox(1)->GetValue());
  EXPECT_FALSE(CanBus::instance().port(2).enabled);
  press(page->enableBox(2), wxEVT_CHECKBOX);
  press(page->enableBox(1), wxEVT_CHECKBOX);
  EXPECT_FALSE(CanBus::instance().port(1).enabled);
  EXPECT_FALSE(page->enableBox(1)->GetValue());
  EXPECT_TRUE(CanBus::instance().port(2).enabled);
  // A page opened later shows the ports as they are.
  close();
  open();
  EXPECT_FALSE(page->enableBox(1)->GetValue());
  EXPECT_TRUE(page->enableBox(2)->GetValue());
  EXPECT_TRUE(quillon::fake::record().confirmations.empty()) << "the boxes confirm nothing";
}

TEST_F(SettingsPage, OkHandsTheTypedTextsToTheConfirmationAndClosesTheDialog) {
  prepare(1, "/tmp/bus");
  page->acceptanceEdit(1)->SetValue("5");
  press(page->okButton(), wxEVT_BUTTON);
  ASSERT_EQ(quillon::fake::record().confirmations.size(), 1u);
  EXPECT_EQ(quillon::fake::record().confirmations[0], (std::array<std::string, 2>{"5", "-1"}));
  EXPECT_EQ(closeRequests, 1);
  EXPECT_EQ(CanBus::instance().port(1).acceptanceId, 5u);
  EXPECT_EQ(text(page->statusLine()), "");
}

TEST_F(SettingsPage, TypedTextsSurviveTheDialogClosingUntilTheNextBoard) {
  page->acceptanceEdit(1)->SetValue("123");
  page->acceptanceEdit(2)->SetValue("abc");
  close();
  open();
  EXPECT_EQ(page->acceptanceEdit(1)->GetValue(), "123");
  EXPECT_EQ(page->acceptanceEdit(2)->GetValue(), "abc");
  press(page->okButton(), wxEVT_BUTTON);
  EXPECT_EQ(quillon::fake::record().confirmations.back(), (std::array<std::string, 2>{"123", "abc"}));

  // A new board shows the ports' acceptance IDs again, as signed numbers.
  prepare(2, "/tmp/b");
  page->acceptanceEdit(2)->SetValue("-2");
  press(page->okButton(), wxEVT_BUTTON);
  close();
  CANBusSettingsDialog::forgetTypedTexts();
  open();
  EXPECT_EQ(page->acceptanceEdit(1)->GetValue(), "-1");
  EXPECT_EQ(page->acceptanceEdit(2)->GetValue(), "-2");
}

TEST_F(SettingsPage, OkThatCouldNotPrepareAPortSaysWhyAndStaysOpen) {
  prepare(1, "/proc/nope");
  page->acceptanceEdit(1)->SetValue("7");
  quillon::fake::record().error[0] =
      "CAN 1: cannot create /proc/nope/data (Permission denied); pick a folder you can write to.";
  press(page->okButton(), wxEVT_BUTTON);
  EXPECT_EQ(quillon::fake::record().confirmations.size(), 1u);
  EXPECT_EQ(closeRequests, 0) << "the dialog vanished as if all went well";
  EXPECT_EQ(text(page->statusLine()), quillon::fake::record().error[0]);
  EXPECT_TRUE(page->statusLine()->IsShown());

  quillon::fake::record().error[0].clear();
  press(page->okButton(), wxEVT_BUTTON);
  EXPECT_EQ(closeRequests, 1);
  EXPECT_EQ(text(page->statusLine()), "");
}

TEST_F(SettingsPage, CancelClosesTheDialogAndConfirmsNothing) {
  page->acceptanceEdit(1)->SetValue("9");
  press(page->cancelButton(), wxEVT_BUTTON);
  EXPECT_EQ(closeRequests, 1);
  EXPECT_TRUE(quillon::fake::record().confirmations.empty());
  EXPECT_EQ(CanBus::instance().port(1).acceptanceId, quillon::kNoAcceptanceId);
  EXPECT_FALSE(CanBus::instance().port(1).enabled);
}

TEST_F(SettingsPage, PageInsideATabControlStillClosesItsDialog) {
  close();
  dialog = new wxFrame(nullptr, wxID_ANY, "CAN Bus", wxPoint(0, 0), wxSize(600, 400));
  dialog->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    ++closeRequests;
    if (event.CanVeto()) event.Veto();
  });
  auto* tabs = new wxPanel(dialog);  // stands for the dialog's tab control
  page = new CANBusSettingsDialog(tabs);
  dialog->Show();
  press(page->cancelButton(), wxEVT_BUTTON);
  EXPECT_EQ(closeRequests, 1);
  press(page->okButton(), wxEVT_BUTTON);
  EXPECT_EQ(closeRequests, 2);
}

// The layout rule: rows at 10 and then by text height plus a share g of the free height, the
// second port's rows and the buttons one row and 2g further, controls right-aligned.
void expectLayout(CANBusSettingsDialog* page) {
  const wxSize client = page->GetClientSize();
  const int cx = client.x, cy = client.y;
  const int h = page->label(1)->GetSize().y;
  ASSERT_GT(h, 5) << "the first label has no measured height";
  const double g = (cy - 20 - (8.0 * h + 30)) / 8.0;
  double y = 10;
  for (int row = 1; row <= 8; ++row) {
    if (row == 5) y += h + 2 * g;
    SCOPED_TRACE("row " + std::to_string(row) + " at " + std::to_string(cx) + "x" + std::to_string(cy));
    const wxRect label = page->label(row)->GetRect();
    EXPECT_EQ(label.GetPosition(), wxPoint(10, static_cast<int>(y)));
    EXPECT_EQ(label.width, 400);
    const bool box = row == 4 || row == 8;
    const int height = box ? std::max(h, page->control(row)->GetBestSize().y) : h;
    EXPECT_EQ(page->control(row)->GetRect(), wxRect(cx - 160, static_cast<int>(y), 150, height));
    if (row != 4 && row != 8) y += label.height + g / 2;
  }
  const int buttons = static_cast<int>(y + h + 2 * g);
  EXPECT_EQ(page->okButton()->GetRect(), wxRect(cx - 90, buttons, 80, 30));
  EXPECT_EQ(page->cancelButton()->GetRect(), wxRect(cx - 180, buttons, 80, 30));
}

TEST_F(SettingsPage, RowsAndButtonsFollowTheLayoutRuleAtAnySize) {
  ASSERT_EQ(page->GetClientSize(), dialog->GetClientSize()) << "the page fills its dialog";
  expectLayout(page);
  dialog->SetClientSize(wxSize(700, 520));
  can_test::pumpUntil([&] { return page->GetClientSize() == wxSize(700, 520); });
  expectLayout(page);
  // A longer directory keeps the row's place.
  nextFolder = "/a/rather/long/folder/name/that/keeps/going/and/going/past/the/label/width/for/sure";
  press(page->control(1), wxEVT_BUTTON);
  expectLayout(page);
  EXPECT_EQ(page->label(1)->GetToolTipText(), wxString(*nextFolder + "/")) << "the whole path";
}

TEST_F(SettingsPage, DialogPagesExportAddsTheLabelledPageToTheDialog) {
  EXPECT_EQ(DefineAllDialogPages(nullptr), 0);
  quillon::fake::record().pagePresent = false;
  const size_t before = dialog->GetChildren().size();
  // A plain frame is no information dialog: the registration is refused, the page stays its child.
  EXPECT_EQ(DefineAllDialogPages(dialog), DefinePageDialog(nullptr, dialog));
  // The settings page, then the credits page.
  ASSERT_EQ(dialog->GetChildren().size(), before + 2);
  auto* added = dynamic_cast<CANBusSettingsDialog*>(dialog->GetChildren()[before]);
  EXPECT_EQ(dialog->GetChildren().back()->GetLabel(), "Credit");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->GetLabel(), "CAN Bus settings");
  EXPECT_TRUE(added->IsKindOf(wxCLASSINFO(CANBusSettingsDialog)));
  EXPECT_TRUE(quillon::fake::record().pagePresent);
  // Closing the dialog with "OK" leaves the ports on the bus.
  added->Destroy();
  korvel::guitest::drainEvents();
  EXPECT_TRUE(quillon::fake::record().pagePresent);
}

}  // namespace
