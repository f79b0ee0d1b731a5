#include "settings_page.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/msgdlg.h>
#include <wx/slider.h>
#include <wx/spinbutt.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>
#include <wx/weakref.h>

#include "korvel/exports.h"
#include "korvel/host_functions.h"
#include "korvel/settings.h"
#include "plain_controls.h"

namespace {

constexpr int kMargin = 10;
constexpr int kMaxCount = 32767;

// The check boxes in the order of the boxes_ array, with their settings keys.
struct BoxRow {
  int id;
  const char* key;
};
constexpr BoxRow kBoxes[8] = {
    {ChipSettingsDialog::kButtonBounce, "BTN_BOUNCE"}, {ChipSettingsDialog::kPotBounce, "POTMETER_BOUNCE"},
    {ChipSettingsDialog::kScaleRit, "SCALE_RIT"},      {ChipSettingsDialog::kScaleTim0, "SCALE_TIM0"},
    {ChipSettingsDialog::kScaleTim1, "SCALE_TIM1"},    {ChipSettingsDialog::kScaleTim2, "SCALE_TIM2"},
    {ChipSettingsDialog::kScaleTim3, "SCALE_TIM3"},    {ChipSettingsDialog::kScaleCustom, "SCALE_CUSTOM"},
};
// Boxes whose change needs a reset of the target to take effect: RIT, the timers, custom scale.
constexpr int kFirstScalingBox = 2;

const char* const kRowLabels[8] = {
    "Enable/Disable Buttons bouncing", "Enable/Disable Potmeter non ideality",
    "Scale RIT to emulator time",      "Scale timers to emulator time",
    "Use custom scale factor value",   "Custom scale factor value",
    "Speaker volume (pre-scale)",      "Values in speaker's array",
};

float stored(const char* key) { return SettingsManager::sharedInstance().getValueWithKey(key); }

// A stored number as the whole number a control can hold (truncated; NaN and huge values too).
int wholeNumber(float value, int low, int high) {
  if (std::isnan(value)) return low;
  const double clamped = std::clamp(static_cast<double>(value), static_cast<double>(low),
                                    static_cast<double>(high));
  return static_cast<int>(std::trunc(clamped));
}

int truncated(float value) {
  if (std::isnan(value)) return 0;
  return static_cast<int>(std::trunc(std::clamp(static_cast<double>(value), -2147483648.0, 2147483647.0)));
}

bool askWithMessageBox(wxWindow* parent, const wxString& title, const wxString& text) {
  return wxMessageBox(text, title, wxYES_NO | wxICON_QUESTION, parent) == wxYES;
}

ChipSettingsDialog::Prompt& prompt() {
  static ChipSettingsDialog::Prompt current = askWithMessageBox;
  return current;
}

// A number field with its up-down control: the control writes its position into the field, and a
// field holding a valid number in range moves the control.
void tie(wxTextCtrl* field, UpDownControl* spin) {
  spin->Bind(wxEVT_SPIN, [field, spin](wxSpinEvent& event) {
    event.Skip();
    field->ChangeValue(wxString::Format("%d", spin->GetValue()));
  });
  field->Bind(wxEVT_TEXT, [field, spin](wxCommandEvent& event) {
    event.Skip();
    long value = 0;
    if (field->GetValue().ToLong(&value) && value >= spin->GetMin() && value <= spin->GetMax())
      spin->SetValue(static_cast<int>(value));
  });
}

}  // namespace

void ChipSettingsDialog::setPromptForTesting(Prompt replacement) {
  prompt() = replacement ? std::move(replacement) : Prompt(askWithMessageBox);
}

ChipSettingsDialog::ChipSettingsDialog(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
  SetLabel("Settings");
  SetBackgroundColour(*wxWHITE);
  createControls();
  Bind(wxEVT_SIZE, &ChipSettingsDialog::onSize, this);
}

void ChipSettingsDialog::createControls() {
  for (int row = 0; row < 8; ++row) labels_[row] = new wxStaticText(this, wxID_ANY, kRowLabels[row]);
  for (int i = 0; i < 4; ++i)
    timLabels_[i] = new wxStaticText(this, wxID_ANY, wxString::Format("TIM%d", i), wxDefaultPosition,
                                     wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  for (int i = 0; i < 8; ++i) {
    boxes_[i] = new PlainCheckBox(this, kBoxes[i].id);
    boxes_[i]->SetValue(stored(kBoxes[i].key) != 0.0f);
  }
  boxes_[7]->Bind(wxEVT_CHECKBOX, &ChipSettingsDialog::onCustomToggled, this);

  const long fieldStyle = wxTE_CENTRE | wxBORDER_SUNKEN;
  const wxTextValidator digits(wxFILTER_DIGITS);
  customField_ = new wxTextCtrl(this, kCustomValue, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                fieldStyle, digits);
  customSpin_ = new UpDownControl(this, kCustomValueSpin);
  customSpin_->SetRange(1, kMaxCount);
  customSpin_->SetValue(wholeNumber(stored("SCALE_CUSTOM_VALUE"), 1, kMaxCount));
  customField_->ChangeValue(wxString::Format("%d", customSpin_->GetValue()));
  tie(customField_, customSpin_);

  volume_ = new wxSlider(this, kVolume, wholeNumber(stored("SPEAKER_IN_DLL_VOLUME"), 0, 100), 0, 100);

  tableField_ = new wxTextCtrl(this, kTableSize, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                               fieldStyle, digits);
  tableSpin_ = new UpDownControl(this, kTableSizeSpin);
  tableSpin_->SetRange(1, kMaxCount);
  tableSpin_->SetValue(wholeNumber(stored("SIN_TABLE_SIZE"), 1, kMaxCount));
  tableField_->ChangeValue(wxString::Format("%d", tableSpin_->GetValue()));
  tie(tableField_, tableSpin_);

  const bool custom = boxes_[7]->GetValue();
  customField_->Enable(custom);
  customSpin_->Enable(custom);

  ok_ = new wxButton(this, kOk, "OK");
  cancel_ = new wxButton(this, kCancel, "Cancel");
  ok_->Bind(wxEVT_BUTTON, &ChipSettingsDialog::onOk, this);
  cancel_->Bind(wxEVT_BUTTON, &ChipSettingsDialog::onCancel, this);
  created_ = true;
  layoutControls();
}

void ChipSettingsDialog::layoutControls() {
  if (!created_) return;
  const wxSize size = GetClientSize();
  const int W = size.x, H = size.y;
  const int T = GetTextExtent("Ag").y;
  const int gap = (H - 2 * kMargin - (8 * T + 30)) / 8;
  const int step = T + gap;
  const auto rowY = [&](int row) { return kMargin + row * step; };

  for (int row = 0; row < 8; ++row) labels_[row]->SetSize(kMargin, rowY(row), -1, T, wxSIZE_USE_EXISTING);

  // Plain boxes of rows 1, 2, 3 and 5: squares of the label's height, right-aligned.
  const int boxRows[4] = {0, 1, 2, 4};
  const int boxIndex[4] = {0, 1, 2, 7};
  for (int i = 0; i < 4; ++i) boxes_[boxIndex[i]]->SetSize(W - kMargin - T, rowY(boxRows[i]), T, T);

  // Row 4: four equal columns ending 12 pixels from the right edge, each label above its box.
  const int column = std::max(GetTextExtent("TIM0").x + 8, 36);
  for (int i = 0; i < 4; ++i) {
    const int left = W - 12 - (4 - i) * column;
    timLabels_[i]->SetSize(left, rowY(3) - T / 2, column, T);
    boxes_[3 + i]->SetSize(left + (column - 12) / 2, rowY(3) + T / 2 + 2, 12, 12);
  }

  // Rows 6 and 8: field and up-down control centred on the label's line.
  const auto centredOn = [&](int row, int height) { return rowY(row) + T / 2 - height / 2; };
  customField_->SetSize(W - 160, centredOn(5, 26), 110, 26);
  customSpin_->SetSize(W - 50, centredOn(5, 26), 40, 26);
  volume_->SetSize(W - 160, centredOn(6, 36), 150, 36);
  tableField_->SetSize(W - 160, centredOn(7, 26), 110, 26);
  tableSpin_->SetSize(W - 50, centredOn(7, 26), 40, 26);

  const int buttonsY = std::max(rowY(7) + T + gap / 2, rowY(7) + T + 4);
  ok_->SetSize(W - 180, buttonsY, 80, 30);
  cancel_->SetSize(W - 90, buttonsY, 80, 30);
}

void ChipSettingsDialog::onSize(wxSizeEvent& event) {
  event.Skip();
  layoutControls();
}

void ChipSettingsDialog::onCustomToggled(wxCommandEvent& event) {
  event.Skip();
  const bool custom = boxes_[7]->GetValue();
  customField_->Enable(custom);
  customSpin_->Enable(custom);
}

bool ChipSettingsDialog::scalingChanged() const {
  for (int i = kFirstScalingBox; i < 8; ++i)
    if ((boxes_[i]->GetValue() ? 1 : 0) != truncated(stored(kBoxes[i].key))) return true;
  return customSpin_->GetValue() != truncated(stored("SCALE_CUSTOM_VALUE"));
}

void ChipSettingsDialog::onOk(wxCommandEvent&) {
  const bool changed = scalingChanged();
  SettingsManager& settings = SettingsManager::sharedInstance();
  for (int i = 0; i < 8; ++i) settings.setValueWithKey(kBoxes[i].key, boxes_[i]->GetValue() ? 1.0f : 0.0f);
  settings.setValueWithKey("SCALE_CUSTOM_VALUE", static_cast<float>(customSpin_->GetValue()));
  settings.setValueWithKey("SPEAKER_IN_DLL_VOLUME", static_cast<float>(volume_->GetValue()));
  settings.setValueWithKey("SIN_TABLE_SIZE", static_cast<float>(tableSpin_->GetValue()));

  // The question runs a modal loop in which the board, and this page with it, may be closed
  // (the host ends the session): after it, touch the page only if it still exists.
  wxWeakRef<wxWindow> alive(this);
  if (changed &&
      prompt()(this, "Action Required",
               "In order to apply these settings the emulator needs to be Resetted or Restarted. "
               "Do you want to restart it now?")) {
    HostFunctionTable* agsi = getAgsi();
    if (agsi && agsi->AgsiTriggerReset) agsi->AgsiTriggerReset();
  }
  if (alive) closeDialog();
  settings.Save();
}

void ChipSettingsDialog::onCancel(wxCommandEvent&) { closeDialog(); }

void ChipSettingsDialog::closeDialog() {
  // The page sits in the information dialog's tab strip: the dialog is its top-level window.
  if (auto* dialog = dynamic_cast<wxDialog*>(wxGetTopLevelParent(this))) dialog->Close();
}
