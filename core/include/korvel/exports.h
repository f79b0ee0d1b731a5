// The core's exports for component modules: placing components on the board, registering keys,
// finding each other's components, the board's power, and the pages of information dialogs.
// All are called on the user-interface thread unless said otherwise.
#pragma once

#include <string>

#include "korvel/api.h"
#include "korvel/host_functions.h"

class KVBase;
class KeyRAI;
class ComponentModule;
class wxWindow;

// A rectangle in a parent's client coordinates; left/top included, right/bottom excluded.
struct KVRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
};

// The board area inside the board window that every module receives in DefineAllComponents.
inline constexpr KVRect kBoardArea{10, 10, 778, 562};

extern "C" {
// Takes ownership of a heap-allocated key registration while the board is being built.
KORVEL_API int DefineKey(KeyRAI* key);
// Creates the component's window as a visible child of parent at rect and registers it under its
// identifier while the board is being built. The board owns the component from then on.
KORVEL_API int DefineNewComponent(KVBase* component, wxWindow* parent, KVRect rect,
                                  ComponentModule* module);
// Power state of the board: 0 without a board.
KORVEL_API int isBoardPowered(void);
// Switches every component's enabled state (in identifier order) when the value changes.
KORVEL_API void setBoardPowered(int powered);
// 1 if the board window exists and is the foreground window. Safe from any thread.
KORVEL_API int isDialogForeMost(void);
// The current scale factor of timer scaling; 0.0 until one has been set and after every reset.
KORVEL_API double getScaleFlag(void);
}

// Information dialogs (the window a right click on a component opens). Pages are windows that a
// module creates as children of the dialog in its DefineAllDialogPages export.
extern "C" {
// Appends page to the dialog's pending pages; the dialog owns it from then on. 0 when either is
// null or dialog is not an information dialog.
KORVEL_API int DefinePageDialog(wxWindow* page, wxWindow* dialog);
// The component for which the information dialog was opened, or null if dialog is not one.
KORVEL_API KVBase* getDialogComponentCaller(wxWindow* dialog);
// The page at index (0 description, 1 schematic, then model views, then the module's pages) of
// the component's open information dialog; null without a dialog or past the last page.
KORVEL_API wxWindow* getDialogAtIndexForComponent(KVBase* component, unsigned int index);
}

// The component registered under id on the current board, or null. Exported with C linkage like
// every core export, so that it is found by its plain name; the identifier is a byte string
// passed by reference (both sides are C++).
extern "C" KORVEL_API KVBase* getBoardChipWithID(const std::string& id);
