// What GUI tests share for looking at the screen as the user sees it: pumping the UI thread's
// queue while waiting, and grabbing what the X server shows (other windows included).
// Needs ImageMagick's import on the path (scripts/install-deps installs it): wxScreenDC under
// GTK 3 keeps returning the screen as it was at its first use, so the X server is asked directly.
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

namespace korvel::test {

// Pumps the UI thread's queue until pred holds or limit passes (the limit only stops a hang).
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

// The screen's pixels in area (screen coordinates). A failed grab is a test failure and an
// empty image of the area's size.
inline wxImage grabScreen(const wxRect& area) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("korvel-screen-" + std::to_string(::getpid()) + ".png");
  const std::string command = "import -window root png:'" + file.string() + "'";
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxImage screen;
  const bool grabbed = std::system(command.c_str()) == 0 && screen.LoadFile(file.string(), wxBITMAP_TYPE_PNG);
  std::filesystem::remove(file);
  if (!grabbed) {
    ADD_FAILURE() << "could not grab the screen with: " << command;
    return wxImage(area.GetSize());
  }
  return screen.GetSubImage(area);
}

// The screen under area, given in window's client coordinates (by default its whole client area).
inline wxImage grabClient(wxWindow* window, wxRect area) {
  area.SetPosition(window->ClientToScreen(area.GetPosition()));
  return grabScreen(area);
}
inline wxImage grabClient(wxWindow* window) { return grabClient(window, wxRect(window->GetClientSize())); }

}  // namespace korvel::test
