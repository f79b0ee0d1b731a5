// The information dialog's tab strip. It draws itself completely (no native tab look), owns the
// pages shown under its tabs and moves them over its display area. The keyboard never changes
// the shown page; only a click on a tab does.
#pragma once

#include <vector>

#include <wx/font.h>
#include <wx/window.h>

#include "korvel/api.h"

class wxDC;
class wxWindowDestroyEvent;

class KORVEL_API InfoTabControl : public wxWindow {
 public:
  InfoTabControl();
  ~InfoTabControl() override;

  // Creates the strip's window; pages added before are inserted now, in order.
  bool Create(wxWindow* parent, const wxRect& rect);

  // Takes the page (a window of any parent) into the strip: it becomes the strip's child, gets a
  // tab at the end and is moved over the display area. The first page is shown and enabled,
  // every later one hidden and disabled.
  void AddPage(wxWindow* page);

  size_t pageCount() const { return pages_.size(); }
  wxWindow* page(size_t index) const { return index < pages_.size() ? pages_[index] : nullptr; }
  wxString label(size_t index) const { return index < labels_.size() ? labels_[index] : wxString(); }
  size_t shownIndex() const { return shown_; }
  // Shows the page at index (hiding and disabling the previous one).
  void select(size_t index);

  // Where each tab and the pages lie, in the strip's client coordinates.
  wxRect tabRect(size_t index) const;
  wxRect displayArea() const;
  // The index of the tab under a point, or -1.
  int hitTest(const wxPoint& point) const;

  // Draws the whole strip (tabs and page frame) as the paint handler does.
  void Render(wxDC& dc);

  bool AcceptsFocus() const override { return false; }
  bool AcceptsFocusFromKeyboard() const override { return false; }

 private:
  void insert(size_t index);
  void layoutPages();
  void onPaint(wxPaintEvent& event);
  void onSize(wxSizeEvent& event);
  void onLeftDown(wxMouseEvent& event);
  void onKey(wxKeyEvent& event);
  void onPageDestroyed(wxWindowDestroyEvent& event);
  // Measured once per label (and the line height once), not on every paint or hit test.
  std::vector<int> labelWidths_;
  int lineHeight_ = 0;

  wxFont font_;
  size_t shown_ = 0;
  std::vector<wxWindow*> pages_;
  std::vector<wxString> labels_;
  int created_ = 0;
};
