// The 3D view page in a plain frame under Xvfb (Mesa llvmpipe): help picture, loading, drawing
// a small textured cube, the keys only while the dialog is active, the threads' lifetimes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/glcanvas.h>
#include <wx/image.h>

#include "korvel/keys.h"
#include "viewer3d/viewer_dialog.h"
#include "viewer3d/viewer_page.h"

namespace fs = std::filesystem;

namespace {

class FakeKeys : public korvel::KeyStateSource {
 public:
  void press(unsigned key) { std::lock_guard<std::mutex> g(m_); down_.insert(key); }
  void release(unsigned key) { std::lock_guard<std::mutex> g(m_); down_.erase(key); }
  bool isDown(unsigned key) override { std::lock_guard<std::mutex> g(m_); return down_.count(key) != 0; }

 private:
  std::mutex m_;
  std::set<unsigned> down_;
};

// A 24-bit TGA of 2×2 texels: red, green (bottom row), blue, yellow (top row), stored BGR.
std::string quadTexture() {
  std::string t(18, '\0');
  t[2] = 2;
  t[12] = 2;
  t[14] = 2;
  t[16] = 24;
  const unsigned char texels[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 255, 255};
  t.append(reinterpret_cast<const char*>(texels), sizeof texels);
  return t;
}

// A cube of side 0.4 around the origin: textured sides, plain-coloured top and bottom.
void writeCube(const fs::path& dir) {
  fs::create_directories(dir);
  std::ofstream obj(dir / "Cube.obj");
  obj << "mtllib cube.mtl\n";
  for (int i = 0; i < 8; ++i)
    obj << "v " << ((i & 1) ? 0.2 : -0.2) << ' ' << ((i & 2) ? 0.2 : -0.2) << ' ' << ((i & 4) ? 0.2 : -0.2) << "\n";
  obj << "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n";
  obj << "vn 0 0 1\nvn 0 0 -1\nvn 1 0 0\nvn -1 0 0\nvn 0 1 0\nvn 0 -1 0\n";
  obj << "usemtl painted\ns 1\n";
  obj << "f 5/1/1 6/2/1 8/3/1 7/4/1\n";  // front, z = +0.2
  obj << "f 2/1/2 1/2/2 3/3/2 4/4/2\n";  // back
  obj << "f 6/1/3 2/2/3 4/3/3 8/4/3\n";  // right
  obj << "f 1/1/4 5/2/4 7/3/4 3/4/4\n";  // left
  obj << "usemtl plain\n";
  obj << "f 7/1/5 8/2/5 4/3/5 3/4/5\n";  // top
  obj << "f 1/1/6 2/2/6 6/3/6 5/4/6\n";  // bottom
  std::ofstream(dir / "cube.mtl") << "newmtl painted\nKd 1 1 1\nmap_Kd cube.tga\nnewmtl plain\nKd 0.1 0.3 0.8\n";
  std::ofstream(dir / "cube.tga", std::ios::binary) << quadTexture();
}

template <typename F>
bool pumpUntil(F condition, int milliseconds = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    wxYield();
    wxMilliSleep(5);
  }
  return true;
}

void pumpFor(int milliseconds) {
  pumpUntil([] { return false; }, milliseconds);
}

bool isClearGrey(const wxImage& image, int x, int y) {
  return image.GetRed(x, y) == 140 && image.GetGreen(x, y) == 140 && image.GetBlue(x, y) == 140;
}

// How many pixels of two frames of the same size differ.
int differingPixels(const wxImage& a, const wxImage& b) {
  int n = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x)
      if (a.GetRed(x, y) != b.GetRed(x, y) || a.GetGreen(x, y) != b.GetGreen(x, y) || a.GetBlue(x, y) != b.GetBlue(x, y))
        ++n;
  return n;
}

class ViewerPage : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyListener::setKeyStateSourceForTesting(keys_);
    dir_ = fs::temp_directory_path() / ("korvel-viewer-" + std::to_string(::getpid()));
    writeCube(dir_);
    frame_ = new wxFrame(nullptr, wxID_ANY, "3D view", wxPoint(0, 0), wxSize(660, 480));
    frame_->Show();
  }
  void TearDown() override {
    frame_->Destroy();
    pumpFor(50);
    fs::remove_all(dir_);
    KeyListener::setKeyStateSourceForTesting(nullptr);
  }
  C3DViewerDialog* createPage(const std::string& path) {
    wxWindow* window = CreateModelViewPage(frame_, path, 1);
    auto* page = dynamic_cast<C3DViewerDialog*>(window);
    EXPECT_NE(page, nullptr);
    page->SetSize(frame_->GetClientSize());
    pumpUntil([&] { return page->IsShownOnScreen(); });
    pumpFor(100);
    return page;
  }
  void click(wxWindow* window) {
    wxMouseEvent down(wxEVT_LEFT_DOWN);
    down.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(down);
  }
  bool load(C3DViewerDialog* page) {
    click(page);
    EXPECT_EQ(page->statusText(), "Loading Model...");
    return pumpUntil([&] { return page->isModelLoaded() || (!page->statusText().empty() && page->statusText() != "Loading Model..."); }) &&
           page->isModelLoaded();
  }
  // Holds a key for some polls of the key listener, then lets it go.
  void tap(unsigned key, int polls = 2) {
    keys_->press(key);
    KeyListener::sharedInstance()->waitForPasses(polls);
    keys_->release(key);
    KeyListener::sharedInstance()->waitForPasses(2);
  }

  std::shared_ptr<FakeKeys> keys_ = std::make_shared<FakeKeys>();
  fs::path dir_;
  wxFrame* frame_ = nullptr;
};

}  // namespace

TEST_F(ViewerPage, ShowsTheHelpUntilClickedThenLoadsAndDrawsTheModel) {
  C3DViewerDialog* page = createPage((dir_ / "Cube.obj").string());
  EXPECT_EQ(page->GetLabel(), "Cube") << "the tab label is the file name without extension";
  ASSERT_TRUE(page->hasContext()) << "Mesa's core profile 3.2 is expected under Xvfb";
  EXPECT_EQ(page->statusText(), "") << "only the help picture before the first click";
  EXPECT_FALSE(page->isModelLoaded());
  if (const char* shot = std::getenv("KORVEL_VIEWER_SCREENSHOTS")) {
    std::system(("import -window root " + std::string(shot) + "/viewer-help.png").c_str());
  }
  ASSERT_TRUE(load(page)) << page->statusText().utf8_string();
  EXPECT_EQ(page->statusText(), "");
  EXPECT_TRUE(page->isAnimating());
  EXPECT_FLOAT_EQ(page->camera().distance, 0.9264815f);

  const wxImage frame = page->renderForTesting();
  ASSERT_TRUE(frame.IsOk());
  const int cx = frame.GetWidth() / 2, cy = frame.GetHeight() / 2;
  EXPECT_FALSE(isClearGrey(frame, cx, cy)) << "the cube covers the middle";
  EXPECT_TRUE(isClearGrey(frame, 2, 2)) << "clear colour grey 140 around the model";
  int model = 0;
  for (int y = 0; y < frame.GetHeight(); y += 4)
    for (int x = 0; x < frame.GetWidth(); x += 4) model += !isClearGrey(frame, x, y);
  EXPECT_GT(model, 200) << "a good part of the view shows the cube";
  if (const char* shot = std::getenv("KORVEL_VIEWER_SCREENSHOTS")) {
    frame.SaveFile(std::string(shot) + "/viewer-frame.png", wxBITMAP_TYPE_PNG);
    pumpFor(300);
    std::system(("import -window root " + std::string(shot) + "/viewer-screen.png").c_str());
  }
}

TEST_F(ViewerPage, KeysChangeTheViewOnlyWhileTheDialogIsActive) {
  C3DViewerDialog* page = createPage((dir_ / "Cube.obj").string());
  ASSERT_TRUE(load(page));
  page->setDialogActive(false);
  tap(82);  // R
  EXPECT_EQ(page->autoRotate(), 1) << "R while the dialog is not active does nothing";
  tap(37, 10);  // left arrow
  tap(38, 10);  // up arrow
  EXPECT_EQ(page->camera().target[0], 0.0f);
  EXPECT_EQ(page->camera().target[1], 0.0f);

  page->setDialogActive(true);
  tap(82);
  EXPECT_EQ(page->autoRotate(), 0) << "R stops the turning";
  pumpFor(100);
  const auto still = page->camera();
  pumpFor(100);
  EXPECT_EQ(page->camera().rotation[1], still.rotation[1]) << "no turning after R";
  tap(67);  // C: a known view to come back to
  pumpFor(100);
  const wxImage before = page->renderForTesting();

  tap(37, 10);  // left arrow, held for ten polls
  const float x = page->camera().target[0];
  EXPECT_GE(x, 0.01f * 9);
  EXPECT_LE(x, 0.01f * 13) << "one step of 0.01 per poll while held";
  pumpFor(100);  // the animation thread moves the eye to the new target
  const wxImage moved = page->renderForTesting();
  EXPECT_GT(differingPixels(before, moved), 500) << "the arrow moved the picture";
  tap(40, 5);  // down arrow
  EXPECT_GT(page->camera().target[1], 0.0f);
  tap(39, 20);  // right arrow
  EXPECT_LT(page->camera().target[0], x);
  tap(38, 20);  // up arrow
  EXPECT_LT(page->camera().target[1], 0.0f);

  tap(67);  // C
  pumpFor(100);
  const auto centred = page->camera();
  EXPECT_EQ(centred.target[0], 0.0f);
  EXPECT_EQ(centred.target[1], 0.0f);
  EXPECT_EQ(centred.rotation[1], 0.0f);
  EXPECT_EQ(differingPixels(before, page->renderForTesting()), 0) << "C puts the view back";

  tap(82);
  EXPECT_EQ(page->autoRotate(), 1) << "R starts the turning again";
  page->setDialogActive(false);
  tap(82);
  EXPECT_EQ(page->autoRotate(), 1);
}

TEST_F(ViewerPage, DraggingTurnsTheViewAndTheWheelZooms) {
  C3DViewerDialog* page = createPage((dir_ / "Cube.obj").string());
  ASSERT_TRUE(load(page));
  wxGLCanvas* canvas = nullptr;
  for (wxWindow* child : page->GetChildren())
    if (auto* c = dynamic_cast<wxGLCanvas*>(child)) canvas = c;
  ASSERT_NE(canvas, nullptr);
  auto send = [&](wxEventType type, int x, int y, int wheel = 0) {
    wxMouseEvent event(type);
    event.SetEventObject(canvas);
    event.m_x = x;
    event.m_y = y;
    event.m_leftDown = type != wxEVT_LEFT_UP;
    event.m_wheelRotation = wheel;
    event.m_wheelDelta = 120;
    canvas->GetEventHandler()->ProcessEvent(event);
  };
  send(wxEVT_MOUSEWHEEL, 50, 50, 240);
  EXPECT_NEAR(page->camera().distance, 0.9264815f - 0.2f, 1e-6) << "two notches closer";
  send(wxEVT_MOUSEWHEEL, 50, 50, -120 * 30);
  EXPECT_NEAR(page->camera().distance, 0.9264815f - 0.2f + 3.0f, 1e-5);
  send(wxEVT_MOUSEWHEEL, 50, 50, 120 * 100);
  EXPECT_EQ(page->camera().distance, 0.0f) << "never behind the target";

  send(wxEVT_LEFT_DOWN, 100, 100);
  const auto start = page->camera();
  EXPECT_TRUE(start.dragging);
  send(wxEVT_MOTION, 130, 90);
  pumpFor(100);
  const auto dragged = page->camera();
  EXPECT_FLOAT_EQ(dragged.rotation[1], std::fmod(start.rotation[1] + 30, 360.0f)) << "one degree per pixel";
  EXPECT_FLOAT_EQ(dragged.rotation[0], std::fmod(start.rotation[0] - 10, 360.0f));
  EXPECT_EQ(page->camera().rotation[1], dragged.rotation[1]) << "no turning while held";
  send(wxEVT_LEAVE_WINDOW, 700, 90);
  EXPECT_FALSE(page->camera().dragging) << "leaving the view lets go";
  send(wxEVT_MOTION, 200, 90);
  EXPECT_GT(std::fabs(page->camera().rotation[1] - std::fmod(start.rotation[1] + 100, 360.0f)), 10.0f)
      << "a move after letting go turns nothing";
}

TEST_F(ViewerPage, AMissingModelSaysSoAndStaysThatWay) {
  C3DViewerDialog* page = createPage((dir_ / "Nothing.obj").string());
  EXPECT_EQ(page->GetLabel(), "Nothing");
  EXPECT_FALSE(load(page));
  EXPECT_TRUE(page->statusText().StartsWith("An error has occured while loading the model.\n"))
      << page->statusText().utf8_string();
  if (const char* shot = std::getenv("KORVEL_VIEWER_SCREENSHOTS")) {
    pumpFor(200);
    std::system(("import -window root " + std::string(shot) + "/viewer-error.png").c_str());
  }
  click(page);
  pumpFor(100);
  EXPECT_TRUE(page->statusText().StartsWith("An error has occured while loading the model."));
  EXPECT_FALSE(page->isAnimating());
}

TEST_F(ViewerPage, OnlyAShownPageAnimatesAndDyingPagesLeaveNothingRunning) {
  C3DViewerDialog* page = createPage((dir_ / "Cube.obj").string());
  ASSERT_TRUE(load(page));
  EXPECT_TRUE(page->isAnimating());
  page->Hide();
  EXPECT_FALSE(page->isAnimating()) << "hidden: the animation thread is stopped and joined";
  page->setDialogActive(true);
  tap(37, 5);
  EXPECT_EQ(page->camera().target[0], 0.0f) << "keys do nothing while the page is hidden";
  const float yaw = page->camera().rotation[1];
  pumpFor(100);
  EXPECT_EQ(page->camera().rotation[1], yaw);
  page->Show();
  EXPECT_TRUE(page->isAnimating());
  pumpFor(100);
  EXPECT_NE(page->camera().rotation[1], yaw);

  // Destroyed while animating, and another one while its loader runs: the threads are joined
  // and what they posted is dropped with the page.
  page->Destroy();
  C3DViewerDialog* loading = createPage((dir_ / "Cube.obj").string());
  click(loading);
  loading->Destroy();
  pumpFor(300);
  tap(82);
}
