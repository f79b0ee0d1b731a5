// Hooks for tests and headless runs of the board window.
#pragma once

#include "korvel/api.h"

extern "C" {
// Fixes what isDialogForeMost answers while a board exists: 1 (in front), 0 (behind), or -1 to
// follow the board window's activation again. Without a window manager (Xvfb) activation never
// arrives, so tests that press keys on the board say it is in front.
KORVEL_API void korvelSetBoardForegroundForTesting(int answer);
}

struct AGSIMENU;
extern "C" {
// The "&Korvel" menu record that the core hands to the host (its select function toggles the
// board; its dialog record holds the refresh and kill functions).
KORVEL_API AGSIMENU* korvelBoardMenuForTesting(void);
// Makes the board drive the modules found in docsFolder (bundle folders as under DOCS/) instead
// of those beside the core; null goes back to those. 1 when the folder's modules were ordered.
KORVEL_API int korvelUseModulesForTesting(const char* docsFolder);
}
