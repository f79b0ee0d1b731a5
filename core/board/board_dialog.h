// The board window: one modeless top-level window holding every module's components over a
// grey background. Opening it drives the modules' "DefineAllComponents", "ComponentsLoaded" and
// "DefineAllKeys"; closing it drives "ClosingUI" and destroys what the modules handed over.
#pragma once

#include <wx/dialog.h>

#include "korvel/agsi.h"

namespace korvel {

class BoardRegistry;

inline constexpr int kBoardWindowWidth = 803;   // board area width + 35
inline constexpr int kBoardWindowHeight = 612;  // board area height + 60

class BoardDialog : public wxDialog {
 public:
  // Builds and shows the board for the host's menu record and makes it the current board.
  // Runs on the user-interface thread.
  static BoardDialog* open(AGSIMENU* menu);

  // The text of the caption.
  static wxString caption();

 private:
  BoardDialog(AGSIMENU* menu, BoardRegistry* registry);
  void defineComponents();
  void onClose(wxCloseEvent& event);
  void onCancel(wxCommandEvent& event);
  void onActivate(wxActivateEvent& event);
  void onCharHook(wxKeyEvent& event);
  // Ends the board: keys, "ClosingUI", components, registry; then the window.
  void tearDown();

  AGSIMENU* menu_;
  BoardRegistry* registry_;
  bool tornDown_ = false;
};

// The host's periodic refresh: "UpdateUI" of every module while a ready board is shown.
void refreshBoard();
// Closes the current board as the host's kill does; nothing without a board.
void killBoard(AGSIDLGD* dialog);

}  // namespace korvel
