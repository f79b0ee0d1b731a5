// C3DViewerDialog: the information dialog's page that shows one model turning in 3D.
//
// Until its first click the page shows a help picture; the click loads the model on a loader
// thread (parsing only: OpenGL is touched on the UI thread alone) and, once the model is up, an
// animation thread turns the camera about 60 times a second while the page is shown. Drag turns,
// the wheel zooms, and six keys (R, C, arrows) act through the key listener while the dialog is
// the active window. Destroying the page stops and joins both threads and removes the keys before
// anything they use goes away.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/panel.h>

#include "viewer3d/obj_model.h"
#include "viewer3d/viewer_camera.h"

class wxGLCanvas;
class wxGLContext;
class wxStaticText;
class KeyRAI;

namespace korvel::model {
struct GlModel;
}

class C3DViewerDialog : public wxPanel {
 public:
  C3DViewerDialog(wxWindow* parent, const std::string& modelPath, int autoRotate);
  ~C3DViewerDialog() override;

  // Whether the information dialog is the active window. Kept up to date from the dialog's
  // activation events; tests and headless runs (no window manager) set it themselves.
  void setDialogActive(bool active) { dialogActive_ = active; }

  // Observers, for tests and diagnostics (any thread).
  bool hasContext() const { return context_ != nullptr; }
  bool isModelLoaded() const { return loaded_; }
  bool isAnimating() const { return animating_; }
  int autoRotate() const { return autoRotate_; }
  korvel::viewer::ViewerCamera camera();
  // The status text while it is shown, else empty (UI thread).
  wxString statusText() const;
  // Renders one frame and reads it back (UI thread; empty image without a loaded model).
  wxImage renderForTesting();

 private:
  void onPaint(wxPaintEvent& event);
  void onSize(wxSizeEvent& event);
  void onShow(wxShowEvent& event);
  void onPageClick(wxMouseEvent& event);
  void onDialogActivate(wxActivateEvent& event);
  void onCanvasPaint(wxPaintEvent& event);
  void onCanvasMouse(wxMouseEvent& event);

  void createGl();
  bool ensureGl();
  bool buildProgram();
  void uploadPending();
  void renderFrame();
  void showStatus(const wxString& text);
  void hideStatus();
  void layoutChildren();
  void onModelParsed(std::shared_ptr<std::optional<korvel::model::ModelData>> data, const std::string& error);
  void bindKeys();
  bool keysApply() const { return loaded_ && dialogActive_ && visible_; }
  void startAnimation();
  void stopAnimation();
  void showDebugMessage(const wxString& text);
  friend void debugMessageToPage(C3DViewerDialog* page, const wxString& text);

  std::string modelPath_;
  wxStaticText* status_ = nullptr;
  wxString statusLabel_;  // the status text as given, before wrapping
  wxGLCanvas* canvas_ = nullptr;
  std::unique_ptr<wxGLContext> context_;
  bool glReady_ = false;
  bool glFailed_ = false;
  unsigned int program_ = 0;
  int uniforms_[5] = {-1, -1, -1, -1, -1};  // projection, model-view, normal, light, ambient
  std::unique_ptr<korvel::model::GlModel> model_;
  std::shared_ptr<std::optional<korvel::model::ModelData>> pending_;
  wxBitmap help_;

  std::atomic<bool> loadRequested_{false};
  std::atomic<bool> loaded_{false};
  std::atomic<int> autoRotate_;
  std::atomic<bool> dialogActive_{false};
  std::atomic<bool> visible_{true};
  std::atomic<bool> stopAnimation_{false};
  std::atomic<bool> animating_{false};
  std::atomic<bool> repaintPosted_{false};
  std::atomic<bool> cancelLoad_{false};
  std::thread loader_;
  std::thread animation_;

  std::mutex lock_;  // guards camera_ between the UI, the animation and the key-poll threads
  korvel::viewer::ViewerCamera camera_;
  std::vector<std::unique_ptr<KeyRAI>> keys_;
};
