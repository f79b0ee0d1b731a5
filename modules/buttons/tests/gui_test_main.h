// Shared pieces of the component window tests: a main that runs GoogleTest inside a wx
// application, a frame to put components on, and mouse events delivered as the toolkit would.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>

#include "korvel/kvbase.h"

namespace korvel::guitest {

// Sends a mouse event of the given type at a client point of the window, through its handlers.
inline void mouse(wxWindow* window, wxEventType type, int x, int y, bool leftHeld = false) {
  wxMouseEvent event(type);
  event.SetPosition(wxPoint(x, y));
  event.SetEventObject(window);
  event.SetId(window->GetId());
  event.m_leftDown = leftHeld;
  window->GetEventHandler()->ProcessEvent(event);
}

inline void click(wxWindow* window, int x, int y) {
  mouse(window, wxEVT_LEFT_DOWN, x, y, true);
  mouse(window, wxEVT_LEFT_UP, x, y);
}

// Draws the component as its paint handler would, into an image.
inline wxImage render(KVBase* component) {
  wxSize size = component->GetClientSize();
  wxBitmap bitmap(size.x, size.y, 24);
  {
    wxMemoryDC dc(bitmap);
    component->Render(dc);
  }
  wxImage image = bitmap.ConvertToImage();
  // KORVEL_RENDER_DIR=<folder> keeps every rendering as a PNG, for looking at the parts.
  if (const char* dir = std::getenv("KORVEL_RENDER_DIR")) {
    static int counter = 0;
    wxImage::AddHandler(new wxPNGHandler);
    image.SaveFile(wxString::Format("%s/%02d-%s.png", dir, counter++, component->GetID()), wxBITMAP_TYPE_PNG);
  }
  return image;
}

inline wxColour pixel(const wxImage& image, int x, int y) {
  return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

// Runs the UI thread's posted work (CallAfter) until none is left.
inline void drainEvents() {
  while (wxTheApp->Pending()) wxTheApp->Dispatch();
  wxTheApp->ProcessPendingEvents();
}

// A frame for the components of one test, destroyed with it.
class ComponentFrame {
 public:
  ComponentFrame() : frame_(new wxFrame(nullptr, wxID_ANY, "components", wxPoint(0, 0), wxSize(400, 300))) {
    frame_->Show();
  }
  ~ComponentFrame() { frame_->Destroy(); drainEvents(); }
  // Creates the component's window at (x, y) with the given size, as the board does.
  template <class T>
  T* place(T* component, int x, int y, wxSize size) {
    component->Create(frame_, wxID_ANY, wxPoint(x, y), size);
    component->Show();
    return component;
  }
  wxFrame* frame() { return frame_; }

 private:
  wxFrame* frame_;
};

}  // namespace korvel::guitest
