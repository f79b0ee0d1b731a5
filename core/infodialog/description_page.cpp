#include "infodialog/description_page.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <wx/filename.h>
#include <wx/filesys.h>
#include <wx/utils.h>

namespace {

constexpr int kPixelsPerNotch = 20;
constexpr int kWheelDelta = 120;

// The built-in page: one block over the whole page with the sentence centred in it.
const char kMissingPage[] =
    "<html><body bgcolor=\"#ffffff\"><div align=\"center\">"
    "It appears that the file you were looking for does not exist in your system. "
    "Please make sure to follow the installation guide."
    "</div></body></html>";

}  // namespace

bool openExternalLink(const wxString& href) {
  const wxString lower = href.Lower();
  if (!lower.StartsWith("http:") && !lower.StartsWith("https:") && !lower.StartsWith("mailto:"))
    return false;
  wxLaunchDefaultBrowser(href);
  return true;
}

bool HTMLDescriptionDialog::loadUtf8File(const std::filesystem::path& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  if (error) return false;
  std::ifstream in(absolute, std::ios::binary);
  if (!in) return false;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  // Pages are written in UTF-8, whether or not they say so; older single-byte pages still show.
  wxString text = wxString::FromUTF8(bytes.data(), bytes.size());
  if (text.empty() && !bytes.empty()) text = wxString(bytes.data(), wxConvISO8859_1, bytes.size());
  const wxString name(absolute.string().c_str(), *wxConvFileName);
  // Relative links and pictures resolve against the page's own folder.
  m_FS->ChangePathTo(wxFileSystem::FileNameToURL(wxFileName(name)));
  return SetPage(text);
}

HTMLDescriptionDialog::HTMLDescriptionDialog(wxWindow* parent, const std::filesystem::path& file)
    : wxHtmlWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHW_SCROLLBAR_AUTO),
      file_(file) {
  SetLabel("Description");
  std::error_code error;
  if (std::filesystem::is_regular_file(file, error)) showsFile_ = loadUtf8File(file);
  if (!showsFile_) {
    SetPage(wxString::FromUTF8(kMissingPage));
    centreMissingPage();
    // The sentence stays in the middle whatever the page's size (after the view's own layout).
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
      event.Skip();
      CallAfter(&HTMLDescriptionDialog::centreMissingPage);
    });
  }
  Bind(wxEVT_MOUSEWHEEL, &HTMLDescriptionDialog::onWheel, this);
  Bind(wxEVT_KEY_DOWN, &HTMLDescriptionDialog::onKey, this);
}

void HTMLDescriptionDialog::centreMissingPage() {
  wxHtmlContainerCell* page = GetInternalRepresentation();
  if (!page) return;
  // The view lays its content out from the top; a top indent of half the free height centres it.
  page->SetIndent(m_Borders, wxHTML_INDENT_TOP, wxHTML_UNITS_PIXELS);
  CreateLayout();
  const int free = GetClientSize().y - page->GetHeight();
  if (free > 1) {
    page->SetIndent(m_Borders + free / 2, wxHTML_INDENT_TOP, wxHTML_UNITS_PIXELS);
    CreateLayout();
  }
  Refresh(false);
}

const char* HTMLDescriptionDialog::missingPage() { return kMissingPage; }

void HTMLDescriptionDialog::OnLinkClicked(const wxHtmlLinkInfo& link) {
  if (!openExternalLink(link.GetHref())) wxHtmlWindow::OnLinkClicked(link);
}

int HTMLDescriptionDialog::scrollPixelsY() const {
  int unitX = 0, unitY = 0, x = 0, y = 0;
  GetScrollPixelsPerUnit(&unitX, &unitY);
  GetViewStart(&x, &y);
  return y * unitY;
}

void HTMLDescriptionDialog::scrollPixels(int dy) {
  // The view scrolls in whole units; make a unit one pixel so a notch moves exactly 20 pixels.
  int unitX = 0, unitY = 0;
  GetScrollPixelsPerUnit(&unitX, &unitY);
  if (unitY <= 0) return;  // nothing to scroll: the page fits
  const int y = scrollPixelsY();
  if (unitY != 1) SetScrollRate(unitX, 1);
  Scroll(-1, std::max(0, y + dy));
}

void HTMLDescriptionDialog::scrollNotches(int notches) { scrollPixels(notches * kPixelsPerNotch); }

void HTMLDescriptionDialog::onWheel(wxMouseEvent& event) {
  if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL) {
    event.Skip();
    return;
  }
  const int delta = event.GetWheelDelta() > 0 ? event.GetWheelDelta() : kWheelDelta;
  wheelRest_ += event.GetWheelRotation();
  const int notches = wheelRest_ / delta;
  wheelRest_ -= notches * delta;
  // Turning the wheel towards the user (negative rotation) scrolls down.
  if (notches) scrollNotches(-notches);
}

void HTMLDescriptionDialog::onKey(wxKeyEvent& event) {
  // Arrow keys keep moving by a line's worth once the scroll unit is a single pixel.
  switch (event.GetKeyCode()) {
    case WXK_UP:
      scrollPixels(-kPixelsPerNotch);
      return;
    case WXK_DOWN:
      scrollPixels(kPixelsPerNotch);
      return;
    default:
      event.Skip();
  }
}
