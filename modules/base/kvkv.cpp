#include "kvkv.h"

#include <stdexcept>

#include <wx/dc.h>
#include <wx/dynlib.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>

KVKV::KVKV(const std::string& identifier, ChipOrientation orientation)
    : KVBase(identifier, orientation) {}

std::string KVKV::picturePath() {
  wxString library;
  wxDynamicLibrary::GetModuleFromAddress(reinterpret_cast<const void*>(&KVKV::picturePath), &library);
  wxFileName path(library);
  path.SetFullName("board.bmp");
  return path.GetFullPath().utf8_string();
}

const wxBitmap* KVKV::picture() {
  const wxString path = wxString::FromUTF8(picturePath());
  wxFileName file(path);
  if (!file.FileExists()) {
    bitmap_ = wxBitmap();
    pictureSize_ = -1;
    return nullptr;
  }
  // Read at most once per change of the file: a new board.bmp shows at the next repaint.
  const std::time_t modified = file.GetModificationTime().GetTicks();
  const long long size = file.GetSize().GetValue();
  if (!bitmap_.IsOk() || modified != pictureTime_ || size != pictureSize_) {
    wxImage image;
    wxLogNull quiet;  // an unreadable picture leaves the board undrawn, without a message box
    bitmap_ = image.LoadFile(path, wxBITMAP_TYPE_BMP) ? wxBitmap(image) : wxBitmap();
    pictureTime_ = modified;
    pictureSize_ = size;
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
