// Export marker of the Pictor library (the LCD), which other modules link against.
#pragma once

#include "korvel/api.h"

#if defined(PICTOR_BUILDING)
#define PICTOR_API KORVEL_EXPORT
#else
#define PICTOR_API KORVEL_IMPORT
#endif
