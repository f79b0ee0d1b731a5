// Helpers of the CAN window tests: pumping the UI thread while waiting, what the X server shows
// of a window (the user's view, grabbed with ImageMagick's import), and pixels as text.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/window.h>

#include "screen_grab.h"

namespace can_test {

using korvel::test::pumpFor;
using korvel::test::pumpUntil;

inline std::string rgb(const wxImage& image, int x, int y) {
  return std::to_string(image.GetRed(x, y)) + "," + std::to_string(image.GetGreen(x, y)) + "," +
         std::to_string(image.GetBlue(x, y));
}

// The screen under area (in window's client coordinates), other windows included.
inline wxImage grab(wxWindow* window, wxRect area) { return korvel::test::grabClient(window, area); }
inline wxImage grab(wxWindow* window) { return korvel::test::grabClient(window); }

}  // namespace can_test
