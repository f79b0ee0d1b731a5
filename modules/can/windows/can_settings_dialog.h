// The settings page "CAN Bus settings" of the CAN information dialogs: per port the exchange
// directory, the colour, the acceptance ID and the enabled flag. Picks and the check boxes reach
// the CAN state at once; "OK" hands the acceptance texts to quillon::CanBus::confirm, which
// prepares the directories and starts the watchers, then closes the dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <wx/panel.h>

class wxButton;
class wxCheckBox;
class wxStaticText;
class wxTextCtrl;

class CANBusSettingsDialog : public wxPanel {
 public:
  // Control identifiers of the page.
  enum : int {
    kFolder1 = 1011, kColour1 = 1012, kOk = 1013, kCancel = 1014,
    kFolder2 = 1015, kColour2 = 1016, kEnable1 = 1017, kEnable2 = 1018, kAcceptance = 4712
  };

  // The system's pickers, replaceable so that tests need no modal dialog. Each returns nothing
  // when the user cancels; the folder without a trailing separator is fine.
  using FolderPicker = std::function<std::optional<std::string>(wxWindow* parent, int port)>;
  using ColourPicker = std::function<std::optional<uint32_t>(wxWindow* parent, int port)>;
  // Empty functions bring back the system's pickers.
  static void setPickers(FolderPicker folder, ColourPicker colour);

  // Forgets the acceptance texts typed on earlier pages: the next page shows the ports' acceptance
  // IDs again. Called when a new board is built.
  static void forgetTypedTexts();

  explicit CANBusSettingsDialog(wxWindow* parent);
  ~CANBusSettingsDialog() override;

  // The colour line of a port: "Color CAN 1  R: #FF,  G: #00,  B: #00" (colour 0x00BBGGRR).
  static std::string colourLine(int port, uint32_t colour);

  // Controls of a row (1 to 8, as the page lists them) for tests and layout.
  wxStaticText* label(int row) const { return labels_[row - 1]; }
  wxWindow* control(int row) const { return controls_[row - 1]; }
  wxTextCtrl* acceptanceEdit(int port) const;
  wxCheckBox* enableBox(int port) const;
  wxButton* okButton() const { return ok_; }
  wxButton* cancelButton() const { return cancel_; }
  // The line that says why the last "OK" could not apply a port's settings (empty when none).
  wxStaticText* statusLine() const { return status_; }

  // What the buttons do (the button handlers call these).
  void pickFolder(int port);
  void pickColour(int port);
  void toggleEnabled(int port);
  void confirm();
  void cancel();

 private:
  void closeDialog();
  void onSize(wxSizeEvent& event);
  void layout();
  void refreshTexts();
  int measuredHeight(wxStaticText* label) const;

  wxStaticText* labels_[8] = {};
  wxWindow* controls_[8] = {};
  wxButton* ok_ = nullptr;
  wxButton* cancel_ = nullptr;
  wxStaticText* status_ = nullptr;

  wxDECLARE_CLASS(CANBusSettingsDialog);
};
