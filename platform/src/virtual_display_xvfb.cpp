#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "korvel/platform/platform.h"

namespace korvel::platform {
namespace {

std::string findInPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t p = 0;
  while (p <= dirs.size()) {
    size_t q = dirs.find(':', p);
    if (q == std::string::npos) q = dirs.size();
    std::string candidate = (q > p ? dirs.substr(p, q - p) : ".") + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    p = q + 1;
  }
  return {};
}

class XvfbDisplay : public VirtualDisplay {
 public:
  XvfbDisplay(pid_t pid, std::string name) : pid_(pid), name_(std::move(name)) {}
  ~XvfbDisplay() override { stop(pid_); }
  std::string name() const override { return name_; }

  static void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    // Xvfb ends within milliseconds of SIGTERM; one that hangs is not worth hanging for.
    for (int i = 0; i < 200; ++i) {
      if (::waitpid(pid, &status, WNOHANG) != 0) return;
      ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }

 private:
  pid_t pid_;
  std::string name_;
};

}  // namespace

std::unique_ptr<VirtualDisplay> startVirtualDisplay(std::string* error, uint32_t timeoutMillis) {
  std::string xvfb = findInPath("Xvfb");
  if (xvfb.empty()) {
    *error = "no display is set and Xvfb is not installed: install the xvfb package (scripts/install-deps does) or set DISPLAY";
    return nullptr;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *error = std::string("cannot start Xvfb: ") + std::strerror(errno);
    return nullptr;
  }
  pid_t parent = ::getpid();
  std::string fd = std::to_string(fds[1]);
  pid_t pid = ::fork();
  if (pid < 0) {
    *error = std::string("cannot start Xvfb: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return nullptr;
  }
  if (pid == 0) {
    // The server must not outlive us, even when we are killed.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    // -displayfd: Xvfb chooses a free display number and writes it to the pipe once it accepts
    // connections, which is both the number and the "ready" signal.
    ::fcntl(fds[1], F_SETFD, 0);  // the write end goes to Xvfb
    ::execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
            "-noreset", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  bool done = false;
  uint64_t deadline = monotonicNanos() + uint64_t(timeoutMillis) * 1000000u;
  while (!done) {
    uint64_t now = monotonicNanos();
    if (now >= deadline) break;
    pollfd p{fds[0], POLLIN, 0};
    int r = ::poll(&p, 1, int((deadline - now) / 1000000u) + 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char c;
    ssize_t n = ::read(fds[0], &c, 1);
    if (n <= 0) break;  // Xvfb ended without naming a display
    if (c == '\n') done = !number.empty();
    else if (c >= '0' && c <= '9') number += c;
  }
  ::close(fds[0]);
  if (!done) {
    XvfbDisplay::stop(pid);
    *error = "no display is set and Xvfb (" + xvfb + ") did not start a virtual one; set DISPLAY or run under 'xvfb-run -a'";
    return nullptr;
  }
  return std::make_unique<XvfbDisplay>(pid, ":" + number);
}

}  // namespace korvel::platform
