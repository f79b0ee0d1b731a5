#include "can_settings_dialog.h"

#include <algorithm>
#include <cstdio>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/colordlg.h>
#include <wx/dcclient.h>
#include <wx/dirdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "can_bus.h"
#include "korvel/exports.h"
#include "korvel/host_functions.h"
#include "kvquillon.h"

wxIMPLEMENT_CLASS(CANBusSettingsDialog, wxPanel);

namespace {

// The page is destroyed with its information dialog; what the user typed into the acceptance
// edits must still be there when the dialog is opened again, so it lives here. UI thread only.
struct TypedTexts {
  bool filled = false;
  std::string text[2];
};
TypedTexts typed;

CANBusSettingsDialog::FolderPicker folderPicker;
CANBusSettingsDialog::ColourPicker colourPicker;

std::optional<std::string> systemFolderPicker(wxWindow* parent, int) {
  wxDirDialog picker(parent, "Select the CAN bus exchange directory", "/",
                     wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (picker.ShowModal() != wxID_OK) return std::nullopt;
  return std::string(picker.GetPath().utf8_str());
}

std::optional<uint32_t> systemColourPicker(wxWindow* parent, int) {
  wxColourData start;
  start.SetColour(*wxBLACK);
  wxColourDialog picker(parent, &start);
  if (picker.ShowModal() != wxID_OK) return std::nullopt;
  const wxColour c = picker.GetColourData().GetColour();
  return static_cast<uint32_t>(c.Red()) | (static_cast<uint32_t>(c.Green()) << 8) |
         (static_cast<uint32_t>(c.Blue()) << 16);
}

const char* componentOf(int port) { return port == 1 ? "Quillon1" : "Quillon2"; }

// Rows of port 1 are 1 to 4, of port 2 5 to 8.
int firstRow(int port) { return port == 1 ? 1 : 5; }

void tellHost(const std::string& line) {
  HostFunctionTable* agsi = getAgsi();
  if (agsi && agsi->AgsiMessage)
    agsi->AgsiMessage("[Quillon]: %s\n", line.c_str());
  else
    std::fprintf(stderr, "[Quillon]: %s\n", line.c_str());
}

}  // namespace

void CANBusSettingsDialog::setPickers(FolderPicker folder, ColourPicker colour) {
  folderPicker = std::move(folder);
  colourPicker = std::move(colour);
}

void CANBusSettingsDialog::forgetTypedTexts() { typed = TypedTexts{}; }

std::string CANBusSettingsDialog::colourLine(int port, uint32_t colour) {
  char line[64];
  std::snprintf(line, sizeof line, "Color CAN %d  R: #%02X,  G: #%02X,  B: #%02X", port,
                colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
  return line;
}

CANBusSettingsDialog::CANBusSettingsDialog(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
  quillon::CanBus& bus = quillon::CanBus::instance();
  // Labels keep the size the layout gives them; a long directory is shortened in the middle and
  // shown whole in its tooltip.
  const long labelStyle = wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE;
  for (int port : {1, 2}) {
    const int r = firstRow(port) - 1;
    const std::string n = std::to_string(port);
    labels_[r] = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, labelStyle);
    controls_[r] = new wxButton(this, port == 1 ? kFolder1 : kFolder2, "Select folder CAN " + n);
    labels_[r + 1] = new wxStaticText(this, wxID_ANY, "Color CAN " + n, wxDefaultPosition,
                                      wxDefaultSize, labelStyle);
    controls_[r + 1] = new wxButton(this, port == 1 ? kColour1 : kColour2, "Select color CAN " + n);
    labels_[r + 2] = new wxStaticText(this, wxID_ANY, "Id acceptance filter CAN " + n,
                                      wxDefaultPosition, wxDefaultSize, labelStyle);
    auto* edit = new wxTextCtrl(this, kAcceptance, "", wxDefaultPosition, wxDefaultSize,
                                wxBORDER_SUNKEN);
    controls_[r + 2] = edit;
    labels_[r + 3] = new wxStaticText(this, wxID_ANY, "Enable CAN " + n, wxDefaultPosition,
                                      wxDefaultSize, labelStyle);
    auto* box = new wxCheckBox(this, port == 1 ? kEnable1 : kEnable2, "");
    box->SetValue(bus.port(port).enabled);
    controls_[r + 3] = box;

    controls_[r]->Bind(wxEVT_BUTTON, [this, port](wxCommandEvent&) { pickFolder(port); });
    controls_[r + 1]->Bind(wxEVT_BUTTON, [this, port](wxCommandEvent&) { pickColour(port); });
    box->Bind(wxEVT_CHECKBOX, [this, port](wxCommandEvent&) { toggleEnabled(port); });
  }
  ok_ = new wxButton(this, kOk, "OK");
  cancel_ = new wxButton(this, kCancel, "Cancel");
  status_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
  status_->SetForegroundColour(wxColour(180, 0, 0));
  ok_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { confirm(); });
  cancel_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { cancel(); });

  // The edits show the ports' acceptance IDs once per board (as signed numbers, so an unset ID
  // reads -1, the text that skips the port); after that they show what the user last typed.
  if (!typed.filled) {
    for (int port : {1, 2})
      typed.text[port - 1] = std::to_string(static_cast<int32_t>(bus.port(port).acceptanceId));
    typed.filled = true;
  }
  for (int port : {1, 2}) {
    wxTextCtrl* edit = acceptanceEdit(port);
    edit->ChangeValue(wxString::FromUTF8(typed.text[port - 1]));
    edit->Bind(wxEVT_TEXT, [edit, port](wxCommandEvent& event) {
      typed.text[port - 1] = std::string(edit->GetValue().utf8_str());
      event.Skip();
    });
  }

  refreshTexts();
  Bind(wxEVT_SIZE, &CANBusSettingsDialog::onSize, this);
  // Firmware commands are taken from now on. The page does not take this back when it goes:
  // the ports keep exchanging frames after the user closes the dialog with "OK".
  bus.setSettingsPagePresent(true);
  layout();
}

CANBusSettingsDialog::~CANBusSettingsDialog() = default;

wxTextCtrl* CANBusSettingsDialog::acceptanceEdit(int port) const {
  return static_cast<wxTextCtrl*>(controls_[firstRow(port) + 1]);
}

wxCheckBox* CANBusSettingsDialog::enableBox(int port) const {
  return static_cast<wxCheckBox*>(controls_[firstRow(port) + 2]);
}

void CANBusSettingsDialog::refreshTexts() {
  quillon::CanBus& bus = quillon::CanBus::instance();
  for (int port : {1, 2}) {
    const quillon::PortView view = bus.port(port);
    wxStaticText* directory = labels_[firstRow(port) - 1];
    directory->SetLabel(wxString::FromUTF8(view.directory));
    directory->SetToolTip(wxString::FromUTF8(view.directory));
    labels_[firstRow(port)]->SetLabel(colourLine(port, view.colour));
    enableBox(port)->SetValue(view.enabled);
  }
}

void CANBusSettingsDialog::pickFolder(int port) {
  const FolderPicker& pick = folderPicker ? folderPicker : FolderPicker(systemFolderPicker);
  const std::optional<std::string> folder = pick(this, port);
  if (!folder || folder->empty()) return;
  quillon::CanBus::instance().pickDirectory(port, *folder);
  refreshTexts();
  layout();
}

void CANBusSettingsDialog::pickColour(int port) {
  const ColourPicker& pick = colourPicker ? colourPicker : ColourPicker(systemColourPicker);
  const std::optional<uint32_t> colour = pick(this, port);
  if (!colour) return;
  quillon::CanBus::instance().setColour(port, *colour & 0x00FFFFFFu);
  refreshTexts();
  layout();
}

void CANBusSettingsDialog::toggleEnabled(int port) {
  quillon::CanBus& bus = quillon::CanBus::instance();
  bus.setEnabled(port, !bus.port(port).enabled);
  enableBox(port)->SetValue(bus.port(port).enabled);
}

void CANBusSettingsDialog::confirm() {
  quillon::CanBus& bus = quillon::CanBus::instance();
  const std::string texts[2] = {std::string(acceptanceEdit(1)->GetValue().utf8_str()),
                                std::string(acceptanceEdit(2)->GetValue().utf8_str())};
  quillon::PortOutcome outcome[2];
  bus.confirm(texts, outcome);

  std::string problems;
  for (int port : {1, 2}) {
    const quillon::PortOutcome& done = outcome[port - 1];
    if (!done.error.empty()) {
      tellHost(done.error);
      problems += (problems.empty() ? "" : "  ") + done.error;
    }
    if (done.skipped) continue;
    // The square shows the confirmed colour now; the colour sink may still have its own update
    // of the same colour queued, which then changes nothing.
    const uint32_t colour = bus.port(port).colour;
    if (auto* square = dynamic_cast<KVQuillon*>(getBoardChipWithID(componentOf(port))))
      if (square->getColor() != colour) square->setColor(colour);
  }
  // A port whose directory could not be prepared is not on the bus: keep the page open with the
  // reason rather than letting the dialog vanish as if all went well.
  status_->SetLabel(wxString::FromUTF8(problems));
  status_->SetToolTip(wxString::FromUTF8(problems));
  if (!problems.empty()) {
    layout();
    return;
  }
  closeDialog();
}

void CANBusSettingsDialog::cancel() { closeDialog(); }

void CANBusSettingsDialog::closeDialog() {
  // The dialog that holds the page, however deep the tab control puts it.
  if (wxWindow* dialog = wxGetTopLevelParent(this)) dialog->Close();
}

void CANBusSettingsDialog::onSize(wxSizeEvent& event) {
  layout();
  event.Skip();
}

int CANBusSettingsDialog::measuredHeight(wxStaticText* label) const {
  wxClientDC dc(label);
  dc.SetFont(label->GetFont());
  wxCoord width = 0, height = 0;
  const wxString text = label->GetLabel().empty() ? wxString("Ag") : label->GetLabel();
  dc.GetMultiLineTextExtent(text, &width, &height);
  return height;
}

void CANBusSettingsDialog::layout() {
  const wxSize client = GetClientSize();
  const int cx = client.x, cy = client.y;
  const int h = measuredHeight(labels_[0]);
  const double g = (cy - 20 - (8.0 * h + 30)) / 8.0;

  double y = 10;
  for (int row = 1; row <= 8; ++row) {
    if (row == 5) y += h + 2 * g;  // the gap between the two ports
    const int textHeight = measuredHeight(labels_[row - 1]);
    labels_[row - 1]->SetSize(10, static_cast<int>(y), 400, textHeight);
    // A check box cannot be drawn shorter than its box; other controls take the row's height.
    const bool box = row == 4 || row == 8;
    const int height = box ? std::max(h, controls_[row - 1]->GetBestSize().y) : h;
    controls_[row - 1]->SetSize(cx - 160, static_cast<int>(y), 150, height);
    if (row != 4 && row != 8) y += textHeight + g / 2;
  }
  const int buttons = static_cast<int>(y + h + 2 * g);
  ok_->SetSize(cx - 90, buttons, 80, 30);
  cancel_->SetSize(cx - 180, buttons, 80, 30);
  status_->SetSize(10, buttons, std::max(0, cx - 200), measuredHeight(status_));
}
