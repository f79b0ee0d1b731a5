// The host menu entry "&Korvel" and its dialog record, through which the host opens, refreshes
// and closes the board window.
#pragma once

#include "korvel/agsi.h"

namespace korvel {

// Defines the menu entry with the host (the core's MenuEntries stage); the host's result.
int defineBoardMenu();

// The records handed to the host (tests and our own host read them).
AGSIMENU& boardMenuRecord();
AGSIDLGD& boardDialogRecord();

}  // namespace korvel
