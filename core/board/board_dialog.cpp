#include "board/board_dialog.h"

#include <exception>
#include <vector>

#include "board/board_modules.h"
#include "board/board_registry.h"
#include "board/board_report.h"
#include "korvel/exports.h"
#include "korvel/host_functions.h"
#include "korvel/kvbase.h"
#include "korvel/module.h"

namespace korvel {
namespace {

constexpr int kVersion[3] = {1, 2, 3};

AGSIDLGD* recordOf(AGSIMENU* menu) { return menu ? menu->pDlg : nullptr; }

bool isInside(wxWindow* window, wxWindow* ancestor) {
  for (wxWindow* w = window; w; w = w->GetParent())
    if (w == ancestor) return true;
  return false;
}

void handleFocus(void* window) {
  HostFunctionTable* agsi = getAgsi();
  if (agsi && agsi->AgsiHandleFocus) agsi->AgsiHandleFocus(window);
}

}  // namespace

wxString BoardDialog::caption() {
  return wxString::Format("Tessarine - Korvel Emulator v%d.%d-%d", kVersion[0], kVersion[1],
                          kVersion[2]);
}

BoardDialog* BoardDialog::open(AGSIMENU* menu) {
  BoardState& state = boardState();
  std::lock_guard<std::recursive_mutex> hold(state.lock);
  auto* registry = new BoardRegistry();
  state.ready.store(0);
  state.current.store(registry);
  auto* board = new BoardDialog(menu, registry);
  board->SetTitle(caption());
  for (ComponentModule* module : boardModules().inLoadOrder()) callBoardStage(*module, "DefineAllKeys");
  state.ready.store(1);
  if (AGSIDLGD* record = recordOf(menu)) record->hw = board;
  return board;
}

BoardDialog::BoardDialog(AGSIMENU* menu, BoardRegistry* registry)
    : menu_(menu), registry_(registry) {
  // Created hidden, so that the components are in place before the first paint.
  Create(nullptr, wxID_ANY, "Korvel", wxDefaultPosition, wxSize(kBoardWindowWidth, kBoardWindowHeight),
         wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  boardState().window.store(this);
  SetBackgroundColour(wxColour(240, 240, 240));
  // Enter does nothing in the board; Esc closes it like the close box.
  SetAffirmativeId(wxID_NONE);
  SetEscapeId(wxID_CANCEL);
  Bind(wxEVT_CLOSE_WINDOW, &BoardDialog::onClose, this);
  Bind(wxEVT_BUTTON, &BoardDialog::onCancel, this, wxID_CANCEL);
  Bind(wxEVT_ACTIVATE, &BoardDialog::onActivate, this);
  Bind(wxEVT_CHAR_HOOK, &BoardDialog::onCharHook, this);
  // The components keep the places their modules gave them: no automatic layout, which would
  // stretch a lone child (the board picture) over the whole window.
  Bind(wxEVT_SIZE, [](wxSizeEvent&) {});

  // Where the user last closed it; (-1, -1) when it was never closed.
  const AGSIDLGD* record = recordOf(menu);
  const int left = record ? record->rc.left : -1;
  const int top = record ? record->rc.top : -1;
  SetSize(left, top, kBoardWindowWidth, kBoardWindowHeight, wxSIZE_ALLOW_MINUS_ONE);

  defineComponents();
  refreshBoard();  // not ready yet: reaches no module
  for (ComponentModule* module : boardModules().inLoadOrder())
    callBoardNotify(*module, "ComponentsLoaded");
  Show();
}

void BoardDialog::defineComponents() {
  for (ComponentModule* module : boardModules().inLoadOrder()) {
    auto define = reinterpret_cast<PFN_DefineAllComponents>(
        boardModules().lookup(*module, "DefineAllComponents"));
    if (!define) continue;
    try {
      define(this, kBoardArea, module);
    } catch (const std::exception& e) {
      reportBoard(module->identifier, std::string("DefineAllComponents failed: ") + e.what());
    } catch (...) {
      reportBoard(module->identifier, "DefineAllComponents failed.");
    }
  }
}

void BoardDialog::onCharHook(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  if (key == WXK_ESCAPE) {
    Close();
    return;
  }
  if (key == WXK_RETURN || key == WXK_NUMPAD_ENTER) return;  // swallowed: Enter never closes
  event.Skip();
}

void BoardDialog::onCancel(wxCommandEvent&) { Close(); }

void BoardDialog::onActivate(wxActivateEvent& event) {
  event.Skip();
  boardState().active.store(event.GetActive() ? 1 : 0);
  handleFocus(event.GetActive() ? static_cast<void*>(this) : nullptr);
}

void BoardDialog::onClose(wxCloseEvent&) {
  if (AGSIDLGD* record = recordOf(menu_)) {
    const wxRect r = GetScreenRect();
    record->rc = AGSIRECT{r.x, r.y, r.x + r.width, r.y + r.height};
    record->hw = nullptr;
  }
  tearDown();
}

void BoardDialog::tearDown() {
  if (tornDown_) return;
  tornDown_ = true;
  BoardState& state = boardState();
  std::lock_guard<std::recursive_mutex> hold(state.lock);
  if (state.active.exchange(0)) handleFocus(nullptr);
  // Keys first: once they are gone no key call-back can reach a component being destroyed.
  registry_->releaseKeys();
  // The board stays ready while the modules are told, so that nothing they define now lands on a
  // board that is going away.
  for (ComponentModule* module : boardModules().inLoadOrder()) callBoardNotify(*module, "ClosingUI");
  if (AGSIDLGD* record = recordOf(menu_)) {
    record->iOpen = 0;
    record->hw = nullptr;
  }
  state.ready.store(0);
  std::vector<KVBase*> components = registry_->takeComponents();
  if (state.current.load() == registry_) state.current.store(nullptr);
  if (state.window.load() == this) state.window.store(nullptr);
  // Components placed outside the board window are not destroyed with it.
  for (KVBase* component : components)
    if (!isInside(component, this)) delete component;
  DestroyChildren();
  delete registry_;
  registry_ = nullptr;
  Destroy();
}

void refreshBoard() {
  BoardState& state = boardState();
  if (!state.current.load() || !state.ready.load()) return;
  for (ComponentModule* module : boardModules().inLoadOrder()) callBoardNotify(*module, "UpdateUI");
}

void killBoard(AGSIDLGD* record) {
  BoardState& state = boardState();
  std::lock_guard<std::recursive_mutex> hold(state.lock);
  if (wxWindow* window = state.window.load()) window->Close(true);
  state.current.store(nullptr);
  state.ready.store(0);
  if (record) {
    record->iOpen = 0;
    record->hw = nullptr;
  }
}

}  // namespace korvel
