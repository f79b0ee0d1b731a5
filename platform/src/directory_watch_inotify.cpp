#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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
        bool gone = false;
        ssize_t got;
        while ((got = read(inotify_, buffer, sizeof buffer)) > 0) {
          for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // The folder itself was removed or unmounted: no change will ever be reported again.
            if (event->mask & IN_IGNORED) gone = true;
            at += ssize_t(sizeof(inotify_event)) + ssize_t(event->len);
          }
        }
        return gone ? Result::Failed : Result::Changed;
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

// Wakes every interval on its own; the eventfd still lets another thread end the wait at once.
class PollingWatch final : public DirectoryWatch {
 public:
  PollingWatch(int wakeFd, uint32_t intervalMs) : wake_(wakeFd), interval_(static_cast<int>(intervalMs)) {}
  ~PollingWatch() override { close(wake_); }

  Result wait() override {
    pollfd fd{wake_, POLLIN, 0};
    for (;;) {
      int n = poll(&fd, 1, interval_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Result::Failed;
      if (n == 0) return Result::Changed;
      uint64_t count = 0;
      [[maybe_unused]] ssize_t r = read(wake_, &count, sizeof count);
      return Result::Woken;
    }
  }

  void wake() override {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t r = write(wake_, &one, sizeof one);
  }

 private:
  int wake_;
  int interval_;
};

}  // namespace

std::unique_ptr<DirectoryWatch> pollDirectory(uint32_t intervalMs) {
  int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) return nullptr;
  return std::make_unique<PollingWatch>(wake, intervalMs);
}

bool isNetworkFileSystem(const std::filesystem::path& folder) {
  struct statfs info {};
  if (statfs(folder.c_str(), &info) != 0) return false;
  switch (static_cast<uint64_t>(info.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE (sshfs, rclone, gvfs...)
    case 0x01021997:  // 9p (virtual machines' shared folders)
    case 0x5346414F:  // AFS
    case 0x00C36400:  // Ceph
    case 0x47504653:  // GPFS
    case 0x0BD00BD0:  // Lustre
      return true;
    default:
      return false;
  }
}

bool readSmallFile(const std::filesystem::path& file, size_t maxBytes, std::string* content,
                   FileIdentity* identity) {
  // Non-blocking open: a FIFO someone left in the folder must not stall the reader.
  int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 0 &&
            static_cast<uint64_t>(st.st_size) <= maxBytes;
  std::string text;
  if (ok) {
    text.resize(maxBytes + 1);
    size_t got = 0;
    while (got < text.size()) {
      ssize_t n = read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got);
    // Looked at again after reading: what was read must be the version the identity names. A
    // writer caught between creating the file and filling it shows another size here, and the
    // caller reads the file again once the writer is done.
    struct stat after {};
    if (got > maxBytes || fstat(fd, &after) != 0 || static_cast<uint64_t>(after.st_size) != got ||
        after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != st.st_mtim.tv_nsec || after.st_nlink == 0)
      ok = false;
  }
  close(fd);
  if (!ok) return false;
  if (content) *content = std::move(text);
  if (identity) {
    identity->device = st.st_dev;
    identity->inode = st.st_ino;
    identity->size = static_cast<uint64_t>(st.st_size);
    identity->modifiedNanos = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  return true;
}

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
