// main() of the component window tests: GoogleTest runs inside a wx application, on its UI
// thread; toolkit assertions fail the running test instead of opening a message box.
#include <gtest/gtest.h>

#include <cstdio>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

namespace {

class TestApp : public wxApp {
 public:
  bool OnInit() override {
    wxLog::SetActiveTarget(new wxLogStderr);
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond,
                          const wxString& msg) {
      std::fprintf(stderr, "wx assertion %s:%d %s: %s %s\n", file.utf8_str().data(), line,
                   func.utf8_str().data(), cond.utf8_str().data(), msg.utf8_str().data());
      ADD_FAILURE() << "wx assertion failed: " << cond.utf8_str().data() << " " << msg.utf8_str().data();
    });
    return true;
  }
  int OnRun() override { return RUN_ALL_TESTS(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wxApp::SetInstance(new TestApp);
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "cannot start the toolkit: is there a display (run under xvfb-run)?\n");
    return 2;
  }
  int result = 1;
  if (wxTheApp->CallOnInit()) result = wxTheApp->OnRun();
  wxTheApp->OnExit();
  wxEntryCleanup();
  return result;
}
