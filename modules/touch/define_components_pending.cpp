// Stand-in while the core has no board window: there is no panel, so the serial side answers
// nothing (the same as a board without the "TP" component).
#include "korvel/exports.h"
#include "korvel/module.h"

KORVEL_MODULE_EXPORT int DefineAllComponents(wxWindow*, KVRect, ComponentModule*) { return 0; }
