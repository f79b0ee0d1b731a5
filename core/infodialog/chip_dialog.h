// The information dialog of one component: a modeless window whose tabs show the component's
// bundle documentation (description, schematic), one 3D view per model, and the pages that the
// bundle's module adds for itself. The board and the simulation keep running while it is open.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <wx/dialog.h>

#include "korvel/api.h"

class KVBase;
class InfoTabControl;
class wxWindowDestroyEvent;

class KORVEL_API ChipDialog : public wxDialog {
 public:
  // Creates the window at once and fills it (see build()); the caller shows it. onClose runs
  // when the window has been destroyed.
  ChipDialog(const wxString& title, KVBase* component, const std::string& bundleId,
             std::function<void()> onClose, wxWindow* parent);
  ~ChipDialog() override;

  // The component the dialog was opened for; null once that component is gone.
  KVBase* component() const { return component_; }
  const std::string& bundleId() const { return bundleId_; }
  InfoTabControl* tabs() const { return tabs_; }

  // Takes a page the module registers. 0 when the page cannot be one: null, a top-level window,
  // the dialog or one of its ancestors, already registered, or the dialog is closing.
  int addPendingPage(wxWindow* page);
  size_t pendingCount() const { return pending_.size(); }

  // The component is being destroyed: forget it and close. Runs no call-back into it.
  void componentGone();
  // Closes the dialog as its Cancel and close box do.
  void closeNow();

  // 1 while the dialog is the active window; safe to read from any thread.
  int isActive() const { return active_.load(); }

  // The margins between the dialog's client area and the tab strip.
  static wxRect stripRect(const wxSize& client);

 private:
  void build();
  void handOverPendingPages();
  void onClose(wxCloseEvent& event);
  void onCancel(wxCommandEvent& event);
  void onCharHook(wxKeyEvent& event);
  void onActivate(wxActivateEvent& event);
  void onSize(wxSizeEvent& event);
  void onPendingDestroyed(wxWindowDestroyEvent& event);

  std::function<void()> onClose_;
  std::string bundleId_;
  wxString title_;
  KVBase* component_;
  InfoTabControl* tabs_ = nullptr;
  std::vector<wxWindow*> pending_;
  std::atomic<int> active_{0};
};

// Opens the component's information dialog unless one is open (the right click's work).
KORVEL_API void openInfoDialog(KVBase* component);
