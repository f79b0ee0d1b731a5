// Replacing a file's contents atomically with POSIX calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

#include "korvel/platform/platform.h"

namespace korvel::platform {
namespace {

namespace fs = std::filesystem;

// The file a path finally names, following symbolic links (a relative link is taken from its own
// folder). Gives up after as many hops as the kernel allows.
fs::path finalTarget(const fs::path& path) {
  fs::path target = path;
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(target, ec); ++hops) {
    fs::path link = fs::read_symlink(target, ec);
    if (ec) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  return target;
}

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

// A name no other writer uses: the process id, a counter and a random part, created exclusively.
int createTemporaryBeside(const fs::path& target, fs::path* temp) {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = target;
    candidate += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                 std::to_string(seed() % 1000000u);
    // 0666 narrowed by the umask: what a newly created file would get.
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      *temp = candidate;
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

bool replaceFileContents(const fs::path& path, const std::string& contents, std::string* error) {
  const fs::path target = finalTarget(path);
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;

  fs::path temp;
  int fd = createTemporaryBeside(target, &temp);
  if (fd < 0) return fail(error, "cannot create a temporary file beside " + target.string());
  bool ok = true;
  std::string what;
  if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0) {
    ok = false;
    what = "cannot give the new file the old one's permissions";
  }
  for (size_t done = 0; ok && done < contents.size();) {
    ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      what = "cannot write " + temp.string();
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    what = "cannot flush " + temp.string();
  }
  const int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    what = "cannot close " + temp.string();
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    what = "cannot replace " + target.string();
  }
  if (!ok) {
    const int reason = errno != 0 ? errno : savedErrno;
    ::unlink(temp.c_str());
    errno = reason;
    return fail(error, what);
  }
  return true;
}

std::FILE* reserveStandardOutput() {
  std::fflush(stdout);
  const int own = ::dup(STDOUT_FILENO);
  if (own < 0) return nullptr;
  ::fcntl(own, F_SETFD, FD_CLOEXEC);  // child processes (Xvfb) do not inherit it
  std::FILE* stream = ::fdopen(own, "w");
  if (stream == nullptr) {
    ::close(own);
    return nullptr;
  }
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

}  // namespace korvel::platform
