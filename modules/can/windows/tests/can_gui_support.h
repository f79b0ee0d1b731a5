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

namespace can_test {

template <class Pred>
bool pumpUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline void pumpFor(std::chrono::milliseconds span) {
  pumpUntil([] { return false; }, span);
}

inline std::string rgb(const wxImage& image, int x, int y) {
  return std::to_string(image.GetRed(x, y)) + "," + std::to_string(image.GetGreen(x, y)) + "," +
         std::to_string(image.GetBlue(x, y));
}

// The screen under area (in window's client coordinates), other windows included. wxScreenDC
// under GTK 3 keeps returning the screen as it first saw it, so the X server is asked directly.
inline wxImage grab(wxWindow* window, wxRect area) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("can-screen-" + std::to_string(::getpid()) + ".png");
  const std::string command = "import -window root png:'" + file.string() + "'";
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxImage screen;
  const bool ok = std::system(command.c_str()) == 0 && screen.LoadFile(file.string(), wxBITMAP_TYPE_PNG);
  std::filesystem::remove(file);
  if (!ok) {
    ADD_FAILURE() << "could not grab the screen with: " << command;
    return wxImage(area.GetSize());
  }
  area.SetPosition(window->ClientToScreen(area.GetPosition()));
  return screen.GetSubImage(area);
}

inline wxImage grab(wxWindow* window) { return grab(window, wxRect(window->GetClientSize())); }

}  // namespace can_test
