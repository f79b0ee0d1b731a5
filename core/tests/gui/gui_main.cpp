// Runs GoogleTest inside a wxWidgets application: logs to stderr, and a failed wx assertion
// fails the run instead of opening a message box nobody can close.
#include <cstdio>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

namespace {
void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
  std::fprintf(stderr, "wx assertion failed at %s:%d %s: %s %s\n", file.utf8_str().data(), line,
               func.utf8_str().data(), cond.utf8_str().data(), msg.utf8_str().data());
  ADD_FAILURE() << "wx assertion: " << cond.utf8_string() << " " << msg.utf8_string();
}

class TestApp : public wxApp {
 public:
  bool OnInit() override {
    wxLog::SetActiveTarget(new wxLogStderr);
    wxInitAllImageHandlers();
    wxSetAssertHandler(failOnAssert);
    return true;
  }
  int OnRun() override { return RUN_ALL_TESTS(); }
};
}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  wxApp::SetInstance(new TestApp);
  return wxEntry(argc, argv);
}
