#include "credit_page.h"

#include <system_error>

#include <wx/filename.h>
#include <wx/html/htmlwin.h>
#include <wx/utils.h>

#include "korvel/platform/platform.h"

namespace {

// Shows credit.html. Links to the web open in the desktop's browser; nothing on the page closes
// the page or the dialog.
class CreditDialog : public wxHtmlWindow {
 public:
  explicit CreditDialog(wxWindow* parent)
      : wxHtmlWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHW_SCROLLBAR_AUTO) {
    SetLabel("Credit");
    const std::filesystem::path file = creditFilePath();
    std::error_code error;
    bool shown = false;
    if (std::filesystem::is_regular_file(file, error)) {
      const wxString name(file.string().c_str(), *wxConvFileName);
      shown = !name.empty() && LoadFile(wxFileName(name));
    }
    if (!shown) {
      // What a browser would show for a file it cannot find, in words a user can act on.
      SetPage(wxString::Format("<html><body><p>The credits file %s cannot be read. Reinstall the "
                               "module to bring it back.</p></body></html>",
                               wxString(file.string().c_str(), *wxConvFileName)));
    }
  }

 protected:
  void OnLinkClicked(const wxHtmlLinkInfo& link) override {
    const wxString href = link.GetHref().Lower();
    if (href.StartsWith("http:") || href.StartsWith("https:") || href.StartsWith("mailto:")) {
      wxLaunchDefaultBrowser(link.GetHref());
      return;
    }
    wxHtmlWindow::OnLinkClicked(link);
  }
};

}  // namespace

std::filesystem::path creditFilePath() {
  // This function is linked into the module itself, so its own address names the module's file.
  const std::filesystem::path module =
      korvel::platform::modulePathOf(reinterpret_cast<const void*>(&creditFilePath));
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(module.parent_path() / "credit.html", error);
  return error ? module.parent_path() / "credit.html" : absolute;
}

wxWindow* CreateCreditPage(wxWindow* parent) { return new CreditDialog(parent); }
