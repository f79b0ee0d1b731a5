#include "infodialog/info_tab_control.h"

#include <algorithm>

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/fontenum.h>
#include <wx/settings.h>

namespace {

const wxColour kFrameGrey(200, 200, 200);
const wxColour kOtherTab(240, 240, 240);
constexpr int kTabTop = 2;
constexpr int kTabLeft = 2;
constexpr int kTabPaddingX = 10;
constexpr int kTabPaddingY = 5;
constexpr int kPageInset = 4;
constexpr size_t kMaxLabel = 32;

// A 1-pixel outline and a fill, pixel for pixel as a GDI rectangle with a pen and a brush:
// the outline covers the first and last row and column of r.
void drawBox(wxDC& dc, const wxRect& r, const wxColour& pen, const wxColour& fill) {
  if (r.width <= 0 || r.height <= 0) return;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(pen));
  dc.DrawRectangle(r);
  if (r.width > 2 && r.height > 2) {
    dc.SetBrush(wxBrush(fill));
    dc.DrawRectangle(wxRect(r).Deflate(1));
  }
}

wxFont tabFont() {
  // The strip's own face where the desktop has it, else the desktop's sans-serif face.
  wxFontInfo info(wxSize(0, 15));
  if (wxFontEnumerator::IsValidFacename("Segoe UI")) {
    info.FaceName("Segoe UI");
  } else {
    info.Family(wxFONTFAMILY_SWISS);
  }
  return wxFont(info);
}

}  // namespace

InfoTabControl::InfoTabControl() = default;

InfoTabControl::~InfoTabControl() {
  // The pages go with the strip as its children; they must not call back into a strip that is
  // half destroyed.
  for (wxWindow* page : pages_) page->Unbind(wxEVT_DESTROY, &InfoTabControl::onPageDestroyed, this);
}

bool InfoTabControl::Create(wxWindow* parent, const wxRect& rect) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);  // painting covers every pixel; erasing does nothing
  if (!wxWindow::Create(parent, wxID_ANY, rect.GetPosition(), rect.GetSize(), wxFULL_REPAINT_ON_RESIZE))
    return false;
  font_ = tabFont();
  SetFont(font_);
  lineHeight_ = GetTextExtent("Ag").y;
  Bind(wxEVT_PAINT, &InfoTabControl::onPaint, this);
  Bind(wxEVT_SIZE, &InfoTabControl::onSize, this);
  Bind(wxEVT_LEFT_DOWN, &InfoTabControl::onLeftDown, this);
  Bind(wxEVT_LEFT_DCLICK, &InfoTabControl::onLeftDown, this);
  Bind(wxEVT_KEY_DOWN, &InfoTabControl::onKey, this);
  Bind(wxEVT_CHAR, &InfoTabControl::onKey, this);
  created_ = 1;
  for (size_t i = 0; i < pages_.size(); ++i) insert(i);
  return true;
}

void InfoTabControl::AddPage(wxWindow* page) {
  if (!page || std::find(pages_.begin(), pages_.end(), page) != pages_.end()) return;
  pages_.push_back(page);
  labels_.emplace_back();
  labelWidths_.push_back(0);
  page->Bind(wxEVT_DESTROY, &InfoTabControl::onPageDestroyed, this);
  if (!created_) return;
  insert(pages_.size() - 1);
}

void InfoTabControl::insert(size_t index) {
  wxWindow* page = pages_[index];
  wxString text = page->GetLabel();
  if (text.empty()) text = wxString::Format("Page %zu", index + 1);
  labels_[index] = text.Left(kMaxLabel);
  labelWidths_[index] = GetTextExtent(labels_[index]).x;
  if (page->GetParent() != this) page->Reparent(this);
  page->SetSize(displayArea(), wxSIZE_ALLOW_MINUS_ONE);
  const bool first = index == 0;
  page->Enable(first);
  page->Show(first);
  if (first) shown_ = 0;
  Refresh(false);
}

wxRect InfoTabControl::tabRect(size_t index) const {
  if (index >= labels_.size()) return wxRect();
  const int height = lineHeight_ + 2 * kTabPaddingY;
  std::vector<int> widths;
  int total = 0;
  for (int width : labelWidths_) {
    widths.push_back(std::max(width + 2 * kTabPaddingX, 40));
    total += widths.back();
  }
  // Too many tabs for the strip: every tab gives up the same share, and labels are clipped.
  const int room = GetClientSize().x - 2 * kTabLeft;
  if (total > room && room > 0) {
    const int excess = total - room;
    const int n = static_cast<int>(widths.size());
    for (int i = 0; i < n; ++i) widths[i] = std::max(8, widths[i] - (excess + n - 1) / n);
  }
  int x = kTabLeft;
  for (size_t i = 0; i < index; ++i) x += widths[i];
  return wxRect(x, kTabTop, widths[index], height);
}

wxRect InfoTabControl::displayArea() const {
  const wxSize size = GetClientSize();
  const int tabBottom = kTabTop + lineHeight_ + 2 * kTabPaddingY;
  wxRect area(kPageInset, tabBottom + kPageInset, size.x - 2 * kPageInset,
              size.y - 1 - tabBottom - 2 * kPageInset);
  area.width = std::max(area.width, 0);
  area.height = std::max(area.height, 0);
  return area;
}

int InfoTabControl::hitTest(const wxPoint& point) const {
  for (size_t i = 0; i < labels_.size(); ++i)
    if (tabRect(i).Contains(point)) return static_cast<int>(i);
  return -1;
}

void InfoTabControl::select(size_t index) {
  if (index >= pages_.size() || index == shown_) return;
  if (wxWindow* previous = page(shown_)) {
    previous->Enable(false);
    previous->Show(false);
  }
  shown_ = index;
  pages_[index]->Enable(true);
  pages_[index]->Show(true);
  Refresh(false);
}

void InfoTabControl::layoutPages() {
  const wxRect area = displayArea();
  for (wxWindow* page : pages_) page->SetSize(area, wxSIZE_ALLOW_MINUS_ONE);
}

void InfoTabControl::Render(wxDC& dc) {
  const wxSize size = GetClientSize();
  dc.SetFont(font_);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  dc.DrawRectangle(0, 0, size.x, size.y);

  const int tabBottom = kTabTop + lineHeight_ + 2 * kTabPaddingY;
  // The page frame: from the bottom of the tabs to one pixel above the strip's bottom edge.
  drawBox(dc, wxRect(0, tabBottom, size.x, size.y - 1 - tabBottom), kFrameGrey, *wxWHITE);

  for (size_t i = 0; i < labels_.size(); ++i) {
    wxRect r = tabRect(i);
    r.width -= 2;
    r.height += 1;
    const bool shown = i == shown_;
    const wxColour fill = shown ? *wxWHITE : kOtherTab;
    drawBox(dc, r, kFrameGrey, fill);
    if (shown && r.width > 2) {
      // The shown tab opens into the page below it.
      dc.SetBrush(*wxWHITE_BRUSH);
      dc.DrawRectangle(r.x + 1, r.GetBottom(), r.width - 2, 1);
    }
    const wxSize text = dc.GetTextExtent(labels_[i]);
    dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT));
    dc.SetTextBackground(fill);
    dc.SetClippingRegion(wxRect(r).Deflate(1));
    dc.DrawText(labels_[i], r.x + (r.width - text.x) / 2, r.y + (r.height - text.y) / 2);
    dc.DestroyClippingRegion();
  }
}

void InfoTabControl::onPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  Render(dc);
}

void InfoTabControl::onSize(wxSizeEvent& event) {
  event.Skip();
  layoutPages();
  Refresh(false);
}

void InfoTabControl::onLeftDown(wxMouseEvent& event) {
  const int index = hitTest(event.GetPosition());
  if (index >= 0) select(static_cast<size_t>(index));
}

void InfoTabControl::onKey(wxKeyEvent&) {
  // Swallowed: arrows and Ctrl+Tab do not move between tabs.
}

void InfoTabControl::onPageDestroyed(wxWindowDestroyEvent& event) {
  event.Skip();
  // A page that its module destroys early leaves the strip at once, so nobody reaches it later.
  auto* gone = dynamic_cast<wxWindow*>(event.GetEventObject());
  const auto it = std::find(pages_.begin(), pages_.end(), gone);
  if (it == pages_.end()) return;
  const size_t index = static_cast<size_t>(it - pages_.begin());
  gone->Unbind(wxEVT_DESTROY, &InfoTabControl::onPageDestroyed, this);
  pages_.erase(it);
  labels_.erase(labels_.begin() + static_cast<std::ptrdiff_t>(index));
  labelWidths_.erase(labelWidths_.begin() + static_cast<std::ptrdiff_t>(index));
  if (pages_.empty()) {
    shown_ = 0;
  } else if (index == shown_) {
    shown_ = std::min(index, pages_.size() - 1);
    if (!IsBeingDeleted()) {
      pages_[shown_]->Enable(true);
      pages_[shown_]->Show(true);
    }
  } else if (index < shown_) {
    --shown_;
  }
  if (!IsBeingDeleted()) Refresh(false);
}
