#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "korvel/platform/platform.h"

namespace korvel::platform {
namespace {

class InotifyWatch final : public DirectoryWatch {
 public:
  InotifyWatch(int inotifyFd, int wakeFd) : inotify_(inotifyFd), wake_(wakeFd) {}
  ~InotifyWatch() override {
    close(inotify_);
    close(wake_);
  }

  Result wait() override {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    for (;;) {
      int n = poll(fds, 2, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Result::Failed;
      if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t r = read(wake_, &count, sizeof count);
        return Result::Woken;
      }
      if (fds[0].revents & POLLIN) {
        // Drain every pending event: the caller rescans the folder anyway.
        alignas(inotify_event) char buffer[4096];
        while (read(inotify_, buffer, sizeof buffer) > 0) {
        }
        return Result::Changed;
      }
      if (fds[0].revents & (POLLERR | POLLHUP)) return Result::Failed;
    }
  }

  void wake() override {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t r = write(wake_, &one, sizeof one);
  }

 private:
  int inotify_;
  int wake_;
};

}  // namespace

std::unique_ptr<DirectoryWatch> watchDirectory(const std::filesystem::path& folder, std::string* error) {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return nullptr;
  }
  if (inotify_add_watch(fd, folder.c_str(),
                        IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_ATTRIB | IN_MODIFY) < 0) {
    if (error) *error = std::string(folder.string()) + ": " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) {
    if (error) *error = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::make_unique<InotifyWatch>(fd, wake);
}

}  // namespace korvel::platform
