#include "viewer3d/viewer_page.h"

#include <GL/glew.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <wx/dcclient.h>
#include <wx/glcanvas.h>
#include <wx/stattext.h>
#include <wx/toplevel.h>

#include "korvel/keys.h"
#include "viewer3d/help_picture.h"
#include "viewer3d/model_gl.h"
#include "viewer3d/shaders.h"
#include "viewer3d/viewer_dialog.h"

using korvel::viewer::ViewerCamera;
namespace model = korvel::model;

namespace {

const char* const kLoadingText = "Loading Model...";
const char* const kContextFailedText = "OpenGL context creation failed";
const char* const kLoadFailedText = "An error has occured while loading the model.";
const wxColour kPageColour(240, 240, 240);

// Virtual-key codes of the six keys.
constexpr unsigned kKeyR = 82, kKeyC = 67, kKeyLeft = 37, kKeyUp = 38, kKeyRight = 39, kKeyDown = 40;

unsigned int compileStage(GLenum kind, int resourceId) {
  const char* source = korvel::viewer::shaderSource(resourceId);
  GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048] = "";
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    std::fprintf(stderr, "Shader Error:\n%s", log);
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

}  // namespace

// Formats one OpenGL debug message; errors also replace the page's picture with the status
// text, everything else goes to the standard error stream only, since notices (shader
// recompiles, buffer placement) arrive during normal drawing and must not hide the model.
void debugMessageToPage(C3DViewerDialog* page, const wxString& text) { page->showDebugMessage(text); }

namespace {
void GLAPIENTRY onGlDebugMessage(GLenum /*source*/, GLenum type, GLuint /*id*/, GLenum severity,
                                 GLsizei length, const GLchar* message, const void* user) {
  std::string text(message, length >= 0 ? static_cast<std::size_t>(length) : std::strlen(message));
  std::string line = std::string("Error ") + (type == GL_DEBUG_TYPE_ERROR ? "** GL ERROR **" : "** OTHER **") +
                     " type=" + std::to_string(type) + " severity=" + std::to_string(severity) +
                     " message=\"" + text + "\"";
  std::fprintf(stderr, "%s\n", line.c_str());
  if (type == GL_DEBUG_TYPE_ERROR)
    debugMessageToPage(static_cast<C3DViewerDialog*>(const_cast<void*>(user)), wxString::FromUTF8(line));
}
}  // namespace

C3DViewerDialog::C3DViewerDialog(wxWindow* parent, const std::string& modelPath, int autoRotate)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(309 * 2, 177 * 2), wxTAB_TRAVERSAL | wxFULL_REPAINT_ON_RESIZE),
      modelPath_(modelPath),
      autoRotate_(autoRotate != 0) {
  SetLabel(wxString::FromUTF8(std::filesystem::path(modelPath).stem().string()));
  SetBackgroundColour(kPageColour);
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  status_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                             wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  status_->Hide();
  Bind(wxEVT_PAINT, &C3DViewerDialog::onPaint, this);
  Bind(wxEVT_SIZE, &C3DViewerDialog::onSize, this);
  Bind(wxEVT_SHOW, &C3DViewerDialog::onShow, this);
  Bind(wxEVT_LEFT_DOWN, &C3DViewerDialog::onPageClick, this);
  if (wxWindow* top = wxGetTopLevelParent(parent)) {
    // Bound with the page as the sink: wx disconnects it when the page goes, whichever dies first.
    top->Bind(wxEVT_ACTIVATE, &C3DViewerDialog::onDialogActivate, this);
    if (auto* tlw = dynamic_cast<wxTopLevelWindow*>(top)) dialogActive_ = tlw->IsActive();
  }
  createGl();
  bindKeys();
  layoutChildren();
}

C3DViewerDialog::~C3DViewerDialog() {
  // Keys first: once their registrations are gone no call-back can reach this page. Then the
  // threads, which post to the page; events they already posted die with it.
  keys_.clear();
  stopAnimation();
  cancelLoad_ = true;
  if (loader_.joinable()) loader_.join();
  // Destroying the context frees every buffer, texture and program made in it.
  model_.reset();
  context_.reset();
}

void C3DViewerDialog::createGl() {
  wxGLAttributes display;
  display.PlatformDefaults().RGBA().DoubleBuffer().MinRGBA(8, 8, 8, 8).Depth(32).EndList();
  if (!wxGLCanvas::IsDisplaySupported(display)) {
    display.Reset();
    display.PlatformDefaults().RGBA().DoubleBuffer().Depth(24).EndList();
  }
  if (!wxGLCanvas::IsDisplaySupported(display)) {
    showStatus(kContextFailedText);
    return;
  }
  canvas_ = new wxGLCanvas(this, display, wxID_ANY, wxDefaultPosition, GetClientSize());
  canvas_->Hide();
  // The core profile of 3.2 is the oldest that has one; the shaders need at least 3.1.
  wxGLContextAttrs attributes;
  attributes.PlatformDefaults().CoreProfile().OGLVersion(3, 2).EndList();
  auto context = std::make_unique<wxGLContext>(canvas_, nullptr, &attributes);
  if (!context->IsOK()) {
    showStatus(kContextFailedText);
    return;
  }
  context_ = std::move(context);
  canvas_->Bind(wxEVT_PAINT, &C3DViewerDialog::onCanvasPaint, this);
  canvas_->Bind(wxEVT_ERASE_BACKGROUND, [](wxEraseEvent&) {});
  for (const auto& type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_MOTION, wxEVT_LEAVE_WINDOW, wxEVT_MOUSEWHEEL})
    canvas_->Bind(type, &C3DViewerDialog::onCanvasMouse, this);
  canvas_->SetCursor(wxCursor(wxCURSOR_HAND));
  SetCursor(wxCursor(wxCURSOR_HAND));
}

// Made current on the UI thread only, the first time the canvas is on screen (a GLX context needs
// a realised window).
bool C3DViewerDialog::ensureGl() {
  if (glReady_) return context_->SetCurrent(*canvas_);
  if (glFailed_ || !context_ || !canvas_->IsShownOnScreen()) return false;
  if (!context_->SetCurrent(*canvas_)) return false;
  glewExperimental = GL_TRUE;  // core profiles advertise no extensions the old way
  GLenum glew = glewInit();
  glGetError();  // glewInit's probe of the extension string fails on a core profile
  if (glew != GLEW_OK || !GLEW_VERSION_3_1) {
    std::fprintf(stderr, "3D view: OpenGL 3.1 is not available (%s)\n",
                 reinterpret_cast<const char*>(glewGetErrorString(glew)));
    glFailed_ = true;
    showStatus(kContextFailedText);
    return false;
  }
  if (GLEW_KHR_debug || GLEW_VERSION_4_3) {
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);  // so that the call-back runs on this thread
    glDebugMessageCallback(onGlDebugMessage, this);
  }
  if (!buildProgram()) {
    glFailed_ = true;
    showStatus(kContextFailedText);
    return false;
  }
  glUseProgram(program_);
  static const char* const names[] = {"ProjectionMatrix", "ModelViewMatrix", "NormalMatrix", "LightPosition",
                                      "AmbientLight"};
  for (int i = 0; i < 5; ++i) uniforms_[i] = glGetUniformLocation(program_, names[i]);
  glUniform4f(uniforms_[4], 0.2f, 0.2f, 0.2f, 1.0f);
  glClearColor(0.5490196f, 0.5490196f, 0.5490196f, 0.0f);
  glEnable(GL_DEPTH_TEST);
  // Translucent surfaces are drawn last and blend over the opaque ones.
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glReady_ = true;
  return true;
}

bool C3DViewerDialog::buildProgram() {
  GLuint vertex = compileStage(GL_VERTEX_SHADER, korvel::viewer::kVertexShaderId);
  GLuint fragment = compileStage(GL_FRAGMENT_SHADER, korvel::viewer::kFragmentShaderId);
  if (!vertex || !fragment) {
    if (vertex) glDeleteShader(vertex);
    if (fragment) glDeleteShader(fragment);
    return false;
  }
  GLuint program = glCreateProgram();
  glAttachShader(program, vertex);
  glAttachShader(program, fragment);
  glBindFragDataLocation(program, 0, "FragColor");
  glLinkProgram(program);
  glDeleteShader(vertex);
  glDeleteShader(fragment);
  GLint ok = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[2048] = "";
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    std::fprintf(stderr, "Program Error:\n%s", log);
    glDeleteProgram(program);
    return false;
  }
  program_ = program;
  return true;
}

// The parsed model becomes OpenGL objects, bound to the program's names.
void C3DViewerDialog::uploadPending() {
  if (!pending_ || !glReady_) return;
  auto data = std::move(pending_);
  model_ = model::uploadModel(std::move(**data));
  model::bindSampler(*model_, model::kDiffuse, -1, glGetUniformLocation(program_, "DiffuseTexture"));
  model::bindSampler(*model_, model::kSpecular, -1, glGetUniformLocation(program_, "SpecularTexture"));
  model::bindSampler(*model_, model::kNormal, -1, glGetUniformLocation(program_, "NormalTexture"));
  model::bindAttributes(*model_, glGetAttribLocation(program_, "vTangent"), glGetAttribLocation(program_, "vNormal"),
                        glGetAttribLocation(program_, "vTexCoord"), glGetAttribLocation(program_, "vPosition"));
  {
    std::lock_guard<std::mutex> guard(lock_);
    camera_.reset();
  }
  loaded_ = true;
  if (visible_) startAnimation();
}

void C3DViewerDialog::renderFrame() {
  const wxSize size = canvas_->GetClientSize();
  glViewport(0, 0, size.x, size.y);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!model_) return;
  ViewerCamera camera;
  {
    std::lock_guard<std::mutex> guard(lock_);
    camera = camera_;
  }
  const auto projection = korvel::viewer::perspective(45.0f, size.y > 0 ? float(size.x) / float(size.y) : 1.0f, 0.1f, 100.0f);
  const auto modelView = korvel::viewer::modelView(camera);
  const auto normal = korvel::viewer::normalMatrix(modelView);
  const auto light = korvel::viewer::lightPosition(camera);
  glUseProgram(program_);
  glUniformMatrix4fv(uniforms_[0], 1, GL_TRUE, projection.data());
  glUniformMatrix4fv(uniforms_[1], 1, GL_TRUE, modelView.data());
  glUniformMatrix3fv(uniforms_[2], 1, GL_TRUE, normal.data());
  glUniform4fv(uniforms_[3], 1, light.data());
  model::drawModel(*model_);
  glFlush();
}

void C3DViewerDialog::onCanvasPaint(wxPaintEvent&) {
  wxPaintDC dc(canvas_);
  if (!ensureGl()) return;
  uploadPending();
  renderFrame();
  canvas_->SwapBuffers();
}

wxImage C3DViewerDialog::renderForTesting() {
  if (!ensureGl()) return wxImage();
  uploadPending();
  if (!model_) return wxImage();
  renderFrame();
  const wxSize size = canvas_->GetClientSize();
  std::vector<unsigned char> rgba(static_cast<std::size_t>(size.x) * size.y * 4);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, size.x, size.y, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  wxImage image(size.x, size.y);
  for (int y = 0; y < size.y; ++y)
    for (int x = 0; x < size.x; ++x) {
      const unsigned char* p = &rgba[(static_cast<std::size_t>(size.y - 1 - y) * size.x + x) * 4];
      image.SetRGB(x, y, p[0], p[1], p[2]);
    }
  canvas_->SwapBuffers();
  return image;
}

void C3DViewerDialog::onPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  dc.SetBackground(wxBrush(kPageColour));
  dc.Clear();
  if (context_ && !loadRequested_ && !status_->IsShown()) {
    if (!help_.IsOk()) help_ = korvel::viewer::makeHelpPicture();
    const wxSize size = GetClientSize();
    dc.DrawBitmap(help_, (size.x - help_.GetWidth()) / 2, (size.y - help_.GetHeight()) / 2);
  }
}

void C3DViewerDialog::onSize(wxSizeEvent& event) {
  layoutChildren();
  Refresh(false);
  event.Skip();
}

void C3DViewerDialog::layoutChildren() {
  const wxSize size = GetClientSize();
  if (canvas_) canvas_->SetSize(0, 0, size.x, size.y);
  if (status_->IsShown() || !statusLabel_.empty()) {
    // Long texts (a file path) wrap to the page's width, again whenever it changes.
    status_->SetLabel(statusLabel_);
    if (size.x > 40) status_->Wrap(size.x - 20);
    status_->InvalidateBestSize();  // a fixed-size text keeps its old best size otherwise
  }
  const int height = status_->GetBestSize().y;
  status_->SetSize(0, std::max(0, (size.y - height) / 2), size.x, height);
}

void C3DViewerDialog::showStatus(const wxString& text) {
  statusLabel_ = text;
  // The GL canvas is a window of its own that would cover the text, so it steps aside.
  if (canvas_) canvas_->Hide();
  status_->Show();
  layoutChildren();
  Refresh();
}

void C3DViewerDialog::hideStatus() {
  status_->Hide();
  statusLabel_.clear();
  Refresh();
}

wxString C3DViewerDialog::statusText() const { return status_->IsShown() ? statusLabel_ : wxString(); }

void C3DViewerDialog::showDebugMessage(const wxString& text) {
  CallAfter([this, text] { showStatus(text); });
}

void C3DViewerDialog::onPageClick(wxMouseEvent& event) {
  event.Skip();
  if (!context_ || glFailed_ || loadRequested_) return;
  loadRequested_ = true;
  showStatus(kLoadingText);
  if (loader_.joinable()) return;
  loader_ = std::thread([this] {
    std::string error;
    auto data = std::make_shared<std::optional<model::ModelData>>(model::loadObjFile(modelPath_, &error, &cancelLoad_));
    if (cancelLoad_) return;
    for (const auto& warning : data->has_value() ? (*data)->warnings : std::vector<std::string>{})
      std::fprintf(stderr, "3D view: %s: %s\n", modelPath_.c_str(), warning.c_str());
    CallAfter([this, data, error] { onModelParsed(data, error); });
  });
}

void C3DViewerDialog::onModelParsed(std::shared_ptr<std::optional<model::ModelData>> data, const std::string& error) {
  if (loader_.joinable()) loader_.join();  // it has finished: this call was its last act
  if (!data->has_value()) {
    std::fprintf(stderr, "3D view: %s\n", error.c_str());
    showStatus(wxString(kLoadFailedText) + "\n" + wxString::FromUTF8(error));
    return;
  }
  pending_ = std::move(data);
  hideStatus();
  canvas_->Show();
  layoutChildren();
  canvas_->Refresh(false);
}

void C3DViewerDialog::onCanvasMouse(wxMouseEvent& event) {
  event.Skip();
  if (!loaded_) return;
  const wxEventType type = event.GetEventType();
  bool repaint = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (type == wxEVT_LEFT_DOWN) {
      camera_.beginDrag(event.GetX(), event.GetY());
    } else if (type == wxEVT_LEFT_UP || type == wxEVT_LEAVE_WINDOW) {
      camera_.endDrag();
    } else if (type == wxEVT_MOTION && camera_.dragging) {
      camera_.dragTo(event.GetX(), event.GetY());
      repaint = true;
    } else if (type == wxEVT_MOUSEWHEEL) {
      camera_.wheel(event.GetWheelRotation());  // the next animation frame moves the eye
    }
  }
  if (repaint) canvas_->Refresh(false);
}

void C3DViewerDialog::onShow(wxShowEvent& event) {
  event.Skip();
  visible_ = event.IsShown();
  if (!event.IsShown()) {
    stopAnimation();
  } else if (loaded_) {
    startAnimation();
  }
}

void C3DViewerDialog::onDialogActivate(wxActivateEvent& event) {
  event.Skip();
  dialogActive_ = event.GetActive();
}

void C3DViewerDialog::startAnimation() {
  if (animation_.joinable() || !loaded_) return;
  stopAnimation_ = false;
  animating_ = true;
  animation_ = std::thread([this] {
    while (!stopAnimation_) {
      std::this_thread::sleep_for(std::chrono::microseconds(16666));
      if (stopAnimation_) break;
      {
        std::lock_guard<std::mutex> guard(lock_);
        camera_.animate(autoRotate_ != 0);
      }
      // One repaint request in flight at most, however slow drawing is.
      if (!repaintPosted_.exchange(true)) {
        CallAfter([this] {
          repaintPosted_ = false;
          if (canvas_) canvas_->Refresh(false);
        });
      }
    }
  });
}

void C3DViewerDialog::stopAnimation() {
  stopAnimation_ = true;
  if (animation_.joinable()) animation_.join();
  animating_ = false;
}

void C3DViewerDialog::bindKeys() {
  // The call-backs run on the key-poll thread: they read flags and change the camera under the
  // page's lock, never a window.
  auto bind = [this](unsigned key, int repeat, void (*action)(C3DViewerDialog&)) {
    keys_.push_back(std::make_unique<KeyRAI>(
        key,
        [this, action](unsigned, int state) {
          if (state == 1 && keysApply()) action(*this);
        },
        repeat));
  };
  using korvel::viewer::kTargetStep;
  bind(kKeyR, 0, [](C3DViewerDialog& p) { p.autoRotate_ = p.autoRotate_ ? 0 : 1; });
  bind(kKeyC, 0, [](C3DViewerDialog& p) {
    std::lock_guard<std::mutex> guard(p.lock_);
    p.camera_.centre();
  });
  bind(kKeyLeft, 1, [](C3DViewerDialog& p) {
    std::lock_guard<std::mutex> guard(p.lock_);
    p.camera_.moveTarget(kTargetStep, 0);
  });
  bind(kKeyRight, 1, [](C3DViewerDialog& p) {
    std::lock_guard<std::mutex> guard(p.lock_);
    p.camera_.moveTarget(-kTargetStep, 0);
  });
  bind(kKeyDown, 1, [](C3DViewerDialog& p) {
    std::lock_guard<std::mutex> guard(p.lock_);
    p.camera_.moveTarget(0, kTargetStep);
  });
  bind(kKeyUp, 1, [](C3DViewerDialog& p) {
    std::lock_guard<std::mutex> guard(p.lock_);
    p.camera_.moveTarget(0, -kTargetStep);
  });
}

ViewerCamera C3DViewerDialog::camera() {
  std::lock_guard<std::mutex> guard(lock_);
  return camera_;
}

wxWindow* CreateModelViewPage(wxWindow* parent, const std::string& modelPath, int autoRotate) {
  return new C3DViewerDialog(parent, modelPath, autoRotate);
}
