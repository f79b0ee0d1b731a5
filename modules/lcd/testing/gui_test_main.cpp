// Runs GoogleTest inside a wxWidgets application with an active event loop (so posted repaints
// arrive while a test pumps the queue): logs go to stderr, and a failed wx assertion fails the
// test instead of opening a message box nobody can close.
#include <cstdio>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/log.h>

namespace {

class TestApp : public wxApp {
 public:
  bool OnInit() override {
    wxLog::SetActiveTarget(new wxLogStderr);
    wxInitAllImageHandlers();
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func,
                          const wxString& cond, const wxString& msg) {
      std::fprintf(stderr, "wx assertion %s:%d %s: %s %s\n", file.utf8_str().data(), line,
                   func.utf8_str().data(), cond.utf8_str().data(), msg.utf8_str().data());
      ADD_FAILURE() << "wx assertion failed: " << cond.utf8_str().data() << " "
                    << msg.utf8_str().data();
    });
    return true;
  }
  int OnRun() override {
    wxGUIEventLoop loop;
    wxEventLoopActivator active(&loop);
    return RUN_ALL_TESTS();
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wxApp::SetInstance(new TestApp);
  return wxEntry(argc, argv);
}
