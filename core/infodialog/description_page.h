// The "Description" page: the bundle's HTML description, or a built-in page that says the file
// is missing. The wheel scrolls 20 pixels per notch.
#pragma once

#include <filesystem>

#include <wx/html/htmlwin.h>

#include "korvel/api.h"

class KORVEL_API HTMLDescriptionDialog : public wxHtmlWindow {
 public:
  HTMLDescriptionDialog(wxWindow* parent, const std::filesystem::path& file);

  const std::filesystem::path& file() const { return file_; }
  // True when the bundle's file is shown, false for the built-in page.
  bool showsFile() const { return showsFile_; }
  // Scrolls the view by whole wheel notches (positive: down), 20 pixels each.
  void scrollNotches(int notches);
  // The vertical scroll position in pixels.
  int scrollPixelsY() const;

  static const char* missingPage();

 protected:
  void OnLinkClicked(const wxHtmlLinkInfo& link) override;

 private:
  void onWheel(wxMouseEvent& event);
  void onKey(wxKeyEvent& event);
  void scrollPixels(int dy);
  bool loadUtf8File(const std::filesystem::path& file);
  void centreMissingPage();

  std::filesystem::path file_;
  bool showsFile_ = false;
  int wheelRest_ = 0;
};

// Links to the web and to mail open in the desktop's browser; others are followed in place.
bool openExternalLink(const wxString& href);
