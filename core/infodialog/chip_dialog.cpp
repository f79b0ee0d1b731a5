#include "infodialog/chip_dialog.h"

#include <algorithm>
#include <exception>

#include "board/board_modules.h"
#include "board/board_report.h"
#include "infodialog/description_page.h"
#include "infodialog/info_tab_control.h"
#include "infodialog/schematic_page.h"
#include "korvel/kvbase.h"
#include "korvel/module.h"
#include "viewer3d/viewer_page.h"

namespace {

// The dialog's size: 400 by 300 dialog units of an 8-point sans-serif face.
const wxSize kDialogSize(600, 488);

ComponentModule* findBundle(const std::string& id) {
  if (id.empty()) return nullptr;
  for (ComponentModule* module : korvel::boardModules().inLoadOrder())
    if (module && module->identifier == id) return module;
  return nullptr;
}

bool isAncestorOrSelf(wxWindow* candidate, wxWindow* of) {
  for (wxWindow* w = of; w; w = w->GetParent())
    if (w == candidate) return true;
  return false;
}

}  // namespace

ChipDialog::ChipDialog(const wxString& title, KVBase* component, const std::string& bundleId,
                       std::function<void()> onClose, wxWindow* parent)
    : onClose_(std::move(onClose)), bundleId_(bundleId), title_(title), component_(component) {
  Create(parent, wxID_ANY, "Component", wxDefaultPosition, kDialogSize,
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER);
  Bind(wxEVT_CLOSE_WINDOW, &ChipDialog::onClose, this);
  Bind(wxEVT_BUTTON, &ChipDialog::onCancel, this, wxID_CANCEL);
  Bind(wxEVT_CHAR_HOOK, &ChipDialog::onCharHook, this);
  Bind(wxEVT_ACTIVATE, &ChipDialog::onActivate, this);
  Bind(wxEVT_SIZE, &ChipDialog::onSize, this);
  build();
  Centre();
}

ChipDialog::~ChipDialog() {
  for (wxWindow* page : pending_) page->Unbind(wxEVT_DESTROY, &ChipDialog::onPendingDestroyed, this);
  pending_.clear();
  // The window is gone: tell whoever opened the dialog (the component forgets it).
  if (auto callback = std::move(onClose_)) callback();
}

wxRect ChipDialog::stripRect(const wxSize& client) {
  return wxRect(20, 10, std::max(client.x - 40, 0), std::max(client.y - 30, 0));
}

void ChipDialog::build() {
  ComponentModule* module = findBundle(bundleId_);
  if (!module) return;  // an unknown bundle: an empty dialog under the default caption
  SetTitle(title_);

  tabs_ = new InfoTabControl();
  tabs_->Create(this, stripRect(GetClientSize()));
  tabs_->AddPage(new HTMLDescriptionDialog(this, module->description));
  tabs_->AddPage(new ChipSchematicDialog(this, module->schematic));
  for (const auto& model : module->models)
    if (wxWindow* view = CreateModelViewPage(this, model.string(), 1)) tabs_->AddPage(view);

  auto definePages = reinterpret_cast<PFN_DefineAllDialogPages>(
      korvel::boardModules().lookup(*module, "DefineAllDialogPages"));
  if (!definePages) return;  // a module without pages of its own
  int result = 0;
  try {
    result = definePages(this);
  } catch (const std::exception& e) {
    korvel::reportBoard(module->identifier, std::string("DefineAllDialogPages failed: ") + e.what());
  } catch (...) {
    korvel::reportBoard(module->identifier, "DefineAllDialogPages failed.");
  }
  // Refused pages stay hidden and end with the dialog.
  if (result) handOverPendingPages();
}

void ChipDialog::handOverPendingPages() {
  std::vector<wxWindow*> pages;
  pages.swap(pending_);
  for (wxWindow* page : pages) {
    page->Unbind(wxEVT_DESTROY, &ChipDialog::onPendingDestroyed, this);
    tabs_->AddPage(page);
  }
}

int ChipDialog::addPendingPage(wxWindow* page) {
  if (!page || page->IsTopLevel() || IsBeingDeleted() || isAncestorOrSelf(page, this)) return 0;
  if (std::find(pending_.begin(), pending_.end(), page) != pending_.end()) return 0;
  if (tabs_) {
    for (size_t i = 0; i < tabs_->pageCount(); ++i)
      if (tabs_->page(i) == page) return 0;
  }
  // From here the dialog owns the page: as its child it is destroyed with it, whatever happens.
  if (page->GetParent() != this) page->Reparent(this);
  page->Hide();
  pending_.push_back(page);
  page->Bind(wxEVT_DESTROY, &ChipDialog::onPendingDestroyed, this);
  return 1;
}

void ChipDialog::onPendingDestroyed(wxWindowDestroyEvent& event) {
  event.Skip();
  auto* gone = dynamic_cast<wxWindow*>(event.GetEventObject());
  const auto it = std::find(pending_.begin(), pending_.end(), gone);
  if (it == pending_.end()) return;
  gone->Unbind(wxEVT_DESTROY, &ChipDialog::onPendingDestroyed, this);
  pending_.erase(it);
}

void ChipDialog::componentGone() {
  component_ = nullptr;
  onClose_ = nullptr;
  Hide();
  Destroy();
}

void ChipDialog::closeNow() {
  // The window itself goes at the next idle time; the component forgets the dialog now, so that
  // a right click in between opens a fresh one and nothing here points at the component any more.
  if (auto callback = std::move(onClose_)) {
    onClose_ = nullptr;
    callback();
  }
  component_ = nullptr;
  Hide();
  Destroy();
}

void ChipDialog::onClose(wxCloseEvent&) { closeNow(); }

void ChipDialog::onCancel(wxCommandEvent&) { closeNow(); }

void ChipDialog::onCharHook(wxKeyEvent& event) {
  if (event.GetKeyCode() == WXK_ESCAPE) {
    Close();
    return;
  }
  event.Skip();
}

void ChipDialog::onActivate(wxActivateEvent& event) {
  event.Skip();
  active_.store(event.GetActive() ? 1 : 0);
}

void ChipDialog::onSize(wxSizeEvent& event) {
  // Not passed on: the toolkit would stretch a sole child over the whole client area.
  if (tabs_) tabs_->SetSize(stripRect(GetClientSize()));
}

void openInfoDialog(KVBase* component) {
  if (!component || component->infoDialog()) return;
  wxWindow* owner = wxGetTopLevelParent(component);
  auto* dialog = new ChipDialog(
      wxString::FromUTF8(component->GetID()), component, component->GetBundleID(),
      [component] { component->setInfoDialog(nullptr); }, owner);
  component->setInfoDialog(dialog);
  dialog->Show();
}
