// Pseudo-terminals, loopback TCP and standard input as byte streams, with POSIX calls.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "korvel/platform/platform.h"

namespace korvel::platform {
namespace {

// Waits for fd to become readable or writable; true when it did within timeoutMs.
bool waitFor(int fd, short events, uint32_t timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, int(timeoutMs));
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

class FdStream : public ByteStream {
 public:
  // keepOpen: a second descriptor (the pseudo-terminal's own slave side) held so that the
  // master does not report a hang-up each time the last other program closes the terminal.
  FdStream(int fd, bool owned, int keepOpen = -1) : fd_(fd), owned_(owned), keepOpen_(keepOpen) {}
  ~FdStream() override {
    if (owned_) ::close(fd_);
    if (keepOpen_ >= 0) ::close(keepOpen_);
  }
  long read(uint8_t* buffer, size_t size, uint32_t timeoutMs) override {
    pollfd p{fd_, POLLIN, 0};
    int n;
    do n = ::poll(&p, 1, int(timeoutMs));
    while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    if (!(p.revents & POLLIN)) return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? -1 : 0;
    ssize_t got;
    do got = ::read(fd_, buffer, size);
    while (got < 0 && errno == EINTR);
    if (got > 0) return long(got);
    if (got < 0 && (errno == EAGAIN || errno == EIO)) return 0;  // EIO: no program has the terminal open
    return -1;
  }
  bool write(const uint8_t* data, size_t size, uint32_t timeoutMs) override {
    while (size > 0) {
      ssize_t put = ::send(fd_, data, size, MSG_NOSIGNAL);
      if (put < 0 && errno == ENOTSOCK) put = ::write(fd_, data, size);
      if (put > 0) {
        data += put;
        size -= size_t(put);
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && errno == EAGAIN && waitFor(fd_, POLLOUT, timeoutMs)) continue;
      return false;
    }
    return true;
  }

 private:
  int fd_;
  bool owned_;
  int keepOpen_;
};

class LoopbackListener : public ByteListener {
 public:
  LoopbackListener(int fd, uint16_t port) : fd_(fd), port_(port) {}
  ~LoopbackListener() override { ::close(fd_); }
  uint16_t port() const override { return port_; }
  std::unique_ptr<ByteStream> accept(uint32_t timeoutMs) override {
    if (!waitFor(fd_, POLLIN, timeoutMs)) return nullptr;
    int c = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c < 0) return nullptr;
    // Small request/answer exchanges (a debugger's packets, typed characters) go out at once
    // instead of waiting for the peer's delayed acknowledgement.
    int one = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::make_unique<FdStream>(c, true);
  }

 private:
  int fd_;
  uint16_t port_;
};

}  // namespace

std::unique_ptr<ByteStream> openPseudoTerminal(std::string* slaveName, std::string* error) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) ::close(master);
    return nullptr;
  }
  char name[128];
  if (::ptsname_r(master, name, sizeof name) != 0) {
    *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    ::close(master);
    return nullptr;
  }
  int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) {
    // Raw: bytes pass unchanged both ways, with no echo or line editing by the terminal itself.
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
      ::cfmakeraw(&t);
      ::tcsetattr(slave, TCSANOW, &t);
    }
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  *slaveName = name;
  return std::make_unique<FdStream>(master, true, slave);
}

std::unique_ptr<ByteStream> standardInputStream() { return std::make_unique<FdStream>(0, false); }

std::unique_ptr<ByteListener> listenOnLoopback(uint16_t port, std::string* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot make a TCP socket: ") + std::strerror(errno);
    return nullptr;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return std::make_unique<LoopbackListener>(fd, ntohs(a.sin_port));
}

}  // namespace korvel::platform
