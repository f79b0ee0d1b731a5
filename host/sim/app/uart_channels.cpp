#include "uart_channels.h"

#include <deque>
#include <fstream>
#include <mutex>

#include "korvel/platform/platform.h"

namespace korvel::simapp {

using Kind = Options::UartChannel::Kind;

struct UartChannels::Channel {
  int n = 0;
  Kind kind = Kind::Default;
  std::unique_ptr<platform::ByteStream> stream;      // pty, stdin, or the TCP client of the moment
  std::unique_ptr<platform::ByteListener> listener;  // tcp
  std::ofstream file;
  std::mutex mutex;
  std::string out;                 // sent by the firmware, not yet written (guarded by mutex)
  std::string line;                // stdio: the line being assembled
  std::deque<uint8_t> pending;     // arrived, not yet taken by the UART's wire
  std::string held;                // tcp: sent while no client was connected (the latest 64 KiB)
  bool inputEnded = false;
  std::atomic<bool> quit{false};
  std::thread thread;
};

UartChannels::UartChannels() = default;
UartChannels::~UartChannels() { close(); }

bool UartChannels::open(const Options::UartChannel (&channels)[4], Hooks hooks, std::string* error) {
  close();
  hooks_ = std::move(hooks);
  for (int n = 0; n < 4; ++n) {
    const Options::UartChannel& spec = channels[n];
    // The window's terminals take their UARTs themselves (through the session).
    if (spec.kind == Kind::Default || spec.kind == Kind::Window) continue;
    auto c = std::make_unique<Channel>();
    c->n = n;
    c->kind = spec.kind;
    std::string name = "UART" + std::to_string(n);
    switch (spec.kind) {
      case Kind::Stdio:
        c->stream = platform::standardInputStream();
        break;
      case Kind::Pty: {
        std::string slave;
        c->stream = platform::openPseudoTerminal(&slave, error);
        if (!c->stream) {
          *error = "--uart" + std::to_string(n) + ": " + *error;
          close();
          return false;
        }
        hooks_.note("korvel-sim: " + name + " is on " + slave);
        break;
      }
      case Kind::File:
        c->file.open(spec.file, std::ios::binary | std::ios::trunc);
        if (!c->file) {
          *error = "--uart" + std::to_string(n) + ": cannot write " + spec.file + " (check the folder and permissions)";
          close();
          return false;
        }
        break;
      case Kind::Tcp:
        c->listener = platform::listenOnLoopback(spec.port, error);
        if (!c->listener) {
          *error = "--uart" + std::to_string(n) + ": " + *error + " (is another program using the port?)";
          close();
          return false;
        }
        hooks_.note("korvel-sim: " + name + " is on 127.0.0.1:" + std::to_string(c->listener->port()));
        break;
      case Kind::Default:
      case Kind::Window:
        break;
    }
    channels_[n] = std::move(c);
  }
  for (int n = 0; n < 4; ++n) {
    Channel* c = channels_[n].get();
    if (!c) continue;
    // UART0 on stdio keeps its line output; every other channel takes the UART's bytes.
    if (!(n == 0 && c->kind == Kind::Stdio))
      hooks_.setSink(n, [c](uint8_t b) {
        std::lock_guard lock(c->mutex);
        c->out.push_back(char(b));
      });
    c->thread = std::thread([this, c] { loop(*c); });
  }
  return true;
}

void UartChannels::loop(Channel& c) {
  auto flush = [&] {
    std::string bytes;
    {
      std::lock_guard lock(c.mutex);
      bytes.swap(c.out);
    }
    if (bytes.empty()) return;
    switch (c.kind) {
      case Kind::File:
        c.file.write(bytes.data(), std::streamsize(bytes.size()));
        c.file.flush();
        break;
      case Kind::Stdio:
        for (char ch : bytes) {
          if (ch == '\n') {
            hooks_.stdoutLine(c.line);
            c.line.clear();
          } else if (ch != '\r') {
            c.line.push_back(ch);
          }
        }
        break;
      case Kind::Pty:
        // The terminal keeps what no program has read yet (up to its own buffer's size).
        c.stream->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 200);
        break;
      case Kind::Tcp:
        // A client that connects after the firmware's greeting still gets it.
        if (!c.stream) {
          c.held += bytes;
          if (c.held.size() > 65536) c.held.erase(0, c.held.size() - 65536);
        } else if (!c.stream->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 200)) {
          c.stream.reset();
        }
        break;
      case Kind::Default:
      case Kind::Window:
        break;
    }
  };
  uint8_t buffer[256];
  while (!c.quit) {
    flush();
    // What arrived goes to the wire first; a full wire is retried, never dropped.
    while (!c.pending.empty() && hooks_.input(c.n, c.pending.front())) c.pending.pop_front();
    if (!c.pending.empty()) {
      platform::sleepMillis(2);
      continue;
    }
    if (c.kind == Kind::Tcp && !c.stream) {
      c.stream = c.listener->accept(20);
      if (c.stream && !c.held.empty()) {
        c.stream->write(reinterpret_cast<const uint8_t*>(c.held.data()), c.held.size(), 200);
        c.held.clear();
      }
      continue;
    }
    if (!c.stream || c.inputEnded) {
      platform::sleepMillis(20);
      continue;
    }
    long got = c.stream->read(buffer, sizeof buffer, 20);
    if (got > 0) {
      c.pending.insert(c.pending.end(), buffer, buffer + got);
    } else if (got < 0) {
      if (c.kind == Kind::Tcp) c.stream.reset();  // the client left: wait for the next one
      else c.inputEnded = true;
    }
  }
  flush();
  if (c.kind == Kind::Stdio && !c.line.empty()) hooks_.stdoutLine(c.line);
}

void UartChannels::close() {
  for (auto& c : channels_) {
    if (!c) continue;
    if (c->thread.joinable() && !(c->n == 0 && c->kind == Kind::Stdio)) hooks_.setSink(c->n, {});
    c->quit = true;
    if (c->thread.joinable()) c->thread.join();
    c.reset();
  }
}

}  // namespace korvel::simapp
