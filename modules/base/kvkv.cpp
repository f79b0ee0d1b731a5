#include "kvkv.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <wx/dc.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include "korvel/platform/platform.h"

KVKV::KVKV(const std::string& identifier, ChipOrientation orientation)
    : KVBase(identifier, orientation) {}

std::filesystem::path KVKV::picturePath() {
  // The library's own file name as the loader holds it, in bytes: a folder name with characters
  // outside the current locale survives no conversion to text and back.
  return korvel::platform::modulePathOf(reinterpret_cast<const void*>(&KVKV::picturePath))
             .parent_path() /
         "board.bmp";
}

const wxBitmap* KVKV::picture() {
  const std::filesystem::path path = picturePath();
  std::error_code error;
  const auto modified = std::filesystem::last_write_time(path, error);
  const auto size = error ? 0 : std::filesystem::file_size(path, error);
  if (error) {
    bitmap_ = wxBitmap();
    pictureSize_ = -1;
    return nullptr;
  }
  // Read at most once per change of the file: a new board.bmp shows at the next repaint.
  if (!bitmap_.IsOk() || modified != pictureTime_ || static_cast<long long>(size) != pictureSize_) {
    bitmap_ = wxBitmap();
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    wxMemoryInputStream stream(bytes.data(), bytes.size());
    wxImage image;
    wxLogNull quiet;  // an unreadable picture leaves the board undrawn, without a message box
    if (!bytes.empty() && image.LoadFile(stream, wxBITMAP_TYPE_BMP)) bitmap_ = wxBitmap(image);
    pictureTime_ = modified;
    pictureSize_ = static_cast<long long>(size);
  }
  return bitmap_.IsOk() ? &bitmap_ : nullptr;
}

void KVKV::drawPicture(wxDC& dc, const wxRect& area) {
  const wxBitmap* bitmap = picture();
  if (!bitmap) return;
  // Only the top-left 768 x 552 of the picture (552 x 768 when turned) belongs to the board.
  const bool upright = orientation_ == Orientation0 || orientation_ == Orientation2;
  wxRect shown = upright ? wxRect(0, 0, 768, 552) : wxRect(0, 0, 552, 768);
  shown.Intersect(area);
  shown.Intersect(wxRect(0, 0, bitmap->GetWidth(), bitmap->GetHeight()));
  if (shown.IsEmpty()) return;
  dc.DrawBitmap(bitmap->GetSubBitmap(shown), shown.GetTopLeft());
}

void KVKV::DrawBackground(wxDC& dc) {
  const wxSize size = GetClientSize();
  drawPicture(dc, wxRect(0, 0, size.x, size.y));
}

void KVKV::DrawBackdropFor(wxDC& dc, const wxRect& area) { drawPicture(dc, area); }

void KVKV::DrawComponent(wxDC& dc) {
  switch (orientation_) {
    case Orientation0:
    case Orientation2:
      painted_ = 1;
      return;
    case Orientation1:
    case Orientation3:
      throw std::runtime_error("Not yet implemented.");
    default:
      throw std::runtime_error("Invalid orientation.");
  }
}
