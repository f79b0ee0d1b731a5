// Export marker of the Buttons library (KVButton is used by other modules' windows and tests).
#pragma once

#include "korvel/api.h"

#if defined(KORVEL_BUILDING_BUTTONS)
#define BUTTONS_API KORVEL_EXPORT
#else
#define BUTTONS_API KORVEL_IMPORT
#endif
