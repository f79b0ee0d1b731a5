// Helpers of the GUI tests: a frame to put components on, rendering a component to an image,
// and pixel comparison with readable failure messages.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>

#include "korvel/kvbase.h"
#include "korvel/settings.h"

namespace korvel::test {

inline std::string rgb(const wxImage& image, int x, int y) {
  return std::to_string(image.GetRed(x, y)) + "," + std::to_string(image.GetGreen(x, y)) + "," +
         std::to_string(image.GetBlue(x, y));
}
inline std::string rgb(int r, int g, int b) {
  return std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b);
}

// What the component draws, on a black canvas of its client size.
inline wxImage render(KVBase& component) {
  const wxSize size = component.GetClientSize();
  wxBitmap bitmap(size.x, size.y, 24);
  {
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    component.Render(dc);
  }
  return bitmap.ConvertToImage();
}

// A black frame on which components are created directly (not through the board).
class ComponentCanvas : public ::testing::Test {
 protected:
  void SetUp() override {
    settingsFile_ = std::filesystem::temp_directory_path() /
                    ("korvel-gui-" + std::to_string(::getpid()) + ".ini");
    std::filesystem::remove(settingsFile_);
    SettingsManager::resetForTesting(settingsFile_.string());
    frame_ = new wxFrame(nullptr, wxID_ANY, "components", wxPoint(0, 0), wxSize(300, 200));
    frame_->SetBackgroundColour(*wxBLACK);
    frame_->Show();
  }
  void TearDown() override {
    frame_->Destroy();
    std::filesystem::remove(settingsFile_);
  }
  template <typename T>
  T* place(T* component, int x, int y, wxSize size) {
    component->Create(frame_, wxID_ANY, wxPoint(x, y), size);
    return component;
  }

  wxFrame* frame_ = nullptr;
  std::filesystem::path settingsFile_;
};

}  // namespace korvel::test
