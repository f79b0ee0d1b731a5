// Placeholder until the OpenGL viewer exists: an empty page labelled like the real one.
#include "viewer3d/viewer_page.h"

#include <filesystem>

#include <wx/panel.h>

wxWindow* CreateModelViewPage(wxWindow* parent, const std::string& modelPath, int /*autoRotate*/) {
  auto* page = new wxPanel(parent);
  page->SetLabel(wxString::FromUTF8(std::filesystem::path(modelPath).stem().string()));
  return page;
}
