// Hooks for tests and headless runs of the board window.
#pragma once

#include "korvel/api.h"

extern "C" {
// Fixes what isDialogForeMost answers while a board exists: 1 (in front), 0 (behind), or -1 to
// follow the board window's activation again. Without a window manager (Xvfb) activation never
// arrives, so tests that press keys on the board say it is in front.
KORVEL_API void korvelSetBoardForegroundForTesting(int answer);
}
