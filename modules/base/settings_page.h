// The "Settings" page of the board's information dialog: button bounce, potentiometer
// non-ideality, which timers run scaled to emulator time and by which factor, and the speaker.
// It reads the settings store when it is created and writes every value back on OK.
#pragma once

#include <functional>

#include <wx/panel.h>

class PlainCheckBox;
class UpDownControl;
class wxSlider;
class wxStaticText;
class wxTextCtrl;

class ChipSettingsDialog : public wxPanel {
 public:
  enum Id {
    kButtonBounce = 1013,
    kPotBounce = 1014,
    kScaleRit = 1015,
    kScaleTim0 = 1016,
    kVolume = 1017,
    kTableSize = 1018,
    kOk = 1019,
    kCancel = 1020,
    kTableSizeSpin = 1021,
    kScaleTim1 = 1022,
    kScaleTim2 = 1023,
    kScaleTim3 = 1024,
    kScaleCustom = 1025,
    kCustomValue = 1026,
    kCustomValueSpin = 1027,
  };

  explicit ChipSettingsDialog(wxWindow* parent);

  // Asks whether to reset the target now; true for Yes. A Yes/No message box unless replaced.
  using Prompt = std::function<bool(wxWindow* parent, const wxString& title, const wxString& text)>;
  static void setPromptForTesting(Prompt prompt);

  // The rule that places the eight rows and the two buttons for the present size.
  void layoutControls();

 private:
  void createControls();
  void onOk(wxCommandEvent& event);
  void onCancel(wxCommandEvent& event);
  void onCustomToggled(wxCommandEvent& event);
  void onSize(wxSizeEvent& event);
  bool scalingChanged() const;
  void closeDialog();

  wxStaticText* labels_[8] = {};
  wxStaticText* timLabels_[4] = {};
  PlainCheckBox* boxes_[8] = {};  // rows 1, 2, 3, TIM0..TIM3, 5
  wxTextCtrl* customField_ = nullptr;
  UpDownControl* customSpin_ = nullptr;
  wxSlider* volume_ = nullptr;
  wxTextCtrl* tableField_ = nullptr;
  UpDownControl* tableSpin_ = nullptr;
  wxWindow* ok_ = nullptr;
  wxWindow* cancel_ = nullptr;
  bool created_ = false;
};
