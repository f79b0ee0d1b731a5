#include "infodialog/schematic_page.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include <wx/dcbuffer.h>
#include <wx/log.h>
#include <wx/stattext.h>
#include <wx/utils.h>

namespace {

bool launchWithDesktop(const std::filesystem::path& file) {
  return wxLaunchDefaultApplication(wxString(file.string().c_str(), *wxConvFileName));
}

ChipSchematicDialog::Launcher& launcher() {
  static ChipSchematicDialog::Launcher current = launchWithDesktop;
  return current;
}

bool hasBmpExtension(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".bmp";
}

}  // namespace

wxSize bmpHeaderSize(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char header[26] = {};
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return wxSize();
  if (header[0] != 'B' || header[1] != 'M') return wxSize();
  const auto word32 = [&](int at) {
    return static_cast<int32_t>(header[at] | header[at + 1] << 8 | header[at + 2] << 16 |
                                static_cast<uint32_t>(header[at + 3]) << 24);
  };
  const uint32_t infoSize = static_cast<uint32_t>(word32(14));
  if (infoSize == 12) {  // the old core header: 16-bit sizes
    return wxSize(header[18] | header[19] << 8, header[20] | header[21] << 8);
  }
  const int32_t width = word32(18);
  const int32_t height = word32(22);  // negative for top-down pictures
  if (width <= 0 || height == INT32_MIN) return wxSize();
  return wxSize(width, std::abs(height));
}

void ChipSchematicDialog::setLauncherForTesting(Launcher replacement) {
  launcher() = replacement ? std::move(replacement) : Launcher(launchWithDesktop);
}

ChipSchematicDialog::ChipSchematicDialog(wxWindow* parent, const std::filesystem::path& file)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE),
      file_(file) {
  SetLabel("Schematic");
  SetBackgroundColour(*wxWHITE);
  std::error_code error;
  if (std::filesystem::is_regular_file(file, error) && hasBmpExtension(file)) {
    const wxSize size = bmpHeaderSize(file);
    if (size.x > 0 && size.y > 0 && size.x <= kMaxSide && size.y <= kMaxSide) {
      wxLogNull quiet;  // a damaged file shows the missing-schematic text, not a log window
      loaded_ = image_.LoadFile(wxString(file.string().c_str(), *wxConvFileName), wxBITMAP_TYPE_BMP) &&
                image_.IsOk();
    }
  }
  if (loaded_) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &ChipSchematicDialog::onPaint, this);
    Bind(wxEVT_MOTION, &ChipSchematicDialog::onMotion, this);
    Bind(wxEVT_LEFT_DCLICK, &ChipSchematicDialog::onDoubleClick, this);
  } else {
    image_ = wxImage();
    text_ = new wxStaticText(this, wxID_ANY, "The schematic is missing for this component.",
                             wxDefaultPosition, wxDefaultSize,
                             wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    placeText();
  }
  Bind(wxEVT_SIZE, &ChipSchematicDialog::onSize, this);
}

wxRect ChipSchematicDialog::pictureRect() const {
  if (!loaded_) return wxRect();
  const wxSize client = GetClientSize();
  const double scale = std::min({static_cast<double>(client.x) / image_.GetWidth(),
                                 static_cast<double>(client.y) / image_.GetHeight(), 1.0});
  const int width = std::max(0, static_cast<int>(image_.GetWidth() * scale));
  const int height = std::max(0, static_cast<int>(image_.GetHeight() * scale));
  return wxRect((client.x - width) / 2, (client.y - height) / 2, width, height);
}

void ChipSchematicDialog::Render(wxDC& dc) {
  const wxSize client = GetClientSize();
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(*wxWHITE_BRUSH);
  dc.DrawRectangle(0, 0, client.x, client.y);
  if (!loaded_) return;
  const wxRect r = pictureRect();
  drawn_ = r;
  if (r.width <= 0 || r.height <= 0) return;
  if (!scaled_.IsOk() || scaled_.GetWidth() != r.width || scaled_.GetHeight() != r.height) {
    scaled_ = (r.width == image_.GetWidth() && r.height == image_.GetHeight())
                  ? wxBitmap(image_)
                  : wxBitmap(image_.Scale(r.width, r.height, wxIMAGE_QUALITY_HIGH));
  }
  dc.DrawBitmap(scaled_, r.x, r.y);
}

void ChipSchematicDialog::onPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  Render(dc);
}

void ChipSchematicDialog::onSize(wxSizeEvent& event) {
  event.Skip();
  if (text_) placeText();
  Refresh(false);
}

void ChipSchematicDialog::placeText() {
  const wxSize client = GetClientSize();
  const int height = text_->GetBestSize().y;
  text_->SetSize(0, std::max(0, (client.y - height) / 2), client.x, height);
}

void ChipSchematicDialog::onMotion(wxMouseEvent& event) {
  event.Skip();
  const bool over = drawn_.Contains(event.GetPosition());
  SetCursor(over ? wxCursor(wxCURSOR_HAND) : wxNullCursor);
}

void ChipSchematicDialog::onDoubleClick(wxMouseEvent& event) {
  if (!drawn_.Contains(event.GetPosition())) return;
  if (!launcher()(file_)) {
    wxLogError("Cannot open %s: set up a program for .bmp pictures on this desktop.",
               wxString(file_.string().c_str(), *wxConvFileName));
  }
}
