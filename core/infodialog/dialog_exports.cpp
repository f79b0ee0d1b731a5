// Placeholder exports until the information dialog exists: no dialog accepts pages.
#include "korvel/exports.h"

extern "C" {
KORVEL_API int DefinePageDialog(wxWindow* page, wxWindow* dialog) { return 0; }
KORVEL_API KVBase* getDialogComponentCaller(wxWindow* dialog) { return nullptr; }
KORVEL_API wxWindow* getDialogAtIndexForComponent(KVBase* component, unsigned int index) {
  return nullptr;
}
}
