// Export markers. Each library marks what it exports with its own macro, so that a Windows
// build (dllexport/dllimport) needs no other change.
#pragma once

#if defined(_WIN32)
#define KORVEL_EXPORT __declspec(dllexport)
#define KORVEL_IMPORT __declspec(dllimport)
#else
#define KORVEL_EXPORT __attribute__((visibility("default")))
#define KORVEL_IMPORT __attribute__((visibility("default")))
#endif

// The core library, Korvel.
#if defined(KORVEL_BUILDING_CORE)
#define KORVEL_API KORVEL_EXPORT
#else
#define KORVEL_API KORVEL_IMPORT
#endif

// Component modules mark their C exports (the stage functions) with this.
#define KORVEL_MODULE_EXPORT extern "C" KORVEL_EXPORT
